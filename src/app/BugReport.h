#pragma once

#include <QString>
#include <QUrl>

// The bug report: a new mail to the support address with the subject
// "Vorna bug" and a body with the user's sections to fill in and the
// system information below them.
class BugReport
{
public:
    static QString supportAddress();

    // The mail body (ends with the locale, without a final line feed).
    static QString body(const QString &version, const QString &build, const QString &os, const QString &model,
                        const QString &locale);
    // The mailto: link; an invalid URL when none can be formed.
    static QUrl mailUrl(const QString &body);

    // The hardware model as the firmware names it, or "unknown".
    static QString deviceModelIdentifier(const QString &path = QStringLiteral("/sys/class/dmi/id/product_name"));
    // The running system's name and kernel.
    static QString operatingSystemVersionString();

    // Gathers the information and hands the mail link to the desktop.
    static void report();
};
