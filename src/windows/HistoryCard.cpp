#include "windows/HistoryCard.h"

#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "windows/CardAnimation.h"
#include "windows/ThumbnailCache.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVariantAnimation>

using CardAnimation::easing;
using CardAnimation::runTo;

namespace {

constexpr int kSpacing = 6;
constexpr int kBarHeight = 24;
constexpr qreal kCornerRadius = 10;
constexpr qreal kThumbnailRadius = 6;

QFont caption2(const QFont &base, bool bold)
{
    QFont f = base;
    f.setPointSizeF(std::max(7.0, base.pointSizeF() - 2));
    f.setBold(bold);
    return f;
}

QColor mixed(const QColor &a, const QColor &b, qreal t)
{
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t), float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t),
                            float(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
}

QString counted(const char *one, const char *many, qint64 n)
{
    if (n == 1)
        return localized(one);
    QString text = localized(many);
    return text.replace(QStringLiteral("%lld"), QString::number(n));
}

} // namespace

QString elapsedTimeText(const QDateTime &date, const QDateTime &now)
{
    const qint64 seconds = std::max<qint64>(0, date.secsTo(now));
    if (seconds < 60)
        return localized("Just now");
    if (seconds < 3600)
        return counted("1 minute ago", "%lld minutes ago", seconds / 60);
    if (seconds < 86400)
        return counted("1 hour ago", "%lld hours ago", seconds / 3600);
    return counted("1 day ago", "%lld days ago", seconds / 86400);
}

HistoryCard::HistoryCard(const HistoryItem &item, Actions actions, QWidget *parent)
    : QWidget(parent), m_item(item), m_actions(std::move(actions))
{
    setObjectName(QStringLiteral("HistoryCard"));
    setAccessibleName(CaptureModes::displayName(item.mode));
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setSizePolicy(policy);
    connect(&ThumbnailCache::shared(), &ThumbnailCache::thumbnailChanged, this, [this](const QUuid &id) {
        if (id == m_item.id)
            update(thumbnailRect());
    });
    m_hoverAnimation = easing(this, m_hover);
    m_selectAnimation = easing(this, m_select);
    m_barAnimation = easing(this, m_bar, 150, [this] { placeActionBar(); });
    connect(m_barAnimation, &QVariantAnimation::finished, this, [this] {
        if (m_actionBar && m_bar <= 0)
            m_actionBar->hide();
    });
}

QSize HistoryCard::thumbnailBounds(qreal devicePixelRatio)
{
    return QSize(qCeil(230 * devicePixelRatio), qCeil(thumbnailHeight * devicePixelRatio));
}

int HistoryCard::infoTop() const
{
    return padding + thumbnailHeight + kSpacing;
}

QSize HistoryCard::sizeHint() const
{
    const QFontMetrics fm(caption2(font(), true));
    const int height = infoTop() + 2 * fm.height() + 2 + kSpacing + kBarHeight + padding;
    return QSize(200, height);
}

QSize HistoryCard::minimumSizeHint() const
{
    return QSize(120, sizeHint().height());
}

QRect HistoryCard::thumbnailRect() const
{
    return QRect(padding, padding, width() - 2 * padding, thumbnailHeight);
}

QString HistoryCard::relativeTimeText(const QDateTime &now) const
{
    return elapsedTimeText(m_item.date, now);
}

bool HistoryCard::showsPlaceholder() const
{
    ThumbnailCache::State state;
    ThumbnailCache::shared().thumbnail(m_item, thumbnailBounds(devicePixelRatioF()), &state);
    return state == ThumbnailCache::State::failed;
}

void HistoryCard::setHovered(bool hovered)
{
    if (hovered == m_isHovered)
        return;
    m_isHovered = hovered;
    runTo(m_hoverAnimation, m_hover, hovered ? 1 : 0);
    updateActionBar();
    update();
}

void HistoryCard::setSelected(bool selected)
{
    if (selected == m_isSelected)
        return;
    m_isSelected = selected;
    runTo(m_selectAnimation, m_select, selected ? 1 : 0);
    updateActionBar();
    update();
}

QToolButton *HistoryCard::actionButton(const QString &symbol) const
{
    if (!m_actionBar)
        return nullptr;
    for (QToolButton *b : m_actionBar->findChildren<QToolButton *>())
        if (b->objectName() == symbol)
            return b;
    return nullptr;
}

void HistoryCard::updateActionBar()
{
    const bool show = m_isHovered || m_isSelected;
    if (show && !m_actionBar) {
        m_actionBar = new QWidget(this);
        auto *row = new QHBoxLayout(m_actionBar);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(8);
        auto add = [this, row](const QString &symbol, const QString &tip, const std::function<void()> &action) {
            auto *b = new QToolButton(m_actionBar);
            b->setObjectName(symbol);
            b->setAutoRaise(true);
            b->setIcon(SymbolIcon::make(symbol));
            b->setIconSize(QSize(14, 14));
            b->setToolTip(tip);
            b->setAccessibleName(tip);
            connect(b, &QToolButton::clicked, this, [action] {
                if (action)
                    action();
            });
            row->addWidget(b);
            return b;
        };
        m_selectButton = add(QStringLiteral("square"), localized("Select for batch export"), m_actions.onToggleSelect);
        add(QStringLiteral("pencil"), localized("Edit"), m_actions.onOpen);
        add(QStringLiteral("doc.on.doc"), localized("Copy"), m_actions.onCopy);
        if (m_item.filePath)
            add(QStringLiteral("folder"), localized("Reveal in File Manager"), m_actions.onReveal);
        add(QStringLiteral("trash"), localized("Delete"), m_actions.onDelete);
        m_barOpacity = new QGraphicsOpacityEffect(m_actionBar);
        m_barOpacity->setOpacity(0);
        m_actionBar->setGraphicsEffect(m_barOpacity);
        m_actionBar->hide();
        placeActionBar();
    }
    if (!m_actionBar)
        return;
    const QString symbol = m_isSelected ? QStringLiteral("checkmark.square.fill") : QStringLiteral("square");
    m_selectButton->setIcon(SymbolIcon::make(symbol));
    m_selectButton->setToolTip(m_isSelected ? localized("Deselect") : localized("Select for batch export"));
    // The row rises from the bottom edge and fades in; it fades out the
    // same way and is hidden at the end.
    if (show)
        m_actionBar->show();
    runTo(m_barAnimation, m_bar, show ? 1 : 0);
}

void HistoryCard::placeActionBar()
{
    if (!m_actionBar)
        return;
    const QSize hint = m_actionBar->sizeHint();
    const int rise = qRound((1 - m_bar) * 8);
    m_actionBar->setGeometry((width() - hint.width()) / 2, height() - padding - kBarHeight + rise, hint.width(),
                             kBarHeight);
    if (m_barOpacity)
        m_barOpacity->setOpacity(m_bar);
}

void HistoryCard::resizeEvent(QResizeEvent *event)
{
    placeActionBar();
    QWidget::resizeEvent(event);
}

void HistoryCard::enterEvent(QEnterEvent *event)
{
    if (m_actions.onHover)
        m_actions.onHover(true);
    QWidget::enterEvent(event);
}

void HistoryCard::leaveEvent(QEvent *event)
{
    if (m_actions.onHover)
        m_actions.onHover(false);
    QWidget::leaveEvent(event);
}

void HistoryCard::keyPressEvent(QKeyEvent *event)
{
    std::function<void()> action;
    switch (event->key()) {
    case Qt::Key_Space:
        action = m_actions.onToggleSelect;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        action = m_actions.onOpen;
        break;
    case Qt::Key_Delete:
        action = m_actions.onDelete;
        break;
    default:
        if (event->matches(QKeySequence::Copy))
            action = m_actions.onCopy;
        break;
    }
    if (action)
        action();
    else
        QWidget::keyPressEvent(event);
}

void HistoryCard::mouseDoubleClickEvent(QMouseEvent *)
{
    if (m_actions.onOpen)
        m_actions.onOpen();
}

void HistoryCard::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPalette &pal = palette();
    const QColor accent = pal.color(QPalette::Highlight);

    // Card background and border.
    const QRectF card = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath shape;
    shape.addRoundedRect(card, kCornerRadius, kCornerRadius);
    // Selected: accent at 15 % and a 2-point accent border; hovered only:
    // accent at 5 % and a 1-point border at 30 %; each eased in and out.
    p.fillPath(shape, pal.color(QPalette::Base));
    QColor hoverFill = accent, selectFill = accent, hoverBorder = accent, clear = accent;
    hoverFill.setAlphaF(0.05f);
    selectFill.setAlphaF(0.15f);
    hoverBorder.setAlphaF(0.3f);
    clear.setAlphaF(0);
    p.fillPath(shape, mixed(mixed(clear, hoverFill, m_hover), selectFill, m_select));
    QColor border = mixed(mixed(clear, hoverBorder, m_hover), accent, m_select);
    if (hasFocus() && border.alphaF() < 0.5f)
        border = accent;
    p.setPen(QPen(border, 1 + m_select));
    p.drawPath(shape);

    // The picture, fitted into its area.
    const QRect area = thumbnailRect();
    ThumbnailCache::State state;
    const QImage picture = ThumbnailCache::shared().thumbnail(m_item, thumbnailBounds(devicePixelRatioF()), &state);
    QSizeF size = picture.isNull() ? m_item.image.pointSize() : QSizeF(picture.size());
    if (!size.isValid() || size.isEmpty())
        size = QSizeF(16, 10);
    const QSizeF fitted = size.scaled(area.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), fitted);
    target.moveCenter(QRectF(area).center());
    QPainterPath clip;
    clip.addRoundedRect(target, kThumbnailRadius, kThumbnailRadius);
    const int shadow = 1 + qRound(3 * m_hover);
    for (int i = shadow; i >= 1; --i) {
        QPainterPath ring;
        ring.addRoundedRect(target.adjusted(-i, -i, i, i), kThumbnailRadius + i, kThumbnailRadius + i);
        p.fillPath(ring, QColor(0, 0, 0, 84 / (shadow + 1)));
    }
    p.fillPath(clip, pal.color(QPalette::AlternateBase));
    if (!picture.isNull()) {
        p.save();
        p.setClipPath(clip);
        p.drawImage(target, picture);
        p.restore();
    } else if (state == ThumbnailCache::State::failed) {
        const int s = 32;
        SymbolIcon::make(QStringLiteral("photo.on.rectangle.angled"))
            .paint(&p, QRect(int(target.center().x()) - s / 2, int(target.center().y()) - s / 2, s, s),
                   Qt::AlignCenter, QIcon::Disabled);
    }

    // Mode and time.
    const QFont bold = caption2(font(), true);
    const QFont plain = caption2(font(), false);
    const QFontMetrics fm(bold);
    int y = infoTop();
    p.setFont(bold);
    p.setPen(pal.color(QPalette::WindowText));
    p.drawText(QRect(padding, y, width() - 2 * padding, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               CaptureModes::displayName(m_item.mode));
    y += fm.height() + 2;
    p.setFont(plain);
    p.setPen(pal.color(QPalette::PlaceholderText));
    p.drawText(QRect(padding, y, width() - 2 * padding, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               relativeTimeText());
}
