#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/DoublePressRule.h"
#include "app/WindowManager.h"
#include "model/AppState.h"
#include "model/HotKeyBinding.h"
#include "model/NotificationNames.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "services/HotKeyService.h"
#include "settings/SettingsView.h"
#include "settings/ShortcutsSettingsTab.h"
#include "support/FakeDoublePressClock.h"
#include "support/FakeGlobalHotKeys.h"
#include "support/RecordingAlertPresenter.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr auto CtrlShift = GlobalHotKeys::Control | GlobalHotKeys::Shift;
// X keycodes of the digit keys 1 to 5.
constexpr quint32 kDigit[] = {0, 10, 11, 12, 13, 14};

class HotKeysTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestHome::reset();
        UserDefaults::resetStandard();
    }
    void TearDown() override
    {
        HotKeyService::shared().unregisterAll();
        UserDefaults::resetStandard();
    }

    void launch(AppDelegate &delegate)
    {
        QSignalSpy launched(&delegate, &AppDelegate::launched);
        delegate.applicationDidFinishLaunching({"vorna"});
        ASSERT_TRUE(launched.wait(30000));
    }

    // The modes whose flows started, in order.
    static QList<CaptureMode> modes(const QSignalSpy &spy)
    {
        QList<CaptureMode> result;
        for (const auto &args : spy)
            result << args.at(0).value<CaptureMode>();
        return result;
    }

    FakeGlobalHotKeys keys;
    RecordingAlertPresenter alerts;
};

} // namespace

TEST_F(HotKeysTest, WithNothingStoredCtrlShift1To5StartTheFiveModes)
{
    // No double-press target for full screen, so every press captures at once.
    AppState::setDoubleTapTarget(std::nullopt, CaptureShortcut::fullscreen);
    AppDelegate delegate;
    launch(delegate);
    QSignalSpy started(&delegate, &AppDelegate::captureStarted);
    for (int digit = 1; digit <= 5; ++digit)
        ASSERT_TRUE(keys.press(kDigit[digit], CtrlShift)) << digit;
    // The press is handled from the event loop, not inside the key event.
    EXPECT_EQ(started.count(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.count() == 5; }, 30000));
    EXPECT_EQ(modes(started), (QList<CaptureMode>{CaptureMode::fullscreen, CaptureMode::window, CaptureMode::region,
                                                  CaptureMode::scrolling, CaptureMode::timed}));
    EXPECT_TRUE(alerts.alerts.isEmpty());
    EXPECT_EQ(HotKeyService::shared().registeredIds().size(), 5);
}

TEST_F(HotKeysTest, AnUnboundModeGetsNoShortcutAndUsesNoId)
{
    AppState::setHotKeyBinding(HotKeyBinding(0, 0), CaptureShortcut::window);
    UserDefaults::standard().setData("hotkey.region", "not json"); // undecodable: the default
    const quint32 firstId = HotKeyService::shared().nextID();
    AppDelegate delegate;
    launch(delegate);
    EXPECT_EQ(keys.held.size(), 4);
    EXPECT_EQ(HotKeyService::shared().nextID(), firstId + 4);
    EXPECT_FALSE(keys.press(kDigit[2], CtrlShift));
    EXPECT_TRUE(keys.press(kDigit[3], CtrlShift));
    EXPECT_TRUE(alerts.alerts.isEmpty());
}

TEST_F(HotKeysTest, RefusedShortcutsGiveOneConflictAlertListingEach)
{
    keys.taken.insert({kDigit[3], CtrlShift});
    {
        AppDelegate delegate;
        launch(delegate);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 30000));
        QTest::qWait(50);
        ASSERT_EQ(alerts.alerts.size(), 1);
        EXPECT_EQ(alerts.alerts[0].title, QString("Hotkey Conflict"));
        EXPECT_EQ(alerts.alerts[0].informativeText,
                  QString("Some hotkeys could not be registered (already in use): Region Capture (Ctrl+Shift+3)"));
        EXPECT_EQ(keys.held.size(), 4);
    }
    alerts.alerts.clear();
    keys.taken.insert({kDigit[5], CtrlShift});
    AppDelegate delegate;
    launch(delegate);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 30000));
    QTest::qWait(50);
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].informativeText,
              QString("Some hotkeys could not be registered (already in use): Region Capture (Ctrl+Shift+3), "
                      "Timed Capture (Ctrl+Shift+5)"));
}

// Two modes on one combination: the earlier mode keeps it, the later one is
// reported as refused, whatever order the backend keeps its grabs in.
TEST_F(HotKeysTest, AModeOnACombinationAnEarlierModeHoldsIsRefused)
{
    AppState::setDoubleTapTarget(std::nullopt, CaptureShortcut::fullscreen);
    AppState::setHotKeyBinding(HotKeyBinding(19, 0x1200), CaptureShortcut::timed);     // Ctrl+Shift+2, as window
    AppState::setHotKeyBinding(HotKeyBinding(18, 0x1200), CaptureShortcut::scrolling); // Ctrl+Shift+1, as full screen
    AppDelegate delegate;
    launch(delegate);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 30000));
    QTest::qWait(50);
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, QString("Hotkey Conflict"));
    EXPECT_EQ(alerts.alerts[0].informativeText,
              QString("Some hotkeys could not be registered (already in use): Scrolling Capture (Ctrl+Shift+1), "
                      "Timed Capture (Ctrl+Shift+2)"));
    EXPECT_EQ(keys.held.size(), 3);

    QSignalSpy started(&delegate, &AppDelegate::captureStarted);
    ASSERT_TRUE(keys.press(kDigit[1], CtrlShift));
    ASSERT_TRUE(keys.press(kDigit[2], CtrlShift));
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.count() == 2; }, 30000));
    EXPECT_EQ(modes(started), (QList<CaptureMode>{CaptureMode::fullscreen, CaptureMode::window}));
}

TEST_F(HotKeysTest, ReRegisteringReleasesTheOldCombinationsFirst)
{
    AppState::setDoubleTapTarget(std::nullopt, CaptureShortcut::fullscreen);
    AppDelegate delegate;
    launch(delegate);
    QSignalSpy started(&delegate, &AppDelegate::captureStarted);
    // Move Ctrl+Shift+1 from full screen to region; full screen gets Ctrl+Shift+9.
    AppState::setHotKeyBinding(HotKeyBinding(25, 0x1200), CaptureShortcut::fullscreen);
    AppState::setHotKeyBinding(HotKeyBinding(18, 0x1200), CaptureShortcut::region);
    EXPECT_TRUE(alerts.alerts.isEmpty());
    ASSERT_TRUE(keys.press(kDigit[1], CtrlShift));
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.count() == 1; }, 30000));
    EXPECT_EQ(modes(started), QList<CaptureMode>{CaptureMode::region});
    EXPECT_FALSE(keys.press(kDigit[3], CtrlShift));
    EXPECT_EQ(keys.held.size(), 5);

    // Quitting releases everything.
    HotKeyService::shared().unregisterAll();
    EXPECT_TRUE(keys.held.isEmpty());
}

// While a shortcut recorder waits for a combination, the program's own
// shortcuts let go of their keys, so the recorder can get them; nested
// suspensions take them back only at the last resume.
TEST_F(HotKeysTest, SuspendingReleasesTheKeysUntilTheLastResume)
{
    AppDelegate delegate;
    launch(delegate);
    ASSERT_EQ(keys.held.size(), 5);
    HotKeyService &service = HotKeyService::shared();

    service.suspend();
    EXPECT_TRUE(keys.held.isEmpty());
    EXPECT_FALSE(keys.press(kDigit[3], CtrlShift));
    service.suspend();
    service.resume();
    EXPECT_TRUE(keys.held.isEmpty());
    EXPECT_TRUE(service.isSuspended());

    service.resume();
    EXPECT_FALSE(service.isSuspended());
    EXPECT_EQ(keys.held.size(), 5);
    QSignalSpy started(&delegate, &AppDelegate::captureStarted);
    ASSERT_TRUE(keys.press(kDigit[3], CtrlShift));
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.count() == 1; }, 30000));
    EXPECT_EQ(modes(started), QList<CaptureMode>{CaptureMode::region});
}

// An alert is a window of its own: showing it takes the focus from the
// window behind, and closing it gives the focus back.
class FocusTakingAlertPresenter : public RecordingAlertPresenter
{
public:
    int present(const Alert &alert) override
    {
        const int answer = RecordingAlertPresenter::present(alert);
        QWidget *behind = QApplication::activeWindow();
        QWidget box;
        box.show();
        box.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&box));
        box.close();
        if (behind) {
            behind->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(behind));
        }
        return answer;
    }
};

TEST_F(HotKeysTest, AConflictingShortcutTypedInTheSettingsGivesOneAlert)
{
    FocusTakingAlertPresenter focusTaking;
    AppDelegate delegate;
    launch(delegate);
    delegate.openSettings();
    AppWindow *window = delegate.windows().settingsWindow();
    auto *view = qobject_cast<SettingsView *>(window->rootView());
    ASSERT_TRUE(view);
    view->setSelectedTab("shortcuts");
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    // Window Capture on Full Screen's Ctrl+Shift+1.
    QLineEdit *field = view->shortcutsTab()->row(CaptureShortcut::window).text;
    field->setFocus();
    ASSERT_TRUE(field->hasFocus());
    field->selectAll();
    QTest::keyClicks(field, "ctrl+shift+1");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !focusTaking.alerts.isEmpty(); }, 30000));
    QTest::qWait(50);
    ASSERT_EQ(focusTaking.alerts.size(), 1);
    EXPECT_EQ(focusTaking.alerts[0].title, QString("Hotkey Conflict"));
    EXPECT_EQ(focusTaking.alerts[0].informativeText,
              QString("Some hotkeys could not be registered (already in use): Window Capture (Ctrl+Shift+1)"));
    EXPECT_EQ(AppState::hotKeyBinding(CaptureShortcut::window), HotKeyBinding(18, 0x1200));
    EXPECT_TRUE(field->hasFocus()) << "the focus is back in the field";

    // Leaving the field without a change commits nothing again; a new text does.
    QTest::keyClick(field, Qt::Key_Tab);
    QTest::qWait(50);
    EXPECT_EQ(focusTaking.alerts.size(), 1);
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, "ctrl+shift+2");
    QTest::keyClick(field, Qt::Key_Tab);
    EXPECT_EQ(AppState::hotKeyBinding(CaptureShortcut::window), HotKeyBinding(19, 0x1200));
    QTest::qWait(50);
    EXPECT_EQ(focusTaking.alerts.size(), 1);
}

TEST_F(HotKeysTest, WithoutGlobalShortcutsTheLogSaysSoAndNoAlertIsShown)
{
    keys.available = false;
    LogCapture log;
    AppDelegate delegate;
    launch(delegate);
    QTest::qWait(50);
    EXPECT_TRUE(alerts.alerts.isEmpty());
    EXPECT_TRUE(log.contains("[Vorna] hotkeys: global shortcuts are not available on this display"));
}

TEST_F(HotKeysTest, CaptureRequestsStartTheirModeAndMalformedOnesAreIgnored)
{
    AppDelegate delegate;
    launch(delegate);
    QSignalSpy started(&delegate, &AppDelegate::captureStarted);
    auto &center = NotificationCenter::instance();
    center.post(NotificationNames::initCapture, {{"mode", QVariant::fromValue(CaptureMode::scrolling)}});
    center.post(NotificationNames::initCapture, {{"mode", QString("region")}});
    center.post(NotificationNames::initCapture, {});
    center.post(NotificationNames::initCapture, {{"other", QVariant::fromValue(CaptureMode::region)}});
    // Full screen has a double-press target, but requests skip the rule.
    center.post(NotificationNames::initCapture, {{"mode", QVariant::fromValue(CaptureMode::fullscreen)}});
    QTest::qWait(50);
    EXPECT_EQ(modes(started), (QList<CaptureMode>{CaptureMode::scrolling, CaptureMode::fullscreen}));
}

// ---- the double-press rule ----

namespace {

class DoublePressTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestHome::reset();
        UserDefaults::resetStandard();
        state = std::make_unique<AppState>();
        state->setDoubleTapIntervalMS(350);
        rule = std::make_unique<DoublePressRule>(*state, [this](CaptureMode m) { captured << m; });
        rule->setClock(&clock);
    }
    void TearDown() override
    {
        rule.reset();
        UserDefaults::resetStandard();
    }

    FakeDoublePressClock clock;
    std::unique_ptr<AppState> state;
    std::unique_ptr<DoublePressRule> rule;
    QList<CaptureMode> captured;
};

} // namespace

TEST_F(DoublePressTest, ASinglePressCapturesItsModeOneIntervalLater)
{
    // By default full screen's target is window.
    rule->hotkeyPressed(CaptureMode::fullscreen);
    clock.advance(349);
    EXPECT_TRUE(captured.isEmpty());
    clock.advance(1);
    EXPECT_EQ(captured, QList<CaptureMode>{CaptureMode::fullscreen});
    EXPECT_FALSE(rule->isPending(CaptureMode::fullscreen));
}

TEST_F(DoublePressTest, ASecondPressWithinTheIntervalRunsTheTargetAtOnceAndNothingElse)
{
    rule->hotkeyPressed(CaptureMode::fullscreen);
    clock.advance(200);
    rule->hotkeyPressed(CaptureMode::fullscreen);
    EXPECT_EQ(captured, QList<CaptureMode>{CaptureMode::window});
    clock.advance(2000);
    EXPECT_EQ(captured, QList<CaptureMode>{CaptureMode::window});
    EXPECT_EQ(clock.scheduled(), 0);

    // Exactly at the interval it is no longer a double press.
    captured.clear();
    rule->hotkeyPressed(CaptureMode::fullscreen);
    clock.advance(350, false);
    rule->hotkeyPressed(CaptureMode::fullscreen);
    clock.runDue();
    EXPECT_EQ(captured, QList<CaptureMode>{CaptureMode::fullscreen});
}

TEST_F(DoublePressTest, PressesFurtherApartThanTheIntervalCaptureEachTime)
{
    rule->hotkeyPressed(CaptureMode::fullscreen);
    clock.advance(400);
    rule->hotkeyPressed(CaptureMode::fullscreen);
    clock.advance(400);
    EXPECT_EQ(captured, (QList<CaptureMode>{CaptureMode::fullscreen, CaptureMode::fullscreen}));
}

TEST_F(DoublePressTest, AModeWithoutTargetOrWithItselfAsTargetCapturesAtOnce)
{
    rule->hotkeyPressed(CaptureMode::region); // no target by default
    AppState::setDoubleTapTarget(CaptureShortcut::timed, CaptureShortcut::timed);
    rule->hotkeyPressed(CaptureMode::timed);
    rule->hotkeyPressed(CaptureMode::timed);
    EXPECT_EQ(captured, (QList<CaptureMode>{CaptureMode::region, CaptureMode::timed, CaptureMode::timed}));
    EXPECT_EQ(clock.scheduled(), 0);
}

// An interval read from the preferences file as stored, however large or
// small, waits only as long as the settings allow.
TEST_F(DoublePressTest, AStoredIntervalOutOfRangeWaitsOnlyWithinTheAllowedRange)
{
    for (const auto &[stored, waited] : QList<QPair<qint64, qint64>>{{1000000000, 1000}, {-40, 120}}) {
        captured.clear();
        UserDefaults::standard().setInteger("doubleTapIntervalMS", stored);
        AppState stale;
        ASSERT_EQ(stale.doubleTapIntervalMS(), stored) << "read as stored";
        DoublePressRule staleRule(stale, [this](CaptureMode m) { captured << m; });
        staleRule.setClock(&clock);
        staleRule.hotkeyPressed(CaptureMode::fullscreen);
        clock.advance(waited - 1);
        EXPECT_TRUE(captured.isEmpty()) << "stored " << stored;
        clock.advance(1);
        EXPECT_EQ(captured, QList<CaptureMode>{CaptureMode::fullscreen}) << "stored " << stored;
    }
}

// Beyond the range of an int the real timer must still run.
TEST_F(DoublePressTest, AStoredIntervalBeyondTheIntRangeStillCaptures)
{
    UserDefaults::standard().setInteger("doubleTapIntervalMS", 3000000000);
    AppState stale;
    DoublePressRule realRule(stale, [this](CaptureMode m) { captured << m; });
    realRule.hotkeyPressed(CaptureMode::fullscreen);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !captured.isEmpty(); }, 30000));
    EXPECT_EQ(captured, QList<CaptureMode>{CaptureMode::fullscreen});
}

// A busy main thread runs the first press's timer late, after a newer press
// has started to wait. The late timer must neither cancel nor unmark the
// newer press: a quick second press still makes a double press.
TEST_F(DoublePressTest, ALateTimerLeavesTheNewerPendingPressAlone)
{
    rule->hotkeyPressed(CaptureMode::fullscreen);      // A waits until 1350
    clock.advance(400, false);                          // ... but its timer has not run yet
    rule->hotkeyPressed(CaptureMode::fullscreen);      // B: a new single press at 1400
    clock.runDue();                                     // A runs late: one full-screen capture
    EXPECT_EQ(captured, QList<CaptureMode>{CaptureMode::fullscreen});
    EXPECT_TRUE(rule->isPending(CaptureMode::fullscreen)) << "B still waits";

    clock.advance(100);                                 // a second press 100 ms after B
    rule->hotkeyPressed(CaptureMode::fullscreen);
    EXPECT_EQ(captured, (QList<CaptureMode>{CaptureMode::fullscreen, CaptureMode::window}));
    clock.advance(2000);
    EXPECT_EQ(captured.size(), 2) << "B's own capture was cancelled by the double press";
}
