// The scrolling-capture demonstration: what each step draws, a run from Play
// to its end, Play while running, and the widget destroyed mid-run.
#include "windows/ScrollCaptureAnimationView.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using Phase = ScrollCaptureAnimationView::AnimationPhase;

namespace {

bool isBlue(QColor c)
{
    return c.blue() > c.red() + 80 && c.blue() > c.green() + 40;
}

bool isColoured(QColor c)
{
    return c.hsvSaturation() > 25;
}

// Which page section shows at a pixel: the nearest of the eight colours laid
// over the page's white.
int sectionAt(const ScrollCaptureAnimationView &view, QColor c)
{
    int best = -1;
    double bestDistance = 1e9;
    for (int i = 0; i < view.pageContentColors().size(); ++i) {
        const QColor s = view.pageContentColors()[i];
        const double a = s.alphaF();
        const auto over = [a](int channel) { return channel * a + 255 * (1 - a); };
        const double r = over(s.red()), g = over(s.green()), b = over(s.blue());
        const double d = std::hypot(r - c.red(), g - c.green(), b - c.blue());
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

} // namespace

// Each step as drawn: the selection frame, the flash, the slices in the
// result strip, which sections the viewport shows, and the dots or check.
TEST(HelpDemo, EachStepDrawsItsFrameFlashSlicesAndScroll)
{
    struct Expect
    {
        Phase phase;
        bool frame;
        bool flash;
        int slices;
        int section; // shown 30 points below the viewport's top; -1: flash covers it
        const char *extra;
    };
    const Expect table[] = {
        {Phase::idle, false, false, 0, 2, ""},          {Phase::selectRegion, true, false, 0, 2, ""},
        {Phase::capture1, true, true, 3, -1, ""},       {Phase::scroll1, true, false, 3, 4, ""},
        {Phase::capture2, true, true, 5, -1, ""},       {Phase::scroll2, true, false, 5, 6, ""},
        {Phase::capture3, true, true, 7, -1, ""},       {Phase::stitching, false, false, 7, 6, "dots"},
        {Phase::done, false, false, 8, 6, "check"},
    };
    ScrollCaptureAnimationView view;
    view.resize(view.sizeHint());
    ASSERT_EQ(ScrollCaptureAnimationView::steps().size(), std::size(table));
    EXPECT_FALSE(ScrollCaptureAnimationView::phaseFromValue(9));
    EXPECT_FALSE(ScrollCaptureAnimationView::phaseFromValue(-1));

    const QRectF v = view.viewportRect();
    const QRectF strip = view.resultStripRect();
    EXPECT_EQ(v.size(), QSizeF(180, 170));
    EXPECT_EQ(strip.size(), QSizeF(100, 180));
    int lightness[9] = {};
    for (const Expect &e : table) {
        SCOPED_TRACE(int(e.phase));
        EXPECT_EQ(ScrollCaptureAnimationView::phaseFromValue(int(e.phase)), e.phase);
        view.jumpTo(e.phase);
        EXPECT_EQ(view.phaseCaption(), ScrollCaptureAnimationView::step(e.phase).caption);
        const QImage shot = view.grab().toImage();
        if (const QString out = qEnvironmentVariable("VORNA_RENDER_DIR"); !out.isEmpty())
            shot.save(QStringLiteral("%1/demo-%2.png").arg(out).arg(int(e.phase)));
        const auto at = [&](qreal x, qreal y) { return shot.pixelColor(QPointF(x, y).toPoint()); };

        bool frame = false;
        for (int dy = -6; dy <= 6; ++dy)
            frame |= isBlue(at(v.left() + 3, v.center().y() + dy));
        EXPECT_EQ(frame, e.frame);

        const QColor page = at(v.center().x() - 40, v.top() + 30);
        lightness[int(e.phase)] = page.lightness();
        if (e.section >= 0)
            EXPECT_EQ(sectionAt(view, page), e.section);

        int slices = 0;
        for (int i = 0; i < 8; ++i)
            slices += isColoured(at(strip.left() + 10, strip.top() + 3 + 23.5 * i + 11));
        EXPECT_EQ(slices, e.slices);

        const QColor bottom = at(strip.center().x(), strip.bottom() - 10);
        const QColor checkCentre = at(strip.center().x() + 3, strip.bottom() - 14);
        EXPECT_EQ(std::string(e.extra) == "check", checkCentre.green() > 150 && checkCentre.red() < 100);
        if (std::string(e.extra) == "dots")
            EXPECT_NE(bottom, at(strip.center().x() + 30, strip.bottom() - 10));
    }
    // A capture flashes the page lighter than the step before it.
    EXPECT_GT(lightness[int(Phase::capture1)], lightness[int(Phase::selectRegion)] + 10);
    EXPECT_GT(lightness[int(Phase::capture2)], lightness[int(Phase::scroll1)] + 10);
    EXPECT_GT(lightness[int(Phase::capture3)], lightness[int(Phase::scroll2)] + 10);
}

// One run from Play: every step once, in order and never early, the button
// disabled until two seconds after the last; Play meanwhile starts nothing.
// Play again starts over from idle at once.
TEST(HelpDemo, PlayRunsTheScriptOnceAndPlayWhileRunningIsIgnored)
{
    ScrollCaptureAnimationView view;
    view.resize(view.sizeHint());
    view.setTimeScale(0.05);
    EXPECT_EQ(view.playButton()->text(), "Play Animation");
    QList<std::pair<Phase, qint64>> seen;
    QElapsedTimer clock;
    QObject::connect(&view, &ScrollCaptureAnimationView::phaseChanged, &view,
                     [&](Phase p) { seen.append({p, clock.elapsed()}); });
    QSignalSpy animating(&view, &ScrollCaptureAnimationView::animatingChanged);

    clock.start();
    view.playButton()->click();
    EXPECT_TRUE(view.isAnimating());
    EXPECT_FALSE(view.playButton()->isEnabled());
    EXPECT_EQ(view.playButton()->text(), "Playing...");
    QTest::qWait(60);
    view.play();
    view.playButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isAnimating(); }, 30000));
    const qint64 ended = clock.elapsed();

    ASSERT_EQ(seen.size(), 8);
    for (int i = 0; i < seen.size(); ++i) {
        const auto &step = ScrollCaptureAnimationView::steps()[size_t(i + 1)];
        EXPECT_EQ(seen[i].first, step.phase);
        EXPECT_GE(seen[i].second, qint64(step.startMs * 0.05) - 1) << i;
    }
    EXPECT_GE(ended, qint64((6200 + 2000) * 0.05) - 1);
    EXPECT_EQ(animating.size(), 2);
    EXPECT_EQ(view.phase(), Phase::done);
    EXPECT_TRUE(view.playButton()->isEnabled());
    EXPECT_EQ(view.playButton()->text(), "Play Animation");
    EXPECT_EQ(view.pageOffset(), -152);

    // From done: idle at once, the page scrolls back on its own animation.
    seen.clear();
    view.play();
    EXPECT_EQ(view.phase(), Phase::idle);
    EXPECT_EQ(view.phaseCaption(), "Click Play to see how it works");
    EXPECT_LT(view.pageOffset(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view.isAnimating(); }, 30000));
    ASSERT_EQ(seen.size(), 9);
    EXPECT_EQ(seen[0].first, Phase::idle);
    EXPECT_EQ(seen[1].first, Phase::selectRegion);
}

// Destroying the demonstration mid-run (the help page left for another)
// cancels the rest of its steps.
TEST(HelpDemo, DestroyedMidRunCancelsWhatIsLeft)
{
    QWidget page;
    QPointer<ScrollCaptureAnimationView> view = new ScrollCaptureAnimationView(&page);
    view->setTimeScale(0.05);
    int changes = 0;
    QObject::connect(view, &ScrollCaptureAnimationView::phaseChanged, &page, [&] { ++changes; });
    view->play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->phase() == Phase::capture1; }, 30000));
    const int before = changes;
    delete view;
    // Past the end of the run: nothing more happens, nothing reaches the widget.
    QTest::qWait(600);
    EXPECT_EQ(changes, before);
    EXPECT_TRUE(page.findChildren<QObject *>().isEmpty());
}
