#include "app/AppWindow.h"

#include <QGuiApplication>
#include <QScreen>

AppWindow::AppWindow(const QString &title, const QSize &contentSize, QWidget *parent) : QMainWindow(parent)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(title);
    resize(contentSize);
}

void AppWindow::setRootView(QWidget *view)
{
    setCentralWidget(view);
}

void AppWindow::center()
{
    QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    // The content is centred: the frame is only known once the window is shown.
    QRect content = geometry();
    content.moveCenter(s->availableGeometry().center());
    setGeometry(content);
}

void AppWindow::makeKeyAndOrderFront()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}
