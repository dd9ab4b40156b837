// The General tab: every control writes its preference, stored values are
// shown as stored, and text the tab cannot use is refused.
#include "SettingsFixture.h"

#include "model/AppState.h"
#include "platform/AppPaths.h"
#include "platform/DesktopEntry.h"
#include "platform/LoginItem.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/SettingsWidgets.h"
#include "support/RecordingAlertPresenter.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>

namespace {

using Property = AppState::Property;

class GeneralSettingsTest : public SettingsFixture
{
};

TEST_F(GeneralSettingsTest, EachControlWritesItsPreference)
{
    AppState state;
    GeneralSettingsTab tab(state);

    const QList<QPair<Property, QString>> toggles = {
        {Property::copyToClipboard, "copyToClipboard"}, {Property::playSound, "playSound"},
        {Property::showCaptureFlash, "showCaptureFlash"}, {Property::includeCursor, "includeCursor"},
        {Property::simpleMenuMode, "simpleMenuMode"}, {Property::showFloatingPreview, "showFloatingPreview"}};
    for (const auto &[property, key] : toggles) {
        SCOPED_TRACE(key.toStdString());
        QCheckBox *box = tab.toggle(property);
        const bool before = box->isChecked();
        box->click();
        EXPECT_EQ(defaults().boolForKey(key), !before);
        EXPECT_EQ(state.value(property).toBool(), !before);
    }
    // The duration row exists only while the preview is on.
    EXPECT_FALSE(state.showFloatingPreview());
    EXPECT_TRUE(tab.stepper(Property::floatingPreviewDurationSec)->isHidden());
    tab.toggle(Property::showFloatingPreview)->click();
    EXPECT_FALSE(tab.stepper(Property::floatingPreviewDurationSec)->isHidden());

    tab.stepper(Property::floatingPreviewDurationSec)->upButton()->click();
    EXPECT_EQ(defaults().integerForKey("floatingPreviewDurationSec"), 8);
    tab.stepper(Property::countdownSeconds)->downButton()->click();
    EXPECT_EQ(defaults().integerForKey("countdownSeconds"), 4);
    tab.stepper(Property::doubleTapIntervalMS)->upButton()->click();
    EXPECT_EQ(defaults().integerForKey("doubleTapIntervalMS"), 400);

    ValueStepper *size = tab.stepper(Property::maxFileSizeKB);
    EXPECT_EQ(size->text(), "Unlimited");
    size->upButton()->click();
    EXPECT_EQ(size->text(), "50 KB");
    EXPECT_EQ(defaults().integerForKey("maxFileSizeKB"), 50);

    // Quality only matters for lossy formats.
    EXPECT_FALSE(tab.qualityRow()->isEnabled());
    tab.formatButtons()->button(int(ImageFormat::webp))->click();
    EXPECT_EQ(defaults().stringForKey("defaultFormat"), QString("webp"));
    EXPECT_TRUE(tab.qualityRow()->isEnabled());
    tab.qualitySlider()->setValue(15);
    EXPECT_EQ(defaults().doubleForKey("jpegQuality"), 0.75);
    EXPECT_EQ(tab.qualityPercent()->text(), "75%");
    tab.formatButtons()->button(int(ImageFormat::tiff))->click();
    EXPECT_FALSE(tab.qualityRow()->isEnabled());
}

// A spin box would clamp a stored 120 ms to its 150 and write that back.
TEST_F(GeneralSettingsTest, SteppersShowStoredValuesOutsideTheirRangeAsStored)
{
    defaults().setInteger("doubleTapIntervalMS", 120);
    defaults().setDouble("jpegQuality", 0.29);
    AppState state;
    GeneralSettingsTab tab(state);
    ValueStepper *interval = tab.stepper(Property::doubleTapIntervalMS);
    EXPECT_EQ(interval->text(), "Double-press timing: 120 ms");
    EXPECT_EQ(defaults().integerForKey("doubleTapIntervalMS"), 120);
    EXPECT_FALSE(interval->downButton()->isEnabled());
    interval->upButton()->click();
    EXPECT_EQ(defaults().integerForKey("doubleTapIntervalMS"), 170);

    // From above the range: no higher, one press down lands inside it.
    state.setDoubleTapIntervalMS(1000);
    EXPECT_EQ(interval->text(), "Double-press timing: 1000 ms");
    EXPECT_FALSE(interval->upButton()->isEnabled());
    interval->downButton()->click();
    EXPECT_EQ(state.doubleTapIntervalMS(), 900);

    // The percentage is truncated, as stored.
    EXPECT_EQ(tab.qualityPercent()->text(), "28%");
    EXPECT_EQ(defaults().doubleForKey("jpegQuality"), 0.29);
}

// An imported file can hold anything: the tab shows it without crashing
// and without writing anything back.
TEST_F(GeneralSettingsTest, WrongTypesAndOutOfRangeValuesAreShownSafely)
{
    defaults().setString("countdownSeconds", "soon");
    defaults().setObject("jpegQuality", QVariantList{1, 2});
    defaults().setInteger("maxFileSizeKB", -5);
    defaults().setInteger("defaultFormat", 7);
    defaults().setString("preferredLanguage", "tlh");
    defaults().setInteger("floatingPreviewDurationSec", 9000000000000000000LL);
    const QVariantMap before = defaults().dictionaryRepresentation();
    AppState state;
    GeneralSettingsTab tab(state);
    tab.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(tab.stepper(Property::countdownSeconds)->text(), "Timed-capture countdown: 5 s");
    EXPECT_EQ(tab.stepper(Property::floatingPreviewDurationSec)->text(),
              "Floating preview duration: 9000000000000000000 s");
    EXPECT_EQ(tab.languagePicker()->currentIndex(), -1) << "a code the table lacks matches no row";
    EXPECT_TRUE(tab.formatButtons()->button(int(ImageFormat::png))->isChecked());
    EXPECT_EQ(defaults().dictionaryRepresentation(), before);

    tab.stepper(Property::floatingPreviewDurationSec)->downButton()->click();
    EXPECT_EQ(state.floatingPreviewDurationSec(), 60);
    EXPECT_EQ(GeneralSettingsTab::percentText(std::nan("")), "—%");
    EXPECT_EQ(GeneralSettingsTab::percentText(1e300), "—%");
}

TEST_F(GeneralSettingsTest, LoginItemFollowsTheDesktopAndReportsAFailure)
{
    // A file where the autostart folder should be.
    const QString autostart = QFileInfo(LoginItem::filePath()).absolutePath();
    writeFile(autostart, "in the way");
    AppState state;
    GeneralSettingsTab tab(state);
    tab.show();
    tab.loginToggle()->click();
    EXPECT_FALSE(tab.loginToggle()->isChecked()) << "the box shows the desktop's state until the change is made";
    QTest::qWait(1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(tab.loginToggle()->isChecked());
    ASSERT_TRUE(tab.loginItemError());
    EXPECT_TRUE(tab.loginErrorLabel()->text().startsWith("Could not update the login item.")) << tab.loginErrorLabel()->text().toStdString();
    EXPECT_FALSE(tab.loginErrorLabel()->isHidden());

    ASSERT_TRUE(QFile::remove(autostart));
    tab.applyLaunchAtLogin(true);
    EXPECT_TRUE(QFile::exists(LoginItem::filePath()));
    EXPECT_TRUE(tab.loginToggle()->isChecked());
    EXPECT_TRUE(tab.loginErrorLabel()->isHidden());

    // A new tab shows what the desktop has.
    GeneralSettingsTab again(state);
    again.show();
    EXPECT_TRUE(again.loginToggle()->isChecked());
}

// After the program is moved or built elsewhere, the autostart entry still
// names the old binary: it starts nothing, so it shows off, and switching it
// on writes an entry for this binary.
TEST_F(GeneralSettingsTest, AnAutostartEntryForAnotherBinaryShowsOffAndIsRewritten)
{
    const QString running = QCoreApplication::applicationFilePath();
    auto entryRunning = [](const QString &program) {
        return "[Desktop Entry]\nType=Application\nName=Vorna\nExec=\"" + program.toUtf8() + "\" --tray\n";
    };
    AppState state;
    for (const QString &other : {home() + "/old build/vorna", QString("/bin/true")}) {
        SCOPED_TRACE(other.toStdString());
        writeFile(LoginItem::filePath(), entryRunning(other));
        GeneralSettingsTab tab(state);
        tab.show();
        EXPECT_FALSE(tab.loginToggle()->isChecked());
        tab.loginToggle()->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return tab.loginToggle()->isChecked(); }, 30000));
        EXPECT_FALSE(tab.loginItemError());
        const auto entry = DesktopEntry::read(LoginItem::filePath());
        ASSERT_TRUE(entry);
        EXPECT_EQ(DesktopEntry::splitExec(entry->value("Exec")).value_or(QStringList()).value(0), running);
        GeneralSettingsTab again(state);
        again.show();
        EXPECT_TRUE(again.loginToggle()->isChecked());
    }

    // A link to this binary runs it; a hidden entry runs nothing.
    ASSERT_TRUE(QFile::link(running, home() + "/vorna-link"));
    writeFile(LoginItem::filePath(), entryRunning(home() + "/vorna-link"));
    EXPECT_TRUE(LoginItem::isEnabled());
    writeFile(LoginItem::filePath(), entryRunning(running) + "Hidden=true\n");
    EXPECT_FALSE(LoginItem::isEnabled());
}

TEST_F(GeneralSettingsTest, ExternalEditorIsNamedByItsDesktopFile)
{
    // An INI reader splits "Paint, Draw" into a list and keeps "\s" as is.
    const QString entry = AppPaths::dataHome() + "/applications/paint.desktop";
    writeFile(entry, "[Desktop Entry]\nType=Application\nName=\\sPaint, Draw; Sketch\nExec=paint %f\n");
    AppState state;
    GeneralSettingsTab tab(state);
    EXPECT_EQ(tab.editorName()->toolTip(), "Built-in Editor");
    EXPECT_TRUE(tab.clearEditorButton()->isHidden());

    nextChoice = std::nullopt;
    tab.chooseExternalEditor();
    EXPECT_FALSE(state.externalEditorPath());
    nextChoice = entry;
    tab.chooseExternalEditor();
    EXPECT_EQ(defaults().stringForKey("externalEditorPath"), entry);
    EXPECT_EQ(state.externalEditorName(), QString(" Paint, Draw; Sketch"));
    EXPECT_EQ(tab.editorName()->toolTip(), " Paint, Draw; Sketch");
    EXPECT_FALSE(tab.clearEditorButton()->isHidden());

    tab.clearEditorButton()->click();
    EXPECT_EQ(defaults().stringForKey("externalEditorPath"), QString(""));
    EXPECT_EQ(tab.editorName()->toolTip(), "Built-in Editor");

    // Installed applications: visible ones with a command, by name.
    writeFile(AppPaths::dataHome() + "/applications/hidden.desktop",
              "[Desktop Entry]\nType=Application\nName=Hidden\nNoDisplay=true\nExec=x\n");
    writeFile(AppPaths::dataHome() + "/applications/link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nURL=x\n");
    writeFile(AppPaths::dataHome() + "/applications/vi.desktop",
              "[Desktop Entry]\nType=Application\nName=Vi\nTerminal=true\nExec=vi %f\n");
    qputenv("XDG_DATA_DIRS", QFile::encodeName(home() + "/none"));
    const auto apps = SettingsPanels::installedApplications();
    qunsetenv("XDG_DATA_DIRS");
    ASSERT_EQ(apps.size(), 1);
    EXPECT_EQ(apps[0].path, entry);
}

TEST_F(GeneralSettingsTest, LanguageIsStoredAndAsksForARelaunch)
{
    RecordingAlertPresenter alerts;
    alerts.answer = 1; // "Later"
    AppState state;
    GeneralSettingsTab tab(state);
    QComboBox *picker = tab.languagePicker();
    EXPECT_EQ(picker->currentText(), "System Default");
    const int russian = picker->findData("ru");
    EXPECT_EQ(picker->itemText(russian), "Русский ❤️ 🇺🇦");

    emit picker->activated(picker->findData("de"));
    EXPECT_TRUE(alerts.alerts.isEmpty()) << "the change runs one turn later";
    QCoreApplication::processEvents();
    EXPECT_EQ(defaults().stringForKey("preferredLanguage"), QString("de"));
    EXPECT_EQ(defaults().stringArrayForKey("AppleLanguages"), QStringList{"de"});
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, "Relaunch Required");
    EXPECT_EQ(alerts.alerts[0].buttons, (QStringList{"Quit Vorna", "Later"}));

    emit picker->activated(0);
    QCoreApplication::processEvents();
    EXPECT_FALSE(defaults().contains("preferredLanguage"));
    EXPECT_FALSE(defaults().contains("AppleLanguages"));
    EXPECT_EQ(alerts.alerts.size(), 2);
}

// Keys and the wheel on the closed picker only browse; choosing a row of
// the open list stores that language once and asks for a relaunch once.
TEST_F(GeneralSettingsTest, BrowsingTheLanguagePickerChoosesNothing)
{
    RecordingAlertPresenter alerts;
    alerts.answer = 1; // "Later"
    AppState state;
    GeneralSettingsTab tab(state);
    tab.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tab));
    QComboBox *picker = tab.languagePicker();
    picker->setFocus();

    QAbstractItemView *list = picker->view();
    for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_End, Qt::Key_D}) {
        SCOPED_TRACE(key);
        QTest::keyClick(picker, key);
        QCoreApplication::processEvents();
        EXPECT_TRUE(list->isVisible()) << "the key opens the list";
        picker->hidePopup();
    }
    QWheelEvent wheel(QPointF(picker->rect().center()), QPointF(picker->mapToGlobal(picker->rect().center())),
                      QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(picker, &wheel);
    QCoreApplication::processEvents();
    EXPECT_TRUE(alerts.alerts.isEmpty());
    EXPECT_FALSE(defaults().contains("preferredLanguage"));
    EXPECT_EQ(picker->currentText(), "System Default");

    // In the open list the keys move the highlight, and Return chooses.
    QTest::keyClick(picker, Qt::Key_Down);
    ASSERT_TRUE(list->isVisible());
    list->setCurrentIndex(picker->model()->index(picker->findData("de"), 0));
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Up);
    QCoreApplication::processEvents();
    EXPECT_TRUE(alerts.alerts.isEmpty());
    QTest::keyClick(list, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(defaults().stringForKey("preferredLanguage"), QString("de"));
    EXPECT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(picker->currentData().toString(), "de");
}

TEST_F(GeneralSettingsTest, SaveFolderFieldStoresOnlyExistingFolders)
{
    ASSERT_TRUE(QDir().mkpath(home() + "/Shots"));
    writeFile(home() + "/a-file", "x");
    AppState state;
    GeneralSettingsTab tab(state);
    QLineEdit *field = tab.saveDirField();

    field->setText("  ~/Shots\n");
    tab.commitSaveDirectory();
    EXPECT_EQ(defaults().stringForKey("saveDirectory"), home() + "/Shots");
    EXPECT_EQ(field->text(), "~/Shots");
    EXPECT_EQ(beeps, 0);

    for (const QString &bad : {QString("~/a-file"), QString("~/missing"), QString("   "), QString("Shots")}) {
        SCOPED_TRACE(bad.toStdString());
        field->setText(bad);
        tab.commitSaveDirectory();
        EXPECT_EQ(state.saveDirectory(), home() + "/Shots");
        EXPECT_EQ(field->text(), "~/Shots");
    }
    EXPECT_EQ(beeps, 4);

    nextChoice = home();
    tab.browseSaveDirectory();
    EXPECT_EQ(state.saveDirectory(), home());
    EXPECT_EQ(field->text(), "~");
}

} // namespace
