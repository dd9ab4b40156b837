#pragma once

#include "model/AppState.h"

#include <QHash>
#include <QString>
#include <QWidget>
#include <optional>

class CrashReportingPanel;
class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QToolButton;
class SavedFoldersEditor;
class SettingsBackupPanel;
class ValueStepper;

// One row of the interface-language picker.
struct LanguageOption
{
    QString code;
    QString nativeName;
    QString suffix;

    QString pickerTitle() const { return suffix.isEmpty() ? nativeName : nativeName + u' ' + suffix; }
    static const QList<LanguageOption> &all();
};

// The General tab: startup, capture, menu bar, editor, language, cloud
// copy, output, saved folders, crash reporting and backup. Every control
// writes through an AppState setter at once and shows the stored value,
// also a value no control of its own could produce.
class GeneralSettingsTab : public QWidget
{
    Q_OBJECT
public:
    explicit GeneralSettingsTab(AppState &appState, QWidget *parent = nullptr);

    // Startup: the login item as the desktop has it, and the message of
    // the last failed change.
    bool launchAtLogin() const { return m_launchAtLogin; }
    std::optional<QString> loginItemError() const { return m_loginItemError; }
    void applyLaunchAtLogin(bool enable);

    // Editor, language and output actions.
    void chooseExternalEditor();
    void clearExternalEditor();
    void changeLanguage(const QString &code);
    void showLanguageRelaunchAlert();
    void browseSaveDirectory();
    void commitSaveDirectory();

    // The controls, by the property they show.
    QCheckBox *toggle(AppState::Property property) const { return m_toggles.value(property); }
    ValueStepper *stepper(AppState::Property property) const { return m_steppers.value(property); }
    QCheckBox *loginToggle() const { return m_login; }
    QLabel *loginErrorLabel() const { return m_loginError; }
    QLabel *editorName() const { return m_editorName; }
    QToolButton *clearEditorButton() const { return m_clearEditor; }
    QComboBox *languagePicker() const { return m_language; }
    QLabel *iCloudCaption() const { return m_iCloudCaption; }
    QButtonGroup *formatButtons() const { return m_formats; }
    QWidget *qualityRow() const { return m_qualityRow; }
    QSlider *qualitySlider() const { return m_quality; }
    QLabel *qualityPercent() const { return m_qualityPercent; }
    QLineEdit *saveDirField() const { return m_saveDir; }
    SavedFoldersEditor *savedFolders() const { return m_savedFolders; }
    CrashReportingPanel *crashReporting() const { return m_crashReporting; }
    SettingsBackupPanel *backup() const { return m_backup; }

    // The percentage the quality row shows for a stored quality.
    static QString percentText(double quality);

protected:
    void showEvent(QShowEvent *event) override;

private:
    QCheckBox *addToggle(class QVBoxLayout *layout, AppState::Property property, const QString &label,
                         const QString &tooltip = QString());
    void refresh(AppState::Property property);
    void refreshAll();
    void refreshLogin();

    AppState &m_appState;
    bool m_launchAtLogin = false;
    std::optional<QString> m_loginItemError;

    QHash<AppState::Property, QCheckBox *> m_toggles;
    QHash<AppState::Property, ValueStepper *> m_steppers;
    QCheckBox *m_login = nullptr;
    QLabel *m_loginError = nullptr;
    QLabel *m_editorName = nullptr;
    QToolButton *m_clearEditor = nullptr;
    QComboBox *m_language = nullptr;
    QCheckBox *m_iCloud = nullptr;
    QLabel *m_iCloudCaption = nullptr;
    QButtonGroup *m_formats = nullptr;
    QWidget *m_qualityRow = nullptr;
    QSlider *m_quality = nullptr;
    QLabel *m_qualityPercent = nullptr;
    QLineEdit *m_saveDir = nullptr;
    SavedFoldersEditor *m_savedFolders = nullptr;
    CrashReportingPanel *m_crashReporting = nullptr;
    SettingsBackupPanel *m_backup = nullptr;
};
