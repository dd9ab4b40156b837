#include "app/CaptureFlows.h"
#include "app/CapturePipeline.h"
#include "capture/RegionSelectionController.h"
#include "capture/ScrollCaptureService.h"
#include "capture/TimerOverlayView.h"
#include "capture/WindowSelectionController.h"
#include "model/AppState.h"
#include "output/HistoryService.h"
#include "platform/Compositing.h"
#include "platform/UserDefaults.h"
#include "support/FakeScreenCapture.h"
#include "support/RecordingAlertPresenter.h"
#include "support/TestHome.h"
#include "windows/FloatingPreviewController.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

ShareableWindow someWindow()
{
    ShareableWindow w;
    w.windowID = 77;
    w.frame = QRectF(10, 20, 300, 200);
    w.title = "Notes";
    w.isOnScreen = true;
    w.owningApplication = OwningApplication{4242, "Editor"};
    return w;
}

class CaptureFlowsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestHome::reset();
        UserDefaults::resetStandard();
        HistoryService::resetShared();
        state = std::make_unique<AppState>();
        state->setSaveDirectory(TestHome::path() + "/Shots");
        state->setShowFloatingPreview(false);
        state->setPlaySound(false);
        pipeline = std::make_unique<CapturePipeline>(*state, preview);
        auto blank = [] { return RegionSelectionController::Snapshots(); };
        regions.setSnapshotSource(blank);
        windows.setSnapshotSource([] { return WindowSelectionController::Snapshots(); });
        windows.setBeep([] {});
        ShareableDisplay display;
        display.frame = QGuiApplication::primaryScreen()->geometry();
        screen.content.displays = {display};
        flows = std::make_unique<CaptureFlows>(*state, *pipeline, regions, windows, scroll);
        flows->setScreenAccess([this] { return access; });
        flows->setTerminate([this] { ++terminations; });
    }
    void TearDown() override
    {
        flows.reset();
        pipeline.reset();
        state.reset();
        HistoryService::resetShared();
        UserDefaults::resetStandard();
    }

    // The modes of the captures that reached the history, newest first.
    QList<CaptureMode> captured() const
    {
        QList<CaptureMode> modes;
        for (const HistoryItem &item : state->history())
            modes << item.mode;
        return modes;
    }

    FakeScreenCapture screen;
    RecordingAlertPresenter alerts;
    FloatingPreviewController preview;
    RegionSelectionController regions;
    WindowSelectionController windows;
    ScrollCaptureService scroll;
    std::unique_ptr<AppState> state;
    std::unique_ptr<CapturePipeline> pipeline;
    std::unique_ptr<CaptureFlows> flows;
    bool access = true;
    int terminations = 0;
};

} // namespace

TEST_F(CaptureFlowsTest, FullScreenCapturesTheFirstDisplayAfterTwoTenthsOfASecond)
{
    QElapsedTimer clock;
    clock.start();
    flows->performCapture(CaptureMode::fullscreen);
    EXPECT_TRUE(screen.rectRequests.isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !state->history().isEmpty(); }, 30000));
    EXPECT_GE(clock.elapsed(), 195);
    ASSERT_EQ(screen.rectRequests.size(), 1);
    const QRect first = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(screen.rectRequests[0].rect, QRectF(first));
    EXPECT_EQ(screen.rectRequests[0].pixelSize, first.size() * 2);
    EXPECT_EQ(captured(), QList<CaptureMode>{CaptureMode::fullscreen});
    EXPECT_EQ(state->captureMode(), CaptureMode::fullscreen);
}

TEST_F(CaptureFlowsTest, RegionOpensTheOverlayAndCapturesTheChosenRectangle)
{
    QElapsedTimer clock;
    clock.start();
    flows->performCapture(CaptureMode::region);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !regions.windows().isEmpty(); }, 30000));
    EXPECT_GE(clock.elapsed(), 145);
    regions.finish(QRectF(40, 30, 200, 100));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !state->history().isEmpty(); }, 30000));
    ASSERT_EQ(screen.rectRequests.size(), 1);
    EXPECT_EQ(screen.rectRequests[0].rect, QRectF(40, 30, 200, 100));
    EXPECT_EQ(captured(), QList<CaptureMode>{CaptureMode::region});
    EXPECT_EQ(state->history().first().image.pointSize(), QSizeF(200, 100));

    // A cancelled selection captures nothing.
    flows->captureRegion();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !regions.windows().isEmpty(); }, 30000));
    regions.finish(std::nullopt);
    QTest::qWait(300);
    EXPECT_EQ(screen.rectRequests.size(), 1);
    EXPECT_EQ(state->history().size(), 1);
}

TEST_F(CaptureFlowsTest, WithoutScreenAccessWindowAndRegionOfferARelaunch)
{
    access = false;
    alerts.answer = 1; // "Later"
    flows->captureRegion();
    flows->captureWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts.alerts.size() == 2; }, 30000));
    for (const auto &alert : alerts.alerts) {
        EXPECT_EQ(alert.title, QString("Relaunch Vorna to Apply Permission"));
        EXPECT_EQ(alert.buttons, (QStringList{"Quit Vorna", "Later"}));
    }
    QTest::qWait(300);
    EXPECT_TRUE(regions.windows().isEmpty());
    EXPECT_TRUE(windows.overlays().isEmpty());
    EXPECT_EQ(terminations, 0);

    alerts.answer = 0; // "Quit Vorna"
    flows->captureRegion();
    ASSERT_TRUE(QTest::qWaitFor([&] { return terminations == 1; }, 30000));
    EXPECT_TRUE(screen.rectRequests.isEmpty());
}

TEST_F(CaptureFlowsTest, WindowListsThePickerAndCapturesThePickedWindow)
{
    // Nothing to pick: the alert, and no picker.
    flows->captureWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return alerts.alerts.size() == 1; }, 30000));
    EXPECT_EQ(alerts.alerts[0].title, QString("No Windows Available"));
    EXPECT_EQ(alerts.alerts[0].informativeText,
              QString("Vorna couldn't find any capturable windows. Make sure at least one app window is open and "
                      "visible."));
    EXPECT_TRUE(windows.overlays().isEmpty());

    screen.content.windows = {someWindow()};
    flows->captureWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !windows.overlays().isEmpty(); }, 30000));
    windows.close(someWindow());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !state->history().isEmpty(); }, 30000));
    ASSERT_EQ(screen.windowRequests.size(), 1);
    EXPECT_EQ(screen.windowRequests[0].windowID, 77u);
    EXPECT_EQ(captured(), QList<CaptureMode>{CaptureMode::window});

    // Cancelling the picker captures nothing.
    flows->captureWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !windows.overlays().isEmpty(); }, 30000));
    windows.close(std::nullopt);
    QTest::qWait(100);
    EXPECT_EQ(screen.windowRequests.size(), 1);
}

TEST_F(CaptureFlowsTest, ScrollingStitchesTheChosenRegionWithoutAskingForAccess)
{
    access = false; // the scrolling flow does not ask
    int frames = 0;
    scroll.setFrameGrabber([&](const QRectF &rect) {
        ++frames;
        QImage frame((rect.size() * 2).toSize(), QImage::Format_RGB32);
        frame.fill(Qt::darkCyan); // the same every time: the page does not move
        return std::optional<QImage>(frame);
    });
    scroll.setScrollPoster([](const QPointF &) { return true; });
    scroll.setScrollWaitMs(1);
    flows->performCapture(CaptureMode::scrolling);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !regions.windows().isEmpty(); }, 30000));
    regions.finish(QRectF(0, 0, 100, 80));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !state->history().isEmpty(); }, 30000));
    EXPECT_GE(frames, 2);
    EXPECT_EQ(captured(), QList<CaptureMode>{CaptureMode::scrolling});
    EXPECT_TRUE(alerts.alerts.isEmpty());
}

TEST_F(CaptureFlowsTest, TimedCountsDownOneNumberASecondThenCaptures)
{
    state->setCountdownSeconds(3);
    QList<int> shown;
    QElapsedTimer clock;
    clock.start();
    flows->captureTimed();
    QWidget *window = flows->timerOverlayWindow();
    ASSERT_NE(window, nullptr);
    const QRect screenRect = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(QRectF(window->geometry()).center(), QRectF(screenRect).center());
    EXPECT_EQ(window->size(), QSize(120, 120));
    auto current = [&] {
        const auto views = window->findChildren<TimerOverlayView *>();
        return views.size() == 1 ? views.first()->seconds() : -1;
    };
    shown << current();
    while (flows->timerOverlayWindow()) {
        QTest::qWait(20);
        if (flows->timerOverlayWindow() && current() != shown.last())
            shown << current();
    }
    EXPECT_EQ(shown, (QList<int>{3, 2, 1}));
    EXPECT_GE(clock.elapsed(), 2950);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !state->history().isEmpty(); }, 30000));
    EXPECT_EQ(captured(), QList<CaptureMode>{CaptureMode::timed});
    EXPECT_EQ(screen.rectRequests.size(), 1);
}

// Two timed requests a second apart are two captures: the later countdown
// does not end the earlier one.
TEST_F(CaptureFlowsTest, ASecondTimedCaptureLeavesTheFirstCountdownRunning)
{
    state->setCountdownSeconds(1);
    flows->captureTimed();
    QTest::qWait(400);
    flows->captureTimed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return state->history().size() == 2; }, 30000))
        << "captures: " << state->history().size();
    EXPECT_EQ(captured(), (QList<CaptureMode>{CaptureMode::timed, CaptureMode::timed}));
    EXPECT_EQ(flows->timerOverlayWindow(), nullptr);
}

// A countdown read from the preferences file as stored, far outside the
// range the settings offer, still counts from a number within it.
TEST_F(CaptureFlowsTest, AStoredCountdownOutOfRangeCountsFromTheNearestAllowedNumber)
{
    const QList<QPair<qint64, int>> cases{{1000000000, 30}, {3000000000, 30}, {-5, 1}};
    for (const auto &[stored, expected] : cases) {
        flows.reset();
        pipeline.reset();
        UserDefaults::standard().setInteger("countdownSeconds", stored);
        state = std::make_unique<AppState>();
        ASSERT_EQ(state->countdownSeconds(), stored) << "read as stored";
        pipeline = std::make_unique<CapturePipeline>(*state, preview);
        flows = std::make_unique<CaptureFlows>(*state, *pipeline, regions, windows, scroll);
        flows->captureTimed();
        ASSERT_NE(flows->timerOverlayWindow(), nullptr);
        const auto views = flows->timerOverlayWindow()->findChildren<TimerOverlayView *>();
        ASSERT_EQ(views.size(), 1);
        EXPECT_EQ(views.first()->seconds(), expected) << "stored " << stored;
    }
}

namespace {
// Notes when a widget is hidden and what the fake screen had been asked by then.
class HideWatcher : public QObject
{
public:
    HideWatcher(const FakeScreenCapture &screen) : m_screen(screen) {}
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && requestsAtHide < 0) {
            requestsAtHide = m_screen.rectRequests.size();
            sinceHidden.start();
        }
        return false;
    }
    qsizetype requestsAtHide = -1;
    QElapsedTimer sinceHidden;

private:
    const FakeScreenCapture &m_screen;
};
} // namespace

TEST_F(CaptureFlowsTest, TimedCaptureWaitsForCoveredWindowsToRepaintWithoutACompositor)
{
    state->setCountdownSeconds(1);
    for (const bool composited : {true, false}) {
        Compositing::setOverride(composited);
        HideWatcher watcher(screen);
        flows->captureTimed();
        ASSERT_NE(flows->timerOverlayWindow(), nullptr);
        flows->timerOverlayWindow()->installEventFilter(&watcher);
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return watcher.requestsAtHide >= 0 && screen.rectRequests.size() > watcher.requestsAtHide;
        }, 30000));
        // Only the lower bound is checked: how soon the capture follows
        // with a compositor depends on the machine's load.
        if (!composited) {
            EXPECT_GE(watcher.sinceHidden.elapsed(), CaptureFlows::uncompositedRepaintDelayMs - 20);
        }
    }
    Compositing::clearOverride();
}
