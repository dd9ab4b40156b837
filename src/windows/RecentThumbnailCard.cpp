#include "windows/RecentThumbnailCard.h"

#include "model/AppState.h"
#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "windows/CardAnimation.h"
#include "windows/DestructiveMenu.h"
#include "windows/HistoryActions.h"
#include "windows/ThumbnailCache.h"

#include <QCache>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

namespace {

constexpr int kMargin = 6; // room for the hover scale, outline and shadow
// The width follows the picture; only a picture of absurd proportions (a
// line of pixels) is letterboxed, so that its card stays a sane size.
constexpr qreal kMinAspect = 0.25;
constexpr qreal kMaxAspect = 40.0;
constexpr qreal kCornerRadius = 6;

} // namespace

RecentThumbnailCard::RecentThumbnailCard(const HistoryItem &item, AppState &appState, QWidget *parent)
    : QWidget(parent), m_appState(appState)
{
    setObjectName(QStringLiteral("RecentThumbnail"));
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setItem(item);

    m_hoverAnimation = CardAnimation::easing(this, m_hover, 120);
    connect(&ThumbnailCache::shared(), &ThumbnailCache::thumbnailChanged, this, [this](const QUuid &id) {
        if (id == m_item.id)
            update();
    });
}

void RecentThumbnailCard::setItem(const HistoryItem &item)
{
    m_item = item;
    setAccessibleName(CaptureModes::displayName(item.mode));
    setToolTip(CaptureModes::displayName(item.mode));
    // The picture's shape from the file header; pixels are not needed here.
    const QSizeF pictureSize = item.image.pointSize();
    const QSizeF shape = pictureSize.isValid() && !pictureSize.isEmpty() ? pictureSize : QSizeF(4, 3);
    if (shape != m_pictureSize) {
        m_pictureSize = shape;
        updateGeometry();
    }
    update();
}

qreal RecentThumbnailCard::aspect() const
{
    return std::clamp(m_pictureSize.width() / m_pictureSize.height(), kMinAspect, kMaxAspect);
}

QSize RecentThumbnailCard::sizeHint() const
{
    return QSize(qRound(thumbnailHeight * aspect()) + 2 * kMargin, thumbnailHeight + 2 * kMargin);
}

QSize RecentThumbnailCard::thumbnailBounds() const
{
    // The picture at the card's size: 80 points high for every shape the
    // card takes.
    const qreal dpr = devicePixelRatioF();
    return QSize(qCeil(thumbnailHeight * std::max(aspect(), 1.0) * dpr), qCeil(thumbnailHeight * dpr));
}

bool RecentThumbnailCard::showsPlaceholder() const
{
    ThumbnailCache::State state;
    ThumbnailCache::shared().thumbnail(m_item, thumbnailBounds(), &state);
    return state == ThumbnailCache::State::failed;
}

void RecentThumbnailCard::paintEvent(QPaintEvent *)
{
    ThumbnailCache::State state;
    const QImage picture = ThumbnailCache::shared().thumbnail(m_item, thumbnailBounds(), &state);
    QPainter p(this);
    if (m_hover > 0 || hasFocus()) {
        paintCard(p, picture, int(state));
        return;
    }
    // At rest a card looks the same each time it is drawn: it is drawn once
    // and copied, also by the card that takes its place when the strip is
    // built again after a capture.
    static QCache<QByteArray, QImage> drawn(16 * 1024); // in kB
    const qreal ratio = devicePixelRatioF();
    const QByteArray key = m_item.id.toByteArray() + ' ' + QByteArray::number(width()) + 'x'
        + QByteArray::number(height()) + '@' + QByteArray::number(ratio) + ' '
        + QByteArray::number(palette().color(QPalette::AlternateBase).rgba()) + ' '
        + QByteArray::number(picture.cacheKey()) + ' ' + QByteArray::number(int(state));
    if (const QImage *face = drawn.object(key)) {
        p.drawImage(QPoint(0, 0), *face);
        return;
    }
    auto face = std::make_unique<QImage>((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    face->setDevicePixelRatio(ratio);
    face->fill(Qt::transparent);
    {
        QPainter onFace(face.get());
        paintCard(onFace, picture, int(state));
    }
    p.drawImage(QPoint(0, 0), *face);
    const qsizetype cost = std::max<qsizetype>(1, face->sizeInBytes() / 1024);
    drawn.insert(key, face.release(), cost);
}

void RecentThumbnailCard::paintCard(QPainter &p, const QImage &picture, int state) const
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF base = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
    // Scaled about the centre by 1.03 while hovered.
    const qreal scale = 1.0 + 0.03 * m_hover;
    QRectF r(0, 0, base.width() * scale, base.height() * scale);
    r.moveCenter(base.center());

    // Shadow: black at one third, radius 2 (5 while hovered).
    const qreal radius = 2 + 3 * m_hover;
    for (int i = int(radius); i >= 1; --i) {
        QPainterPath ring;
        ring.addRoundedRect(r.adjusted(-i, -i, i, i), kCornerRadius + i, kCornerRadius + i);
        p.fillPath(ring, QColor(0, 0, 0, int(84 / (radius + 1))));
    }

    QPainterPath shape;
    shape.addRoundedRect(r, kCornerRadius, kCornerRadius);
    p.fillPath(shape, palette().color(QPalette::AlternateBase));
    if (!picture.isNull()) {
        // Fitted: a picture beyond the widest (or narrowest) card keeps its shape.
        QRectF target(QPointF(), QSizeF(picture.size()).scaled(r.size(), Qt::KeepAspectRatio));
        target.moveCenter(r.center());
        p.save();
        p.setClipPath(shape);
        p.drawImage(target, picture);
        p.restore();
    } else if (state == int(ThumbnailCache::State::failed)) {
        const QIcon icon = SymbolIcon::make(QStringLiteral("photo.on.rectangle.angled"));
        const int s = 28;
        icon.paint(&p, QRect(int(r.center().x()) - s / 2, int(r.center().y()) - s / 2, s, s), Qt::AlignCenter,
                   QIcon::Disabled);
    }
    if (m_hover > 0 || hasFocus()) {
        QColor accent = palette().color(QPalette::Highlight);
        accent.setAlphaF(float(hasFocus() ? 1.0 : m_hover));
        p.setPen(QPen(accent, 2));
        p.drawPath(shape);
    }
}

void RecentThumbnailCard::setHovered(bool hovered)
{
    if (hovered == m_isHovered)
        return;
    m_isHovered = hovered;
    CardAnimation::runTo(m_hoverAnimation, m_hover, hovered ? 1.0 : 0.0);
}

void RecentThumbnailCard::enterEvent(QEnterEvent *event)
{
    setHovered(true);
    QWidget::enterEvent(event);
}

void RecentThumbnailCard::leaveEvent(QEvent *event)
{
    setHovered(false);
    QWidget::leaveEvent(event);
}

void RecentThumbnailCard::mousePressEvent(QMouseEvent *event)
{
    m_pressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void RecentThumbnailCard::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    if (click)
        HistoryActions::openInEditor(m_appState, m_item);
    else
        QWidget::mouseReleaseEvent(event);
}

void RecentThumbnailCard::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space)
        HistoryActions::openInEditor(m_appState, m_item);
    else
        QWidget::keyPressEvent(event);
}

std::unique_ptr<QMenu> RecentThumbnailCard::buildMenu()
{
    // No parent: a "Delete" drops this card while its menu may live on.
    auto menu = std::make_unique<DestructiveMenu>();
    // The actions act on copies: a delete rebuilds the strip and drops this card.
    const HistoryItem item = m_item;
    AppState *appState = &m_appState;
    menu->addAction(SymbolIcon::make(QStringLiteral("pencil")), localized("Open in Editor"),
                    [appState, item] { HistoryActions::openInEditor(*appState, item); });
    menu->addAction(SymbolIcon::make(QStringLiteral("doc.on.doc")), localized("Copy"),
                    [item] { HistoryActions::copyImage(item); });
    menu->addAction(SymbolIcon::make(QStringLiteral("square.and.arrow.down")), localized("Save As…"),
                    [appState, item] { HistoryActions::saveAs(*appState, item); });
    if (HistoryActions::hasSavedFile(item)) {
        menu->addAction(SymbolIcon::make(QStringLiteral("folder")), localized("Show in File Manager"),
                        [item] { HistoryActions::reveal(item); });
    }
    menu->addSeparator();
    QAction *remove = menu->addAction(SymbolIcon::make(QStringLiteral("trash")), localized("Delete"),
                                      [appState, id = item.id] { HistoryActions::deleteEntry(*appState, id); });
    DestructiveMenu::markDestructive(remove);
    return menu;
}

void RecentThumbnailCard::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu *raw = buildMenu().release();
    raw->setAttribute(Qt::WA_DeleteOnClose);
    raw->setParent(window(), raw->windowFlags());
    raw->popup(event->globalPos());
}
