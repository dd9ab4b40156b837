#include "windows/HelpView.h"

#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "windows/HelpBlocks.h"
#include "windows/HelpDetailView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QSplitter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kTopicRole = Qt::UserRole + 1;
constexpr int kSidebarMinimumWidth = 200;
// The least contrast a header keeps against the sidebar, a little above
// the 4.5:1 small text needs.
constexpr double kHeaderContrast = 5.0;

double luminance(const QColor &color)
{
    const auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) + 0.0722 * channel(color.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor mixed(const QColor &a, const QColor &b, double share)
{
    return QColor::fromRgbF(float(a.redF() * share + b.redF() * (1 - share)),
                            float(a.greenF() * share + b.greenF() * (1 - share)),
                            float(a.blueF() * share + b.blueF() * (1 - share)));
}

} // namespace

QColor HelpView::headerColor(const QPalette &palette)
{
    const QColor text = palette.color(QPalette::Active, QPalette::WindowText);
    const QColor back = palette.color(QPalette::Active, QPalette::Window);
    for (int percent = 60; percent < 100; percent += 5) {
        const QColor muted = mixed(text, back, percent / 100.0);
        if (contrast(muted, back) >= kHeaderContrast)
            return muted;
    }
    return text;
}

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

    applySidebarColors();

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

void HelpView::applySidebarColors()
{
    // The list's viewport too: the style sheet fixes the background colour
    // its palette had when it was polished, which a new palette would not
    // otherwise reach.
    for (QWidget *part : {static_cast<QWidget *>(m_sidebar), m_sidebar->viewport()}) {
        QPalette pal = part->palette();
        pal.setColor(QPalette::Base, palette().color(QPalette::Window));
        part->setPalette(pal);
    }
    // A header cannot be selected, which would draw it in the faint colour
    // of a disabled item: it gets its own.
    const QBrush header(headerColor(palette()));
    for (int i = 0; i < m_sidebar->count(); ++i) {
        QListWidgetItem *item = m_sidebar->item(i);
        if (!(item->flags() & Qt::ItemIsSelectable))
            item->setForeground(header);
    }
}

void HelpView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange)
        applySidebarColors();
    QWidget::changeEvent(event);
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
