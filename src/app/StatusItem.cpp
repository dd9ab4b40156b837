#include "app/StatusItem.h"

#include "platform/Log.h"
#include "platform/SymbolIcon.h"

#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

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
        vlog(QStringLiteral("[Vorna] setupStatusItem: no system tray on this desktop; the main window takes "
                            "its place"));
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

void StatusItem::setMenu(QMenu *menu)
{
    std::unique_ptr<QMenu> old = std::move(m_menu);
    m_menu.reset(menu);
    if (m_tray)
        m_tray->setContextMenu(menu);
    if (old)
        old.release()->deleteLater();
}
