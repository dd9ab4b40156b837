#include "editor/DiffImageWell.h"

#include "platform/Localized.h"
#include "platform/SymbolIcon.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

constexpr int kTitleGap = 6;
constexpr qreal kCornerRadius = 8;
constexpr int kImageInset = 8;
constexpr int kPromptSpacing = 6;

QFont captionFont(const QFont &base, bool bold)
{
    QFont f = base;
    f.setPointSizeF(base.pointSizeF() * 0.85);
    f.setBold(bold);
    return f;
}

// The file a drop offers: its first item, when that is a local file.
QString droppedFile(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return QString();
    const QUrl url = mime->urls().constFirst();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

DiffImageWell::DiffImageWell(const QString &title, QWidget *parent) : QWidget(parent), m_title(title)
{
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(120, 120);
    setAccessibleName(title);
    setToolTip(localized("Click or drop image"));
}

void DiffImageWell::setImage(const QImage &image)
{
    m_image = image;
    update();
}

int DiffImageWell::titleHeight() const
{
    return QFontMetrics(captionFont(font(), true)).height();
}

QRect DiffImageWell::wellRect() const
{
    const int top = titleHeight() + kTitleGap;
    return QRect(0, top, width(), std::max(0, height() - top));
}

QRect DiffImageWell::imageRect() const
{
    const QRect area = wellRect().adjusted(kImageInset, kImageInset, -kImageInset, -kImageInset);
    if (m_image.isNull() || area.isEmpty())
        return QRect();
    QSizeF size = m_image.deviceIndependentSize();
    size.scale(area.size(), Qt::KeepAspectRatio);
    QRect r(QPoint(0, 0), size.toSize());
    r.moveCenter(area.center());
    return r;
}

void DiffImageWell::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    QColor secondary = pal.color(QPalette::PlaceholderText);

    p.setFont(captionFont(font(), true));
    p.setPen(pal.color(QPalette::WindowText));
    p.drawText(QRect(0, 0, width(), titleHeight()), Qt::AlignLeft | Qt::AlignVCenter, m_title);

    const QRect well = wellRect();
    QPainterPath shape;
    shape.addRoundedRect(QRectF(well), kCornerRadius, kCornerRadius);
    QColor fill = pal.color(QPalette::WindowText);
    fill.setAlphaF(0.08);
    p.fillPath(shape, fill);
    if (hasFocus()) {
        p.setPen(QPen(pal.color(QPalette::Highlight), 2));
        p.drawPath(shape);
    }

    if (!m_image.isNull()) {
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(imageRect()), m_image);
        return;
    }
    // The prompt: a large symbol above one caption line, centred.
    const QIcon icon = SymbolIcon::make(QStringLiteral("photo.badge.plus"));
    const int iconSize = QFontMetrics(font()).height() * 2;
    const QFont caption = captionFont(font(), false);
    const int textHeight = QFontMetrics(caption).height();
    const int blockHeight = (icon.isNull() ? 0 : iconSize + kPromptSpacing) + textHeight;
    int y = well.center().y() - blockHeight / 2;
    if (!icon.isNull()) {
        const QPixmap pm = icon.pixmap(QSize(iconSize, iconSize), devicePixelRatioF(), QIcon::Disabled);
        p.drawPixmap(QRect(well.center().x() - iconSize / 2, y, iconSize, iconSize), pm);
        y += iconSize + kPromptSpacing;
    }
    p.setFont(caption);
    p.setPen(secondary);
    p.drawText(QRect(well.left(), y, well.width(), textHeight), Qt::AlignCenter, localized("Click or drop image"));
}

void DiffImageWell::mousePressEvent(QMouseEvent *event)
{
    m_pressedInWell = event->button() == Qt::LeftButton && wellRect().contains(event->position().toPoint());
    event->accept();
}

void DiffImageWell::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = m_pressedInWell && event->button() == Qt::LeftButton
                       && wellRect().contains(event->position().toPoint());
    m_pressedInWell = false;
    if (click)
        emit clicked();
}

void DiffImageWell::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit clicked();
        return;
    }
    QWidget::keyPressEvent(event);
}

void DiffImageWell::dragEnterEvent(QDragEnterEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (mime && ((mime->hasUrls() && !mime->urls().isEmpty()) || mime->hasImage()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void DiffImageWell::dragMoveEvent(QDragMoveEvent *event)
{
    event->acceptProposedAction();
}

void DiffImageWell::dropEvent(QDropEvent *event)
{
    const QMimeData *mime = event->mimeData();
    if (!mime || !((mime->hasUrls() && !mime->urls().isEmpty()) || mime->hasImage())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // An image dragged without a file behind it loads nothing.
    const QString path = droppedFile(mime);
    if (!path.isEmpty())
        emit fileDropped(path);
}
