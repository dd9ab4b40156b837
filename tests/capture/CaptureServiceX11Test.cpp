// Captures on a real X server (the Xvfb of the test script, 1440 x 900 at one
// pixel per point) with windows of known colours.
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <gtest/gtest.h>

#include <xcb/composite.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <functional>

#include "capture/CaptureService.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "platform/X11ScreenCapture.h"
#include "support/CompositingManager.h"
#include "support/X11TestWindows.h"

namespace {

constexpr QRgb kRed = 0xffff0000;
constexpr QRgb kBlue = 0xff0000ff;
constexpr QRgb kGreen = 0xff00ff00;
constexpr QRgb kYellow = 0xffffff00;
constexpr QRgb kMagenta = 0xffff00ff;
constexpr QRgb kCyan = 0xff00ffff;

xcb_connection_t *qtConnection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootWindow(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

void sync(xcb_connection_t *c)
{
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

xcb_atom_t intern(xcb_connection_t *c, const char *name)
{
    auto *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

bool waitUntil(const std::function<bool()> &done, int timeoutMs = 5000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

void movePointer(int x, int y)
{
    xcb_connection_t *c = qtConnection();
    xcb_warp_pointer(c, XCB_NONE, rootWindow(c), 0, 0, 0, 0, int16_t(x), int16_t(y));
    sync(c);
}

// Pixels of an image (in pixel coordinates) that differ from a colour.
int countOther(const QImage &image, const QRect &area, QRgb color)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) != color;
    return n;
}

X11TestWindows::Spec window(const QRect &rect, QRgb color, const QByteArray &title = {},
                            const QByteArray &wmClass = {})
{
    X11TestWindows::Spec s;
    s.rect = rect;
    s.color = color;
    s.title = title;
    s.wmClass = wmClass;
    return s;
}

const ShareableWindow *findWindow(const QList<ShareableWindow> &list, quint32 id)
{
    for (const auto &w : list)
        if (w.windowID == id)
            return &w;
    return nullptr;
}

// Two screens on the root window: A, 720 x 900 points at one pixel per
// point, and B to its right, 360 x 450 points at two pixels per point (root
// pixels 720..1439).
QList<X11ScreenCapture::Screen> twoScreens()
{
    return {{QStringLiteral("A"), QRect(0, 0, 720, 900), QRect(0, 0, 720, 900)},
            {QStringLiteral("B"), QRect(720, 0, 360, 450), QRect(720, 0, 720, 900)}};
}

class CaptureServiceX11 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
        ASSERT_NE(qtConnection(), nullptr);
        UserDefaults::standard().removeObject(QStringLiteral("includeCursor"));
        // The pointer well away from everything the tests look at.
        movePointer(1400, 880);
    }
};

TEST_F(CaptureServiceX11, FullScreenIsTheFirstDisplayAtTwoPixelsPerPoint)
{
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(100, 50, 200, 100), kRed)}));

    const std::optional<QImage> image = CaptureService::captureFullScreen();
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(2880, 1800));
    EXPECT_EQ(image->devicePixelRatio(), 2.0);
    EXPECT_EQ(image->deviceIndependentSize(), QSizeF(1440, 900));

    // The red window covers points 100..299 x 50..149, so pixels 200..599 x 100..299.
    EXPECT_EQ(countOther(*image, QRect(200, 100, 400, 200), kRed), 0);
    EXPECT_NE(image->pixel(199, 150), kRed);
    EXPECT_NE(image->pixel(600, 150), kRed);
    EXPECT_NE(image->pixel(300, 99), kRed);
    EXPECT_NE(image->pixel(300, 300), kRed);
}

TEST_F(CaptureServiceX11, RegionComesFromThePixelsUnderIt)
{
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(100, 50, 200, 100), kRed), window(QRect(300, 50, 200, 100), kBlue)}));

    // Half over the red window, half over the blue one.
    const std::optional<QImage> image = CaptureService::captureRegion(QRectF(250, 60, 100, 40));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(200, 80));
    EXPECT_EQ(image->deviceIndependentSize(), QSizeF(100, 40));
    EXPECT_EQ(countOther(*image, QRect(0, 0, 100, 80), kRed), 0);
    EXPECT_EQ(countOther(*image, QRect(100, 0, 100, 80), kBlue), 0);

    // A rectangle reaching past the screen is not clipped: the part no
    // screen shows is transparent.
    const std::optional<QImage> edge = CaptureService::captureRegion(QRectF(1420, 60, 40, 10));
    ASSERT_TRUE(edge.has_value());
    EXPECT_EQ(edge->size(), QSize(80, 20));
    EXPECT_EQ(qAlpha(edge->pixel(10, 10)), 255);
    EXPECT_EQ(qAlpha(edge->pixel(70, 10)), 0);
}

TEST_F(CaptureServiceX11, RegionOnASecondScreenShowsThatScreen)
{
    X11ScreenCapture layout(twoScreens());
    ASSERT_TRUE(layout.isConnected());
    ScreenCapture::setCurrent(&layout);
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(690, 40, 30, 60), kYellow), window(QRect(720, 80, 200, 120), kGreen)}));

    // Points 740..789 x 50..79 on B are root pixels 760..859 x 100..159: green.
    std::optional<QImage> image = CaptureService::captureRegion(QRectF(740, 50, 50, 30));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(100, 60));
    EXPECT_EQ(countOther(*image, image->rect(), kGreen), 0);

    // Straddling both: the left half from A (yellow), the right from B (green).
    image = CaptureService::captureRegion(QRectF(700, 50, 40, 20));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(80, 40));
    EXPECT_EQ(countOther(*image, QRect(0, 0, 40, 40), kYellow), 0);
    EXPECT_EQ(countOther(*image, QRect(40, 0, 40, 40), kGreen), 0);

    // The whole of B at two pixels per point needs no scaling.
    const std::optional<ShareableContent> content = layout.shareableContent(false, true);
    ASSERT_TRUE(content.has_value());
    ASSERT_EQ(content->displays.size(), 2);
    EXPECT_EQ(content->displays[1].frame, QRect(720, 0, 360, 450));
    const QImage b = layout.captureRect(QRectF(content->displays[1].frame), QSize(720, 900), false);
    EXPECT_EQ(b.size(), QSize(720, 900));
    EXPECT_EQ(countOther(b, QRect(0, 80, 200, 120), kGreen), 0);
    ScreenCapture::setCurrent(nullptr);
}

TEST_F(CaptureServiceX11, FailuresOnTheCaptureThreadGiveNothingAndARegionsIsLogged)
{
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(400, 300, 120, 80), kMagenta, "magenta", QByteArray("m\0M\0", 4))}));
    const QList<ShareableWindow> list = CaptureService::listWindows();
    const ShareableWindow *magenta = findWindow(list, windows.ids()[0]);
    ASSERT_NE(magenta, nullptr);
    const ShareableWindow gone = *magenta;
    windows.close();
    EXPECT_FALSE(CaptureService::captureWindow(gone).has_value());

    LogCapture log;
    EXPECT_FALSE(CaptureService::captureRegion(QRectF(10, 10, 0, 0)).has_value());
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("[Vorna] captureRegion: captureImage failed: the rectangle is empty")});
}

TEST_F(CaptureServiceX11, WindowWithoutCompositorIsItsAreaOfTheScreen)
{
    X11ScreenCapture backend;
    ASSERT_FALSE(backend.compositorRunning());
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(400, 300, 120, 80), kMagenta, "magenta", QByteArray("m\0M\0", 4)),
                              window(QRect(460, 340, 100, 100), kCyan, "cyan", QByteArray("c\0C\0", 4))}));
    const QList<ShareableWindow> list = CaptureService::listWindows();
    const ShareableWindow *magenta = findWindow(list, windows.ids()[0]);
    ASSERT_NE(magenta, nullptr);
    EXPECT_EQ(magenta->frame, QRectF(400, 300, 120, 80));

    const std::optional<QImage> image = CaptureService::captureWindow(*magenta);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(240, 160));
    EXPECT_EQ(image->deviceIndependentSize(), QSizeF(120, 80));
    // The upper part is the window; its lower right quarter is covered by
    // the cyan one, and the screen shows cyan there.
    EXPECT_EQ(countOther(*image, QRect(0, 0, 240, 80), kMagenta), 0);
    EXPECT_EQ(countOther(*image, QRect(120, 80, 120, 80), kCyan), 0);
}

TEST_F(CaptureServiceX11, WindowWithCompositorIsTheWindowAlone)
{
    // Play compositing manager: own the _NET_WM_CM_S0 selection and keep
    // every top-level window in a pixmap of its own.
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(c));
    const xcb_window_t root = rootWindow(c);
    std::free(xcb_composite_query_version_reply(c, xcb_composite_query_version(c, 0, 4), nullptr));
    xcb_composite_redirect_subwindows(c, root, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    const xcb_window_t owner = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, owner, root, -10, -10, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, owner, intern(c, "_NET_WM_CM_S0"), XCB_CURRENT_TIME);
    sync(c);

    X11ScreenCapture backend;
    EXPECT_TRUE(backend.compositorRunning());
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(400, 300, 120, 80), kMagenta, "magenta", QByteArray("m\0M\0", 4)),
                              window(QRect(460, 340, 100, 100), kCyan, "cyan", QByteArray("c\0C\0", 4))}));
    const QList<ShareableWindow> list = CaptureService::listWindows();
    const ShareableWindow *magenta = findWindow(list, windows.ids()[0]);
    ASSERT_NE(magenta, nullptr);
    std::optional<QImage> image;
    // The covered part too is the window's own colour.
    EXPECT_TRUE(waitUntil([&] {
        image = CaptureService::captureWindow(*magenta);
        return image && countOther(*image, image->rect(), kMagenta) == 0;
    }));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(240, 160));

    windows.close();
    xcb_disconnect(c);
}

TEST_F(CaptureServiceX11, WindowThatDrawsItsOwnFrameIsListedAndCapturedWithoutItsShadow)
{
    CompositingManager compositor;
    ASSERT_TRUE(compositor.start()) << compositor.error().toStdString();
    ASSERT_TRUE(X11ScreenCapture().compositorRunning());

    // 400 x 300 pixels of content in a shadow as a GTK program draws it
    // (left 26, right 26, top 23, bottom 29), over a window that would show
    // through the shadow; the same kind of window inside a frame window, as
    // a reparenting window manager keeps it; and a plain window.
    X11TestWindows::Spec drawn = window(QRect(300, 200, 452, 352), kMagenta, "drawn frame", QByteArray("d\0D\0", 4));
    drawn.frameExtents = QMargins(26, 23, 26, 29);
    drawn.transparentMargin = true;
    X11TestWindows::Spec managed = drawn;
    managed.color = kGreen;
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(280, 180, 500, 400), kYellow, "under", QByteArray("u\0U\0", 4)), drawn,
                              window(QRect(900, 200, 200, 150), kCyan, "plain", QByteArray("p\0P\0", 4)),
                              managed}));
    const QList<quint32> ids = windows.ids();

    xcb_connection_t *c = qtConnection();
    struct Frame
    {
        xcb_connection_t *c;
        xcb_window_t id;
        ~Frame()
        {
            xcb_destroy_window(c, id);
            sync(c);
        }
    } frame{c, xcb_generate_id(c)};
    const uint32_t grey[] = {0x808080};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, frame.id, rootWindow(c), 700, 450, 462, 362, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL, grey);
    xcb_map_window(c, frame.id);
    xcb_reparent_window(c, ids[3], frame.id, 5, 5);
    const uint32_t normalState[] = {1, XCB_NONE};
    const xcb_atom_t wmState = intern(c, "WM_STATE");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[3], wmState, wmState, 32, 2, normalState);
    sync(c);

    const QList<ShareableWindow> list = CaptureService::listWindows();
    const ShareableWindow *framed = findWindow(list, ids[1]);
    const ShareableWindow *plain = findWindow(list, ids[2]);
    const ShareableWindow *inFrame = findWindow(list, ids[3]);
    ASSERT_NE(framed, nullptr);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(inFrame, nullptr);
    EXPECT_EQ(framed->frame, QRectF(326, 223, 400, 300));
    EXPECT_EQ(plain->frame, QRectF(900, 200, 200, 150));
    EXPECT_EQ(inFrame->frame, QRectF(731, 478, 400, 300));

    // Through the compositor: the content alone, its colour to every edge.
    std::optional<QImage> image;
    EXPECT_TRUE(waitUntil([&] {
        image = CaptureService::captureWindow(*framed);
        return image && image->size() == QSize(800, 600) && countOther(*image, image->rect(), kMagenta) == 0;
    }));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(800, 600));
    EXPECT_EQ(image->deviceIndependentSize(), QSizeF(400, 300));
    EXPECT_EQ(countOther(*image, image->rect(), kMagenta), 0);

    // Out of the frame window's picture, where the content lies in it.
    EXPECT_TRUE(waitUntil([&] {
        image = CaptureService::captureWindow(*inFrame);
        return image && image->size() == QSize(800, 600) && countOther(*image, image->rect(), kGreen) == 0;
    }));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(800, 600));
    EXPECT_EQ(countOther(*image, image->rect(), kGreen), 0);

    const std::optional<QImage> plainImage = CaptureService::captureWindow(*plain);
    ASSERT_TRUE(plainImage.has_value());
    EXPECT_EQ(plainImage->size(), QSize(400, 300));
    EXPECT_EQ(countOther(*plainImage, plainImage->rect(), kCyan), 0);
}

TEST_F(CaptureServiceX11, FrameExtentsAreReadInTheirOrderAndIgnoredWhenTheyCannotBeMeant)
{
    X11ScreenCapture backend;
    ASSERT_FALSE(backend.compositorRunning());
    // Left 10, right 20, top 5, bottom 15 around a 200 x 100 window whose
    // shadow the bare screen shows black.
    X11TestWindows::Spec drawn = window(QRect(100, 100, 230, 120), kGreen, "drawn", QByteArray("d\0D\0", 4));
    drawn.frameExtents = QMargins(10, 5, 20, 15);
    drawn.transparentMargin = true;
    QList<X11TestWindows::Spec> specs{drawn};
    for (int i = 0; i < 7; ++i)
        specs.append(window(QRect(15 + 203 * i, 400, 200, 100), kBlue, "odd", QByteArray("o\0O\0", 4)));
    X11TestWindows windows;
    ASSERT_TRUE(windows.show(specs));
    const QList<quint32> ids = windows.ids();

    xcb_connection_t *c = qtConnection();
    const xcb_atom_t extents = intern(c, "_GTK_FRAME_EXTENTS");
    const uint32_t fine[] = {10, 10, 10, 10};
    const uint32_t five[] = {10, 10, 10, 10, 10};
    const uint32_t nothingLeft[] = {100, 100, 0, 0};
    const uint32_t minusOne[] = {0xffffffffu, 0, 0, 0};
    // Sixteen bytes, as four cardinals would be, but eight values of 16 bits.
    const uint16_t narrow[] = {10, 0, 10, 0, 10, 0, 10, 0};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[1], extents, XCB_ATOM_INTEGER, 32, 4, fine);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[2], extents, XCB_ATOM_CARDINAL, 32, 3, fine);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[3], extents, XCB_ATOM_CARDINAL, 32, 5, five);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[4], extents, XCB_ATOM_CARDINAL, 32, 4, nothingLeft);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[5], extents, XCB_ATOM_CARDINAL, 32, 4, minusOne);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[6], extents, XCB_ATOM_CARDINAL, 16, 8, narrow);
    // The window manager's extents, as a client can set them on itself.
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[7], intern(c, "_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 32, 4,
                        minusOne);
    // A window manager's decorations around a window that draws its own
    // frame are none of the window a person sees (some managers set them
    // all the same).
    const uint32_t decorations[] = {4, 6, 22, 8};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[0], intern(c, "_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 32, 4,
                        decorations);
    sync(c);

    const QList<ShareableWindow> list = CaptureService::listWindows();
    const ShareableWindow *framed = findWindow(list, ids[0]);
    ASSERT_NE(framed, nullptr);
    EXPECT_EQ(framed->frame, QRectF(110, 105, 200, 100));
    // Without a compositor the screen's pixels: the window's, not the shadow's.
    const std::optional<QImage> image = CaptureService::captureWindow(*framed);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(400, 200));
    EXPECT_EQ(countOther(*image, image->rect(), kGreen), 0);

    // Another type, too few or too many values, margins that leave nothing
    // of the window or stand for a negative number, values of 16 bits, a
    // negative decoration: the window is taken whole, as one that says
    // nothing.
    for (int i = 1; i <= 7; ++i) {
        SCOPED_TRACE(i);
        const ShareableWindow *odd = findWindow(list, ids[i]);
        ASSERT_NE(odd, nullptr);
        EXPECT_EQ(odd->frame, QRectF(15 + 203 * (i - 1), 400, 200, 100));
        const std::optional<QImage> whole = CaptureService::captureWindow(*odd);
        ASSERT_TRUE(whole.has_value());
        EXPECT_EQ(whole->size(), QSize(400, 200));
        EXPECT_EQ(countOther(*whole, whole->rect(), kBlue), 0);
    }
}

TEST_F(CaptureServiceX11, WindowListLeavesOutOwnAndSmallWindowsFrontMostFirst)
{
    QWidget own;
    own.setWindowTitle(QStringLiteral("own window"));
    own.setGeometry(600, 500, 200, 150);
    own.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&own));

    X11TestWindows windows;
    ASSERT_TRUE(windows.show({
        window(QRect(100, 100, 40, 40), kRed, "Größe 40", QByteArray("editor\0Editor\0", 14)),
        window(QRect(200, 100, 39, 40), kBlue, "narrow"),
        window(QRect(300, 100, 40, 39), kBlue, "low"),
        window(QRect(120, 120, 80, 60), kGreen, {}, QByteArray("viewer\0Viewer\0", 14)),
    }));
    const QList<quint32> ids = windows.ids();

    // The backend sees our own window; the service leaves it out.
    const std::optional<ShareableContent> all = ScreenCapture::current().shareableContent(true, true);
    ASSERT_TRUE(all.has_value());
    const ShareableWindow *ownEntry = findWindow(all->windows, quint32(own.winId()));
    ASSERT_NE(ownEntry, nullptr);
    ASSERT_TRUE(ownEntry->owningApplication.has_value());
    EXPECT_EQ(ownEntry->owningApplication->processID, QCoreApplication::applicationPid());

    const QList<ShareableWindow> list = CaptureService::listWindows();
    EXPECT_EQ(findWindow(list, quint32(own.winId())), nullptr);
    EXPECT_EQ(findWindow(list, ids[1]), nullptr);
    EXPECT_EQ(findWindow(list, ids[2]), nullptr);
    // Front-most first: the window shown last comes first.
    QList<quint32> listed;
    for (const auto &w : list)
        listed.append(w.windowID);
    EXPECT_EQ(listed, (QList<quint32>{ids[3], ids[0]}));

    const ShareableWindow *kept = findWindow(list, ids[0]);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->frame, QRectF(100, 100, 40, 40));
    EXPECT_TRUE(kept->isOnScreen);
    EXPECT_EQ(kept->title, QStringLiteral("Größe 40"));
    ASSERT_TRUE(kept->owningApplication.has_value());
    EXPECT_EQ(kept->owningApplication->processID, windows.pid());
    EXPECT_EQ(kept->owningApplication->applicationName, QStringLiteral("Editor"));
    const ShareableWindow *untitled = findWindow(list, ids[3]);
    ASSERT_NE(untitled, nullptr);
    EXPECT_TRUE(untitled->title.isEmpty());
    EXPECT_EQ(untitled->owningApplication->applicationName, QStringLiteral("Viewer"));
}

TEST_F(CaptureServiceX11, WindowOf39Point9PointsIsLeftOut)
{
    // Ten pixels to the point, so a window 399 pixels wide is 39.9 points.
    X11ScreenCapture layout({{QStringLiteral("A"), QRect(0, 0, 144, 90), QRect(0, 0, 1440, 900)}});
    ScreenCapture::setCurrent(&layout);
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(10, 10, 400, 400), kRed), window(QRect(420, 10, 399, 400), kRed),
                              window(QRect(830, 10, 400, 399), kRed)}));
    const QList<ShareableWindow> list = CaptureService::listWindows();
    const ShareableWindow *kept = findWindow(list, windows.ids()[0]);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->frame, QRectF(1, 1, 40, 40));
    EXPECT_EQ(findWindow(list, windows.ids()[1]), nullptr);
    EXPECT_EQ(findWindow(list, windows.ids()[2]), nullptr);

    const std::optional<ShareableContent> all = layout.shareableContent(true, true);
    ASSERT_TRUE(all.has_value());
    const ShareableWindow *narrow = findWindow(all->windows, windows.ids()[1]);
    ASSERT_NE(narrow, nullptr);
    EXPECT_DOUBLE_EQ(narrow->frame.width(), 39.9);
    ScreenCapture::setCurrent(nullptr);
}

TEST_F(CaptureServiceX11, WindowListFollowsTheWindowManagersStackingList)
{
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(100, 100, 200, 200), kRed, "bottom"),
                              window(QRect(150, 150, 200, 200), kBlue, "top"),
                              window(QRect(0, 0, 1440, 900), kGreen, "desktop"),
                              window(QRect(500, 100, 200, 200), kCyan, "minimised")}));
    const QList<quint32> ids = windows.ids();
    xcb_connection_t *c = qtConnection();
    const xcb_window_t root = rootWindow(c);
    const xcb_atom_t stacking = intern(c, "_NET_CLIENT_LIST_STACKING");
    struct Cleanup
    {
        xcb_connection_t *c;
        xcb_window_t root;
        xcb_atom_t atom;
        ~Cleanup()
        {
            xcb_delete_property(c, root, atom);
            sync(c);
        }
    } cleanup{c, root, stacking};

    // Bottom to top as the window manager sees it: desktop, top, bottom, and
    // a minimised window; the top window has a frame of 4 pixels and a 20
    // pixel title bar.
    const uint32_t order[] = {ids[2], ids[1], ids[0], ids[3]};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, stacking, XCB_ATOM_WINDOW, 32, 4, order);
    const xcb_atom_t type = intern(c, "_NET_WM_WINDOW_TYPE");
    const xcb_atom_t desktop = intern(c, "_NET_WM_WINDOW_TYPE_DESKTOP");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[2], type, XCB_ATOM_ATOM, 32, 1, &desktop);
    const xcb_atom_t state = intern(c, "_NET_WM_STATE");
    const xcb_atom_t hidden = intern(c, "_NET_WM_STATE_HIDDEN");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[3], state, XCB_ATOM_ATOM, 32, 1, &hidden);
    const uint32_t extents[] = {4, 4, 20, 4};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, ids[1], intern(c, "_NET_FRAME_EXTENTS"), XCB_ATOM_CARDINAL, 32,
                        4, extents);
    sync(c);

    const QList<ShareableWindow> list = CaptureService::listWindows();
    QList<quint32> listed;
    for (const auto &w : list)
        listed.append(w.windowID);
    EXPECT_EQ(listed, (QList<quint32>{ids[0], ids[1]}));
    const ShareableWindow *top = findWindow(list, ids[1]);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->frame, QRectF(146, 130, 208, 224));

    // The full content keeps the desktop window and the minimised one.
    const std::optional<ShareableContent> all = ScreenCapture::current().shareableContent(false, false);
    ASSERT_TRUE(all.has_value());
    ASSERT_NE(findWindow(all->windows, ids[2]), nullptr);
    const ShareableWindow *minimised = findWindow(all->windows, ids[3]);
    ASSERT_NE(minimised, nullptr);
    EXPECT_FALSE(minimised->isOnScreen);
}

TEST_F(CaptureServiceX11, CursorIsDrawnOnlyWhenAskedFor)
{
    X11TestWindows windows;
    ASSERT_TRUE(windows.show({window(QRect(100, 50, 200, 100), kRed, "red", QByteArray("r\0R\0", 4))}));
    movePointer(200, 100);
    const QList<ShareableWindow> list = CaptureService::listWindows();
    const ShareableWindow *red = findWindow(list, windows.ids()[0]);
    ASSERT_NE(red, nullptr);

    // Around the pointer, in each kind of capture's own pixels.
    const QRect nearPointerFull(360, 160, 80, 80);
    const QRect nearPointerRegion(60, 20, 80, 80);   // region from 150,70
    const QRect nearPointerWindow(160, 60, 80, 80);  // window 100,50

    // Absent key: no cursor.
    std::optional<QImage> full = CaptureService::captureFullScreen();
    std::optional<QImage> region = CaptureService::captureRegion(QRectF(150, 70, 100, 60));
    std::optional<QImage> win = CaptureService::captureWindow(*red);
    ASSERT_TRUE(full && region && win);
    EXPECT_EQ(countOther(*full, nearPointerFull, kRed), 0);
    EXPECT_EQ(countOther(*region, nearPointerRegion, kRed), 0);
    EXPECT_EQ(countOther(*win, nearPointerWindow, kRed), 0);

    // The preference is read at each capture.
    UserDefaults::standard().setBool(QStringLiteral("includeCursor"), true);
    full = CaptureService::captureFullScreen();
    region = CaptureService::captureRegion(QRectF(150, 70, 100, 60));
    win = CaptureService::captureWindow(*red);
    ASSERT_TRUE(full && region && win);
    EXPECT_GT(countOther(*full, nearPointerFull, kRed), 20);
    EXPECT_GT(countOther(*region, nearPointerRegion, kRed), 20);
    EXPECT_GT(countOther(*win, nearPointerWindow, kRed), 20);
    // Nowhere else.
    EXPECT_EQ(countOther(*full, QRect(200, 100, 100, 40), kRed), 0);

    UserDefaults::standard().setBool(QStringLiteral("includeCursor"), false);
    full = CaptureService::captureFullScreen();
    ASSERT_TRUE(full);
    EXPECT_EQ(countOther(*full, nearPointerFull, kRed), 0);
}

} // namespace
