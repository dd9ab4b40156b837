#include "windows/FloatingPreviewView.h"

#include "model/PixelRelease.h"
#include "platform/IdleWork.h"
#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "windows/ThumbnailScaling.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMap>
#include <QFutureWatcher>
#include <QGraphicsOpacityEffect>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

namespace {

constexpr int kPadding = 10;
constexpr int kSpacing = 8;
constexpr int kButtonSize = 36;
constexpr int kButtonSpacing = 14;
constexpr int kButtonRowTop = 2;
constexpr int kIconSize = 22;
constexpr int kCloseIconSize = 18;
constexpr int kClosePadding = 6;
// The background's opacity where the window is translucent. The desktop
// blurs nothing behind an X11 window, so what lies behind would show
// through sharp and muddle the buttons: all but opaque, it reads as the
// window colour.
constexpr int kTranslucentPanelAlpha = 245;
// How long the picture is drawn at batch priority before a busy machine gets
// it drawn at normal priority too (see IdleWork).
constexpr int kThumbnailGraceMs = 60;

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

// The panel without its buttons: a rounded background with a faint edge, and
// the picture (or a blank of its size) in a rounded frame. Safe on any thread.
void paintFace(QPainter &p, const QRect &rect, const QRect &imageRect, QColor panel, const QColor &ink, bool opaque,
               bool hasImage, const QImage &thumbnail)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath background;
    background.addRoundedRect(QRectF(rect), 12, 12);
    if (!opaque)
        panel.setAlpha(kTranslucentPanelAlpha);
    p.fillPath(background, panel);
    p.setPen(QPen(withAlpha(ink, 40), 1));
    p.drawPath(background);
    if (!hasImage)
        return;
    QPainterPath clip;
    clip.addRoundedRect(QRectF(imageRect), 8, 8);
    p.save();
    p.setClipPath(clip);
    if (thumbnail.isNull())
        p.fillRect(imageRect, withAlpha(ink, 20));
    else
        p.drawImage(imageRect, thumbnail);
    p.restore();
}

QImage faceImage(const QSize &size, qreal ratio, const QRect &imageRect, const QColor &panel, const QColor &ink,
                 bool opaque, bool hasImage, const QImage &thumbnail)
{
    QImage face((QSizeF(size) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    face.setDevicePixelRatio(ratio);
    face.fill(Qt::transparent);
    QPainter p(&face);
    paintFace(p, QRect(QPoint(0, 0), size), imageRect, panel, ink, opaque, hasImage, thumbnail);
    return face;
}

// Where a picture of imageSize (points) is drawn in a view of viewSize.
QRect imageRectFor(const QSize &viewSize, const QSizeF &imageSize)
{
    const int rowHeight = kButtonRowTop + kButtonSize;
    const QRect area(kPadding, kPadding, viewSize.width() - 2 * kPadding,
                     viewSize.height() - 2 * kPadding - kSpacing - rowHeight);
    if (imageSize.isEmpty() || area.width() <= 0 || area.height() <= 0)
        return area;
    QSizeF size = imageSize;
    size.scale(area.size(), Qt::KeepAspectRatio);
    QRect r(QPoint(0, 0), size.toSize());
    r.moveCenter(area.center());
    return r;
}

QByteArray faceKeyFor(const QSize &viewSize, qreal ratio, const QColor &panel, const QColor &ink, bool opaque,
                      const QSizeF &imageSize, const QImage &thumbnail)
{
    const QRect image = imageRectFor(viewSize, imageSize);
    return QByteArray::number(viewSize.width()) + 'x' + QByteArray::number(viewSize.height()) + '@'
        + QByteArray::number(ratio) + ' ' + QByteArray::number(panel.rgba()) + ' ' + QByteArray::number(ink.rgba())
        + (opaque ? " o " : " t ") + QByteArray::number(imageSize.isEmpty() ? -1 : image.x()) + ','
        + QByteArray::number(image.y()) + ',' + QByteArray::number(image.width()) + ','
        + QByteArray::number(image.height()) + ' ' + QByteArray::number(thumbnail.cacheKey());
}

// The face of a panel before its picture is ready, kept for the next
// panel of the same shape.
struct BlankFace
{
    QByteArray key;
    QImage image;
    QByteArray drawing; // the key of one being drawn in the background
};
BlankFace &blankFace()
{
    static BlankFace face;
    return face;
}

// A filled circle of this size. Safe on any thread.
QImage drawDisc(const QSize &size, qreal ratio, const QColor &color)
{
    QImage image((QSizeF(size) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRect(QPoint(0, 0), size));
    return image;
}

// The circles drawn so far, by size, ratio and colour.
QMap<QByteArray, QImage> &discs()
{
    static QMap<QByteArray, QImage> drawn;
    return drawn;
}

QByteArray discKey(const QSize &size, qreal ratio, const QColor &color)
{
    return QByteArray::number(size.width()) + 'x' + QByteArray::number(size.height()) + '@'
        + QByteArray::number(ratio) + ' ' + QByteArray::number(color.rgba());
}

// A filled circle of this size, drawn once for each colour.
QImage disc(const QSize &size, qreal ratio, const QColor &color)
{
    QImage &image = discs()[discKey(size, ratio, color)];
    if (image.isNull())
        image = drawDisc(size, ratio, color);
    return image;
}

// A round, flat button: the symbol on a faint disc.
class RoundButton : public QToolButton
{
public:
    explicit RoundButton(QWidget *parent) : QToolButton(parent)
    {
        setAutoRaise(true);
        setCursor(Qt::ArrowCursor);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(kButtonSize, kButtonSize);
        setIconSize(QSize(kIconSize, kIconSize));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        const QColor ink = withAlpha(palette().color(QPalette::WindowText), isDown() ? 40 : (underMouse() ? 26 : 15));
        p.drawImage(QPoint(0, 0), disc(size(), devicePixelRatioF(), ink));
        const QRect iconRect(QPoint(0, 0), iconSize());
        icon().paint(&p, QRect(rect().center() - iconRect.center(), iconSize()));
    }
};

// The close button: the symbol alone, no disc.
class CloseButton : public QToolButton
{
public:
    explicit CloseButton(QWidget *parent) : QToolButton(parent)
    {
        setAutoRaise(true);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(kCloseIconSize + 2 * kClosePadding, kCloseIconSize + 2 * kClosePadding);
        setIconSize(QSize(kCloseIconSize, kCloseIconSize));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        icon().paint(&p, QRect(kClosePadding, kClosePadding, kCloseIconSize, kCloseIconSize));
    }
};

} // namespace

FloatingPreviewView::FloatingPreviewView(const QImage &image, std::function<void()> onEdit,
                                         std::function<void()> onSave, std::function<void()> onCopy,
                                         std::function<void()> onDismiss, QWidget *parent)
    : QWidget(parent)
    , m_image(image)
    , m_imageSize(image.deviceIndependentSize())
    , m_onEdit(std::move(onEdit))
    , m_onSave(std::move(onSave))
    , m_onCopy(std::move(onCopy))
    , m_onDismiss(std::move(onDismiss))
{
    // Translucent only where its window is (a compositor blends it).
    m_opaque = !(parent && parent->window()->testAttribute(Qt::WA_TranslucentBackground));
    setAttribute(Qt::WA_Hover);
    setMouseTracking(true);

    m_editButton = new RoundButton(this);
    m_editButton->setIcon(SymbolIcon::make(QStringLiteral("pencil.tip.crop.circle")));
    m_editButton->setToolTip(localized("Open in Editor"));
    connect(m_editButton, &QToolButton::clicked, this, [this] {
        if (m_onEdit)
            m_onEdit();
    });

    m_copyButton = new RoundButton(this);
    m_copyButton->setIcon(SymbolIcon::make(QStringLiteral("doc.on.doc")));
    m_copyButton->setToolTip(localized("Copy to Clipboard"));
    connect(m_copyButton, &QToolButton::clicked, this, &FloatingPreviewView::copyClicked);

    m_saveButton = new RoundButton(this);
    m_saveButton->setIcon(SymbolIcon::make(QStringLiteral("square.and.arrow.down")));
    m_saveButton->setToolTip(localized("Save"));
    connect(m_saveButton, &QToolButton::clicked, this, [this] {
        if (m_onSave)
            m_onSave();
    });

    m_closeButton = new CloseButton(this);
    m_closeButton->setIcon(SymbolIcon::make(QStringLiteral("xmark.circle.fill")));
    m_closeButton->setToolTip(localized("Close"));
    m_closeOpacity = new QGraphicsOpacityEffect(m_closeButton);
    m_closeOpacity->setOpacity(0.0);
    m_closeButton->setGraphicsEffect(m_closeOpacity);
    m_closeButton->hide();
    connect(m_closeButton, &QToolButton::clicked, this, [this] {
        if (m_onDismiss)
            m_onDismiss();
    });

    m_copyReset = new QTimer(this);
    m_copyReset->setSingleShot(true);
    m_copyReset->setInterval(1200);
    connect(m_copyReset, &QTimer::timeout, this, [this] { setDidCopy(false); });

    layoutChildren();
    makeThumbnail();
}

FloatingPreviewView::~FloatingPreviewView()
{
    dropImage();
}

void FloatingPreviewView::dropImage()
{
    // The actions hold the capture too: they go first, so that the pixels,
    // which may be their last reference, are freed off this thread.
    QImage pixels = std::exchange(m_image, QImage());
    m_onEdit = {};
    m_onSave = {};
    m_onCopy = {};
    m_onDismiss = {};
    PixelRelease::later(pixels);
}

void FloatingPreviewView::letGoOfImage()
{
    // Later: this may run inside one of the actions it drops.
    QMetaObject::invokeMethod(this, [this] { dropImage(); }, Qt::QueuedConnection);
}

QRect FloatingPreviewView::imageRect() const
{
    return imageRectFor(size(), m_imageSize);
}

void FloatingPreviewView::layoutChildren()
{
    const int rowWidth = 3 * kButtonSize + 2 * kButtonSpacing;
    const int rowY = height() - kPadding - kButtonSize;
    int x = (width() - rowWidth) / 2;
    for (QToolButton *b : {m_editButton, m_copyButton, m_saveButton}) {
        b->move(x, rowY);
        x += kButtonSize + kButtonSpacing;
    }
    const QRect image = imageRect();
    m_closeButton->move(image.right() + 1 - m_closeButton->width(), image.top());
    m_closeButton->raise();
}

void FloatingPreviewView::resizeEvent(QResizeEvent *)
{
    layoutChildren();
    makeThumbnail();
}

void FloatingPreviewView::makeThumbnail()
{
    const QRect target = imageRect();
    if (m_image.isNull() || target.isEmpty())
        return;
    const qreal ratio = std::max<qreal>(devicePixelRatioF(), qApp->devicePixelRatio());
    const QSize size = (QSizeF(target.size()) * ratio).toSize();
    if (size == m_thumbnailSize)
        return;
    m_thumbnailSize = size;
    m_thumbnail = QImage();
    // A small image is scaled at once; a screen-sized one would hold up the
    // UI thread for tens of milliseconds, so it is scaled in the background.
    if (qint64(m_image.width()) * m_image.height() <= 4 * qint64(size.width()) * size.height()) {
        m_thumbnail = m_image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return;
    }
    // The face with the picture is drawn there too, so that painting the
    // panel is a copy.
    struct Made
    {
        QImage thumbnail;
        QImage face;
    };
    const QImage image = m_image;
    const QSize widgetSize = this->size();
    const qreal faceRatio = devicePixelRatioF();
    const QColor panel = palette().color(QPalette::Window);
    const QColor ink = palette().color(QPalette::WindowText);
    const bool opaque = m_opaque;
    auto *watcher = new QFutureWatcher<Made>(this);
    connect(watcher, &QFutureWatcher<Made>::finished, this,
            [this, watcher, size, widgetSize, faceRatio, panel, ink, opaque] {
                watcher->deleteLater();
                if (size != m_thumbnailSize)
                    return; // resized meanwhile; a newer one is coming
                const Made made = watcher->result();
                m_thumbnail = made.thumbnail;
                // Under what it was drawn for: a palette changed meanwhile
                // makes the next paint draw it again.
                m_face = made.face;
                m_faceKey = faceKeyFor(widgetSize, faceRatio, panel, ink, opaque, m_imageSize, m_thumbnail);
                update();
                emit thumbnailReady();
            });
    watcher->setFuture(IdleWork::run<Made>(watcher, kThumbnailGraceMs, [image, size, widgetSize, faceRatio, target,
                                                                    panel, ink, opaque] {
        Made made;
        made.thumbnail = ThumbnailScaling::scaledDown(image, size);
        made.face = faceImage(widgetSize, faceRatio, target, panel, ink, opaque, true, made.thumbnail);
        return made;
    }));
}

QByteArray FloatingPreviewView::faceKey(const QImage &thumbnail) const
{
    return faceKeyFor(size(), devicePixelRatioF(), palette().color(QPalette::Window),
                      palette().color(QPalette::WindowText), m_opaque, m_imageSize, thumbnail);
}

void FloatingPreviewView::prepare(const QSize &viewSize, const QSizeF &imageSize, qreal ratio, bool opaque)
{
    const QPalette palette = QApplication::palette();
    const QColor panel = palette.color(QPalette::Window);
    const QColor ink = palette.color(QPalette::WindowText);
    const QByteArray key = faceKeyFor(viewSize, ratio, panel, ink, opaque, imageSize, QImage());
    const QSize discSize(kButtonSize, kButtonSize);
    const QColor discColor = withAlpha(ink, 15);
    const QByteArray discName = discKey(discSize, ratio, discColor);
    BlankFace &blank = blankFace();
    if (blank.drawing == key || (blank.key == key && discs().contains(discName)))
        return;
    // In the background: Qt paints with the help of its global pool, which
    // this thread should not wait for.
    blank.drawing = key;
    const QRect imageRect = imageRectFor(viewSize, imageSize);
    const bool hasImage = !imageSize.isEmpty();
    IdleWork::run<std::pair<QImage, QImage>>(qApp, kThumbnailGraceMs, [=] {
        return std::pair(faceImage(viewSize, ratio, imageRect, panel, ink, opaque, hasImage, QImage()),
                         drawDisc(discSize, ratio, discColor));
    }).then(qApp, [key, discName](const std::pair<QImage, QImage> &drawn) {
        BlankFace &blank = blankFace();
        if (blank.drawing == key)
            blank = {key, drawn.first, {}};
        if (!discs().contains(discName))
            discs().insert(discName, drawn.second);
    });
}

void FloatingPreviewView::paintEvent(QPaintEvent *)
{
    // The panel and its marks come from the palette, so the preview matches
    // a dark desktop as well as a light one (the symbols follow its text colour).
    QPainter p(this);
    const QByteArray key = faceKey(m_thumbnail);
    if (key != m_faceKey) {
        BlankFace &blank = blankFace();
        if (m_thumbnail.isNull() && blank.key == key) {
            m_face = blank.image;
        } else {
            m_face = faceImage(size(), devicePixelRatioF(), imageRect(), palette().color(QPalette::Window),
                               palette().color(QPalette::WindowText), m_opaque, !m_imageSize.isEmpty(), m_thumbnail);
            if (m_thumbnail.isNull())
                blank = {key, m_face, {}};
        }
        m_faceKey = key;
    }
    p.drawImage(QPoint(0, 0), m_face);
}

void FloatingPreviewView::enterEvent(QEnterEvent *)
{
    setHovered(true);
}

void FloatingPreviewView::leaveEvent(QEvent *)
{
    setHovered(false);
}

void FloatingPreviewView::setHovered(bool hovered)
{
    if (m_isHovered == hovered)
        return;
    m_isHovered = hovered;
    if (m_closeFade)
        m_closeFade->stop();
    auto *fade = new QPropertyAnimation(m_closeOpacity, "opacity", this);
    fade->setDuration(150);
    fade->setEasingCurve(QEasingCurve::InOutQuad);
    fade->setEndValue(hovered ? 1.0 : 0.0);
    if (hovered)
        m_closeButton->show();
    else
        connect(fade, &QPropertyAnimation::finished, m_closeButton, [this] {
            if (!m_isHovered)
                m_closeButton->hide();
        });
    m_closeFade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void FloatingPreviewView::copyClicked()
{
    if (m_onCopy)
        m_onCopy();
    // A second click while the check mark shows copies again but does not
    // extend the confirmation.
    if (!m_didCopy)
        setDidCopy(true);
}

void FloatingPreviewView::setDidCopy(bool value)
{
    if (m_didCopy == value)
        return;
    m_didCopy = value;
    if (value) {
        m_copyButton->setIcon(SymbolIcon::make(QStringLiteral("checkmark.circle.fill")));
        m_copyButton->setToolTip(localized("Copied"));
        m_copyReset->start();
    } else {
        m_copyButton->setIcon(SymbolIcon::make(QStringLiteral("doc.on.doc")));
        m_copyButton->setToolTip(localized("Copy to Clipboard"));
    }
}

void FloatingPreviewView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // Nothing moves yet: a click stays a click. Asking the window manager to
    // move the panel on the press itself would leave some (xfwm4) in a move
    // that the release never ends, and that move takes the next key.
    m_pressed = true;
    m_dragging = false;
    m_pressPosition = event->globalPosition().toPoint();
    m_dragOffset = m_pressPosition - window()->frameGeometry().topLeft();
}

void FloatingPreviewView::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressed && !(event->buttons() & Qt::LeftButton))
        m_pressed = m_dragging = false; // the release went elsewhere
    if (m_pressed && !m_dragging) {
        const QPoint moved = event->globalPosition().toPoint() - m_pressPosition;
        if (moved.manhattanLength() >= QApplication::startDragDistance()) {
            // The button is held and the pointer has moved: a drag. The
            // window manager moves the panel where it can; where it cannot,
            // it is moved here.
            QWindow *handle = window()->windowHandle();
            if (handle && handle->startSystemMove()) {
                m_pressed = false;
                return QWidget::mouseMoveEvent(event);
            }
            m_dragging = true;
        }
    }
    if (m_dragging)
        window()->move(event->globalPosition().toPoint() - m_dragOffset);
    QWidget::mouseMoveEvent(event);
}

void FloatingPreviewView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}
