#include "capture/RegionSelectionWindow.h"

#include "capture/RegionSelectionNSView.h"

#include <QGuiApplication>
#include <QScreen>

RegionSelectionWindow::RegionSelectionWindow(QScreen *screen, const QImage &snapshot, OnComplete onComplete)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool
                           | Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint)
{
    if (snapshot.isNull()) {
        // Only the dimming is drawn; the screen shows through where a
        // compositing manager blends windows.
        setAttribute(Qt::WA_TranslucentBackground);
    } else {
        // The view paints every pixel: no background to fill first.
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
    }
    if (screen) {
        setScreen(screen);
        setGeometry(screen->geometry());
    }
    m_view = new RegionSelectionNSView(snapshot, std::move(onComplete), this);
    m_view->setGeometry(rect());
}

RegionSelectionWindow::~RegionSelectionWindow() = default;

void RegionSelectionWindow::makeKeyAndOrderFront()
{
    show();
    raise();
    activateWindow();
    m_view->setFocus(Qt::ActiveWindowFocusReason);
    // An override-redirect window gets no focus from the window manager:
    // take the keyboard so that Escape reaches the overlay.
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        m_view->grabKeyboard();
}

void RegionSelectionWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_view)
        m_view->setGeometry(rect());
}
