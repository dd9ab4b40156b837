#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

// Export and import of the user's settings to and from a file of the
// user's choice, through the file panels. Each finished export or import
// leaves one status line; a cancelled panel leaves it as it was.
class SettingsBackup : public QObject
{
    Q_OBJECT
public:
    explicit SettingsBackup(QObject *parent = nullptr);

    // The last outcome; nothing before the first one.
    std::optional<QString> status() const { return m_status; }

    // "Export Settings…": writes the current settings to a chosen file.
    void exportSettings();
    // "Import Settings…": reads a chosen file into the settings. A file
    // that cannot be read leaves an error line and changes nothing.
    void importSettings();

    // What the panels' completions do (path: the chosen file, or nothing
    // when the panel was cancelled).
    void exportCompletion(const std::optional<QString> &path, const QByteArray &document);
    void importCompletion(const std::optional<QString> &path);

    // Import files beyond this size are refused unread.
    static constexpr qint64 maxImportBytes = 16 * 1024 * 1024;

signals:
    void statusChanged();

private:
    void setStatus(const QString &status);

    std::optional<QString> m_status;
};
