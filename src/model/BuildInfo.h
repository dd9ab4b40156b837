#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Which build is running: marketing version, build number, source commit,
// build date and release channel. The build writes them into the resource
// ":/BuildInfo.json"; without a usable resource the version texts of the
// program itself are used, with commit and channel "dev".
struct BuildInfo
{
    QString version;
    QString build;
    QString commit;
    QString buildDate;
    QString channel;

    // The process's value, worked out on first use and never again.
    static const BuildInfo &current();
    // Reads the program's resource, or falls back.
    static BuildInfo load();
    // Reads the given file (a resource path or a plain file), or falls back.
    static BuildInfo load(const QString &path);
    // The value a JSON object with the five text keys gives; nothing when a
    // key is missing, a value is not a text or the bytes are not an object.
    static std::optional<BuildInfo> decode(const QByteArray &json);
    // The fallback: the program's own version and build ("?" when not set),
    // commit "dev", no build date, channel "dev".
    static BuildInfo fallback();

    QByteArray toJson() const;

    bool operator==(const BuildInfo &other) const = default;
};
