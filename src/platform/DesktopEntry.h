#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// The [Desktop Entry] group of a freedesktop .desktop file, and the command
// line its Exec key gives for a list of files.
class DesktopEntry
{
public:
    // A larger file is not read (with a log line).
    static constexpr qint64 maxFileBytes = 1024 * 1024;

    // Reads the file. Nothing when it cannot be read or has no
    // [Desktop Entry] group.
    static std::optional<DesktopEntry> read(const QString &path);
    // Parses the text of a desktop file; path is where it came from (%k).
    static std::optional<DesktopEntry> parse(const QString &text, const QString &path = QString());

    QString path() const { return m_path; }
    // The value of a key, with the escapes \s \n \t \r \\ resolved; empty
    // when absent. Only unlocalized keys are looked up.
    QString value(const QString &key) const { return m_values.value(key); }
    bool contains(const QString &key) const { return m_values.contains(key); }

    // The program and its arguments for opening the given local files: the
    // Exec line split into arguments by its quoting rules, with the field
    // codes filled in (%f %F with paths, %u %U with file URLs, %i, %c, %k,
    // %%; deprecated codes dropped). When the line names no file code the
    // files are appended. Nothing when Exec is missing or malformed.
    std::optional<QStringList> commandForFiles(const QStringList &files) const;

    // Splits an Exec value into arguments: double quotes group, and inside
    // them a backslash escapes a quote, backquote, dollar or backslash.
    // Nothing for an unterminated quote.
    static std::optional<QStringList> splitExec(const QString &exec);
    // Quotes one argument for an Exec line when it needs quoting.
    static QString quoteExecArgument(const QString &argument);
    // Escapes a value for a desktop file (\\, \n, \t, \r; leading space as \s).
    static QString escapeValue(const QString &value);

private:
    QString m_path;
    QHash<QString, QString> m_values;
};
