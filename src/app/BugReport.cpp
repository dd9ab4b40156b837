#include "app/BugReport.h"

#include "platform/BundleInfo.h"
#include "platform/Workspace.h"

#include <QFile>
#include <QLocale>
#include <QSysInfo>
#include <QUrlQuery>

QString BugReport::supportAddress()
{
    return QStringLiteral("support@vorna.org");
}

QString BugReport::body(const QString &version, const QString &build, const QString &os, const QString &model,
                        const QString &locale)
{
    return QStringLiteral("Describe the bug:\n")
           + QStringLiteral("\n\nSteps to reproduce:\n1.\n2.\n3.\n\nExpected behaviour:\n\n\nActual behaviour:\n\n\n"
                            "--- System information ---\nApp: Vorna ")
           + version + QStringLiteral(" (build ") + build + QStringLiteral(")\nOS: ") + os
           + QStringLiteral("\nHardware: ") + model + QStringLiteral("\nLocale: ") + locale;
}

QUrl BugReport::mailUrl(const QString &body)
{
    QUrl url;
    url.setScheme(QStringLiteral("mailto"));
    url.setPath(supportAddress());
    QUrlQuery query;
    // A literal "%" must reach the mail as itself, not start an escape.
    auto item = [](const QString &text) { return QString(text).replace('%', QStringLiteral("%25")); };
    query.addQueryItem(QStringLiteral("subject"), QStringLiteral("Vorna bug"));
    query.addQueryItem(QStringLiteral("body"), item(body));
    url.setQuery(query);
    return url;
}

QString BugReport::deviceModelIdentifier(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    QByteArray bytes = f.read(256);
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    const QString model = QString::fromUtf8(bytes).trimmed();
    return model.isEmpty() ? QStringLiteral("unknown") : model;
}

QString BugReport::operatingSystemVersionString()
{
    return QSysInfo::prettyProductName() + QStringLiteral(" (") + QSysInfo::kernelType() + ' '
           + QSysInfo::kernelVersion() + ')';
}

void BugReport::report()
{
    const QString version = BundleInfo::shortVersionString().value_or(QStringLiteral("?"));
    const QString build = BundleInfo::bundleVersion().value_or(QStringLiteral("?"));
    const QUrl url = mailUrl(body(version, build, operatingSystemVersionString(), deviceModelIdentifier(),
                                  QLocale().name()));
    if (url.isValid())
        Workspace::current().openUrl(url);
}
