#include "capture/WindowSelectionNSView.h"

#include "platform/Localized.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor systemBlue(0, 122, 255);

const QFont &labelFont()
{
    static const QFont font = [] {
        QFont f = QApplication::font();
        f.setPixelSize(13);
        f.setWeight(QFont::Medium);
        return f;
    }();
    return font;
}

// Whether a point lies in a rectangle that owns its top and left edges but
// not its bottom and right ones.
bool containsPoint(const QRectF &rect, const QPointF &point)
{
    return point.x() >= rect.left() && point.x() < rect.right() && point.y() >= rect.top()
        && point.y() < rect.bottom();
}

// A camera, white, in a box of 18 points.
void drawCamera(QPainter &p, const QRectF &box)
{
    const qreal s = box.width() / 18.0;
    auto at = [&](qreal x, qreal y) { return box.topLeft() + QPointF(x * s, y * s); };
    QPainterPath body;
    body.addRoundedRect(QRectF(at(0.5, 4.5), QSizeF(17 * s, 12 * s)), 2.5 * s, 2.5 * s);
    QPainterPath hump;
    hump.moveTo(at(5.5, 4.6));
    hump.lineTo(at(7, 2));
    hump.lineTo(at(11, 2));
    hump.lineTo(at(12.5, 4.6));
    hump.closeSubpath();
    QPainterPath lens;
    lens.addEllipse(at(9, 10.5), 3.6 * s, 3.6 * s);
    QPainterPath camera = body.united(hump).subtracted(lens);
    QPainterPath pupil;
    pupil.addEllipse(at(9, 10.5), 2.2 * s, 2.2 * s);
    camera = camera.united(pupil);
    p.fillPath(camera, Qt::white);
}

} // namespace

WindowSelectionNSView::WindowSelectionNSView(const QRect &screenFrame, const QList<ShareableWindow> &capturables,
                                             const QImage &snapshot, OnSelect onSelect, OnCancel onCancel,
                                             std::function<void()> beep, QWidget *parent)
    : QWidget(parent)
    , m_screenFrame(screenFrame)
    , m_capturables(capturables)
    , m_onSelect(std::move(onSelect))
    , m_onCancel(std::move(onCancel))
    , m_beep(std::move(beep))
    , m_snapshot(snapshot)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(pickCursor());
    if (!m_snapshot.isNull()) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }
}

const QCursor &WindowSelectionNSView::pickCursor()
{
    static const QCursor cursor = [] {
        const qreal dpr = qApp ? qApp->devicePixelRatio() : 1.0;
        QPixmap pixmap(QSize(32, 32) * dpr);
        pixmap.setDevicePixelRatio(dpr);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromRgbF(0, 0, 0, 0.75));
        p.drawRoundedRect(QRectF(0, 0, 32, 32), 7, 7);
        drawCamera(p, QRectF(7, 7, 18, 18));
        p.end();
        return QCursor(pixmap, 16, 16);
    }();
    return cursor;
}

std::optional<QRectF> WindowSelectionNSView::localRect(const ShareableWindow &window) const
{
    const QRectF local = window.frame.translated(-QPointF(m_screenFrame.topLeft()));
    if (!local.intersects(QRectF(rect())))
        return std::nullopt;
    return local;
}

QString WindowSelectionNSView::labelText(const ShareableWindow &window)
{
    const QString app = window.owningApplication ? window.owningApplication->applicationName : QString();
    const QString title = window.title;
    if (!app.isEmpty() && !title.isEmpty())
        return app + QStringLiteral(" \u2014 ") + title;
    if (!app.isEmpty())
        return app;
    if (!title.isEmpty())
        return title;
    return localized("Window");
}

QRectF WindowSelectionNSView::labelRect(const QString &text, const QRectF &r) const
{
    const QFontMetricsF metrics(labelFont());
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    QRectF label(r.center().x() - size.width() / 2 - 10, r.bottom() + 8, size.width() + 20, size.height() + 10);
    // Kept on the screen: above the window when it would reach within 8
    // points of the bottom edge, and 8 points in from the sides.
    if (label.bottom() > height() - 8)
        label.moveBottom(r.top() - 8);
    if (label.left() < 8)
        label.moveLeft(8);
    if (label.right() > width() - 8)
        label.moveLeft(width() - label.width() - 8);
    return label;
}

QRegion WindowSelectionNSView::highlightArea() const
{
    if (!m_hovered)
        return QRegion();
    const std::optional<QRectF> r = localRect(*m_hovered);
    if (!r)
        return QRegion();
    QRegion area(r->toAlignedRect().adjusted(-2, -2, 2, 2));
    area += labelRect(labelText(*m_hovered), *r).toAlignedRect().adjusted(-2, -2, 2, 2);
    return area;
}

void WindowSelectionNSView::updateHover(const QPointF &location)
{
    const QPointF global = location + QPointF(m_screenFrame.topLeft());
    std::optional<ShareableWindow> candidate;
    // The list's order alone decides between overlapping windows.
    for (const ShareableWindow &window : std::as_const(m_capturables)) {
        if (containsPoint(window.frame, global)) {
            candidate = window;
            break;
        }
    }
    if (candidate && m_hovered && candidate->windowID == m_hovered->windowID)
        return;
    if (!candidate && !m_hovered)
        return;
    const QRegion before = highlightArea();
    m_hovered = candidate;
    update(before + highlightArea());
}

void WindowSelectionNSView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_backdrop = OverlayBackdrop(m_snapshot, size(), devicePixelRatioF(), 0.08);
}

void WindowSelectionNSView::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    if (!m_backdrop.isNull())
        OverlayBackdrop::paint(p, m_backdrop.dimmed(), event->region());
    else
        p.fillRect(rect(), QColor::fromRgbF(0, 0, 0, 0.08));

    if (!m_hovered)
        return;
    const std::optional<QRectF> r = localRect(*m_hovered);
    if (!r)
        return;
    QColor fill = systemBlue;
    fill.setAlphaF(0.22);
    p.fillRect(*r, fill);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(systemBlue, 3));
    p.drawRect(r->adjusted(1.5, 1.5, -1.5, -1.5));

    const QString text = labelText(*m_hovered);
    const QFontMetricsF metrics(labelFont());
    const QSizeF size(metrics.horizontalAdvance(text), metrics.height());
    const QRectF label = labelRect(text, *r);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor::fromRgbF(0, 0, 0, 0.82));
    p.drawRoundedRect(label, 7, 7);
    p.setFont(labelFont());
    p.setPen(Qt::white);
    p.drawText(QPointF(label.center().x() - size.width() / 2, label.center().y() - size.height() / 2 + metrics.ascent()),
               text);
}

void WindowSelectionNSView::mouseMoveEvent(QMouseEvent *event)
{
    updateHover(event->position());
}

void WindowSelectionNSView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        const OnCancel cancel = m_onCancel;
        cancel();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    updateHover(event->position());
    if (m_hovered) {
        const OnSelect select = m_onSelect;
        select(*m_hovered);
    } else if (m_beep) {
        m_beep();
    }
}

void WindowSelectionNSView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        const OnCancel cancel = m_onCancel;
        cancel();
        return;
    }
    QWidget::keyPressEvent(event);
}
