// Scrolling capture end to end on a real X server (the Xvfb of the test
// script, one pixel per point, no window manager): a window shows a long
// page of coloured lines and scrolls it on wheel notches; the capture scrolls
// it through XTest wheel events and stitches the frames.
#include "capture/RegionSelectionController.h"
#include "capture/RegionSelectionWindow.h"
#include "capture/ScrollCaptureService.h"
#include "platform/Compositing.h"
#include "platform/SyntheticInput.h"
#include "support/CompositingManager.h"

#include <QCursor>
#include <QPainter>
#include <QProcess>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// A page of lines four points high, each in its own colour, scrolled 40
// points per wheel notch until its end.
class PageView : public QWidget
{
public:
    static constexpr int pageHeight = 1200;
    static constexpr int lineHeight = 4;
    static constexpr int step = 40;

    PageView()
    {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    static QColor lineColour(int line)
    {
        return QColor((line * 97 + 13) % 251, (line * 53 + 7) % 256, (line * 29 + 101) % 256);
    }
    // The page itself, from its top.
    static void paintPage(QPainter &p, int width)
    {
        for (int line = 0; line * lineHeight < pageHeight; ++line)
            p.fillRect(0, line * lineHeight, width, lineHeight, lineColour(line));
    }

    // A sticky band: blocks of colour that never scroll.
    static void paintBand(QPainter &p, int width, int height, int seed)
    {
        if (height <= 0)
            return;
        p.fillRect(0, 0, width, height, QColor(230, 230, 235));
        for (int x = 8, i = 0; x + 30 < width; x += 46, ++i)
            p.fillRect(x, 6, 30, height - 12, lineColour(seed + i * 7));
    }

    int offset = 0;
    int notches = 0;
    int header = 0; // points at the top that stay put
    int footer = 0; // points at the bottom that stay put

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const int viewport = height() - header - footer;
        p.save();
        p.setClipRect(0, header, width(), viewport);
        p.translate(0, header - offset);
        paintPage(p, width());
        p.restore();
        paintBand(p, width(), header, 3);
        p.translate(0, height() - footer);
        paintBand(p, width(), footer, 11);
    }
    void wheelEvent(QWheelEvent *event) override
    {
        if (event->angleDelta().y() < 0) {
            ++notches;
            offset = std::min(offset + step, pageHeight - (height() - header - footer));
            repaint();
        }
        event->accept();
    }
};

} // namespace

TEST(ScrollCaptureX11, StitchesTheWholePageRowForRow)
{
    PageView page;
    page.setGeometry(100, 100, 400, 300);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    QTest::qWait(200);

    // The pointer rests away from the page and comes back there each time.
    QCursor::setPos(1000, 700);
    QTest::qWait(50);
    const QPoint pointer = QCursor::pos();

    // One notch through XTest moves the page.
    ASSERT_TRUE(SyntheticInput::scrollWheelNotch(QPointF(300, 250)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.notches == 1; }, 30000));
    EXPECT_EQ(page.offset, 40);
    EXPECT_EQ(QCursor::pos(), pointer);
    page.offset = 0;
    page.notches = 0;
    page.repaint();
    QTest::qWait(100);

    ScrollCaptureService service;
    std::optional<std::optional<QImage>> result;
    service.startScrollCapture(QRectF(100, 100, 400, 300), [&](std::optional<QImage> image) { result = image; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 60000));
    ASSERT_TRUE(result->has_value());
    const QImage stitched = result->value().convertToFormat(QImage::Format_RGB32);

    // 900 points of scrolling, 40 at a time: 23 notches reach the end, one
    // more shows nothing new and ends the capture.
    EXPECT_EQ(page.notches, 24);
    EXPECT_EQ(page.offset, 900);
    EXPECT_EQ(QCursor::pos(), pointer);

    // The page's own rendering at two pixels per point.
    QImage expected(800, 2 * PageView::pageHeight, QImage::Format_RGB32);
    {
        QPainter p(&expected);
        p.scale(2, 2);
        PageView::paintPage(p, 400);
    }
    ASSERT_EQ(stitched.size(), expected.size());
    int wrongRows = 0;
    for (int y = 0; y < expected.height(); ++y)
        wrongRows += std::memcmp(stitched.constScanLine(y), expected.constScanLine(y), 800 * 4) != 0;
    EXPECT_EQ(wrongRows, 0);
}

// A page under a sticky header and above a sticky footer: the bands appear
// once, at the top and at the bottom, and the page between them whole.
TEST(ScrollCaptureX11, StitchesAPageBetweenStickyBandsOnce)
{
    PageView page;
    page.header = 30;
    page.footer = 20;
    page.setGeometry(100, 100, 400, 300);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    QTest::qWait(200);
    QCursor::setPos(1000, 700);

    ScrollCaptureService service;
    std::optional<std::optional<QImage>> result;
    service.startScrollCapture(QRectF(100, 100, 400, 300), [&](std::optional<QImage> image) { result = image; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 60000));
    ASSERT_TRUE(result->has_value());
    const QImage stitched = result->value().convertToFormat(QImage::Format_RGB32);

    // 950 points of scrolling in a viewport of 250: 24 notches reach the end.
    EXPECT_EQ(page.offset, 950);
    EXPECT_EQ(page.notches, 25);

    QImage expected(800, 2 * (30 + PageView::pageHeight + 20), QImage::Format_RGB32);
    {
        QPainter p(&expected);
        p.scale(2, 2);
        PageView::paintBand(p, 400, 30, 3);
        p.translate(0, 30);
        PageView::paintPage(p, 400);
        p.translate(0, PageView::pageHeight);
        PageView::paintBand(p, 400, 20, 11);
    }
    ASSERT_EQ(stitched.size(), expected.size());
    int wrongRows = 0;
    for (int y = 0; y < expected.height(); ++y)
        wrongRows += std::memcmp(stitched.constScanLine(y), expected.constScanLine(y), 800 * 4) != 0;
    EXPECT_EQ(wrongRows, 0);
}

namespace {

class FadingScrollCapture : public ::testing::TestWithParam<CompositingManager::Kind>
{
};

std::string managerName(const ::testing::TestParamInfo<CompositingManager::Kind> &info)
{
    return info.param == CompositingManager::Kind::picomFading ? "picom" : "xcompmgr";
}

bool xdotool(const QStringList &args)
{
    return QProcess::execute("xdotool", args) == 0;
}

} // namespace

// The region is chosen in the overlay, as a person does; under a manager
// that fades the overlay out, the first frame is read once it is gone, so
// the top of the picture is the page, not the overlay's dimming and frame.
TEST_P(FadingScrollCapture, TheFirstFrameIsReadWithoutTheOverlay)
{
    CompositingManager manager(GetParam());
    ASSERT_TRUE(manager.start()) << manager.error().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([] { return Compositing::isActive(); }, 30000));
    {
        PageView page;
        page.setGeometry(100, 50, 400, 800);
        page.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));

        RegionSelectionController selector;
        ScrollCaptureService service;
        std::optional<std::optional<QImage>> result;
        selector.start([&](std::optional<QRectF> rect) {
            if (rect)
                service.startScrollCapture(*rect, [&](std::optional<QImage> image) { result = image; });
            else
                result.emplace();
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return selector.windows().size() == 1; }, 30000));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(selector.windows().first()));
        QTest::qWait(600); // the overlay fades in
        ASSERT_TRUE(xdotool({"mousemove", "--sync", "100", "50"}));
        ASSERT_TRUE(xdotool({"mousedown", "1"}));
        ASSERT_TRUE(xdotool({"mousemove", "--sync", "300", "400"}));
        ASSERT_TRUE(xdotool({"mousemove", "--sync", "500", "850"}));
        ASSERT_TRUE(xdotool({"mouseup", "1"}));
        ASSERT_TRUE(xdotool({"mousemove", "--sync", "1000", "700"}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 60000));
        ASSERT_TRUE(result->has_value());
        const QImage stitched = result->value().convertToFormat(QImage::Format_RGB32);

        QImage expected(800, 2 * PageView::pageHeight, QImage::Format_RGB32);
        {
            QPainter p(&expected);
            p.scale(2, 2);
            PageView::paintPage(p, 400);
        }
        ASSERT_EQ(stitched.size(), expected.size());
        int wrongRows = 0;
        for (int y = 0; y < expected.height(); ++y)
            wrongRows += std::memcmp(stitched.constScanLine(y), expected.constScanLine(y), 800 * 4) != 0;
        EXPECT_EQ(wrongRows, 0);
    }
    manager.stop();
    EXPECT_TRUE(QTest::qWaitFor([] { return !Compositing::isActive(); }, 3000));
}

INSTANTIATE_TEST_SUITE_P(ScrollCaptureX11, FadingScrollCapture,
                         ::testing::Values(CompositingManager::Kind::xcompmgrFading,
                                           CompositingManager::Kind::picomFading),
                         managerName);
