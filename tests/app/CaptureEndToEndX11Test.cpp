// The whole program in this process on the test X server: real key grabs,
// xdotool presses, the real screen capture, encoder and history store.
#include "app/AppDelegate.h"
#include "app/CaptureFlows.h"
#include "app/DoublePressRule.h"
#include "app/StatusItem.h"
#include "model/AppState.h"
#include "output/HistoryService.h"
#include "platform/UserDefaults.h"
#include "platform/Compositing.h"
#include "services/HotKeyService.h"
#include "support/CompositingManager.h"
#include "support/FakeDoublePressClock.h"
#include "support/RecordingAlertPresenter.h"
#include "support/TestHome.h"
#include "support/X11TestWindows.h"

#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <signal.h>

namespace {

void xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

class CaptureEndToEndX11Test : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), "xcb");
        TestHome::reset();
        UserDefaults::resetStandard();
        HistoryService::resetShared();
        shots = TestHome::path() + "/Shots";
        QDir().mkpath(shots); // a stored save folder is used only when it exists
        UserDefaults::standard().setString("saveDirectory", shots);
        UserDefaults::standard().setBool("playSound", false);
        // Xvfb has no tray, so the main window would open at launch and be
        // in every picture: these captures are taken as on a desktop with one.
        StatusItem::setTrayAvailableOverride(true);
    }
    void TearDown() override
    {
        StatusItem::setTrayAvailableOverride(std::nullopt);
        HotKeyService::shared().unregisterAll();
        HistoryService::resetShared();
        UserDefaults::resetStandard();
    }

    void launch(AppDelegate &delegate)
    {
        QSignalSpy launched(&delegate, &AppDelegate::launched);
        delegate.applicationDidFinishLaunching({"vorna"});
        ASSERT_TRUE(launched.wait(30000));
    }

    QStringList savedFiles() const { return QDir(shots).entryList(QDir::Files, QDir::Name); }

    QString shots;
    RecordingAlertPresenter alerts;
};

// Another X client that grabs a key combination.
struct OtherClient
{
    OtherClient() : c(xcb_connect(nullptr, nullptr)) {}
    ~OtherClient() { xcb_disconnect(c); }
    bool grab(quint8 keycode, quint16 mask)
    {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_generic_error_t *e = xcb_request_check(
            c, xcb_grab_key_checked(c, 0, root, mask, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(e);
        return e == nullptr;
    }
    xcb_connection_t *c;
};

} // namespace

TEST_F(CaptureEndToEndX11Test, CtrlShift1SavesTheScreenAtTwicePointSizeListsItAndCopiesIt)
{
    const QSize points = QGuiApplication::primaryScreen()->geometry().size();
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({{QRect(200, 150, 300, 200), qRgb(230, 40, 160), "Magenta", {}, {}}}));

    AppDelegate delegate;
    launch(delegate);
    EXPECT_TRUE(alerts.alerts.isEmpty());
    QGuiApplication::clipboard()->clear();

    xdotool({"key", "ctrl+shift+1"});
    // A single press: full screen waits out the double-press interval first.
    ASSERT_TRUE(QTest::qWaitFor([&] { return savedFiles().size() == 1; }, 30000));
    const QString path = shots + "/" + savedFiles().first();
    EXPECT_TRUE(savedFiles().first().startsWith("Vorna_"));
    EXPECT_TRUE(path.endsWith(".png"));
    const QImage saved(path);
    ASSERT_EQ(saved.size(), points * 2);
    EXPECT_EQ(saved.pixel(2 * 350, 2 * 250), qRgb(230, 40, 160));
    EXPECT_NE(saved.pixel(2 * 199, 2 * 149), qRgb(230, 40, 160));

    // The history lists it with its file, once the entry has been updated.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto &items = delegate.appState().history();
        return !items.isEmpty() && items.first().filePath == std::optional<QString>(path);
    }, 30000));
    HistoryService::shared().waitForPendingWrites();
    QFile manifest(HistoryService::shared().manifestPath());
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    const QJsonArray records = QJsonDocument::fromJson(manifest.readAll()).array();
    ASSERT_EQ(records.size(), 1);
    const QJsonObject record = records.first().toObject();
    EXPECT_EQ(record.value("filePath").toString(), path);
    EXPECT_EQ(record.value("mode").toString(), QString("fullscreen"));
    EXPECT_TRUE(QFile::exists(HistoryService::shared().imagePath(delegate.appState().history().first().id)));

    // The clipboard holds the capture.
    const QImage clip = QGuiApplication::clipboard()->image();
    EXPECT_EQ(clip.size(), points * 2);
    EXPECT_EQ(clip.pixel(2 * 350, 2 * 250), qRgb(230, 40, 160));
    EXPECT_TRUE(alerts.alerts.isEmpty());
}

TEST_F(CaptureEndToEndX11Test, AShortcutHeldByAnotherClientGivesOneAlertNamingIt)
{
    OtherClient other;
    ASSERT_TRUE(other.grab(12, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT)); // Ctrl+Shift+3
    AppDelegate delegate;
    launch(delegate);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 30000));
    QTest::qWait(200);
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, QString("Hotkey Conflict"));
    EXPECT_EQ(alerts.alerts[0].informativeText,
              QString("Some hotkeys could not be registered (already in use): Region Capture (Ctrl+Shift+3)"));

    // The other four work.
    QSignalSpy started(&delegate, &AppDelegate::captureStarted);
    xdotool({"key", "ctrl+shift+4"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.count() == 1; }, 30000));
    EXPECT_EQ(started.at(0).at(0).value<CaptureMode>(), CaptureMode::scrolling);
}

TEST_F(CaptureEndToEndX11Test, DoublePressOfRealKeysWithAFakeClock)
{
    AppDelegate delegate;
    launch(delegate);
    FakeDoublePressClock clock;
    delegate.doublePressRule().setClock(&clock);
    delegate.appState().setDoubleTapIntervalMS(350);
    QSignalSpy started(&delegate, &AppDelegate::captureStarted);
    auto press = [&](int expectedPending) {
        xdotool({"key", "ctrl+shift+1"});
        ASSERT_TRUE(QTest::qWaitFor([&] { return clock.scheduled() == expectedPending || started.count() > 0; },
                                    30000));
    };

    // Two presses 200 ms apart: the window flow at once, no full screen.
    press(1);
    clock.advance(200);
    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.count() == 1; }, 30000));
    EXPECT_EQ(started.at(0).at(0).value<CaptureMode>(), CaptureMode::window);
    clock.advance(1000);
    QTest::qWait(100);
    EXPECT_EQ(started.count(), 1);

    // Two presses 400 ms apart: two full-screen captures.
    started.clear();
    press(1);
    clock.advance(400);
    ASSERT_EQ(started.count(), 1);
    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return clock.scheduled() == 1; }, 30000));
    clock.advance(400);
    ASSERT_EQ(started.count(), 2);
    EXPECT_EQ(started.at(0).at(0).value<CaptureMode>(), CaptureMode::fullscreen);
    EXPECT_EQ(started.at(1).at(0).value<CaptureMode>(), CaptureMode::fullscreen);
    delegate.doublePressRule().setClock(nullptr);
}

// The countdown badge sits in the middle of the screen; the capture taken
// when it ends must show what lies beneath it, not the badge nor a hole.
TEST_F(CaptureEndToEndX11Test, TheTimedCaptureShowsWhatTheCountdownCovered)
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect underBadge(screen.center() - QPoint(150, 150), QSize(300, 300));
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({{underBadge, qRgb(20, 180, 90), "Green", {}, {}}}));
    UserDefaults::standard().setInteger("countdownSeconds", 1);
    UserDefaults::standard().setBool("showFloatingPreview", false);
    AppDelegate delegate;
    launch(delegate);
    delegate.captureTimed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return savedFiles().size() == 1; }, 30000));
    const QImage saved(shots + "/" + savedFiles().first());
    ASSERT_EQ(saved.size(), screen.size() * 2);
    // Every pixel under the badge's square is the window's.
    const QRect badge(screen.center() - QPoint(60, 60), QSize(120, 120));
    int wrong = 0;
    for (int y = badge.top(); y <= badge.bottom(); y += 4)
        for (int x = badge.left(); x <= badge.right(); x += 4)
            wrong += saved.pixel(2 * x, 2 * y) != qRgb(20, 180, 90);
    EXPECT_EQ(wrong, 0);
}

// Under a compositing manager the screen is the manager's last frame, which
// still holds the badge until the manager draws again. Here the manager is
// held up from before the badge goes until 120 ms after, as a busy one
// would be: the capture must wait for the frame without the badge, and
// still be a clean one once the manager has been slow for good.
TEST_F(CaptureEndToEndX11Test, TheTimedCaptureUnderACompositorLeavesOutTheBadge)
{
    CompositingManager manager;
    ASSERT_TRUE(manager.start()) << manager.error().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([] { return Compositing::isActive(); }, 30000));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect underBadge(screen.center() - QPoint(150, 150), QSize(300, 300));
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({{underBadge, qRgb(20, 180, 90), "Green", {}, {}}}));
    UserDefaults::standard().setInteger("countdownSeconds", 1);
    UserDefaults::standard().setBool("showFloatingPreview", false);
    UserDefaults::standard().setBool("showCaptureFlash", false);
    AppDelegate delegate;
    launch(delegate);
    const QRect badge(screen.center() - QPoint(60, 60), QSize(120, 120));
    auto greenUnderBadge = [&](const QImage &image, int scale) {
        int wrong = 0;
        for (int y = badge.top(); y <= badge.bottom(); y += 4)
            for (int x = badge.left(); x <= badge.right(); x += 4)
                wrong += (image.pixel(scale * x, scale * y) & 0xffffff) != (qRgb(20, 180, 90) & 0xffffff);
        return wrong;
    };
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    auto screenNow = [&] {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_get_image_reply_t *reply = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, uint16_t(screen.width()),
                             uint16_t(screen.height()), ~0u),
            nullptr);
        QImage image;
        if (reply)
            image = QImage(xcb_get_image_data(reply), screen.width(), screen.height(), QImage::Format_RGB32).copy();
        std::free(reply);
        return image;
    };

    delegate.captureTimed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.captureFlows().timerOverlayWindow() != nullptr; }, 30000));
    QTest::qWait(500);
    ASSERT_EQ(::kill(manager.pid(), SIGSTOP), 0);
    // The badge is on screen, so the check on the picture looks at the
    // right place.
    EXPECT_GT(greenUnderBadge(screenNow(), 1), 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.captureFlows().timerOverlayWindow() == nullptr; }, 30000));
    QTest::qWait(120);
    ::kill(manager.pid(), SIGCONT);
    ASSERT_TRUE(QTest::qWaitFor([&] { return savedFiles().size() == 1; }, 30000));
    const QImage saved(shots + "/" + savedFiles().first());
    ASSERT_EQ(saved.size(), screen.size() * 2);
    EXPECT_EQ(greenUnderBadge(saved, 2), 0);
    xcb_disconnect(c);
    manager.stop();
    EXPECT_TRUE(QTest::qWaitFor([] { return !Compositing::isActive(); }, 30000));
}

namespace {

class FadingCaptureEndToEnd : public CaptureEndToEndX11Test,
                              public ::testing::WithParamInterface<CompositingManager::Kind>
{
};

std::string managerName(const ::testing::TestParamInfo<CompositingManager::Kind> &info)
{
    return info.param == CompositingManager::Kind::picomFading ? "picom" : "xcompmgr";
}

// Pixels of a screen-sized picture at scale pixels per point, in area
// (points), that are not the colour, looked at every fourth point.
int otherThan(const QImage &picture, int scale, const QRect &area, QRgb colour)
{
    int wrong = 0;
    for (int y = area.top(); y <= area.bottom(); y += 4)
        for (int x = area.left(); x <= area.right(); x += 4)
            wrong += (picture.pixel(scale * x, scale * y) & 0xffffff) != (colour & 0xffffff);
    return wrong;
}

} // namespace

// Under a manager that fades windows out, the countdown badge fades for
// about a third of a second once hidden: the capture waits until it is
// gone.
TEST_P(FadingCaptureEndToEnd, TheTimedCaptureLeavesOutTheBadgeAndItsFade)
{
    CompositingManager manager(GetParam());
    ASSERT_TRUE(manager.start()) << manager.error().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([] { return Compositing::isActive(); }, 30000));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({{QRect(screen.center() - QPoint(150, 150), QSize(300, 300)), qRgb(20, 180, 90), "Green", {}, {}}}));
    UserDefaults::standard().setInteger("countdownSeconds", 1);
    UserDefaults::standard().setBool("showFloatingPreview", false);
    UserDefaults::standard().setBool("showCaptureFlash", false);
    AppDelegate delegate;
    launch(delegate);

    delegate.captureTimed();
    ASSERT_TRUE(QTest::qWaitFor([&] { return savedFiles().size() == 1; }, 30000));
    const QImage saved(shots + "/" + savedFiles().first());
    ASSERT_EQ(saved.size(), screen.size() * 2);
    EXPECT_EQ(otherThan(saved, 2, QRect(screen.center() - QPoint(60, 60), QSize(120, 120)), qRgb(20, 180, 90)), 0);
    manager.stop();
    EXPECT_TRUE(QTest::qWaitFor([] { return !Compositing::isActive(); }, 3000));
}

// Full Screen chosen in the tray's menu: the menu closes as the entry is
// chosen and fades out; the picture holds what lay beneath it.
TEST_P(FadingCaptureEndToEnd, FullScreenFromTheTrayMenuLeavesOutTheMenu)
{
    CompositingManager manager(GetParam());
    ASSERT_TRUE(manager.start()) << manager.error().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([] { return Compositing::isActive(); }, 30000));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({{QRect(100, 100, 700, 600), qRgb(20, 180, 90), "Green", {}, {}}}));
    UserDefaults::standard().setBool("showFloatingPreview", false);
    UserDefaults::standard().setBool("showCaptureFlash", false);
    AppDelegate delegate;
    launch(delegate);
    ASSERT_NE(delegate.statusItem(), nullptr);
    QMenu *menu = delegate.statusItem()->menu();
    ASSERT_NE(menu, nullptr);

    // The menu as the tray opens it, over the green window.
    menu->popup(QPoint(200, 200));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    QAction *fullScreen = nullptr;
    for (QAction *action : menu->actions())
        if (action->text().startsWith(QStringLiteral("Full Screen")))
            fullScreen = action;
    ASSERT_NE(fullScreen, nullptr);
    const QRect menuArea = menu->geometry();
    ASSERT_TRUE(QRect(100, 100, 700, 600).contains(menuArea));
    const QPoint entry = menu->mapToGlobal(menu->actionGeometry(fullScreen).center());
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    auto screenNow = [&] {
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_get_image_reply_t *reply = xcb_get_image_reply(
            c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, 0, 0, uint16_t(screen.width()),
                             uint16_t(screen.height()), ~0u),
            nullptr);
        QImage image;
        if (reply)
            image = QImage(xcb_get_image_data(reply), screen.width(), screen.height(), QImage::Format_RGB32).copy();
        std::free(reply);
        return image;
    };
    // Faded in: most of its area is not the window's green any more.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const QRect inside = menuArea.adjusted(4, 4, -4, -4);
            return otherThan(screenNow(), 1, inside, qRgb(20, 180, 90))
                >= (inside.width() / 4) * (inside.height() / 4) * 3 / 4;
        },
        10000));
    // (Without --sync, which waits for ever where the pointer already is.)
    xdotool({"mousemove", QString::number(entry.x()), QString::number(entry.y())});
    ASSERT_TRUE(QTest::qWaitFor([&] { return QCursor::pos() == entry; }, 30000));
    xdotool({"click", "1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return savedFiles().size() == 1; }, 30000));
    const QImage saved(shots + "/" + savedFiles().first());
    ASSERT_EQ(saved.size(), screen.size() * 2);
    EXPECT_EQ(otherThan(saved, 2, menuArea, qRgb(20, 180, 90)), 0);
    xcb_disconnect(c);
    manager.stop();
    EXPECT_TRUE(QTest::qWaitFor([] { return !Compositing::isActive(); }, 3000));
}

INSTANTIATE_TEST_SUITE_P(CaptureEndToEndX11, FadingCaptureEndToEnd,
                         ::testing::Values(CompositingManager::Kind::xcompmgrFading,
                                           CompositingManager::Kind::picomFading),
                         managerName);
