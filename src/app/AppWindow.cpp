#include "app/AppWindow.h"

#include <QAction>
#include <QGuiApplication>
#include <QLayout>
#include <QScreen>

AppWindow::AppWindow(const QString &title, const QSize &contentSize, QWidget *parent)
    : QMainWindow(parent), m_contentSize(contentSize)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setWindowTitle(title);
    resize(contentSize);
    // The desktop's "close window" key (Ctrl+W), whatever has the focus
    // inside the window.
    auto *close = new QAction(this);
    close->setShortcuts(QKeySequence::Close);
    close->setShortcutContext(Qt::WindowShortcut);
    connect(close, &QAction::triggered, this, &QWidget::close);
    addAction(close);
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

void AppWindow::showEvent(QShowEvent *event)
{
    // Only the first time: later the size is the user's.
    if (!m_fitted) {
        m_fitted = true;
        fitContent();
    }
    QMainWindow::showEvent(event);
}

void AppWindow::fitContent()
{
    if (!centralWidget() || !layout())
        return;
    layout()->activate();
    const QSize missing = m_contentSize - centralWidget()->size();
    if (missing.isNull() || missing.width() < 0 || missing.height() < 0)
        return;
    QRect frame = geometry();
    const QPoint centre = frame.center();
    frame.setSize(frame.size() + missing);
    frame.moveCenter(centre);
    setGeometry(frame);
}
