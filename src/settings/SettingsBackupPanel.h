#pragma once

#include <QWidget>

class QLabel;
class QPushButton;
class SettingsBackup;

// The Backup section of the General tab: export, import and reveal of the
// settings, with one status line for the last outcome.
class SettingsBackupPanel : public QWidget
{
    Q_OBJECT
public:
    explicit SettingsBackupPanel(QWidget *parent = nullptr);

    SettingsBackup &backup() const { return *m_backup; }
    // The status line (hidden while there is no outcome yet).
    QLabel *statusLabel() const { return m_status; }
    QPushButton *exportButton() const { return m_export; }
    QPushButton *importButton() const { return m_import; }
    QPushButton *revealButton() const { return m_reveal; }

    // "Reveal Backup": the mirror file in the file manager, as it is.
    void revealBackup();

private:
    SettingsBackup *m_backup;
    QLabel *m_status;
    QPushButton *m_export;
    QPushButton *m_import;
    QPushButton *m_reveal;
};
