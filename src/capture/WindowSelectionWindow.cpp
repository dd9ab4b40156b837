#include "capture/WindowSelectionWindow.h"

#include "capture/WindowSelectionNSView.h"

#include <QGuiApplication>
#include <QScreen>

WindowSelectionWindow::WindowSelectionWindow(QScreen *screen, const QList<ShareableWindow> &capturables,
                                             const QImage &snapshot, OnSelect onSelect, OnCancel onCancel,
                                             std::function<void()> beep)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool
                           | Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint)
{
    // Without a picture of the screen only the light dimming is drawn; the
    // screen shows through where a compositing manager blends windows.
    if (snapshot.isNull())
        setAttribute(Qt::WA_TranslucentBackground);
    QRect frame;
    if (screen) {
        setScreen(screen);
        frame = screen->geometry();
        setGeometry(frame);
    }
    m_view = new WindowSelectionNSView(frame, capturables, snapshot, std::move(onSelect), std::move(onCancel),
                                       std::move(beep), this);
    m_view->setGeometry(rect());
}

WindowSelectionWindow::~WindowSelectionWindow() = default;

void WindowSelectionWindow::makeKeyAndOrderFront()
{
    show();
    raise();
    activateWindow();
}

void WindowSelectionWindow::makeFirstResponder()
{
    m_view->setFocus(Qt::ActiveWindowFocusReason);
    // An override-redirect window gets no focus from the window manager:
    // take the keyboard so that Escape reaches the overlay.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_view->grabKeyboard();
}

void WindowSelectionWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}
