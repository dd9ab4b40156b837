#include "model/AppSettings.h"

#include "platform/AppPaths.h"
#include "platform/FileOps.h"
#include "platform/FoundationJson.h"
#include "platform/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

// A JSON string literal that keeps "/" as it is, so a DSN reads naturally
// in the file.
QByteArray quoted(const QString &text)
{
    return FoundationJson::quote(text, false);
}

// Shortest text that reads back to the same double, always with a fraction
// or an exponent: 1 -> "1.0", 0.5 -> "0.5".
QByteArray decimal(double value)
{
    QByteArray text = FoundationJson::number(value);
    if (!text.isEmpty() && !text.contains('.') && !text.contains('e') && !text.contains('E'))
        text.append(".0");
    return text;
}

bool requireBool(const QJsonObject &o, const char *key, bool *out, QString *error)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) {
        *error = QStringLiteral("key \"%1\" not found").arg(QLatin1String(key));
        return false;
    }
    if (!v.isBool()) {
        *error = QStringLiteral("\"%1\" is not true or false").arg(QLatin1String(key));
        return false;
    }
    *out = v.toBool();
    return true;
}

bool requireString(const QJsonObject &o, const char *key, QString *out, QString *error)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined()) {
        *error = QStringLiteral("key \"%1\" not found").arg(QLatin1String(key));
        return false;
    }
    if (!v.isString()) {
        *error = QStringLiteral("\"%1\" is not a string").arg(QLatin1String(key));
        return false;
    }
    *out = v.toString();
    return true;
}

} // namespace

const AppSettings &AppSettings::defaults()
{
    static const AppSettings value;
    return value;
}

QUrl AppSettings::fileURL()
{
    return QUrl::fromLocalFile(AppPaths::appDataDir() + QStringLiteral("/appsettings.json"));
}

QByteArray AppSettings::templateText()
{
    return QByteArrayLiteral("{\n"
                             "  \"_comment\": \"Vorna configuration. Edit and save, then relaunch Vorna.\",\n"
                             "  \"sentry\": {\n"
                             "    \"enabled\": true,\n"
                             "    \"dsn\": \"\",\n"
                             "    \"environment\": \"production\",\n"
                             "    \"debug\": false,\n"
                             "    \"sampleRate\": 1.0\n"
                             "  }\n"
                             "}");
}

QByteArray AppSettings::savedText(const AppSettings &settings, QString *error)
{
    const SentrySettings &s = settings.sentry;
    // JSON has no form for NaN or infinity; writing one would leave a file
    // that no longer loads.
    if (!std::isfinite(s.sampleRate)) {
        if (error)
            *error = QStringLiteral("sampleRate is not a finite number");
        return QByteArray();
    }
    QByteArray out;
    out.append("{\n");
    out.append("  \"_comment\": \"Vorna configuration. Edit from Settings \xe2\x86\x92 Privacy, or edit this file and relaunch.\",\n");
    out.append("  \"sentry\": {\n");
    out.append("    \"enabled\": ").append(s.enabled ? "true" : "false").append(",\n");
    out.append("    \"dsn\": ").append(quoted(s.dsn)).append(",\n");
    out.append("    \"environment\": ").append(quoted(s.environment)).append(",\n");
    out.append("    \"debug\": ").append(s.debug ? "true" : "false").append(",\n");
    out.append("    \"sampleRate\": ").append(decimal(s.sampleRate)).append("\n");
    out.append("  }\n");
    out.append("}");
    return out;
}

std::optional<AppSettings> AppSettings::decode(const QByteArray &bytes, QString *error)
{
    QString reason;
    auto fail = [&](const QString &why) -> std::optional<AppSettings> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset));
    if (!doc.isObject())
        return fail(QStringLiteral("the top level is not an object"));
    const QJsonValue sentryValue = doc.object().value(QLatin1String("sentry"));
    if (sentryValue.isUndefined())
        return fail(QStringLiteral("key \"sentry\" not found"));
    if (!sentryValue.isObject())
        return fail(QStringLiteral("\"sentry\" is not an object"));
    const QJsonObject o = sentryValue.toObject();

    AppSettings result;
    SentrySettings &s = result.sentry;
    if (!requireBool(o, "enabled", &s.enabled, &reason) || !requireString(o, "dsn", &s.dsn, &reason)
        || !requireString(o, "environment", &s.environment, &reason) || !requireBool(o, "debug", &s.debug, &reason))
        return fail(QStringLiteral("sentry: ") + reason);
    const QJsonValue rate = o.value(QLatin1String("sampleRate"));
    if (rate.isUndefined())
        return fail(QStringLiteral("sentry: key \"sampleRate\" not found"));
    if (!rate.isDouble())
        return fail(QStringLiteral("sentry: \"sampleRate\" is not a number"));
    s.sampleRate = rate.toDouble();
    return result;
}

AppSettings AppSettings::load()
{
    const QString path = fileURL().toLocalFile();
    if (!QFileInfo::exists(path)) {
        QString error;
        if (!FileOps::makeFolder(QFileInfo(path).absolutePath(), &error)
            || !FileOps::writeAtomically(path, templateText(), &error))
            vlog(QStringLiteral("Vorna: could not create appsettings.json template: ") + error);
        return defaults();
    }
    QString error;
    QByteArray bytes;
    if (FileOps::readAtMost(path, maxFileBytes, &bytes, &error)) {
        if (auto decoded = decode(bytes, &error))
            return *decoded;
    }
    vlog(QStringLiteral("Vorna: appsettings.json is malformed (") + error + QStringLiteral("); using defaults."));
    return defaults();
}

bool AppSettings::save(const AppSettings &settings, QString *error)
{
    const QString path = fileURL().toLocalFile();
    const QByteArray text = savedText(settings, error);
    if (text.isEmpty())
        return false;
    if (!FileOps::makeFolder(QFileInfo(path).absolutePath(), error))
        return false;
    return FileOps::writeAtomically(path, text, error);
}
