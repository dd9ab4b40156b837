#include "settings/GeneralSettingsTab.h"

#include "model/AppSettings.h"
#include "output/ICloudDrive.h"
#include "platform/AlertPresenter.h"
#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/LoginItem.h"
#include "settings/CrashReportingPanel.h"
#include "settings/PickerKeyGuard.h"
#include "settings/SavedFoldersEditor.h"
#include "settings/SettingsBackupPanel.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsWidgets.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>

using Property = AppState::Property;

namespace {

constexpr int kQualitySteps = 20; // the slider moves in steps of 0.05

} // namespace

const QList<LanguageOption> &LanguageOption::all()
{
    static const QList<LanguageOption> options = {
        {QStringLiteral("en"), QStringLiteral("English"), QString()},
        {QStringLiteral("de"), QStringLiteral("Deutsch"), QString()},
        {QStringLiteral("es"), QStringLiteral("Español"), QString()},
        {QStringLiteral("fr"), QStringLiteral("Français"), QString()},
        {QStringLiteral("it"), QStringLiteral("Italiano"), QString()},
        {QStringLiteral("ja"), QStringLiteral("日本語"), QString()},
        {QStringLiteral("zh-Hans"), QStringLiteral("简体中文"), QString()},
        {QStringLiteral("ko"), QStringLiteral("한국어"), QString()},
        {QStringLiteral("pt-BR"), QStringLiteral("Português (Brasil)"), QString()},
        {QStringLiteral("ru"), QStringLiteral("Русский"), QStringLiteral("❤️ 🇺🇦")},
    };
    return options;
}

GeneralSettingsTab::GeneralSettingsTab(AppState &appState, QWidget *parent) : QWidget(parent), m_appState(appState)
{
    using namespace SettingsWidgets;
    auto *form = new QVBoxLayout(this);
    form->setSpacing(8);

    // ---- Startup ----
    QVBoxLayout *startup = section(form, localized("Startup"));
    m_login = new QCheckBox(localized("Launch Vorna at login"));
    m_login->setToolTip(localized("When on, Vorna starts automatically whenever you log in to your desktop."));
    startup->addWidget(m_login);
    m_loginError = caption(QString());
    m_loginError->hide();
    startup->addWidget(m_loginError);
    connect(m_login, &QCheckBox::clicked, this, [this](bool enable) {
        // The box shows the desktop's state; it changes once the change is made.
        refreshLogin();
        QTimer::singleShot(0, this, [this, enable] { applyLaunchAtLogin(enable); });
    });

    // ---- Capture ----
    QVBoxLayout *capture = section(form, localized("Capture"));
    addToggle(capture, Property::copyToClipboard, localized("Copy to clipboard after capture"));
    addToggle(capture, Property::playSound, localized("Play sound effect"));
    addToggle(capture, Property::showCaptureFlash, localized("Show visual flash on capture"),
              localized("A brief white flash across every display confirms the shot. Useful if you've muted the "
                        "shutter sound."));
    addToggle(capture, Property::showFloatingPreview, localized("Show floating preview"));
    auto addStepper = [this](QVBoxLayout *layout, Property p, qint64 lo, qint64 hi, qint64 step,
                             ValueStepper::Formatter format, const QString &tooltip) {
        auto *stepper = new ValueStepper(lo, hi, step, std::move(format));
        stepper->setToolTip(tooltip);
        if (layout)
            layout->addWidget(stepper);
        connect(stepper, &ValueStepper::valueChosen, this,
                [this, p](qint64 v) { m_appState.setValue(p, QVariant::fromValue(v)); });
        m_steppers.insert(p, stepper);
        return stepper;
    };
    // Shown only while the preview is on, directly below its switch.
    addStepper(capture, Property::floatingPreviewDurationSec, 2, 60, 1,
               [](qint64 v) { return localized("Floating preview duration: %1 s").arg(v); },
               localized("How long the thumbnail stays in the corner before it auto-dismisses."));
    addToggle(capture, Property::includeCursor, localized("Include mouse cursor"));
    addStepper(capture, Property::countdownSeconds, 1, 30, 1,
               [](qint64 v) { return localized("Timed-capture countdown: %1 s").arg(v); }, QString());
    addStepper(capture, Property::doubleTapIntervalMS, 150, 900, 50,
               [](qint64 v) { return localized("Double-press timing: %1 ms").arg(v); },
               localized("How quickly the second press must follow. Configure per-shortcut double-press targets in "
                         "the Shortcuts tab."));

    // ---- Tray Menu ----
    QVBoxLayout *menuBar = section(form, localized("Tray Menu"));
    addToggle(menuBar, Property::simpleMenuMode, localized("Simple menu mode"),
              localized("Hides advanced entries (Scrolling/Timed capture, History, Editor, Save To, Diff Viewer, "
                        "Report a Bug, Check for Updates) so the menu shows only the three core capture modes plus "
                        "Open Vorna, Help, Settings and Quit. Hotkeys for hidden actions still work."));

    // ---- Editor ----
    QVBoxLayout *editor = section(form, localized("Editor"));
    auto *editorRow = new QWidget;
    auto *editorLine = new QHBoxLayout(editorRow);
    editorLine->setContentsMargins(0, 0, 0, 0);
    editorLine->addWidget(new QLabel(localized("Open Edit in:")));
    auto *editorName = new MiddleElidedLabel;
    editorName->setForegroundRole(QPalette::PlaceholderText);
    editorName->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_editorName = editorName;
    editorLine->addWidget(m_editorName, 1);
    auto *chooseApp = new QPushButton(localized("Choose App…"));
    editorLine->addWidget(chooseApp);
    m_clearEditor = iconButton(QStringLiteral("xmark.circle"), localized("Use the built-in editor instead"));
    editorLine->addWidget(m_clearEditor);
    editorRow->setToolTip(localized("When set, the Edit action everywhere (floating preview, Recent thumbnails, "
                                    "History) opens the screenshot in this app instead of the built-in editor."));
    editor->addWidget(editorRow);
    connect(chooseApp, &QPushButton::clicked, this, &GeneralSettingsTab::chooseExternalEditor);
    connect(m_clearEditor, &QToolButton::clicked, this, &GeneralSettingsTab::clearExternalEditor);

    // ---- Language ----
    QVBoxLayout *language = section(form, localized("Language"));
    auto *languageLine = new QHBoxLayout;
    auto *languageLabel = new QLabel(localized("Interface language:"));
    m_language = new QComboBox;
    languageLabel->setBuddy(m_language);
    // Each choice stores the language and asks for a relaunch: stepping
    // through the rows must not count as choosing them.
    PickerKeyGuard::install(m_language);
    m_language->addItem(localized("System Default"), QString());
    m_language->insertSeparator(1);
    for (const LanguageOption &option : LanguageOption::all())
        m_language->addItem(option.pickerTitle(), option.code);
    languageLine->addWidget(languageLabel);
    languageLine->addWidget(m_language);
    languageLine->addStretch(1);
    language->addLayout(languageLine);
    language->addWidget(caption(localized("Changes take effect after you relaunch Vorna.")));
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        const QString code = m_language->itemData(index).toString();
        QTimer::singleShot(0, this, [this, code] { changeLanguage(code); });
    });

    // ---- Cloud folder ----
    QVBoxLayout *cloud = section(form, localized("Cloud Folder"));
    m_iCloud = addToggle(cloud, Property::iCloudSyncEnabled, localized("Copy screenshots to the cloud folder"));
    m_iCloudCaption = caption(QString());
    cloud->addWidget(m_iCloudCaption);

    // ---- Output ----
    QVBoxLayout *output = section(form, localized("Output"));
    auto *formatLine = new QHBoxLayout;
    formatLine->addWidget(new QLabel(localized("Default format:")));
    m_formats = new QButtonGroup(this);
    m_formats->setExclusive(true);
    auto *segments = new QHBoxLayout;
    segments->setSpacing(0);
    for (const ImageFormat format : ImageFormats::allCases()) {
        auto *button = new QToolButton;
        button->setText(ImageFormats::rawValue(format).toUpper());
        button->setCheckable(true);
        button->setMinimumWidth(54);
        button->setFocusPolicy(Qt::StrongFocus);
        m_formats->addButton(button, static_cast<int>(format));
        segments->addWidget(button);
    }
    formatLine->addLayout(segments);
    formatLine->addStretch(1);
    output->addLayout(formatLine);
    connect(m_formats, &QButtonGroup::idClicked, this,
            [this](int id) { m_appState.setDefaultFormat(static_cast<ImageFormat>(id)); });

    m_qualityRow = new QWidget;
    auto *qualityLine = new QHBoxLayout(m_qualityRow);
    qualityLine->setContentsMargins(0, 0, 0, 0);
    qualityLine->addWidget(new QLabel(localized("Quality:")));
    m_quality = new QSlider(Qt::Horizontal);
    m_quality->setRange(2, kQualitySteps);
    m_quality->setSingleStep(1);
    m_quality->setPageStep(2);
    m_quality->setAccessibleName(localized("Quality:"));
    qualityLine->addWidget(m_quality, 1);
    m_qualityPercent = new QLabel;
    m_qualityPercent->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_qualityPercent->setFixedWidth(48);
    m_qualityPercent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    qualityLine->addWidget(m_qualityPercent);
    output->addWidget(m_qualityRow);
    connect(m_quality, &QSlider::valueChanged, this,
            [this](int v) { m_appState.setJpegQuality(double(v) / kQualitySteps); });

    auto *sizeRow = new QWidget;
    auto *sizeLine = new QHBoxLayout(sizeRow);
    sizeLine->setContentsMargins(0, 0, 0, 0);
    sizeLine->addWidget(new QLabel(localized("Max file size:")));
    ValueStepper *size = addStepper(
        nullptr, Property::maxFileSizeKB, 0, 100000, 50,
        [](qint64 v) { return v == 0 ? localized("Unlimited") : localized("%1 KB").arg(v); },
        localized("If set, Vorna reduces quality (and downscales if needed) so each saved file stays under this size."));
    size->label()->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    sizeLine->addWidget(size, 1);
    sizeRow->setToolTip(size->toolTip());
    output->addWidget(sizeRow);

    auto *saveLine = new QHBoxLayout;
    auto *saveLabel = new QLabel(localized("Save to:"));
    m_saveDir = new QLineEdit;
    saveLabel->setBuddy(m_saveDir);
    auto *browse = new QPushButton(localized("Browse..."));
    saveLine->addWidget(saveLabel);
    saveLine->addWidget(m_saveDir, 1);
    saveLine->addWidget(browse);
    output->addLayout(saveLine);
    connect(m_saveDir, &QLineEdit::returnPressed, this, &GeneralSettingsTab::commitSaveDirectory);
    connect(browse, &QPushButton::clicked, this, &GeneralSettingsTab::browseSaveDirectory);

    // ---- Save Locations, Crash Reporting, Backup ----
    m_savedFolders = new SavedFoldersEditor(m_appState);
    section(form, localized("Save Locations"),
            localized("Quickly switch between these folders from the tray menu’s “Save To” submenu."))
        ->addWidget(m_savedFolders);
    m_crashReporting = new CrashReportingPanel(AppSettings::load());
    section(form, localized("Privacy · Crash Reporting"),
            localized("Edit appsettings.json to configure Sentry. Vorna never collects usage analytics, performance "
                      "traces, network activity or user identifiers. With no DSN configured, nothing is sent."))
        ->addWidget(m_crashReporting);
    m_backup = new SettingsBackupPanel;
    section(form, localized("Backup"),
            localized("Vorna automatically mirrors your preferences to a JSON file in its data folder so they survive "
                      "a reinstall. Use Export/Import to move settings between computers."))
        ->addWidget(m_backup);
    form->addStretch(1);

    connect(&m_appState, &AppState::changed, this, &GeneralSettingsTab::refresh);
    refreshAll();
    m_saveDir->setText(SettingsWidgets::abbreviateHome(m_appState.saveDirectory()));
}

QCheckBox *GeneralSettingsTab::addToggle(QVBoxLayout *layout, Property property, const QString &label,
                                         const QString &tooltip)
{
    auto *box = new QCheckBox(label);
    if (!tooltip.isEmpty())
        box->setToolTip(tooltip);
    layout->addWidget(box);
    connect(box, &QCheckBox::clicked, this, [this, property](bool on) { m_appState.setValue(property, on); });
    m_toggles.insert(property, box);
    return box;
}

void GeneralSettingsTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_launchAtLogin = AppState::launchAtLogin();
    refreshLogin();
    refreshAll();
    m_saveDir->setText(SettingsWidgets::abbreviateHome(m_appState.saveDirectory()));
}

void GeneralSettingsTab::refreshAll()
{
    for (const Property p : {Property::copyToClipboard, Property::playSound, Property::showCaptureFlash,
                             Property::showFloatingPreview, Property::includeCursor, Property::simpleMenuMode,
                             Property::iCloudSyncEnabled, Property::floatingPreviewDurationSec,
                             Property::countdownSeconds, Property::doubleTapIntervalMS, Property::maxFileSizeKB,
                             Property::externalEditorPath, Property::preferredLanguage, Property::defaultFormat,
                             Property::jpegQuality})
        refresh(p);
    // The cloud folder is looked for again each time, so a sync client set
    // up or removed meanwhile shows.
    const std::optional<QUrl> cloudFolder = iCloudDriveFolderURL();
    m_iCloud->setEnabled(cloudFolder.has_value());
    if (cloudFolder) {
        m_iCloudCaption->setText(localized("Screenshots will be copied to %1")
                                     .arg(SettingsWidgets::abbreviateHome(cloudFolder->toLocalFile())));
    } else {
        QStringList lookedFor;
        for (const QString &name : cloudFolderNames())
            lookedFor.append(QStringLiteral("~/") + name);
        m_iCloudCaption->setText(localized("No cloud folder found: Vorna copies screenshots into the first of %1 "
                                           "that exists.")
                                     .arg(lookedFor.join(QStringLiteral(", "))));
    }
}

void GeneralSettingsTab::refreshLogin()
{
    m_login->setChecked(m_launchAtLogin);
    m_loginError->setText(m_loginItemError.value_or(QString()));
    m_loginError->setVisible(m_loginItemError.has_value());
}

void GeneralSettingsTab::refresh(Property p)
{
    if (QCheckBox *box = m_toggles.value(p)) {
        box->setChecked(m_appState.value(p).toBool());
        if (p == Property::showFloatingPreview)
            m_steppers[Property::floatingPreviewDurationSec]->setVisible(box->isChecked());
        return;
    }
    if (ValueStepper *stepper = m_steppers.value(p)) {
        stepper->setValue(m_appState.value(p).toLongLong());
        return;
    }
    switch (p) {
    case Property::externalEditorPath: {
        const auto name = m_appState.externalEditorName();
        static_cast<MiddleElidedLabel *>(m_editorName)->setFullText(name.value_or(localized("Built-in Editor")));
        m_clearEditor->setVisible(m_appState.externalEditorPath().has_value());
        break;
    }
    case Property::preferredLanguage: {
        // A code from elsewhere (an imported file) that the table lacks
        // selects no row.
        const auto code = m_appState.preferredLanguage();
        const int index = m_language->findData(code.value_or(QString()));
        const QSignalBlocker block(m_language);
        m_language->setCurrentIndex(index > 1 || !code ? index : -1);
        break;
    }
    case Property::defaultFormat: {
        const ImageFormat format = m_appState.defaultFormat();
        if (QAbstractButton *button = m_formats->button(static_cast<int>(format)))
            button->setChecked(true);
        const bool lossless = format == ImageFormat::png || format == ImageFormat::tiff;
        m_qualityRow->setEnabled(!lossless);
        m_qualityRow->setToolTip(lossless ? localized("Quality only affects JPEG and HEIC. PNG and TIFF are lossless.")
                                          : localized("Lower = smaller file, lower fidelity."));
        break;
    }
    case Property::jpegQuality: {
        const double q = m_appState.jpegQuality();
        const QSignalBlocker block(m_quality);
        if (std::isfinite(q))
            m_quality->setValue(int(std::lround(std::clamp(q, 0.0, 1.0) * kQualitySteps)));
        m_qualityPercent->setText(percentText(q));
        break;
    }
    default:
        break;
    }
}

QString GeneralSettingsTab::percentText(double quality)
{
    const double percent = std::trunc(quality * 100);
    // A value no slider position gives (from an imported file) is shown as
    // far as it can be.
    if (!std::isfinite(percent) || std::fabs(percent) > 1e15)
        return QStringLiteral("—%");
    return QString::number(qint64(percent)) + u'%';
}

void GeneralSettingsTab::applyLaunchAtLogin(bool enable)
{
    if (AppState::setLaunchAtLogin(enable)) {
        m_launchAtLogin = enable;
        m_loginItemError.reset();
    } else {
        m_launchAtLogin = AppState::launchAtLogin();
        m_loginItemError = localized("Could not update the login item. Vorna starts at login through %1; check that "
                                     "this file and its folder can be written.")
                               .arg(SettingsWidgets::abbreviateHome(LoginItem::filePath()));
    }
    refreshLogin();
}

void GeneralSettingsTab::chooseExternalEditor()
{
    QPointer<GeneralSettingsTab> self(this);
    SettingsPanels::chooseApplication(window(), [self](std::optional<QString> path) {
        if (self && path && !path->isEmpty())
            self->m_appState.setExternalEditorPath(*path);
    });
}

void GeneralSettingsTab::clearExternalEditor()
{
    m_appState.setExternalEditorPath(std::nullopt);
}

void GeneralSettingsTab::changeLanguage(const QString &code)
{
    m_appState.setPreferredLanguage(code.isEmpty() ? std::nullopt : std::optional(code));
    showLanguageRelaunchAlert();
}

void GeneralSettingsTab::showLanguageRelaunchAlert()
{
    AlertPresenter::Alert alert;
    alert.style = AlertPresenter::Style::informational;
    alert.title = localized("Relaunch Required");
    alert.informativeText = localized("Please quit and relaunch Vorna for the language change to take effect.");
    alert.buttons = {localized("Quit Vorna"), localized("Later")};
    if (AlertPresenter::current().present(alert) == 0)
        QCoreApplication::quit();
}

void GeneralSettingsTab::browseSaveDirectory()
{
    QPointer<GeneralSettingsTab> self(this);
    SettingsPanels::chooseFolder(window(), [self](std::optional<QString> path) {
        if (!self || !path || path->isEmpty())
            return;
        self->m_appState.setSaveDirectory(*path);
        self->m_saveDir->setText(SettingsWidgets::abbreviateHome(self->m_appState.saveDirectory()));
    });
}

void GeneralSettingsTab::commitSaveDirectory()
{
    const QString typed = AppPaths::expandTilde(m_saveDir->text().trimmed());
    const QFileInfo folder(typed);
    // A relative path would depend on the folder Vorna happens to run in.
    if (!typed.isEmpty() && folder.isAbsolute() && folder.isDir()) {
        m_appState.setSaveDirectory(typed);
        m_saveDir->setText(SettingsWidgets::abbreviateHome(m_appState.saveDirectory()));
        return;
    }
    SettingsPanels::beep();
    m_saveDir->setText(SettingsWidgets::abbreviateHome(m_appState.saveDirectory()));
}
