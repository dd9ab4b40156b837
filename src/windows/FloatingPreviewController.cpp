#include "windows/FloatingPreviewController.h"

#include "output/ClipboardImage.h"
#include "platform/Compositing.h"
#include "platform/WorkspacePresence.h"
#include "windows/FloatingPreviewView.h"

#include <QApplication>
#include <QBackingStore>
#include <QClipboard>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRegion>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

FloatingPreviewController::FloatingPreviewController(QObject *parent) : QObject(parent)
{
    // The first capture finds its panel's window made.
    QTimer::singleShot(spareDelayMs, this, [this] { prepareSpare(); });
}

// Releases the fields only (the timer is our child); a panel on screen stays.
FloatingPreviewController::~FloatingPreviewController()
{
    // The panels are top-level windows without a parent: nothing else would
    // delete them.
    delete m_panel;
    delete m_spare;
    for (const QPointer<QWidget> &panel : std::as_const(m_fading))
        delete panel;
}

QScreen *FloatingPreviewController::mainScreen()
{
    if (QWidget *active = QApplication::activeWindow()) {
        if (QScreen *screen = active->screen())
            return screen;
    }
    return QGuiApplication::primaryScreen();
}

QRect FloatingPreviewController::frameOn(const QScreen *screen)
{
    const QRect visible = screen->availableGeometry();
    return QRect(visible.x() + visible.width() - panelWidth - panelInset,
                 visible.y() + visible.height() - panelHeight - panelInset, panelWidth, panelHeight);
}

QWidget *FloatingPreviewController::makePanel(const QRect &frame, bool composited)
{
    // A panel with the desktop's shadow, above other windows, never taking
    // the focus, on every workspace.
    auto *panel = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                                           | Qt::WindowDoesNotAcceptFocus);
    panel->setAttribute(Qt::WA_ShowWithoutActivating);
    // Qt shows tooltips only in the active window, which this one never is.
    panel->setAttribute(Qt::WA_AlwaysShowToolTips);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setObjectName(QStringLiteral("FloatingPreviewPanel"));
    panel->setWindowTitle(QStringLiteral("Vorna"));
    if (composited)
        panel->setAttribute(Qt::WA_TranslucentBackground);
    panel->setGeometry(frame);
    if (!composited) {
        // Without a compositor the corners cannot be transparent: cut them.
        QPainterPath rounded;
        rounded.addRoundedRect(QRectF(0, 0, panelWidth, panelHeight), 12, 12);
        panel->setMask(QRegion(rounded.toFillPolygon().toPolygon()));
    }
    panel->winId(); // the native window, to carry the workspace hints from the start
    WorkspacePresence::showOnEveryWorkspace(panel->windowHandle());
    // Its pixels' memory too, which the first paint would otherwise wait for:
    // made and written once here, so that no page of it is first touched,
    // page by page, while the panel is drawn after a capture.
    if (QBackingStore *store = panel->backingStore()) {
        store->resize(frame.size());
        const QRegion all(QRect(QPoint(), frame.size()));
        store->beginPaint(all);
        if (QPaintDevice *device = store->paintDevice()) {
            QPainter painter(device);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.fillRect(QRect(QPoint(), frame.size()), composited ? QColor(Qt::transparent)
                                                                       : panel->palette().color(QPalette::Window));
        }
        store->endPaint();
    }
    return panel;
}

bool FloatingPreviewController::spareFits(const QRect &frame, bool composited) const
{
    return m_spare && m_spare->geometry() == frame && m_spareComposited == composited;
}

void FloatingPreviewController::prepareSpare()
{
    QScreen *screen = mainScreen();
    if (!screen)
        return;
    const QRect frame = frameOn(screen);
    const bool composited = Compositing::isActive();
    if (spareFits(frame, composited))
        return;
    delete m_spare;
    m_spare = makePanel(frame, composited);
    m_spareComposited = composited;
    // And what its view draws first, for a capture of the whole screen.
    FloatingPreviewView::prepare(frame.size(), screen->geometry().size(), m_spare->devicePixelRatioF(), !composited);
}

void FloatingPreviewController::show(const QImage &image, qint64 durationSec,
                                     std::function<void(const QImage &)> editorAction)
{
    dismiss();
    QScreen *screen = mainScreen();
    if (!screen)
        return;
    const QRect frame = frameOn(screen);
    const bool composited = Compositing::isActive();
    // The window made ahead, when it still fits; the next one is made once
    // this one is on screen.
    QWidget *panel = nullptr;
    if (spareFits(frame, composited))
        panel = std::exchange(m_spare, nullptr);
    else
        panel = makePanel(frame, composited);
    QTimer::singleShot(spareDelayMs, this, [this] { prepareSpare(); });

    QPointer<FloatingPreviewController> weak(this);
    auto onEdit = [weak, image, editorAction] {
        if (weak)
            weak->dismiss();
        if (editorAction)
            editorAction(image);
    };
    auto onSave = [weak] {
        if (weak)
            weak->dismiss();
    };
    auto onCopy = [image] { ClipboardImage::copy(image); };
    auto onDismiss = [weak] {
        if (weak)
            weak->dismiss();
    };
    auto *view = new FloatingPreviewView(image, onEdit, onSave, onCopy, onDismiss, panel);
    auto *layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    panel->show();
    panel->raise();
    m_panel = panel;

    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setInterval(static_cast<int>(qBound(qint64(0), durationSec, qint64(24 * 3600)) * 1000));
    connect(timer, &QTimer::timeout, this, [this] { dismiss(); });
    timer->start();
    m_dismissTimer = timer;
}

void FloatingPreviewController::dismiss()
{
    if (m_dismissTimer) {
        m_dismissTimer->stop();
        m_dismissTimer->deleteLater();
    }
    m_dismissTimer = nullptr;
    if (!m_panel)
        return;
    QWidget *panel = m_panel;
    m_panel = nullptr;
    // While it fades it only shows its picture; the capture itself is not
    // kept for it (back-to-back captures would otherwise pile up in memory).
    if (auto *view = panel->findChild<FloatingPreviewView *>())
        view->letGoOfImage();
    m_fading.removeAll(nullptr);
    m_fading.append(panel);
    auto *fade = new QPropertyAnimation(panel, "windowOpacity", panel);
    fade->setDuration(300);
    fade->setStartValue(panel->windowOpacity());
    fade->setEndValue(0.0);
    connect(fade, &QPropertyAnimation::finished, panel, [panel] {
        panel->hide();
        panel->deleteLater();
    });
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}
