#include "windows/ScrollCaptureAnimationView.h"

#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "windows/HelpBlocks.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVariantAnimation>
#include <cmath>

namespace {

// Sizes in points.
constexpr qreal kShadowMargin = 6;
constexpr qreal kCardPadding = 20;
constexpr qreal kCardSpacing = 24;
constexpr qreal kWindowWidth = 180;
constexpr qreal kWindowFrameHeight = 200;
constexpr qreal kViewportHeight = 170;
constexpr qreal kSectionPitch = 38;
constexpr int kSectionCount = 8;
constexpr qreal kResultWidth = 100;
constexpr qreal kStripHeight = 180;
constexpr qreal kSlicePitch = 23.5;
constexpr qreal kRootSpacing = 12;
constexpr int kStopDelayMs = 2000;

constexpr qreal cardWidth()
{
    return kCardPadding * 2 + kWindowWidth + kCardSpacing + kResultWidth;
}
constexpr qreal cardHeight()
{
    return kCardPadding * 2 + kWindowFrameHeight;
}

QList<QColor> sectionColors()
{
    QList<QColor> colors{QColor(0, 122, 255),  QColor(52, 199, 89),  QColor(255, 149, 0), QColor(175, 82, 222),
                         QColor(255, 45, 85),  QColor(50, 173, 230), QColor(255, 204, 0), QColor(0, 199, 190)};
    for (QColor &c : colors)
        c.setAlphaF(0.3);
    return colors;
}

QFont sizedFont(const QFont &base, qreal pointSize, QFont::Weight weight)
{
    QFont f = base;
    f.setPointSizeF(pointSize);
    f.setWeight(weight);
    return f;
}

QColor withAlpha(QColor c, qreal alpha)
{
    c.setAlphaF(c.alphaF() * alpha);
    return c;
}

} // namespace

const std::array<ScrollCaptureAnimationView::Step, 9> &ScrollCaptureAnimationView::steps()
{
    using P = AnimationPhase;
    static const std::array<Step, 9> table{{
        {P::idle, QT_TRANSLATE_NOOP("Vorna", "Click Play to see how it works"), 0, 0, false, false, 0},
        {P::selectRegion, QT_TRANSLATE_NOOP("Vorna", "Step 1: Select the scrollable region"), 500, 0, true, false, 0},
        {P::capture1, QT_TRANSLATE_NOOP("Vorna", "Step 2: First capture taken"), 1200, 0, true, true, 3},
        {P::scroll1, QT_TRANSLATE_NOOP("Vorna", "Step 3: Auto-scrolling..."), 2000, -76, true, false, 3},
        {P::capture2, QT_TRANSLATE_NOOP("Vorna", "Step 4: Second capture taken"), 2800, -76, true, true, 5},
        {P::scroll2, QT_TRANSLATE_NOOP("Vorna", "Step 5: Scrolling more..."), 3600, -152, true, false, 5},
        {P::capture3, QT_TRANSLATE_NOOP("Vorna", "Step 6: Third capture taken"), 4400, -152, true, true, 7},
        {P::stitching, QT_TRANSLATE_NOOP("Vorna", "Step 7: Stitching images together..."), 5200, -152, false, false, 7},
        {P::done, QT_TRANSLATE_NOOP("Vorna", "Done! Full-length screenshot ready"), 6200, -152, false, false, 8},
    }};
    return table;
}

const ScrollCaptureAnimationView::Step &ScrollCaptureAnimationView::step(AnimationPhase phase)
{
    return steps()[size_t(phase)];
}

std::optional<ScrollCaptureAnimationView::AnimationPhase> ScrollCaptureAnimationView::phaseFromValue(int value)
{
    if (value < 0 || value >= int(steps().size()))
        return std::nullopt;
    return AnimationPhase(value);
}

ScrollCaptureAnimationView::ScrollCaptureAnimationView(QWidget *parent)
    : QWidget(parent)
    , m_pageContentColors(sectionColors())
    , m_offsetAnimation(makeAnimation(&m_offset))
    , m_frameAnimation(makeAnimation(&m_frameOpacity))
    , m_flashAnimation(makeAnimation(&m_flashOpacity))
    , m_dotsAnimation(makeAnimation(&m_dotsOpacity))
    , m_checkAnimation(makeAnimation(&m_checkProgress))
    , m_sliceAnimation(makeAnimation(&m_sliceProgress))
    , m_captionAnimation(makeAnimation(&m_captionProgress))
    , m_playButton(new QPushButton(this))
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_playButton->setFont(HelpStyle::font(font(), HelpStyle::Role::caption));
    connect(m_playButton, &QPushButton::clicked, this, &ScrollCaptureAnimationView::play);
    setAnimating(false);
}

ScrollCaptureAnimationView::~ScrollCaptureAnimationView() = default;

QVariantAnimation *ScrollCaptureAnimationView::makeAnimation(double *value)
{
    auto *animation = new QVariantAnimation(this);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation, &QVariantAnimation::valueChanged, this, [this, value](const QVariant &v) {
        *value = v.toDouble();
        update();
    });
    return animation;
}

QString ScrollCaptureAnimationView::phaseCaption() const
{
    return localized(step(m_phase).caption);
}

int ScrollCaptureAnimationView::scaled(int ms) const
{
    return int(std::lround(ms * m_timeScale));
}

void ScrollCaptureAnimationView::animate(QVariantAnimation *animation, double &value, double target, int ms)
{
    animation->stop();
    const int duration = scaled(ms);
    if (duration <= 0 || value == target) {
        value = target;
        update();
        return;
    }
    animation->setStartValue(value);
    animation->setEndValue(target);
    animation->setDuration(duration);
    animation->start();
}

void ScrollCaptureAnimationView::play()
{
    if (m_isAnimating)
        return;
    setAnimating(true);
    setPhase(AnimationPhase::idle, false);
    // Every step is scheduled now, each at its own time after Play. The
    // timers belong to this widget and end with it.
    for (const Step &s : steps()) {
        const AnimationPhase phase = s.phase;
        QTimer::singleShot(scaled(s.startMs), this, [this, phase] {
            setPhase(phase, true);
            if (phase == AnimationPhase::done)
                QTimer::singleShot(scaled(kStopDelayMs), this, [this] { setAnimating(false); });
        });
    }
}

void ScrollCaptureAnimationView::jumpTo(AnimationPhase phase)
{
    setPhase(phase, false);
    for (QVariantAnimation *a : {m_offsetAnimation, m_frameAnimation, m_flashAnimation, m_dotsAnimation,
                                 m_checkAnimation, m_sliceAnimation, m_captionAnimation})
        if (a->state() == QAbstractAnimation::Running)
            a->setCurrentTime(a->duration());
    update();
}

void ScrollCaptureAnimationView::setAnimating(bool animating)
{
    const bool changed = m_isAnimating != animating;
    m_isAnimating = animating;
    m_playButton->setEnabled(!animating);
    m_playButton->setText(animating ? localized("Playing...") : localized("Play Animation"));
    m_playButton->setIcon(SymbolIcon::make(animating ? QStringLiteral("play.fill") : QStringLiteral("play.circle")));
    m_playButton->adjustSize();
    resizeEvent(nullptr);
    if (changed)
        emit animatingChanged(animating);
}

void ScrollCaptureAnimationView::setPhase(AnimationPhase phase, bool inTransaction)
{
    const Step &from = step(m_phase);
    const Step &to = step(phase);
    const bool changed = phase != m_phase;
    if (changed)
        m_previousCaption = phaseCaption();
    m_phase = phase;

    // Parts bound to their own value animate whenever that value changes.
    animate(m_offsetAnimation, m_offset, to.pageOffset, 600);
    if (from.resultSlices != to.resultSlices) {
        m_slicesFrom = from.resultSlices;
        m_slicesTo = to.resultSlices;
        m_sliceProgress = 0;
        animate(m_sliceAnimation, m_sliceProgress, 1, 300);
    }
    if (changed) {
        m_captionProgress = 0;
        animate(m_captionAnimation, m_captionProgress, 1, 200);
    }
    // The rest fades with the step's own transaction, or switches at once.
    const int fade = inTransaction ? 300 : 0;
    animate(m_frameAnimation, m_frameOpacity, to.selectionFrame ? 1 : 0, fade);
    animate(m_flashAnimation, m_flashOpacity, to.captureFlash ? 1 : 0, fade);
    animate(m_dotsAnimation, m_dotsOpacity, phase == AnimationPhase::stitching ? 1 : 0, fade);
    animate(m_checkAnimation, m_checkProgress, phase == AnimationPhase::done ? 1 : 0, fade);
    update();
    if (changed)
        emit phaseChanged(phase);
}

QSize ScrollCaptureAnimationView::sizeHint() const
{
    const qreal caption = QFontMetricsF(HelpStyle::font(font(), HelpStyle::Role::caption)).height();
    const QSize button = m_playButton->sizeHint();
    const qreal height =
        kShadowMargin + cardHeight() + kRootSpacing + caption + kRootSpacing + button.height() + kShadowMargin;
    return QSize(int(std::ceil(cardWidth() + 2 * kShadowMargin)), int(std::ceil(height)));
}

QRectF ScrollCaptureAnimationView::cardRect() const
{
    return QRectF((width() - cardWidth()) / 2, kShadowMargin, cardWidth(), cardHeight());
}

qreal ScrollCaptureAnimationView::titleBarHeight() const
{
    const qreal text = QFontMetricsF(sizedFont(font(), 8, QFont::Normal)).height();
    return std::max<qreal>(8, text) + 8;
}

QRectF ScrollCaptureAnimationView::windowRect() const
{
    const QRectF card = cardRect();
    const qreal height = titleBarHeight() + kViewportHeight;
    return QRectF(card.left() + kCardPadding, card.top() + kCardPadding + (kWindowFrameHeight - height) / 2,
                  kWindowWidth, height);
}

QRectF ScrollCaptureAnimationView::viewportRect() const
{
    const QRectF window = windowRect();
    return QRectF(window.left(), window.top() + titleBarHeight(), kWindowWidth, kViewportHeight);
}

QRectF ScrollCaptureAnimationView::resultStripRect() const
{
    const QRectF card = cardRect();
    const qreal label = QFontMetricsF(sizedFont(font(), 9, QFont::DemiBold)).height();
    const qreal column = label + 4 + kStripHeight;
    return QRectF(card.left() + kCardPadding + kWindowWidth + kCardSpacing,
                  card.top() + kCardPadding + (kWindowFrameHeight - column) / 2 + label + 4, kResultWidth,
                  kStripHeight);
}

void ScrollCaptureAnimationView::resizeEvent(QResizeEvent *)
{
    const QSize button = m_playButton->sizeHint();
    const qreal caption = QFontMetricsF(HelpStyle::font(font(), HelpStyle::Role::caption)).height();
    const qreal top = cardRect().bottom() + kRootSpacing + caption + kRootSpacing;
    m_playButton->setGeometry(int((width() - button.width()) / 2), int(top), button.width(), button.height());
}

void ScrollCaptureAnimationView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();

    // The card with a soft shadow below it.
    const QRectF card = cardRect();
    for (int i = 4; i >= 1; --i) {
        QPainterPath shadow;
        shadow.addRoundedRect(card.translated(0, 2).adjusted(-i, -i, i, i), 12 + i, 12 + i);
        p.fillPath(shadow, QColor(0, 0, 0, int(255 * 0.1 / 4 * (5 - i) / 2.5)));
    }
    QPainterPath cardShape;
    cardShape.addRoundedRect(card, 12, 12);
    p.fillPath(cardShape, pal.color(QPalette::Base));

    paintWindow(p);
    paintResult(p);

    // The caption, the old one fading into the new.
    const QFont captionFont = [&] {
        QFont f = HelpStyle::font(font(), HelpStyle::Role::caption);
        f.setBold(true);
        return f;
    }();
    p.setFont(captionFont);
    const QRectF captionRect(0, card.bottom() + kRootSpacing, width(), QFontMetricsF(captionFont).height());
    const QColor tint = HelpStyle::tint(pal);
    if (m_captionProgress < 1 && !m_previousCaption.isEmpty()) {
        p.setPen(withAlpha(tint, 1 - m_captionProgress));
        p.drawText(captionRect, Qt::AlignCenter, m_previousCaption);
    }
    p.setPen(withAlpha(tint, m_captionProgress));
    p.drawText(captionRect, Qt::AlignCenter, phaseCaption());
}

void ScrollCaptureAnimationView::paintWindow(QPainter &p) const
{
    const QPalette pal = palette();
    const QRectF window = windowRect();
    QPainterPath shape;
    shape.addRoundedRect(window, 6, 6);
    p.save();
    p.setClipPath(shape);

    // Title bar: three dots, the page's name centred in the rest.
    const qreal bar = titleBarHeight();
    p.fillRect(QRectF(window.left(), window.top(), window.width(), bar), pal.color(QPalette::Window));
    const QColor dots[3] = {QColor(255, 95, 87), QColor(254, 188, 46), QColor(40, 200, 64)};
    qreal x = window.left() + 6;
    p.setPen(Qt::NoPen);
    for (const QColor &c : dots) {
        p.setBrush(c);
        p.drawEllipse(QRectF(x, window.top() + (bar - 8) / 2, 8, 8));
        x += 12;
    }
    p.setFont(sizedFont(font(), 8, QFont::Normal));
    p.setPen(HelpStyle::secondary(pal));
    p.drawText(QRectF(x, window.top(), window.right() - 6 - x, bar), Qt::AlignCenter, localized("webpage.html"));

    // The page, scrolled by the current offset.
    const QRectF viewport = viewportRect();
    p.setClipRect(viewport, Qt::IntersectClip);
    p.fillRect(viewport, QColor(255, 255, 255, int(255 * 0.95)));
    const qreal columnTop = viewport.top() + (kViewportHeight - kSectionPitch * kSectionCount) / 2 + m_offset;
    const QFont sectionFont = sizedFont(font(), 7, QFont::Medium);
    p.setFont(sectionFont);
    for (int i = 0; i < kSectionCount; ++i) {
        const QRectF section(viewport.left() + 4, columnTop + i * kSectionPitch + 1, viewport.width() - 8,
                             kSectionPitch - 2);
        if (!section.intersects(viewport))
            continue;
        QPainterPath block;
        block.addRoundedRect(section, 2, 2);
        p.fillPath(block, m_pageContentColors[i]);
        p.setPen(withAlpha(pal.color(QPalette::Text), 0.6));
        p.drawText(section, Qt::AlignCenter, localized("Section %1").arg(i + 1));
    }

    if (m_frameOpacity > 0) {
        QPen pen(withAlpha(QColor(0, 122, 255), m_frameOpacity), 2);
        pen.setDashPattern({2.5, 1.5}); // 5 on, 3 off at width 2
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        pen.setMiterLimit(10);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(viewport.adjusted(3, 3, -3, -3), 2, 2); // the line's middle, 2 in from the edge
    }
    if (m_flashOpacity > 0)
        p.fillRect(viewport, QColor(255, 255, 255, int(255 * 0.6 * m_flashOpacity)));
    p.restore();

    p.setPen(QPen(QColor(128, 128, 128, int(255 * 0.3)), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(window.adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

void ScrollCaptureAnimationView::paintResult(QPainter &p) const
{
    const QPalette pal = palette();
    const QRectF strip = resultStripRect();
    const QFont labelFont = sizedFont(font(), 9, QFont::DemiBold);
    const qreal labelHeight = QFontMetricsF(labelFont).height();
    p.setFont(labelFont);
    p.setPen(HelpStyle::secondary(pal));
    p.drawText(QRectF(strip.left(), strip.top() - 4 - labelHeight, strip.width(), labelHeight), Qt::AlignCenter,
               localized("Result"));

    QPainterPath background;
    background.addRoundedRect(strip, 4, 4);
    p.fillPath(background, pal.color(QPalette::Base));
    p.setPen(QPen(QColor(128, 128, 128, int(255 * 0.2)), 1));
    p.drawPath(background);

    // Slices enter from the strip's bottom edge and leave towards it, fading.
    const int shown = std::max(m_slicesFrom, m_slicesTo);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < shown; ++i) {
        double visible = 1;
        if (i >= m_slicesFrom && i < m_slicesTo)
            visible = m_sliceProgress;
        else if (i >= m_slicesTo && i < m_slicesFrom)
            visible = 1 - m_sliceProgress;
        if (visible <= 0)
            continue;
        QRectF slice(strip.left() + 3, strip.top() + 3 + i * kSlicePitch + 0.5, strip.width() - 6, kSlicePitch - 1);
        slice.translate(0, (strip.bottom() - slice.top()) * (1 - visible));
        QPainterPath shape;
        shape.addRoundedRect(slice, 1, 1);
        p.fillPath(shape, withAlpha(m_pageContentColors[i], visible));
    }

    if (m_dotsOpacity > 0) {
        // Drawn at the time of painting; nothing repaints them on a timer.
        const double t = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        qreal x = strip.center().x() - (3 * 4 + 2 * 3) / 2.0;
        for (int i = 0; i < 3; ++i) {
            const double opacity = std::abs(std::sin(0.8 * i + 3 * t)) * 0.7 + 0.3;
            p.setBrush(withAlpha(HelpStyle::tint(pal), opacity * m_dotsOpacity));
            p.drawEllipse(QRectF(x, strip.bottom() - 8 - 4, 4, 4));
            x += 7;
        }
    }
    if (m_checkProgress > 0) {
        const qreal size = QFontMetricsF(HelpStyle::font(font(), HelpStyle::Role::title3)).height();
        const QPointF centre(strip.center().x(), strip.bottom() - 8 - size / 2);
        p.save();
        p.translate(centre);
        p.scale(std::max(m_checkProgress, 0.00001), std::max(m_checkProgress, 0.00001));
        p.setOpacity(m_checkProgress);
        p.setBrush(QColor(40, 180, 70));
        p.drawEllipse(QRectF(-size / 2, -size / 2, size, size));
        QPen tick(Qt::white, size * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(tick);
        p.setBrush(Qt::NoBrush);
        QPainterPath mark;
        mark.moveTo(-size * 0.22, 0);
        mark.lineTo(-size * 0.05, size * 0.18);
        mark.lineTo(size * 0.25, -size * 0.18);
        p.drawPath(mark);
        p.restore();
    }
}
