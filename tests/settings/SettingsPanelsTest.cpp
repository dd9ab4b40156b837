// The settings window, its saved folders, backup, crash-reporting and
// About sections, and the language applied at start.
#include "SettingsFixture.h"

#include "model/AppSettings.h"
#include "model/AppState.h"
#include "model/SettingsPersistence.h"
#include "platform/AppPaths.h"
#include "platform/SentrySDK.h"
#include "settings/AboutSettingsTab.h"
#include "settings/CrashReportingPanel.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/InterfaceLanguage.h"
#include "settings/SettingsBackup.h"
#include "settings/SavedFoldersEditor.h"
#include "settings/SettingsBackupPanel.h"
#include "settings/SettingsView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QWheelEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QListView>
#include <QTest>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>

namespace {

const QString kTabKey = "vorna.uiTests.preselectedSettingsTab";

class SettingsWindowTest : public SettingsFixture
{
};

TEST_F(SettingsWindowTest, TheOneShotKeyChoosesTheFirstTab)
{
    AppState state;
    defaults().setString("unrelated", "stays");
    EXPECT_EQ(initialSettingsTab(), "general");
    EXPECT_TRUE(defaults().contains("unrelated"));

    defaults().setString(kTabKey, "shortcuts");
    SettingsView view(state, initialSettingsTab());
    EXPECT_FALSE(defaults().contains(kTabKey));
    EXPECT_EQ(view.selectedTab(), "shortcuts");
    EXPECT_EQ(view.tabs()->currentIndex(), 1);
    view.tabs()->setCurrentIndex(2);
    EXPECT_EQ(view.selectedTab(), "about");

    // An unknown tag is consumed and kept as given; General is on screen.
    defaults().setString(kTabKey, "Advanced");
    SettingsView other(state, initialSettingsTab());
    EXPECT_FALSE(defaults().contains(kTabKey));
    EXPECT_EQ(other.selectedTab(), "Advanced");
    EXPECT_EQ(other.tabs()->currentIndex(), 0);
    other.tabs()->setCurrentIndex(1);
    other.tabs()->setCurrentIndex(0);
    EXPECT_EQ(other.selectedTab(), "general");
}

TEST_F(SettingsWindowTest, SavedFoldersWithATildeAreMatchedAndStoredExpanded)
{
    const QString pictures = home() + "/Pictures";
    ASSERT_TRUE(QDir().mkpath(pictures));
    AppState state;
    state.setSavedPaths({"~/Pictures", "/srv/shots", pictures});
    state.setSaveDirectory(pictures);
    SavedFoldersEditor editor(state);
    editor.refresh();
    EXPECT_EQ(editor.paths(), (QStringList{"~/Pictures", "/srv/shots", pictures}));
    EXPECT_TRUE(editor.isActive("~/Pictures"));
    EXPECT_FALSE(editor.isActive("/srv/shots"));

    // Making a "~" entry active stores the full path, never a literal "~".
    state.setSaveDirectory("/srv/shots");
    editor.makeActive("~/Pictures");
    EXPECT_EQ(defaults().stringForKey("saveDirectory"), pictures);
    EXPECT_EQ(state.savedPaths().size(), 3) << "the list is not touched";

    // Removing the active folder keeps it as the save folder.
    editor.remove("~/Pictures");
    EXPECT_EQ(state.savedPaths(), (QStringList{"/srv/shots", pictures}));
    EXPECT_EQ(state.saveDirectory(), pictures);

    // Adding: cancelled, already listed, then new (not made active).
    nextChoice = std::nullopt;
    editor.addFolder();
    nextChoice = "/srv/shots";
    editor.addFolder();
    EXPECT_EQ(state.savedPaths().size(), 2);
    nextChoice = "/srv/more";
    editor.addFolder();
    EXPECT_EQ(editor.paths(), (QStringList{"/srv/shots", pictures, "/srv/more"}));
    EXPECT_EQ(state.saveDirectory(), pictures);

    // Changes made elsewhere show at once.
    state.setSavedPaths({});
    EXPECT_TRUE(editor.paths().isEmpty());
}

// A row of widgets per folder kept the settings window blank for minutes
// with a long list: the folders are one list that scrolls, whatever their
// number, and each row's buttons work where the list has been scrolled to.
TEST_F(SettingsWindowTest, ALongListOfFoldersIsOneScrollingListWhoseRowButtonsWork)
{
    using Button = SavedFolderDelegate::Button;
    AppState state;
    QStringList many;
    for (int i = 0; i < 3000; ++i)
        many << QString("/srv/shots/%1").arg(i);
    state.setSavedPaths(many);
    state.setSaveDirectory("/srv/shots/0");
    SettingsView view(state, "general");
    view.resize(540, 700);
    view.show();
    QCoreApplication::processEvents();
    SavedFoldersEditor *editor = view.generalTab()->savedFolders();
    EXPECT_EQ(editor->paths(), many);
    EXPECT_LT(editor->findChildren<QWidget *>().size(), 30);
    EXPECT_LT(editor->sizeHint().height(), 400);

    QListView *list = editor->list();
    list->scrollTo(list->model()->index(2500, 0));
    QCoreApplication::processEvents();
    ASSERT_TRUE(list->viewport()->rect().contains(editor->buttonRect(2500, Button::remove)));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, editor->buttonRect(2500, Button::makeActive).center());
    EXPECT_EQ(state.saveDirectory(), many[2500]);
    EXPECT_TRUE(editor->isActive(many[2500]));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, editor->buttonRect(2500, Button::remove).center());
    QStringList rest = many;
    rest.removeAt(2500);
    EXPECT_EQ(state.savedPaths(), rest);
    EXPECT_EQ(editor->paths(), rest);
    EXPECT_EQ(state.saveDirectory(), many[2500]) << "removing the active folder keeps it the save folder";
    // The list stays where it was: the next folder is under the pointer.
    EXPECT_TRUE(list->viewport()->rect().contains(editor->buttonRect(2500, Button::remove)));
    EXPECT_EQ(list->indexAt(editor->buttonRect(2500, Button::remove).center()).data().toString(), many[2501]);

    // From the keyboard: Return makes the current row active, Delete removes it.
    list->setCurrentIndex(list->model()->index(10, 0));
    QTest::keyClick(list, Qt::Key_Return);
    EXPECT_EQ(state.saveDirectory(), many[10]);
    QTest::keyClick(list, Qt::Key_Delete);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_FALSE(state.savedPaths().contains(many[10]));
    EXPECT_FALSE(state.savedPaths().contains(many[11]));
    EXPECT_EQ(state.savedPaths().size(), 2997);
    EXPECT_EQ(list->currentIndex().data().toString(), many[12]);
}

// What a row shows, read from its pixels: the green check only on the
// active folder's row, and the red remove button last, right of the
// make-active one, where a person expects to find it.
TEST_F(SettingsWindowTest, EachFolderRowShowsItsMarkAndTheRemoveButtonLast)
{
    AppState state;
    state.setSavedPaths({"/srv/a", "/srv/b"});
    state.setSaveDirectory("/srv/b");
    SettingsView view(state, "general");
    view.resize(540, 700);
    view.show();
    QCoreApplication::processEvents();
    QListView *list = view.generalTab()->savedFolders()->list();
    list->clearSelection();
    list->setCurrentIndex(QModelIndex());
    const QImage shot = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal dpr = shot.devicePixelRatio();

    auto isGreen = [](QRgb c) { return qGreen(c) > 150 && qRed(c) < 120 && qBlue(c) < 140; };
    auto isRed = [](QRgb c) { return qRed(c) > 150 && qGreen(c) < 90 && qBlue(c) < 100; };
    auto isDark = [](QRgb c) {
        return qRed(c) < 140 && std::abs(qRed(c) - qGreen(c)) < 16 && std::abs(qGreen(c) - qBlue(c)) < 16;
    };
    for (int row = 0; row < 2; ++row) {
        const QRect r = list->visualRect(list->model()->index(row, 0));
        const QRect px = QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr).toAlignedRect();
        int green = 0;
        int redLeft = px.right() + 1;
        int darkRight = -1;
        for (int y = px.top(); y <= px.bottom(); ++y) {
            for (int x = px.left(); x <= px.right(); ++x) {
                const QRgb c = shot.pixel(x, y);
                if (x < px.left() + px.width() / 4) {
                    green += isGreen(c);
                } else if (x > px.right() - px.width() / 4) {
                    if (isRed(c))
                        redLeft = std::min(redLeft, x);
                    else if (isDark(c))
                        darkRight = std::max(darkRight, x);
                }
            }
        }
        const bool active = row == 1;
        EXPECT_EQ(green > 10, active) << "row " << row << ": " << green << " green pixels";
        ASSERT_GE(darkRight, 0) << "row " << row << " shows no make-active button";
        ASSERT_LE(redLeft, px.right()) << "row " << row << " shows no remove button";
        EXPECT_GT(redLeft, darkRight) << "row " << row << ": the remove button is not the last";
    }
}

TEST_F(SettingsWindowTest, BackupPanelShowsEachOutcomeAndRevealsTheMirror)
{
    SettingsBackupPanel panel;
    EXPECT_TRUE(panel.statusLabel()->isHidden());
    panel.backup().importCompletion(home() + "/missing.json");
    EXPECT_FALSE(panel.statusLabel()->isHidden());
    EXPECT_TRUE(panel.statusLabel()->text().startsWith("Could not read the file: "));
    panel.revealButton()->click();
    EXPECT_EQ(revealed, QStringList{SettingsPersistence::shared().fileURL()});
    EXPECT_FALSE(QFile::exists(SettingsPersistence::shared().fileURL())) << "revealing writes nothing";
}

class CrashReportingPanelTest : public SettingsFixture
{
protected:
    void TearDown() override
    {
        SentrySDK::close();
        SettingsFixture::TearDown();
    }
    static AppSettings withDsn(const QString &dsn, const QString &environment = "production")
    {
        AppSettings s;
        s.sentry.dsn = dsn;
        s.sentry.environment = environment;
        return s;
    }
};

TEST_F(CrashReportingPanelTest, StatusFollowsTheFileAndTheDsnIsTrimmedOfAllWhiteSpace)
{
    CrashReportingPanel panel(AppSettings::load());
    EXPECT_TRUE(panel.toggle()->isChecked());
    EXPECT_EQ(panel.statusLabel()->text(), "No Sentry DSN configured — nothing is sent.");

    // A line break alone used to count as a DSN.
    for (const QString &blank : {QString("\n"), QString(" \t\r\n ")})
        EXPECT_FALSE(CrashReportingPanel::isActive(withDsn(blank)));
    const AppSettings spaced = withDsn("  https://k@127.0.0.1:9/1  ", " staging ");
    EXPECT_TRUE(CrashReportingPanel::isActive(spaced));
    EXPECT_EQ(CrashReportingPanel::statusText(spaced), "Crash-only reporting active. Environment:  staging .");

    // Reload reads the file but starts nothing.
    ASSERT_TRUE(AppSettings::save(withDsn("https://k@127.0.0.1:9/1")));
    panel.reload();
    EXPECT_EQ(panel.statusLabel()->text(), "Crash-only reporting active. Environment: production.");
    EXPECT_FALSE(SentrySDK::isEnabled());

    panel.toggle()->click();
    EXPECT_FALSE(AppSettings::load().sentry.enabled);
    EXPECT_EQ(panel.statusLabel()->text(), "Disabled in appsettings.json.");
    panel.toggle()->click();
    EXPECT_TRUE(AppSettings::load().sentry.enabled);
    EXPECT_TRUE(SentrySDK::isEnabled());
    EXPECT_EQ(AppSettings::load().sentry.dsn, "https://k@127.0.0.1:9/1") << "the DSN is carried over";
    panel.toggle()->click();
    EXPECT_FALSE(SentrySDK::isEnabled());
}

// "not a dsn" showed the green shield and "Crash-only reporting active"
// while the crash client logged the parse error and stayed off.
TEST_F(CrashReportingPanelTest, ADsnTheClientCannotParseIsNotShownAsActive)
{
    for (const QString &dsn : {QString("not a dsn"), QString("https://k@127.0.0.1:9/"), QString("ftp://k@host/1")}) {
        SCOPED_TRACE(dsn.toStdString());
        ASSERT_TRUE(AppSettings::save(withDsn(dsn)));
        CrashReportingPanel panel(AppSettings::load());
        EXPECT_FALSE(CrashReportingPanel::isActive(panel.settings()));
        const QString status = panel.statusLabel()->text();
        EXPECT_TRUE(status.startsWith("The Sentry DSN cannot be used (")) << status.toStdString();
        EXPECT_TRUE(status.endsWith(") — nothing is sent.")) << status.toStdString();
        panel.toggle()->click();
        panel.toggle()->click();
        EXPECT_TRUE(AppSettings::load().sentry.enabled);
        EXPECT_FALSE(SentrySDK::isEnabled());
        EXPECT_EQ(panel.statusLabel()->text(), status);
    }
}

// An opt-out that could not be written came back on at the next start
// while the panel showed it off.
TEST_F(CrashReportingPanelTest, AFailedSaveShowsAnErrorAndKeepsTheFileState)
{
    ASSERT_TRUE(AppSettings::save(withDsn("https://k@127.0.0.1:9/1")));
    CrashReportingPanel panel(AppSettings::load());
    panel.toggle()->click();
    panel.toggle()->click();
    ASSERT_TRUE(SentrySDK::isEnabled());

    // The file's folder becomes a file: nothing can be written there.
    const QString folder = AppPaths::appDataDir();
    const QString kept = folder + ".kept";
    ASSERT_TRUE(QDir().rename(folder, kept));
    writeFile(folder, "in the way");
    panel.toggle()->click();
    EXPECT_TRUE(panel.toggle()->isChecked());
    EXPECT_TRUE(panel.settings().sentry.enabled);
    EXPECT_TRUE(SentrySDK::isEnabled()) << "reporting keeps running as the file says";
    EXPECT_FALSE(panel.errorLabel()->isHidden());
    EXPECT_TRUE(panel.errorLabel()->text().startsWith("Could not save appsettings.json: "))
        << panel.errorLabel()->text().toStdString();

    ASSERT_TRUE(QFile::remove(folder));
    ASSERT_TRUE(QDir().rename(kept, folder));
    panel.toggle()->click();
    EXPECT_TRUE(panel.errorLabel()->isHidden());
    EXPECT_FALSE(AppSettings::load().sentry.enabled);
    EXPECT_FALSE(SentrySDK::isEnabled());

    panel.reveal();
    EXPECT_EQ(revealed, QStringList{folder + "/appsettings.json"});
}

TEST_F(SettingsWindowTest, AboutShowsAQuestionMarkForMissingVersions)
{
    const QString version = QCoreApplication::applicationVersion();
    const QVariant build = qApp->property("vornaBuildNumber");
    QCoreApplication::setApplicationVersion(QString());
    qApp->setProperty("vornaBuildNumber", 12); // a number, not a text
    EXPECT_EQ(AboutSettingsTab::versionLine(), "Version ? (Build ?)");
    QCoreApplication::setApplicationVersion("2.1");
    qApp->setProperty("vornaBuildNumber", "34");
    AboutSettingsTab about;
    EXPECT_EQ(about.versionLabel()->text(), "Version 2.1 (Build 34)");
    QCoreApplication::setApplicationVersion(version);
    qApp->setProperty("vornaBuildNumber", build);
}

TEST_F(SettingsWindowTest, ChosenLanguageBecomesTheLocaleAtStart)
{
    const QLocale before;
    defaults().setString("preferredLanguage", "pt-BR");
    EXPECT_FALSE(InterfaceLanguage::apply()) << "no translation is built in";
    EXPECT_EQ(QLocale().name(), "pt_BR");
    defaults().setString("preferredLanguage", "no such language");
    InterfaceLanguage::apply();
    EXPECT_EQ(QLocale().name(), "pt_BR") << "an unknown code changes nothing";
    QLocale::setDefault(before);
}

// Turning the wheel over the General page scrolls it, even where the pointer
// passes over the language picker or the quality slider: they change only
// once the user has put the focus on them.
TEST_F(SettingsWindowTest, TheWheelScrollsThePageRatherThanChangingAPickerOnTheWay)
{
    AppState state;
    SettingsView view(state, "general");
    view.resize(540, 300);
    view.show();
    QCoreApplication::processEvents();
    QComboBox *language = view.generalTab()->languagePicker();
    QSlider *quality = view.generalTab()->findChild<QSlider *>();
    ASSERT_TRUE(quality);
    auto *area = qobject_cast<QScrollArea *>(view.tabs()->widget(0));
    ASSERT_TRUE(area);
    QScrollBar *bar = area->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);

    const auto turn = [](QWidget *w, int steps) {
        QWheelEvent wheel(QPointF(w->rect().center()), QPointF(w->mapToGlobal(w->rect().center())), QPoint(),
                          QPoint(0, -120 * steps), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(w, &wheel);
    };
    const int languageIndex = language->currentIndex();
    const int qualityValue = quality->value();
    turn(language, 2);
    const int scrolled = bar->value();
    EXPECT_GT(scrolled, 0);
    turn(quality, 1);
    EXPECT_GT(bar->value(), scrolled);
    EXPECT_EQ(language->currentIndex(), languageIndex);
    EXPECT_EQ(quality->value(), qualityValue);
    EXPECT_FALSE(language->hasFocus());

    // Not even with the focus on it does the language picker take the
    // wheel: each row it stepped onto would be stored and ask for a relaunch.
    language->setFocus();
    ASSERT_TRUE(language->hasFocus());
    turn(language, 1);
    EXPECT_EQ(language->currentIndex(), languageIndex);
    EXPECT_FALSE(defaults().contains("preferredLanguage"));
}

} // namespace
