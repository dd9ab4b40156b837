#pragma once

#include "model/AppSettings.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

// The "Privacy · Crash Reporting" section of the General tab: switches
// crash reporting in appsettings.json on and off (starting or closing the
// client at once), says whether reports can be sent, and shows, reveals and
// re-reads the file. The DSN and environment are edited in the file only.
class CrashReportingPanel : public QWidget
{
    Q_OBJECT
public:
    explicit CrashReportingPanel(const AppSettings &settings, QWidget *parent = nullptr);

    const AppSettings &settings() const { return m_settings; }
    // Whether reports can be sent: enabled, with a DSN that is not all
    // white space and that the crash client can parse.
    static bool isActive(const AppSettings &settings);
    static QString statusText(const AppSettings &settings);

    // The toggle: saves the file with the new value and starts or closes
    // crash reporting. When the file cannot be written nothing changes and
    // an error line says so.
    void setReportingEnabled(bool enabled);
    void reveal();
    void reload();

    QCheckBox *toggle() const { return m_toggle; }
    QLabel *statusLabel() const { return m_statusText; }
    QLabel *errorLabel() const { return m_error; }

private:
    void refresh();

    AppSettings m_settings;
    QCheckBox *m_toggle;
    QLabel *m_statusIcon;
    QLabel *m_statusText;
    QLabel *m_error;
    QLabel *m_path;
};
