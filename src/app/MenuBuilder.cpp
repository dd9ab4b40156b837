#include "app/MenuBuilder.h"

#include "app/SaveToMenus.h"
#include "platform/Localized.h"
#include "platform/SymbolIcon.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace {

QAction *makeAction(QObject *parent, const QString &title, const QKeySequence &key, const char *symbol,
                    const std::function<void()> &action)
{
    auto *item = new QAction(title, parent);
    if (!key.isEmpty())
        item->setShortcut(key);
    if (symbol) {
        const QIcon icon = SymbolIcon::make(QString::fromLatin1(symbol));
        if (!icon.isNull())
            item->setIcon(icon);
    }
    item->setIconVisibleInMenu(true);
    QObject::connect(item, &QAction::triggered, item, [action] {
        if (action)
            action();
    });
    return item;
}

QKeySequence ctrlShift(Qt::Key key)
{
    return QKeySequence(Qt::CTRL | Qt::SHIFT | key);
}

QKeySequence ctrl(Qt::Key key)
{
    return QKeySequence(Qt::CTRL | key);
}

} // namespace

MenuBuilder::MenuBuilder(MenuActions actions, SaveToMenus &saveTo) : m_actions(std::move(actions)), m_saveTo(saveTo) {}

QAction *MenuBuilder::addItem(QMenu *menu, const QString &title, const QKeySequence &key, const char *symbol,
                              const std::function<void()> &action)
{
    QAction *item = makeAction(menu, title, key, symbol, action);
    menu->addAction(item);
    return item;
}

void MenuBuilder::addCaptureItems(QMenu *menu, bool simple)
{
    addItem(menu, localized("Full Screen"), ctrlShift(Qt::Key_1), "rectangle.dashed", m_actions.captureFullScreen);
    addItem(menu, localized("Window…"), ctrlShift(Qt::Key_2), "macwindow", m_actions.captureWindow);
    addItem(menu, localized("Region…"), ctrlShift(Qt::Key_3), "rectangle.dashed.badge.record", m_actions.captureRegion);
    if (simple)
        return;
    addItem(menu, localized("Scrolling Capture…"), ctrlShift(Qt::Key_4), "scroll", m_actions.captureScrolling);
    addItem(menu, localized("Timed Capture…"), ctrlShift(Qt::Key_5), "timer", m_actions.captureTimed);
}

QMenu *MenuBuilder::buildStatusMenu(bool simple, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    addCaptureItems(menu, simple);
    menu->addSeparator();
    addItem(menu, localized("Open Vorna"), ctrl(Qt::Key_O), "camera.viewfinder", m_actions.openMainWindow);
    if (!simple) {
        addItem(menu, localized("History"), ctrl(Qt::Key_H), "clock.arrow.circlepath", m_actions.openHistory);
        addItem(menu, localized("Editor"), ctrl(Qt::Key_E), "pencil.tip.crop.circle", m_actions.openEditor);
        menu->addMenu(m_saveTo.createMenu(menu));
    }
    menu->addSeparator();
    if (!simple)
        addItem(menu, localized("Diff Viewer…"), {}, "square.on.square.intersection.dashed", m_actions.openDiffViewer);
    addItem(menu, localized("Help"), {}, "questionmark.circle", m_actions.openHelp);
    if (!simple) {
        addItem(menu, localized("Report a Bug…"), {}, "ladybug", m_actions.reportBug);
        addItem(menu, localized("About Vorna"), {}, "info.circle", m_actions.showAboutPanel);
        addItem(menu, localized("Check for Updates…"), {}, "arrow.triangle.2.circlepath", m_actions.checkForUpdates);
    }
    menu->addSeparator();
    addItem(menu, localized("Settings…"), ctrl(Qt::Key_Comma), "gearshape", m_actions.openSettings);
    addItem(menu, localized("Quit Vorna"), ctrl(Qt::Key_Q), "power", m_actions.quitApp);
    return menu;
}

QMenuBar *MenuBuilder::makeMainMenuBar(const MenuActions &actions)
{
    auto *bar = new QMenuBar;
    QMenu *app = bar->addMenu(QStringLiteral("Vorna"));
    app->addAction(makeAction(app, localized("Quit Vorna"), ctrl(Qt::Key_Q), nullptr, actions.quitApp));
    return bar;
}

void MenuBuilder::extendMainMenu(QMenuBar *bar)
{
    if (!bar)
        return;
    QList<QAction *> items = bar->actions();
    if (!items.isEmpty() && items.first()->menu()) {
        QMenu *app = items.first()->menu();
        QAction *top = app->actions().value(0);
        QAction *about = makeAction(app, localized("About Vorna"), {}, nullptr, m_actions.showAboutPanel);
        QAction *updates = makeAction(app, localized("Check for Updates…"), {}, nullptr, m_actions.checkForUpdates);
        auto separator = [app] {
            auto *s = new QAction(app);
            s->setSeparator(true);
            return s;
        };
        app->insertActions(top, {about, separator(), updates, separator()});
    }

    auto insertAt = [bar](qsizetype index, QMenu *menu) {
        const QList<QAction *> now = bar->actions();
        QAction *before = index < now.size() ? now.at(index) : nullptr;
        bar->insertMenu(before, menu);
    };

    auto *capture = new QMenu(localized("Capture"), bar);
    addCaptureItems(capture, false);
    insertAt(std::min<qsizetype>(1, bar->actions().size()), capture);

    auto *tools = new QMenu(localized("Tools"), bar);
    addItem(tools, localized("Open Vorna"), ctrl(Qt::Key_0), "camera.viewfinder", m_actions.openMainWindow);
    addItem(tools, localized("History"), ctrlShift(Qt::Key_H), "clock.arrow.circlepath", m_actions.openHistory);
    addItem(tools, localized("Editor"), ctrlShift(Qt::Key_E), "pencil.tip.crop.circle", m_actions.openEditor);
    tools->addMenu(m_saveTo.createMenu(tools));
    tools->addSeparator();
    addItem(tools, localized("Diff Viewer…"), ctrlShift(Qt::Key_D), "square.on.square.intersection.dashed",
            m_actions.openDiffViewer);
    addItem(tools, localized("Settings…"), ctrl(Qt::Key_Comma), "gearshape", m_actions.openSettings);
    insertAt(std::min<qsizetype>(2, bar->actions().size()), tools);

    auto *help = new QMenu(localized("Help"), bar);
    addItem(help, localized("Vorna Help"), ctrl(Qt::Key_Question), "questionmark.circle", m_actions.openHelp);
    help->addSeparator();
    addItem(help, localized("Report a Bug…"), {}, "ladybug", m_actions.reportBug);
    bar->addMenu(help);
}
