#include "model/BuildInfo.h"

#include "platform/BundleInfo.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

// The generated resources live in a static library; make sure they are
// registered before the first read.
static void initGeneratedResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(generated);
        return true;
    }();
    (void)done;
}

const BuildInfo &BuildInfo::current()
{
    static const BuildInfo info = load();
    return info;
}

BuildInfo BuildInfo::load()
{
    initGeneratedResources();
    return load(QStringLiteral(":/BuildInfo.json"));
}

BuildInfo BuildInfo::load(const QString &path)
{
    QFile f(path);
    if (f.open(QIODevice::ReadOnly)) {
        if (auto info = decode(f.readAll()))
            return *info;
    }
    return fallback();
}

std::optional<BuildInfo> BuildInfo::decode(const QByteArray &json)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    BuildInfo info;
    const std::pair<const char *, QString *> members[] = {
        {"version", &info.version}, {"build", &info.build},         {"commit", &info.commit},
        {"buildDate", &info.buildDate}, {"channel", &info.channel},
    };
    for (const auto &[key, field] : members) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (!v.isString())
            return std::nullopt;
        *field = v.toString();
    }
    return info;
}

BuildInfo BuildInfo::fallback()
{
    BuildInfo info;
    info.version = BundleInfo::shortVersionString().value_or(QStringLiteral("?"));
    info.build = BundleInfo::bundleVersion().value_or(QStringLiteral("?"));
    info.commit = QStringLiteral("dev");
    info.buildDate = QString();
    info.channel = QStringLiteral("dev");
    return info;
}

QByteArray BuildInfo::toJson() const
{
    QJsonObject o;
    o["version"] = version;
    o["build"] = build;
    o["commit"] = commit;
    o["buildDate"] = buildDate;
    o["channel"] = channel;
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
