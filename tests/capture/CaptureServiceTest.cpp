#include <QCoreApplication>
#include <gtest/gtest.h>

#include "capture/CaptureService.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "support/FakeScreenCapture.h"

namespace {

ShareableWindow makeWindow(quint32 id, const QRectF &frame, std::optional<qint64> pid, bool onScreen = true)
{
    ShareableWindow w;
    w.windowID = id;
    w.frame = frame;
    w.isOnScreen = onScreen;
    if (pid)
        w.owningApplication = OwningApplication{*pid, QStringLiteral("App")};
    return w;
}

ShareableContent twoDisplays()
{
    ShareableContent content;
    content.displays = {ShareableDisplay{0, QStringLiteral("first"), QRect(0, 0, 1440, 900)},
                        ShareableDisplay{1, QStringLiteral("second"), QRect(1440, 0, 1920, 1080)}};
    return content;
}

class CaptureServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::standard().removeObject(QStringLiteral("includeCursor"));
        fake.content = twoDisplays();
    }
    FakeScreenCapture fake;
};

TEST_F(CaptureServiceTest, RegionFailuresAreLoggedFullScreenAndWindowFailuresAreNot)
{
    LogCapture log;
    fake.contentError = QStringLiteral("no X server");
    EXPECT_FALSE(CaptureService::captureRegion(QRectF(0, 0, 10, 10)));
    EXPECT_FALSE(CaptureService::captureFullScreen());
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("[Vorna] captureRegion: SCShareableContent failed: no X server")});

    fake.contentError.clear();
    fake.content.displays.clear();
    EXPECT_FALSE(CaptureService::captureRegion(QRectF(0, 0, 10, 10)));
    EXPECT_FALSE(CaptureService::captureFullScreen());
    EXPECT_EQ(log.lines().size(), 2);
    EXPECT_EQ(log.lines().value(1), QStringLiteral("[Vorna] captureRegion: no displays available"));

    fake.content = twoDisplays();
    fake.captureError = QStringLiteral("BadMatch");
    EXPECT_FALSE(CaptureService::captureRegion(QRectF(0, 0, 10, 10)));
    EXPECT_FALSE(CaptureService::captureFullScreen());
    EXPECT_FALSE(CaptureService::captureWindow(makeWindow(7, QRectF(0, 0, 50, 50), 1)));
    EXPECT_EQ(log.lines().size(), 3);
    EXPECT_EQ(log.lines().value(2), QStringLiteral("[Vorna] captureRegion: captureImage failed: BadMatch"));
}

TEST_F(CaptureServiceTest, WindowListKeepsOtherProgramsOnScreenWindowsOfAtLeast40Points)
{
    const qint64 own = QCoreApplication::applicationPid();
    fake.content.windows = {
        makeWindow(1, QRectF(0, 0, 300, 200), 4242),
        makeWindow(2, QRectF(0, 0, 300, 200), std::nullopt),  // no owner
        makeWindow(3, QRectF(0, 0, 300, 200), own),           // our own
        makeWindow(4, QRectF(0, 0, 300, 200), 4242, false),  // not shown
        makeWindow(5, QRectF(10, 10, 39.9, 40), 4242),
        makeWindow(6, QRectF(10, 10, 40, 39.9), 4242),
        makeWindow(7, QRectF(10, 10, 40, 40), 4243),
    };
    const QList<ShareableWindow> list = CaptureService::listWindows();
    QList<quint32> ids;
    for (const auto &w : list)
        ids.append(w.windowID);
    EXPECT_EQ(ids, (QList<quint32>{1, 7}));
    ASSERT_EQ(fake.contentRequests.size(), 1);
    EXPECT_TRUE(fake.contentRequests[0].excludingDesktopWindows);
    EXPECT_TRUE(fake.contentRequests[0].onScreenWindowsOnly);

    fake.contentError = QStringLiteral("gone");
    EXPECT_TRUE(CaptureService::listWindows().isEmpty());
}

TEST_F(CaptureServiceTest, CapturesAreTwoPixelsPerPointWithTheCursorPreferenceOfTheMoment)
{
    std::optional<QImage> full = CaptureService::captureFullScreen();
    ASSERT_TRUE(full);
    EXPECT_EQ(full->deviceIndependentSize(), QSizeF(1440, 900));
    // The backend's own pixels, given their ratio without a copy.
    EXPECT_EQ(full->constBits(), fake.lastPixels);
    ASSERT_EQ(fake.rectRequests.size(), 1);
    EXPECT_EQ(fake.rectRequests[0].rect, QRectF(0, 0, 1440, 900));
    EXPECT_EQ(fake.rectRequests[0].pixelSize, QSize(2880, 1800));
    EXPECT_FALSE(fake.rectRequests[0].showsCursor);
    EXPECT_FALSE(fake.contentRequests[0].excludingDesktopWindows);

    UserDefaults::standard().setBool(QStringLiteral("includeCursor"), true);
    // On the second screen, given in global coordinates.
    std::optional<QImage> region = CaptureService::captureRegion(QRectF(1500, 50, 300, 200));
    ASSERT_TRUE(region);
    EXPECT_EQ(region->size(), QSize(600, 400));
    EXPECT_EQ(region->deviceIndependentSize(), QSizeF(300, 200));
    EXPECT_EQ(fake.rectRequests[1].rect, QRectF(1500, 50, 300, 200));
    EXPECT_TRUE(fake.rectRequests[1].showsCursor);

    // Truncated, then doubled; the window keeps its alpha.
    std::optional<QImage> window = CaptureService::captureWindow(makeWindow(9, QRectF(5, 5, 100.6, 50.9), 4242));
    ASSERT_TRUE(window);
    EXPECT_EQ(window->size(), QSize(200, 100));
    EXPECT_EQ(window->devicePixelRatio(), 2.0);
    ASSERT_EQ(fake.windowRequests.size(), 1);
    EXPECT_EQ(fake.windowRequests[0].windowID, 9u);
    EXPECT_TRUE(fake.windowRequests[0].showsCursor);
    EXPECT_FALSE(fake.windowRequests[0].opaque);

    UserDefaults::standard().setBool(QStringLiteral("includeCursor"), false);
    ASSERT_TRUE(CaptureService::captureFullScreen());
    EXPECT_FALSE(fake.rectRequests.last().showsCursor);
}

} // namespace
