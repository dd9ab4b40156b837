#include "windows/HelpView.h"

#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "windows/HelpBlocks.h"
#include "windows/HelpDetailView.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QSplitter>

namespace {

constexpr int kTopicRole = Qt::UserRole + 1;
constexpr int kSidebarMinimumWidth = 200;

} // namespace

HelpView::HelpView(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(700, 500);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    layout->addWidget(split);

    m_sidebar = new QListWidget(split);
    m_sidebar->setMinimumWidth(kSidebarMinimumWidth);
    m_sidebar->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sidebar->setFrameShape(QFrame::NoFrame);
    m_sidebar->setIconSize(QSize(16, 16));
    m_sidebar->setStyleSheet(QStringLiteral(
        "QListWidget { padding: 6px; outline: 0; } "
        "QListWidget::item { padding: 4px 6px; border-radius: 5px; border: none; } "
        "QListWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }"));
    m_sidebar->setAccessibleName(localized("Help Topics"));
    QPalette pal = m_sidebar->palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Window));
    m_sidebar->setPalette(pal);

    const QFont headerFont = HelpStyle::font(m_sidebar->font(), HelpStyle::Role::caption);
    QFont boldHeader = headerFont;
    boldHeader.setBold(true);
    for (const HelpSidebarSection &section : helpSidebarSections()) {
        if (section.header) {
            // A header: shown, never selected or made current by the keyboard.
            auto *header = new QListWidgetItem(localized(section.header), m_sidebar);
            header->setFlags(Qt::NoItemFlags);
            header->setFont(boldHeader);
            header->setSizeHint(QSize(0, QFontMetrics(boldHeader).height() + 14));
            header->setTextAlignment(Qt::AlignLeft | Qt::AlignBottom);
        }
        for (const HelpSidebarRow &row : section.rows) {
            auto *item = new QListWidgetItem(SymbolIcon::make(QString::fromLatin1(row.symbol)), localized(row.title),
                                             m_sidebar);
            item->setData(kTopicRole, int(row.topic));
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        }
    }

    m_detail = new HelpDetailView(m_selectedTopic, split);
    split->addWidget(m_sidebar);
    split->addWidget(m_detail);
    split->setStretchFactor(0, 0);
    split->setStretchFactor(1, 1);
    split->setSizes({220, 560});

    rowOf(m_selectedTopic)->setSelected(true);
    m_sidebar->setCurrentItem(rowOf(m_selectedTopic), QItemSelectionModel::NoUpdate);
    connect(m_sidebar, &QListWidget::itemSelectionChanged, this, &HelpView::selectionChanged);
}

QListWidgetItem *HelpView::rowOf(HelpTopic topic) const
{
    for (int i = 0; i < m_sidebar->count(); ++i) {
        QListWidgetItem *item = m_sidebar->item(i);
        if (item->data(kTopicRole).isValid() && item->data(kTopicRole).toInt() == int(topic))
            return item;
    }
    return nullptr;
}

void HelpView::setSelectedTopic(HelpTopic topic)
{
    if (QListWidgetItem *row = rowOf(topic)) {
        m_sidebar->setCurrentItem(row, QItemSelectionModel::ClearAndSelect);
        selectionChanged();
    }
}

void HelpView::selectionChanged()
{
    const QList<QListWidgetItem *> selected = m_sidebar->selectedItems();
    if (selected.isEmpty() || !selected.first()->data(kTopicRole).isValid()) {
        // A selection is never emptied: the topic shown stays selected.
        const QSignalBlocker block(m_sidebar);
        m_sidebar->setCurrentItem(rowOf(m_selectedTopic), QItemSelectionModel::ClearAndSelect);
        m_sidebar->viewport()->update();
        return;
    }
    const auto topic = HelpTopic(selected.first()->data(kTopicRole).toInt());
    if (topic == m_selectedTopic)
        return;
    m_selectedTopic = topic;
    m_detail->setTopic(topic);
    emit selectedTopicChanged(topic);
}
