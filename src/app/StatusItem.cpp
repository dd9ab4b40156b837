#include "app/StatusItem.h"

#include "platform/HiddenWindowWait.h"
#include "platform/Log.h"
#include "platform/SymbolIcon.h"

#include <QCursor>
#include <QDeadlineTimer>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QTimer>

namespace {
std::optional<bool> g_trayOverride;
}

StatusItem::StatusItem(QObject *parent) : QObject(parent) {}

bool StatusItem::isTrayAvailable()
{
    return g_trayOverride ? *g_trayOverride : QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusItem::setTrayAvailableOverride(std::optional<bool> available)
{
    g_trayOverride = available;
}

StatusItem::~StatusItem()
{
    if (m_tray)
        m_tray->setContextMenu(nullptr);
}

void StatusItem::setup(QMenu *menu)
{
    vlog(QStringLiteral("[Vorna] setupStatusItem: creating NSStatusItem"));
    m_tray = new QSystemTrayIcon(this);
    m_tray->setToolTip(QStringLiteral("Vorna"));
    vlog(QStringLiteral("[Vorna] setupStatusItem: visible=%1 length=%2")
             .arg(m_tray->isVisible() ? QStringLiteral("true") : QStringLiteral("false"),
                  QString::asprintf("%f", -2.0)));

    // The icon is set in any case, so that a tray that appears later shows it.
    const QIcon asset = SymbolIcon::asset(QStringLiteral("StatusIcon"));
    const QIcon symbol = SymbolIcon::make(QStringLiteral("camera.viewfinder"));
    const QIcon chosen = !asset.isNull() ? asset : symbol;

    m_inTray = isTrayAvailable();
    if (!m_inTray) {
        vlog(QStringLiteral("[Vorna] setupStatusItem: button is nil!"));
        vlog(QStringLiteral("[Vorna] setupStatusItem: no system tray on this desktop"));
    } else {
        vlog(QStringLiteral("[Vorna] setupStatusItem: asset=%1 symbol=%2 chosen=%3")
                 .arg(asset.isNull() ? QStringLiteral("nil") : QStringLiteral("ok"),
                      symbol.isNull() ? QStringLiteral("nil") : QStringLiteral("ok"),
                      chosen.isNull() ? QStringLiteral("nil") : QStringLiteral("ok")));
    }
    if (!chosen.isNull())
        m_tray->setIcon(chosen);
    m_tray->show();
    setMenu(menu);

    // A click on the icon opens the menu, as a right click does.
    connect(m_tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_menu)
            m_menu->popup(QCursor::pos());
    });
}

void StatusItem::waitForTray(std::chrono::milliseconds timeout, std::function<void(bool)> done)
{
    vlog(QStringLiteral("[Vorna] setupStatusItem: no system tray yet; waiting up to %1 s for one")
             .arg(std::chrono::duration<double>(timeout).count()));
    // The tray icon docks by itself once a tray comes; this only learns that
    // it has.
    auto *poll = new QTimer(this);
    poll->setInterval(std::chrono::milliseconds(250));
    connect(poll, &QTimer::timeout, this, [this, poll, deadline = QDeadlineTimer(timeout), done = std::move(done)] {
        const bool inTray = isTrayAvailable();
        if (!inTray && !deadline.hasExpired())
            return;
        poll->stop();
        poll->deleteLater();
        m_inTray = inTray;
        vlog(inTray ? QStringLiteral("[Vorna] setupStatusItem: a system tray appeared; the icon is in it")
                    : QStringLiteral("[Vorna] setupStatusItem: no system tray came; the main window takes its place"));
        done(inTray);
    });
    poll->start();
}

void StatusItem::setMenu(QMenu *menu)
{
    std::unique_ptr<QMenu> old = std::move(m_menu);
    m_menu.reset(menu);
    if (menu)
        menu->installEventFilter(this);
    if (m_tray)
        m_tray->setContextMenu(menu);
    if (old)
        old.release()->deleteLater();
}

bool StatusItem::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_menu.get() && m_menu->isVisible()) {
        QAction *chosen = nullptr;
        if (event->type() == QEvent::MouseButtonRelease) {
            chosen = m_menu->actionAt(static_cast<QMouseEvent *>(event)->position().toPoint());
        } else if (event->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent *>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space)
                chosen = m_menu->activeAction();
        }
        // The menu closes before the entry runs; a capture it starts must
        // not find the menu, or its fade, in the picture.
        if (chosen && chosen->isEnabled() && !chosen->isSeparator() && !chosen->menu())
            HiddenWindowWait::aboutToHide(m_menu->windowHandle());
    }
    return QObject::eventFilter(watched, event);
}
