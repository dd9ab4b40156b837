#include "windows/ContentView.h"

#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/SymbolIcon.h"
#include "windows/HistoryView.h"
#include "windows/QuickCaptureView.h"
#include "windows/ThumbnailCache.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int kSidebarWidth = 180;
constexpr int kTabRole = Qt::UserRole + 1;

void postShowSettings()
{
    NotificationCenter::instance().post(NotificationNames::showSettings);
}

} // namespace

ContentView::ContentView(AppState &appState, ContentTab selectedTab, QWidget *parent)
    : QWidget(parent), m_appState(appState), m_selectedTab(selectedTab)
{
    setMinimumSize(700, 450);
    auto *split = new QHBoxLayout(this);
    split->setContentsMargins(0, 0, 0, 0);
    split->setSpacing(0);

    // Sidebar.
    auto *side = new QWidget;
    side->setObjectName(QStringLiteral("Sidebar"));
    side->setMinimumWidth(160);
    side->setFixedWidth(kSidebarWidth);
    side->setAutoFillBackground(true);
    side->setBackgroundRole(QPalette::Window);
    auto *sideColumn = new QVBoxLayout(side);
    sideColumn->setContentsMargins(6, 8, 6, 0);
    sideColumn->setSpacing(0);
    m_sidebar = new QListWidget;
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setIconSize(QSize(18, 18));
    m_sidebar->setAutoFillBackground(false);
    m_sidebar->viewport()->setAutoFillBackground(false);
    auto *section = new QListWidgetItem(localized("Capture"), m_sidebar);
    section->setFlags(Qt::NoItemFlags);
    QFont sectionFont = m_sidebar->font();
    sectionFont.setBold(true);
    sectionFont.setPointSizeF(std::max(7.0, sectionFont.pointSizeF() - 1));
    section->setFont(sectionFont);
    section->setForeground(m_sidebar->palette().brush(QPalette::PlaceholderText));
    section->setSizeHint(QSize(0, 26));
    auto addRow = [this](const char *label, const char *symbol, ContentTab tab) {
        auto *row = new QListWidgetItem(SymbolIcon::make(QString::fromLatin1(symbol)), localized(label), m_sidebar);
        row->setData(kTabRole, int(tab));
        row->setSizeHint(QSize(0, 30));
    };
    addRow("Quick Capture", "camera.viewfinder", ContentTab::capture);
    addRow("History", "clock.arrow.circlepath", ContentTab::history);
    sideColumn->addWidget(m_sidebar, 1);

    m_settingsButton = new QPushButton(SymbolIcon::make(QStringLiteral("gearshape")), localized("Settings…"));
    m_settingsButton->setFlat(true);
    m_settingsButton->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 8px 12px; border: none; }"));
    m_settingsButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_settingsButton, &QPushButton::clicked, this, postShowSettings);
    sideColumn->addWidget(m_settingsButton);
    split->addWidget(side);

    auto *rule = new QFrame;
    rule->setFrameShape(QFrame::VLine);
    rule->setFrameShadow(QFrame::Sunken);
    split->addWidget(rule);

    // Detail: a tool bar over the chosen page.
    m_detail = new QWidget;
    auto *detail = new QVBoxLayout(m_detail);
    detail->setContentsMargins(0, 0, 0, 0);
    detail->setSpacing(0);
    auto *toolbar = new QHBoxLayout;
    toolbar->setContentsMargins(8, 4, 8, 4);
    toolbar->addStretch(1);
    m_toolbarSettings = new QToolButton;
    m_toolbarSettings->setObjectName(QStringLiteral("OpenSettings"));
    m_toolbarSettings->setAutoRaise(true);
    m_toolbarSettings->setIcon(SymbolIcon::make(QStringLiteral("gearshape")));
    m_toolbarSettings->setIconSize(QSize(18, 18));
    m_toolbarSettings->setToolTip(localized("Open Settings"));
    m_toolbarSettings->setAccessibleName(localized("Open Settings"));
    connect(m_toolbarSettings, &QToolButton::clicked, this, postShowSettings);
    toolbar->addWidget(m_toolbarSettings);
    detail->addLayout(toolbar);

    m_quickCaptureScroll = new QScrollArea;
    m_quickCaptureScroll->setFrameShape(QFrame::NoFrame);
    m_quickCaptureScroll->setWidgetResizable(true);
    m_quickCaptureScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_quickCapture = new QuickCaptureView(appState);
    m_quickCaptureScroll->setWidget(m_quickCapture);
    detail->addWidget(m_quickCaptureScroll, 1);
    split->addWidget(m_detail, 1);

    connect(m_sidebar, &QListWidget::currentItemChanged, this, [this](QListWidgetItem *current) {
        if (current && current->data(kTabRole).isValid())
            setSelectedTab(ContentTab(current->data(kTabRole).toInt()));
    });
    // Control-click can empty the selection; the row of the page shown
    // stays selected.
    connect(m_sidebar, &QListWidget::itemSelectionChanged, this, [this] {
        if (m_sidebar->selectedItems().isEmpty())
            selectRowOfPage();
    });
    // The pages' pictures of entries that left the history go with them.
    connect(&appState, &AppState::changed, this, [this](AppState::Property property) {
        if (property == AppState::Property::history)
            ThumbnailCache::shared().keepOnly(m_appState.history());
    });
    showPage();
}

void ContentView::setSelectedTab(ContentTab tab)
{
    if (tab == m_selectedTab)
        return;
    m_selectedTab = tab;
    showPage();
}

void ContentView::selectRowOfPage()
{
    for (int i = 0; i < m_sidebar->count(); ++i) {
        QListWidgetItem *row = m_sidebar->item(i);
        if (row->data(kTabRole).isValid() && ContentTab(row->data(kTabRole).toInt()) == m_selectedTab) {
            const QSignalBlocker quiet(m_sidebar);
            m_sidebar->setCurrentItem(row, QItemSelectionModel::ClearAndSelect);
            m_sidebar->viewport()->update();
        }
    }
}

void ContentView::showPage()
{
    selectRowOfPage();
    const bool history = m_selectedTab == ContentTab::history;
    if (history && !m_history) {
        m_history = new HistoryView(m_appState);
        static_cast<QVBoxLayout *>(m_detail->layout())->addWidget(m_history, 1);
    } else if (!history && m_history) {
        // A fresh page next time: no selection, nothing hovered.
        m_history->hide();
        m_history->deleteLater();
        m_history = nullptr;
    }
    m_quickCaptureScroll->setVisible(!history);
}
