#include "settings/SettingsView.h"

#include "model/AppState.h"
#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "platform/UserDefaults.h"
#include "settings/AboutSettingsTab.h"
#include "settings/GeneralSettingsTab.h"
#include "settings/SettingsWidgets.h"
#include "settings/ShortcutsSettingsTab.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

// Scrolls its page up and down only, so the page must never be narrower
// than its rows: the area asks for the page's narrowest width.
class VerticalScrollArea : public QScrollArea
{
public:
    QSize minimumSizeHint() const override
    {
        const QSize base = QScrollArea::minimumSizeHint();
        if (!widget())
            return base;
        return {std::max(base.width(), widget()->minimumSizeHint().width() + 2 * frameWidth()), base.height()};
    }
};

// A wheel turned over a page scrolls the page. Pickers and sliders take the
// wheel only once they have the keyboard focus, so scrolling past the
// language picker does not change the language on the way.
class WheelGuard : public QObject
{
public:
    explicit WheelGuard(QScrollArea *area) : QObject(area), m_area(area) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Wheel)
            return false;
        const auto *control = qobject_cast<QWidget *>(watched);
        if (!control || control->hasFocus())
            return false;
        QCoreApplication::sendEvent(m_area->verticalScrollBar(), event);
        return true;
    }

private:
    QScrollArea *m_area;
};

void guardWheel(QScrollArea *area, QWidget *content)
{
    auto *guard = new WheelGuard(area);
    QList<QWidget *> controls;
    for (QComboBox *c : content->findChildren<QComboBox *>())
        controls.append(c);
    for (QAbstractSlider *c : content->findChildren<QAbstractSlider *>())
        controls.append(c);
    for (QAbstractSpinBox *c : content->findChildren<QAbstractSpinBox *>())
        controls.append(c);
    for (QWidget *control : std::as_const(controls)) {
        control->setFocusPolicy(Qt::StrongFocus); // not focused by the wheel
        control->installEventFilter(guard);
    }
}

QScrollArea *scrolling(QWidget *content)
{
    auto *area = new VerticalScrollArea;
    area->setWidget(content);
    guardWheel(area, content);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    return area;
}

} // namespace

SettingsView::SettingsView(AppState &appState, const QString &selectedTab, QWidget *parent)
    : QWidget(parent), m_appState(appState), m_selectedTab(selectedTab)
{
    SettingsWidgets::ensureSymbols();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    m_tabs = new QTabWidget;
    m_tabs->setDocumentMode(true);
    m_general = new GeneralSettingsTab(appState);
    m_shortcuts = new ShortcutsSettingsTab(appState);
    m_about = new AboutSettingsTab;
    m_tabs->addTab(scrolling(m_general), SymbolIcon::make(QStringLiteral("gear")), localized("General"));
    m_tabs->addTab(scrolling(m_shortcuts), SymbolIcon::make(QStringLiteral("keyboard")), localized("Shortcuts"));
    m_tabs->addTab(m_about, SymbolIcon::make(QStringLiteral("info.circle")), localized("About"));
    layout->addWidget(m_tabs);
    // Narrower than its widest page the window would cut the pages' rows
    // off; it may still open at its usual 540 points, where the key rows
    // just fit.
    setMinimumWidth(std::min(minimumSizeHint().width(), 540));

    const int index = tags().indexOf(selectedTab);
    m_tabs->setCurrentIndex(index < 0 ? 0 : index);
    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int i) {
        if (i >= 0 && i < tags().size())
            m_selectedTab = tags().at(i);
    });
}

QStringList SettingsView::tags()
{
    return {QStringLiteral("general"), QStringLiteral("shortcuts"), QStringLiteral("about")};
}

void SettingsView::setSelectedTab(const QString &tag)
{
    m_selectedTab = tag;
    const int index = tags().indexOf(tag);
    if (index >= 0)
        m_tabs->setCurrentIndex(index);
}

QString initialSettingsTab()
{
    static const QString key = QStringLiteral("vorna.uiTests.preselectedSettingsTab");
    UserDefaults &defaults = UserDefaults::standard();
    const std::optional<QString> stored = defaults.stringForKey(key);
    if (!stored)
        return QStringLiteral("general");
    defaults.removeObject(key);
    return *stored;
}
