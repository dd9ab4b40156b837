#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// One release as the update feed describes it: a single JSON object.
struct AppcastEntry
{
    QString version;
    std::optional<QString> build;
    QString downloadURL;
    std::optional<QString> notes;
    std::optional<QString> publishedAt;

    friend bool operator==(const AppcastEntry &, const AppcastEntry &) = default;

    // "version" and "downloadURL" are required; every member present must be
    // text (an optional one may be null). Other keys are ignored. On failure
    // *error holds a user-facing description.
    static std::optional<AppcastEntry> decode(const QByteArray &bytes, QString *error = nullptr);
};
