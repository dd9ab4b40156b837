#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

// The crash-reporting configuration. It lives in its own hand-editable file,
// appsettings.json in the program's data folder, not with the preferences.
// The program ships without a DSN, so nothing is reported until somebody
// writes one into the file.
struct AppSettings
{
    struct SentrySettings
    {
        bool enabled = true;
        QString dsn;
        QString environment = QStringLiteral("production");
        bool debug = false;
        double sampleRate = 1.0;

        friend bool operator==(const SentrySettings &, const SentrySettings &) = default;
    };

    SentrySettings sentry;

    friend bool operator==(const AppSettings &, const AppSettings &) = default;

    // The values used whenever the file cannot be.
    static const AppSettings &defaults();

    // A larger file is not read (and is left as it is).
    static constexpr qint64 maxFileBytes = 1024 * 1024;

    // $XDG_DATA_HOME/Vorna/appsettings.json
    static QUrl fileURL();

    // The file's content, or defaults(). A missing file is created from the
    // template; a malformed one is logged and left as it is. Never fails.
    static AppSettings load();

    // Writes the value in the saved layout, atomically. On failure returns
    // false with the reason in *error and leaves the old file intact.
    static bool save(const AppSettings &settings, QString *error = nullptr);

    // The exact bytes written when the file is missing.
    static QByteArray templateText();
    // The exact bytes save writes for a value, or an empty array with the
    // reason in *error when the value cannot be written.
    static QByteArray savedText(const AppSettings &settings, QString *error = nullptr);
    // Decodes a file's bytes. Every key is required and must have its JSON
    // type; unknown keys are ignored.
    static std::optional<AppSettings> decode(const QByteArray &bytes, QString *error = nullptr);
};
