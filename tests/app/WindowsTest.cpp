// The five windows: created on first use with their title, size and root
// view, then kept and brought forward, never rebuilt.
#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/WindowManager.h"
#include "editor/AnnotationPreset.h"
#include "editor/DiffView.h"
#include "editor/EditorView.h"
#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "settings/HotKeyRecorder.h"
#include "settings/SettingsView.h"
#include "support/Eventually.h"
#include "support/RecordingAlertPresenter.h"
#include "windows/ContentView.h"
#include "windows/HelpView.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QMenu>
#include <QSignalSpy>
#include <QTabBar>
#include <gtest/gtest.h>

namespace {

struct WindowCase
{
    void (AppDelegate::*open)();
    AppWindow *(WindowManager::*field)() const;
    const char *title;
    QSize size;
};

TEST(Windows, EachIsCreatedOnceWithItsTitleSizeAndView)
{
    AppDelegate delegate;
    WindowManager &windows = delegate.windows();
    QSignalSpy created(&windows, &WindowManager::windowCreated);
    const WindowCase cases[] = {
        {&AppDelegate::openHelp, &WindowManager::helpWindow, "Vorna Help", {780, 580}},
        {&AppDelegate::openMainWindow, &WindowManager::mainWindow, "Vorna", {820, 560}},
        {&AppDelegate::openSettings, &WindowManager::settingsWindow, "Vorna Settings", {540, 460}},
        {&AppDelegate::openEditor, &WindowManager::editorWindow, "Vorna Editor", {1100, 760}},
        {&AppDelegate::openDiffViewer, &WindowManager::diffWindow, "Screenshot Diff", {900, 600}},
    };
    for (const WindowCase &c : cases) {
        EXPECT_EQ((windows.*c.field)(), nullptr) << c.title;
        (delegate.*c.open)();
        AppWindow *window = (windows.*c.field)();
        ASSERT_NE(window, nullptr) << c.title;
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowTitle(), c.title);
        EXPECT_EQ(window->size(), c.size) << c.title;
        EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        EXPECT_TRUE(window->windowFlags() & Qt::WindowCloseButtonHint);

        // Closing hides; opening again shows the same window and view.
        QWidget *view = window->rootView();
        window->close();
        EXPECT_FALSE(window->isVisible());
        (delegate.*c.open)();
        EXPECT_EQ((windows.*c.field)(), window);
        EXPECT_EQ(window->rootView(), view);
        EXPECT_TRUE(window->isVisible());
    }
    EXPECT_EQ(created.size(), 5);

    EXPECT_TRUE(qobject_cast<HelpView *>(windows.helpWindow()->rootView()));
    auto *content = qobject_cast<ContentView *>(windows.mainWindow()->rootView());
    ASSERT_TRUE(content);
    EXPECT_EQ(&content->appState(), &delegate.appState());
    EXPECT_EQ(content->selectedTab(), ContentTab::capture);
    auto *editor = qobject_cast<EditorView *>(windows.editorWindow()->rootView());
    ASSERT_TRUE(editor);
    EXPECT_EQ(&editor->appState(), &delegate.appState());
    EXPECT_EQ(editor->zoom(), 1.0);
    EXPECT_EQ(editor->canvas(), nullptr);
    auto *diff = qobject_cast<DiffView *>(windows.diffWindow()->rootView());
    ASSERT_TRUE(diff);
    EXPECT_TRUE(diff->firstImage().isNull());
    EXPECT_TRUE(diff->secondImage().isNull());
    EXPECT_TRUE(diff->differenceImage().isNull());
    EXPECT_EQ(diff->threshold(), 0.1);
    EXPECT_FALSE(diff->isProcessing());
}

TEST(Windows, CtrlWClosesEachWindowWhateverHasTheFocusButARecorderTakesIt)
{
    RecordingAlertPresenter alerts;
    AppDelegate delegate;
    WindowManager &windows = delegate.windows();
    const std::pair<void (AppDelegate::*)(), AppWindow *(WindowManager::*)() const> cases[] = {
        {&AppDelegate::openHelp, &WindowManager::helpWindow},
        {&AppDelegate::openMainWindow, &WindowManager::mainWindow},
        {&AppDelegate::openSettings, &WindowManager::settingsWindow},
        {&AppDelegate::openEditor, &WindowManager::editorWindow},
        {&AppDelegate::openDiffViewer, &WindowManager::diffWindow},
    };
    for (const auto &[open, field] : cases) {
        (delegate.*open)();
        AppWindow *window = (windows.*field)();
        SCOPED_TRACE(window->windowTitle().toStdString());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QWidget *focus = QApplication::focusWidget();
        ASSERT_TRUE(focus && window->isAncestorOf(focus));
        QTest::keyClick(focus, Qt::Key_W, Qt::ControlModifier);
        EXPECT_FALSE(window->isVisible());
    }

    // A shortcut being recorded is the recorder's, not the window's.
    delegate.openSettings();
    AppWindow *settings = windows.settingsWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(settings));
    auto *view = qobject_cast<SettingsView *>(settings->rootView());
    view->setSelectedTab("shortcuts");
    auto *recorder = view->findChild<HotKeyRecorder *>();
    ASSERT_TRUE(recorder);
    recorder->startRecording();
    QTest::keyClick(recorder, Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(settings->isVisible());
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->binding(), HotKeyBinding(13, HotKeyBinding::controlModifier)); // the W key
}

TEST(Windows, EditorViewDismissHidesItsWindow)
{
    AppDelegate delegate;
    delegate.openEditor();
    AppWindow *window = delegate.windows().editorWindow();
    qobject_cast<EditorView *>(window->rootView())->dismiss();
    EXPECT_FALSE(window->isVisible());
    delegate.openEditor();
    EXPECT_EQ(delegate.windows().editorWindow(), window);
}

TEST(Windows, SettingsTabIsReadOnceWhenTheWindowIsCreated)
{
    const QString key = "vorna.uiTests.preselectedSettingsTab";
    UserDefaults &d = UserDefaults::standard();
    EXPECT_EQ(initialSettingsTab(), "general");

    d.setString(key, "unknown-tab");
    EXPECT_EQ(initialSettingsTab(), "unknown-tab");
    EXPECT_FALSE(d.contains(key));

    AppDelegate delegate;
    d.setString(key, "about");
    delegate.openSettings();
    auto *view = qobject_cast<SettingsView *>(delegate.windows().settingsWindow()->rootView());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->selectedTab(), "about");
    EXPECT_EQ(&view->appState(), &delegate.appState());
    EXPECT_FALSE(d.contains(key));

    // Written while the window exists: left for a later window creation.
    d.setString(key, "shortcuts");
    delegate.openSettings();
    EXPECT_EQ(view->selectedTab(), "about");
    EXPECT_EQ(d.stringForKey(key), "shortcuts");
}

// The launch wires the notifications and launch arguments to the windows.
TEST(Windows, LaunchOpensWindowsForNotificationsAndArguments)
{
    RecordingAlertPresenter alerts;
    AppDelegate delegate;
    QSignalSpy launched(&delegate, &AppDelegate::launched);
    delegate.applicationDidFinishLaunching({"vorna", "--ui-tests-show-settings-shortcuts", "--ui-tests-show-settings",
                                            "--ui-tests-show-help=1"});
    ASSERT_TRUE(launched.wait(30000));
    ASSERT_EVENTUALLY(delegate.windows().settingsWindow(), 30000);
    auto *view = qobject_cast<SettingsView *>(delegate.windows().settingsWindow()->rootView());
    EXPECT_EQ(view->selectedTab(), "shortcuts");
    EXPECT_FALSE(UserDefaults::standard().contains("vorna.uiTests.preselectedSettingsTab"));
    EXPECT_EQ(delegate.windows().helpWindow(), nullptr);

    NotificationCenter::instance().post(NotificationNames::openEditor);
    EXPECT_TRUE(delegate.windows().editorWindow());
    delegate.windows().settingsWindow()->close();
    NotificationCenter::instance().post(NotificationNames::showSettings);
    EXPECT_TRUE(delegate.windows().settingsWindow()->isVisible());
}

// Qt takes a lone "&" in a menu item, button, tab or group title as the mark
// of the next letter's accelerator and does not show it. Every such text
// across the program's windows and menus, fixed or from the user's data,
// shows as written.
TEST(Windows, EveryMenuItemButtonAndTabShowsItsAmpersandsAsWritten)
{
    RecordingAlertPresenter alerts;
    QList<AnnotationPreset> presets = AnnotationPreset::defaults();
    presets.first().name = "R&D";
    AnnotationPreset::save(presets);
    AppDelegate delegate;
    QSignalSpy launched(&delegate, &AppDelegate::launched);
    delegate.applicationDidFinishLaunching({"vorna"});
    ASSERT_TRUE(launched.wait(30000));
    delegate.appState().setSavedPaths({"~/A&B"});
    delegate.openMainWindow();
    delegate.openSettings();
    delegate.openEditor();
    delegate.openHelp();
    delegate.openDiffViewer();
    delegate.showAboutPanel();

    QStringList lost;
    QStringList shown;
    auto check = [&](const QString &text) {
        if (QString(text).remove(QStringLiteral("&&")).contains(u'&'))
            lost << text;
        else
            shown << QString(text).replace(QStringLiteral("&&"), QStringLiteral("&"));
    };
    const QWidgetList widgets = QApplication::allWidgets();
    for (QWidget *w : widgets) {
        if (auto *menu = qobject_cast<QMenu *>(w)) {
            emit menu->aboutToShow(); // the Save To menus fill as they open
            check(menu->title());
        }
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            check(button->text());
        if (auto *group = qobject_cast<QGroupBox *>(w))
            check(group->title());
        if (auto *tabs = qobject_cast<QTabBar *>(w))
            for (int i = 0; i < tabs->count(); ++i)
                check(tabs->tabText(i));
        for (const QAction *action : w->actions())
            check(action->text());
    }
    EXPECT_TRUE(lost.isEmpty()) << lost.join(" | ").toStdString();
    for (const char *text : {"Add Shadow & Rounded Corners", "~/A&B", "R&D", "Shortcuts", "Beautify"})
        EXPECT_TRUE(shown.contains(text)) << text << " was not seen";
}

} // namespace
