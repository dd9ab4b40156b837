#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/MenuActions.h"
#include "app/MenuBuilder.h"
#include "app/WindowManager.h"
#include "app/SaveToMenus.h"
#include "app/StatusItem.h"
#include "model/AppState.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "platform/LoginItem.h"
#include "platform/UserDefaults.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/SavedFoldersEditor.h"
#include "settings/SettingsBackup.h"
#include "settings/SettingsView.h"
#include "support/ShownMenuLabel.h"
#include "support/TestHome.h"

#include <QAction>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QMenuBar>
#include <QProxyStyle>
#include <QStyleOptionMenuItem>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// One line per entry: the title and the shortcut, "-" for a separator and
// "> title" for a submenu.
QStringList describe(const QMenu *menu)
{
    QStringList lines;
    for (const QAction *a : menu->actions()) {
        if (a->isSeparator())
            lines << "-";
        else if (a->menu())
            lines << "> " + a->text();
        else if (a->shortcut().isEmpty())
            lines << a->text();
        else
            lines << a->text() + " [" + a->shortcut().toString(QKeySequence::PortableText) + "]";
    }
    return lines;
}

QMenu *saveToIn(const QMenu *menu)
{
    for (const QAction *a : menu->actions())
        if (a->menu() && a->menu()->objectName() == "Save To")
            return a->menu();
    return nullptr;
}

// Opens and closes a menu as a user would, so it refreshes itself.
void open(QMenu *menu)
{
    menu->popup(QPoint(10, 10));
    menu->hide();
}

class MenusTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestHome::reset();
        UserDefaults::resetStandard();
    }
    void TearDown() override { UserDefaults::resetStandard(); }

    void launch(AppDelegate &delegate)
    {
        QSignalSpy launched(&delegate, &AppDelegate::launched);
        delegate.applicationDidFinishLaunching({"vorna"});
        ASSERT_TRUE(launched.wait(30000));
    }
};

} // namespace

TEST_F(MenusTest, TheTrayMenuHasTheFullOrTheSimpleEntriesAndFollowsTheSettingAtOnce)
{
    AppDelegate delegate;
    launch(delegate);
    ASSERT_NE(delegate.statusItem(), nullptr);
    const QStringList full{"Full Screen [Ctrl+Shift+1]",
                           "Window… [Ctrl+Shift+2]",
                           "Region… [Ctrl+Shift+3]",
                           "Scrolling Capture… [Ctrl+Shift+4]",
                           "Timed Capture… [Ctrl+Shift+5]",
                           "-",
                           "Open Vorna [Ctrl+O]",
                           "History [Ctrl+H]",
                           "Editor [Ctrl+E]",
                           "> Save To",
                           "-",
                           "Diff Viewer…",
                           "Help",
                           "Report a Bug…",
                           "About Vorna",
                           "Check for Updates…",
                           "-",
                           "Settings… [Ctrl+,]",
                           "Quit Vorna [Ctrl+Q]"};
    EXPECT_EQ(describe(delegate.statusItem()->menu()), full);
    if (qEnvironmentVariableIsSet("VORNA_SAVE_RENDERINGS")) {
        QMenu *menu = delegate.statusItem()->menu();
        menu->popup(QPoint(0, 0));
        menu->grab().save(qEnvironmentVariable("VORNA_SAVE_RENDERINGS") + "/tray-menu.png");
        menu->hide();
    }

    delegate.appState().setSimpleMenuMode(true);
    const QStringList simple{"Full Screen [Ctrl+Shift+1]", "Window… [Ctrl+Shift+2]", "Region… [Ctrl+Shift+3]",
                             "-", "Open Vorna [Ctrl+O]", "-", "Help", "-", "Settings… [Ctrl+,]",
                             "Quit Vorna [Ctrl+Q]"};
    EXPECT_EQ(describe(delegate.statusItem()->menu()), simple);
    // Only the menu bar's "Save To" is left to refresh.
    EXPECT_EQ(delegate.saveToMenus().menus().size(), 1);

    delegate.appState().setSimpleMenuMode(false);
    EXPECT_EQ(describe(delegate.statusItem()->menu()), full);
    EXPECT_EQ(delegate.saveToMenus().menus().size(), 2);
}

TEST_F(MenusTest, TheMenuBarGetsAboutUpdatesCaptureToolsAndHelp)
{
    AppDelegate delegate;
    launch(delegate);
    QMenuBar *bar = delegate.mainMenuBar();
    ASSERT_NE(bar, nullptr);
    QStringList titles;
    for (QAction *a : bar->actions())
        titles << a->text();
    EXPECT_EQ(titles, (QStringList{"Vorna", "Capture", "Tools", "Help"}));
    const QList<QAction *> menus = bar->actions();
    EXPECT_EQ(describe(menus[0]->menu()),
              (QStringList{"About Vorna", "-", "Check for Updates…", "-", "Quit Vorna [Ctrl+Q]"}));
    EXPECT_EQ(describe(menus[1]->menu()),
              (QStringList{"Full Screen [Ctrl+Shift+1]", "Window… [Ctrl+Shift+2]", "Region… [Ctrl+Shift+3]",
                           "Scrolling Capture… [Ctrl+Shift+4]", "Timed Capture… [Ctrl+Shift+5]"}));
    EXPECT_EQ(describe(menus[2]->menu()),
              (QStringList{"Open Vorna [Ctrl+0]", "History [Ctrl+Shift+H]", "Editor [Ctrl+Shift+E]", "> Save To", "-",
                           "Diff Viewer… [Ctrl+Shift+D]", "Settings… [Ctrl+,]"}));
    EXPECT_EQ(describe(menus[3]->menu()), (QStringList{"Vorna Help [Ctrl+?]", "-", "Report a Bug…"}));
    // It is shown on the main window, above the window's 820 x 560 content.
    delegate.openMainWindow();
    AppWindow *main = delegate.windows().mainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->menuBar(), bar);
    EXPECT_GT(bar->height(), 0);
    EXPECT_EQ(main->rootView()->size(), QSize(820, 560));
    EXPECT_EQ(main->height(), 560 + bar->height());
    // The menu bar does not follow the simple menu mode.
    delegate.appState().setSimpleMenuMode(true);
    EXPECT_EQ(menus[1]->menu()->actions().size(), 5);
}

TEST_F(MenusTest, SaveToListsTheFoldersWithTheCurrentOneChecked)
{
    AppDelegate delegate;
    launch(delegate);
    AppState &state = delegate.appState();
    QMenu *menu = saveToIn(delegate.statusItem()->menu());
    ASSERT_NE(menu, nullptr);
    EXPECT_TRUE(menu->actions().isEmpty()) << "empty until it opens";

    state.setSavedPaths({});
    open(menu);
    EXPECT_EQ(describe(menu), (QStringList{"No saved locations", "-", "Add Folder…"}));
    EXPECT_FALSE(menu->actions().first()->isEnabled());

    state.setSavedPaths({"~/Desktop", "/mnt/Other Disk/Shots"});
    state.setSaveDirectory(AppPaths::home() + "/Desktop");
    open(menu);
    EXPECT_EQ(describe(menu), (QStringList{"~/Desktop", "/mnt/Other Disk/Shots", "-", "Add Folder…",
                                           "Manage in Settings…"}));
    const QList<QAction *> items = menu->actions();
    EXPECT_TRUE(items[0]->isChecked());
    EXPECT_FALSE(items[1]->isChecked());

    // Choosing an entry stores its full path: a "~" entry is expanded, or
    // captures would go into a folder literally named "~".
    items[1]->trigger();
    EXPECT_EQ(state.saveDirectory(), QString("/mnt/Other Disk/Shots"));
    items[0]->trigger();
    EXPECT_EQ(state.saveDirectory(), AppPaths::home() + "/Desktop");

    // Folder names show as they are: "&" is no accelerator mark, a tab no
    // shortcut column.
    state.setSavedPaths({"~/R&D", "/mnt/Tom && Jerry/Tab\there"});
    open(menu);
    const QList<QAction *> named = menu->actions();
    EXPECT_EQ(shownMenuLabel(named[0]), "~/R&D");
    EXPECT_EQ(shownMenuLabel(named[1]), "/mnt/Tom && Jerry/Tab here");
    EXPECT_FALSE(hasAccelerator(named[0]));
    EXPECT_FALSE(hasAccelerator(named[1]));
    named[1]->trigger();
    EXPECT_EQ(state.saveDirectory(), QString("/mnt/Tom && Jerry/Tab\there"));
}

// A list of thousands of folders once took the menu most of a minute to
// open, in dozens of columns wider than the screen.
TEST_F(MenusTest, ALongListOfFoldersShowsWhatFitsOnTheScreenAndHowManyMore)
{
    AppState state;
    QStringList many;
    for (int i = 0; i < 3000; ++i)
        many << QString("/srv/shots/%1").arg(i);
    state.setSavedPaths(many);
    state.setSaveDirectory("/srv/shots/2");
    SaveToMenus saveTo(state, [] {});
    std::unique_ptr<QMenu> menu(saveTo.createMenu());
    open(menu.get());

    const QStringList lines = describe(menu.get());
    const qsizetype shown = lines.size() - 4;
    ASSERT_GE(shown, 5);
    EXPECT_EQ(lines.mid(0, shown), many.mid(0, shown));
    EXPECT_EQ(lines.mid(shown), (QStringList{QString("%1 more folders").arg(3000 - shown), "-", "Add Folder…",
                                             "Manage in Settings…"}));
    const QList<QAction *> items = menu->actions();
    EXPECT_TRUE(items[2]->isChecked());
    EXPECT_FALSE(items[shown]->isEnabled());
    // It fits the screen in one column.
    EXPECT_LE(menu->sizeHint().height(), menu->screen()->availableGeometry().height());
    for (QAction *a : items)
        EXPECT_EQ(menu->actionGeometry(a).left(), menu->actionGeometry(items.first()).left()) << a->text().toStdString();
    // Every folder stays stored, and the shown ones are chosen as before.
    EXPECT_EQ(state.savedPaths(), many);
    items[shown - 1]->trigger();
    EXPECT_EQ(state.saveDirectory(), many[shown - 1]);

    // A list that fits shows all of it and no count.
    state.setSavedPaths(many.mid(0, shown));
    open(menu.get());
    EXPECT_EQ(describe(menu.get()).mid(shown), (QStringList{"-", "Add Folder…", "Manage in Settings…"}));

    // One folder more than fits.
    state.setSavedPaths(many.mid(0, shown + 1));
    open(menu.get());
    EXPECT_EQ(describe(menu.get()).mid(shown - 1),
              (QStringList{many[shown - 1], "1 more folder", "-", "Add Folder…", "Manage in Settings…"}));
}

namespace {

// A style that draws every folder row but the first taller, as some styles
// do for rows whose text needs another font.
class TallerRowsStyle : public QProxyStyle
{
public:
    explicit TallerRowsStyle(QString first) : m_first(std::move(first)) {}
    QSize sizeFromContents(ContentsType type, const QStyleOption *option, const QSize &size,
                           const QWidget *widget) const override
    {
        QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
        if (type == CT_MenuItem) {
            const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
            if (item && item->text.startsWith("/srv/") && item->text != m_first)
                result.setHeight(result.height() * 2);
        }
        return result;
    }

private:
    QString m_first;
};

} // namespace

// When the rows below the first turn out taller, the menu drops folders
// until it fits, and the count says how many it no longer shows.
TEST_F(MenusTest, AMenuThatDropsFoldersToFitCountsEveryOneItDropped)
{
    AppState state;
    QStringList many;
    for (int i = 0; i < 3000; ++i)
        many << QString("/srv/shots/%1").arg(i);
    state.setSavedPaths(many);
    SaveToMenus saveTo(state, [] {});
    std::unique_ptr<QMenu> menu(saveTo.createMenu());
    auto *style = new TallerRowsStyle(many.first());
    style->setParent(menu.get());
    menu->setStyle(style);
    open(menu.get());

    const QStringList lines = describe(menu.get());
    const qsizetype shown = lines.size() - 4;
    ASSERT_GE(shown, 1);
    EXPECT_EQ(lines.mid(0, shown), many.mid(0, shown));
    EXPECT_EQ(lines.mid(shown), (QStringList{QString("%1 more folders").arg(3000 - shown), "-", "Add Folder…",
                                             "Manage in Settings…"}));
    EXPECT_LE(menu->sizeHint().height(), menu->screen()->availableGeometry().height());
}

// The menu bar's "Save To" must keep refreshing after the tray menu has been
// rebuilt, and every submenu must refresh on every opening, not only the first.
TEST_F(MenusTest, EverySaveToSubmenuRefreshesEachTimeItOpensAlsoAfterTheTrayMenuIsRebuilt)
{
    AppDelegate delegate;
    launch(delegate);
    AppState &state = delegate.appState();
    QMenu *tools = delegate.mainMenuBar()->actions()[2]->menu();
    QMenu *barSaveTo = saveToIn(tools);
    ASSERT_NE(barSaveTo, nullptr);

    state.setSavedPaths({"/srv/a"});
    open(barSaveTo);
    EXPECT_EQ(describe(barSaveTo).first(), QString("/srv/a"));

    // The menu mode changes twice: the tray menu is rebuilt.
    state.setSimpleMenuMode(true);
    state.setSimpleMenuMode(false);
    state.setSavedPaths({"/srv/b", "/srv/c"});
    open(barSaveTo);
    EXPECT_EQ(describe(barSaveTo).mid(0, 2), (QStringList{"/srv/b", "/srv/c"}));

    QMenu *traySaveTo = saveToIn(delegate.statusItem()->menu());
    open(traySaveTo);
    EXPECT_EQ(describe(traySaveTo).mid(0, 2), (QStringList{"/srv/b", "/srv/c"}));
    state.setSavedPaths({"/srv/d"});
    open(traySaveTo);
    EXPECT_EQ(describe(traySaveTo).first(), QString("/srv/d"));
    open(barSaveTo);
    EXPECT_EQ(describe(barSaveTo).first(), QString("/srv/d"));
}

// An import stores the folders behind AppState's back: the settings window
// and the Save To menu used to keep the old list, and removing one folder
// then stored that stale list over the imported one.
TEST_F(MenusTest, ImportedSavedFoldersShowEverywhereAtOnceAndSurviveARemoval)
{
    AppDelegate delegate;
    launch(delegate);
    AppState &state = delegate.appState();
    state.setSavedPaths({"/srv/old"});
    SettingsView settings(state, "general");
    settings.show();
    SavedFoldersEditor *editor = settings.generalTab()->savedFolders();
    ASSERT_EQ(editor->paths(), QStringList{"/srv/old"});

    const QByteArray list = QJsonDocument(QJsonArray{"/srv/new1", "/srv/new2", "/srv/new3"}).toJson();
    const QJsonObject values{{"savedPaths", QJsonObject{{"__data__", QString::fromLatin1(list.toBase64())}}}};
    const QString file = TestHome::path() + "/backup.json";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(QJsonObject{{"version", 1}, {"values", values}}).toJson());
    }
    SettingsBackup backup;
    backup.importCompletion(file);
    ASSERT_TRUE(backup.status() && backup.status()->startsWith("Imported 1 ")) << backup.status()->toStdString();

    const QStringList imported{"/srv/new1", "/srv/new2", "/srv/new3"};
    EXPECT_EQ(state.savedPaths(), imported);
    EXPECT_EQ(editor->paths(), imported);
    QMenu *saveTo = saveToIn(delegate.statusItem()->menu());
    open(saveTo);
    EXPECT_EQ(describe(saveTo).mid(0, 3), imported);

    editor->remove("/srv/new2");
    const QStringList rest{"/srv/new1", "/srv/new3"};
    EXPECT_EQ(state.savedPaths(), rest);
    EXPECT_EQ(QJsonDocument::fromJson(*UserDefaults::standard().dataForKey("savedPaths")).array(),
              (QJsonArray{"/srv/new1", "/srv/new3"}));
    open(saveTo);
    EXPECT_EQ(describe(saveTo).mid(0, 3), (QStringList{"/srv/new1", "/srv/new3", "-"}));
}

TEST_F(MenusTest, AddFolderAddsOnceAndAlwaysSelectsAndCancelChangesNothing)
{
    AppDelegate delegate;
    launch(delegate);
    AppState &state = delegate.appState();
    state.setSavedPaths({"/srv/a"});
    state.setSaveDirectory("/srv/start");

    std::optional<QString> answer;
    delegate.saveToMenus().setFolderChooser([&](auto done) { done(answer); });

    answer = std::nullopt;
    delegate.saveToMenus().addSavePath();
    EXPECT_EQ(state.savedPaths(), QStringList{"/srv/a"});
    EXPECT_EQ(state.saveDirectory(), QString("/srv/start"));

    answer = "/srv/a";
    delegate.saveToMenus().addSavePath();
    EXPECT_EQ(state.savedPaths(), QStringList{"/srv/a"});
    EXPECT_EQ(state.saveDirectory(), QString("/srv/a"));

    answer = "/srv/new";
    delegate.saveToMenus().addSavePath();
    EXPECT_EQ(state.savedPaths(), (QStringList{"/srv/a", "/srv/new"}));
    EXPECT_EQ(state.saveDirectory(), QString("/srv/new"));
}

TEST_F(MenusTest, WithoutATrayTheLogSaysSoAndTheMenuStillExists)
{
    LogCapture log;
    AppDelegate delegate;
    launch(delegate);
    EXPECT_TRUE(log.contains("[Vorna] setupStatusItem: creating NSStatusItem"));
    EXPECT_TRUE(log.contains("[Vorna] setupStatusItem: visible="));
    // The offscreen platform has no tray.
    EXPECT_TRUE(log.contains("[Vorna] setupStatusItem: no system tray on this desktop"));
    ASSERT_NE(delegate.statusItem()->menu(), nullptr);
}

namespace {
// The commands a menu's entries run, by the name of the action, with the
// submenus' titles for the submenus without an action of their own.
QSet<QString> commandsOf(const QList<QAction *> &actions, QString *lastRun)
{
    QSet<QString> commands;
    for (QAction *a : actions) {
        if (a->isSeparator())
            continue;
        if (a->menu()) {
            if (a->menu()->objectName() == "Save To")
                commands << "Save To";
            else
                commands |= commandsOf(a->menu()->actions(), lastRun);
            continue;
        }
        lastRun->clear();
        a->trigger();
        EXPECT_FALSE(lastRun->isEmpty()) << a->text().toStdString() << " runs nothing";
        commands << *lastRun;
    }
    return commands;
}
} // namespace

// Stock GNOME and a bare X server have no tray: the main window is the way
// in. It shows at launch, comes forward when vorna is started again without
// arguments, and its menu bar runs every command of the tray menu.
TEST_F(MenusTest, WithoutATrayTheMainWindowIsTheWayIn)
{
    QString lastRun;
    MenuActions actions;
    for (auto [slot, name] : std::initializer_list<std::pair<std::function<void()> MenuActions::*, const char *>>{
             {&MenuActions::captureFullScreen, "captureFullScreen"}, {&MenuActions::captureWindow, "captureWindow"},
             {&MenuActions::captureRegion, "captureRegion"}, {&MenuActions::captureScrolling, "captureScrolling"},
             {&MenuActions::captureTimed, "captureTimed"}, {&MenuActions::openMainWindow, "openMainWindow"},
             {&MenuActions::openHistory, "openHistory"}, {&MenuActions::openEditor, "openEditor"},
             {&MenuActions::openDiffViewer, "openDiffViewer"}, {&MenuActions::openHelp, "openHelp"},
             {&MenuActions::reportBug, "reportBug"}, {&MenuActions::showAboutPanel, "showAboutPanel"},
             {&MenuActions::checkForUpdates, "checkForUpdates"}, {&MenuActions::openSettings, "openSettings"},
             {&MenuActions::quitApp, "quitApp"}}) {
        const char *actionName = name;
        actions.*slot = [&lastRun, actionName] { lastRun = actionName; };
    }
    AppState state;
    SaveToMenus saveTo(state, [] {});
    MenuBuilder builder(actions, saveTo);
    std::unique_ptr<QMenu> tray(builder.buildStatusMenu(false));
    std::unique_ptr<QMenuBar> bar(MenuBuilder::makeMainMenuBar(actions));
    builder.extendMainMenu(bar.get());
    const QSet<QString> trayCommands = commandsOf(tray->actions(), &lastRun);
    const QSet<QString> barCommands = commandsOf(bar->actions(), &lastRun);
    EXPECT_EQ(trayCommands.size(), 16); // the fifteen actions and Save To
    EXPECT_TRUE(barCommands.contains(trayCommands)) << QStringList((trayCommands - barCommands).values())
                                                           .join(", ")
                                                           .toStdString();

    StatusItem::setTrayAvailableOverride(false);
    {
        AppDelegate delegate;
        launch(delegate);
        ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.windows().mainWindow(); }, 30000));
        AppWindow *window = delegate.windows().mainWindow();
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->menuBar(), delegate.mainMenuBar());
        window->close();
        ASSERT_FALSE(window->isVisible());
        delegate.receiveHandOver({}, "/");
        EXPECT_TRUE(window->isVisible()) << "starting vorna again brings it forward";
    }

    // With a tray the launch opens no window, but starting vorna again
    // still shows it: a person who starts a running program expects to see
    // it.
    StatusItem::setTrayAvailableOverride(true);
    AppDelegate delegate;
    launch(delegate);
    QTest::qWait(50);
    EXPECT_EQ(delegate.windows().mainWindow(), nullptr);
    delegate.receiveHandOver({}, "/");
    ASSERT_TRUE(delegate.windows().mainWindow());
    EXPECT_TRUE(delegate.windows().mainWindow()->isVisible());
    StatusItem::setTrayAvailableOverride(std::nullopt);
}

// At login the panel holding the tray may come up after Vorna: a start from
// the autostart entry gives it time, and opens the main window only once no
// tray came.
TEST_F(MenusTest, AStartAtLoginWithoutATrayOpensTheMainWindowOnlyAfterWaitingForOne)
{
    StatusItem::setTrayAvailableOverride(false);
    AppDelegate delegate;
    QSignalSpy launched(&delegate, &AppDelegate::launched);
    delegate.applicationDidFinishLaunching({"vorna", LoginItem::launchArgument()});
    ASSERT_TRUE(launched.wait(30000));
    QTest::qWait(100);
    EXPECT_EQ(delegate.windows().mainWindow(), nullptr) << "opened before a tray could come";
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.windows().mainWindow(); }, 20000));
    EXPECT_TRUE(delegate.windows().mainWindow()->isVisible());
    EXPECT_FALSE(delegate.statusItem()->isInTray());
}
