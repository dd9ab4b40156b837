#include "platform/SentryDsn.h"

#include <QRegularExpression>

std::optional<SentryDsn> SentryDsn::parse(const QString &text, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<SentryDsn> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (text.isEmpty())
        return fail(QStringLiteral("the DSN is empty"));
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return fail(QStringLiteral("the DSN contains blanks or control characters"));
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return fail(QStringLiteral("the DSN is not a valid URL (%1)").arg(url.errorString()));
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return fail(QStringLiteral("the DSN's scheme is not http or https"));
    if (url.host().isEmpty())
        return fail(QStringLiteral("the DSN has no host"));
    if (url.userName().isEmpty())
        return fail(QStringLiteral("the DSN has no public key"));
    if (url.hasQuery() || url.hasFragment())
        return fail(QStringLiteral("the DSN has a query or fragment"));

    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString project = path.mid(slash + 1);
    const QString prefix = slash > 0 ? path.left(slash) : QString();
    static const QRegularExpression projectPattern(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (project.isEmpty() || !projectPattern.match(project).hasMatch())
        return fail(QStringLiteral("the DSN has no project id"));

    SentryDsn dsn;
    dsn.m_publicKey = url.userName();
    dsn.m_secretKey = url.password();
    dsn.m_projectId = project;
    QUrl endpoint;
    endpoint.setScheme(scheme);
    endpoint.setHost(url.host());
    endpoint.setPort(url.port());
    endpoint.setPath(prefix + QStringLiteral("/api/") + project + QStringLiteral("/envelope/"));
    dsn.m_endpoint = endpoint;
    return dsn;
}

QByteArray SentryDsn::authHeader(const QString &clientName) const
{
    QString value = QStringLiteral("Sentry sentry_version=7, sentry_client=%1, sentry_key=%2").arg(clientName, m_publicKey);
    if (!m_secretKey.isEmpty())
        value += QStringLiteral(", sentry_secret=") + m_secretKey;
    return value.toUtf8();
}
