#include "capture/CaptureFlashWindow.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScreen>

CaptureFlashWindow::CaptureFlashWindow(QScreen *screen, const QImage &backdrop)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool
                           | Qt::X11BypassWindowManagerHint | Qt::WindowTransparentForInput
                           | Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
    , m_backdrop(backdrop)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    if (screen) {
        setScreen(screen);
        setGeometry(screen->geometry());
    }
    if (m_backdrop.isNull())
        setWindowOpacity(0);
}

void CaptureFlashWindow::setLevel(qreal level)
{
    m_level = level;
    if (m_backdrop.isNull())
        setWindowOpacity(level);
    else
        update();
}

void CaptureFlashWindow::paintEvent(QPaintEvent *event)
{
    QPainter p(this);
    if (m_backdrop.isNull()) {
        p.fillRect(event->rect(), Qt::white);
        return;
    }
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(rect(), m_backdrop);
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    QColor white(Qt::white);
    white.setAlphaF(float(m_level));
    p.fillRect(event->rect(), white);
}
