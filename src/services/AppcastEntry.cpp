#include "services/AppcastEntry.h"

#include "platform/Localized.h"

#include <QJsonDocument>
#include <QJsonObject>

std::optional<AppcastEntry> AppcastEntry::decode(const QByteArray &bytes, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<AppcastEntry> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(localized("The update information could not be read because it is not valid JSON (%1).")
                        .arg(parseError.errorString()));
    if (!doc.isObject())
        return fail(localized("The update information could not be read because it is not a JSON object."));
    const QJsonObject o = doc.object();

    AppcastEntry entry;
    QString problem;
    auto required = [&](const char *key, QString *out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull()) {
            problem = localized("The update information could not be read because \"%1\" is missing.")
                          .arg(QLatin1String(key));
            return false;
        }
        if (!v.isString()) {
            problem = localized("The update information could not be read because \"%1\" is not text.")
                          .arg(QLatin1String(key));
            return false;
        }
        *out = v.toString();
        return true;
    };
    auto optional = [&](const char *key, std::optional<QString> *out) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isUndefined() || v.isNull())
            return true;
        if (!v.isString()) {
            problem = localized("The update information could not be read because \"%1\" is not text.")
                          .arg(QLatin1String(key));
            return false;
        }
        *out = v.toString();
        return true;
    };
    if (!required("version", &entry.version) || !optional("build", &entry.build)
        || !required("downloadURL", &entry.downloadURL) || !optional("notes", &entry.notes)
        || !optional("publishedAt", &entry.publishedAt))
        return fail(problem);
    return entry;
}
