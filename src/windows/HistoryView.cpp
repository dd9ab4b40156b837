#include "windows/HistoryView.h"

#include "model/AppState.h"
#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "windows/AdaptiveGridLayout.h"
#include "windows/BatchExport.h"
#include "windows/HistoryActions.h"
#include "windows/HistoryCard.h"

#include <QFrame>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QFont captionFont(const QFont &base)
{
    QFont f = base;
    f.setPointSizeF(std::max(7.0, base.pointSizeF() - 1));
    return f;
}

QPushButton *headerButton(const QString &text, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setFont(captionFont(b->font()));
    b->setFlat(true);
    b->setCursor(Qt::PointingHandCursor);
    return b;
}

} // namespace

HistoryView::HistoryView(AppState &appState, QWidget *parent) : QWidget(parent), m_appState(appState)
{
    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    auto *header = new QHBoxLayout;
    header->setContentsMargins(16, 10, 16, 10);
    auto *title = new QLabel(localized("Screenshot History"));
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    header->addWidget(title);
    header->addStretch(1);
    m_countLabel = new QLabel;
    m_countLabel->setFont(captionFont(m_countLabel->font()));
    m_countLabel->setForegroundRole(QPalette::PlaceholderText);
    header->addWidget(m_countLabel);
    m_exportSelected = headerButton(QString(), this);
    m_clearSelection = headerButton(localized("Clear Selection"), this);
    m_exportAll = headerButton(localized("Export All…"), this);
    m_clearAll = headerButton(localized("Clear All"), this);
    QPalette red = m_clearAll->palette();
    red.setColor(QPalette::ButtonText, QColor(215, 0, 21));
    m_clearAll->setPalette(red);
    for (QPushButton *b : {m_exportSelected, m_clearSelection, m_exportAll, m_clearAll})
        header->addWidget(b);
    connect(m_exportSelected, &QPushButton::clicked, this, &HistoryView::exportSelected);
    connect(m_clearSelection, &QPushButton::clicked, this, &HistoryView::clearSelection);
    connect(m_exportAll, &QPushButton::clicked, this, &HistoryView::exportAll);
    connect(m_clearAll, &QPushButton::clicked, this, &HistoryView::clearAll);
    page->addLayout(header);

    auto *divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    page->addWidget(divider);

    // No captures: a note in the middle.
    m_emptyView = new QWidget;
    m_emptyView->setObjectName(QStringLiteral("HistoryEmptyView"));
    auto *empty = new QVBoxLayout(m_emptyView);
    empty->addStretch(1);
    auto *symbol = new QLabel;
    symbol->setPixmap(SymbolIcon::make(QStringLiteral("photo.on.rectangle.angled")).pixmap(48, 48, QIcon::Disabled));
    symbol->setAlignment(Qt::AlignCenter);
    auto *emptyTitle = new QLabel(localized("No Screenshots Yet"));
    QFont big = emptyTitle->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    emptyTitle->setFont(big);
    emptyTitle->setAlignment(Qt::AlignCenter);
    auto *emptyText = new QLabel(localized("Your captured screenshots will appear here"));
    emptyText->setForegroundRole(QPalette::PlaceholderText);
    emptyText->setAlignment(Qt::AlignCenter);
    emptyText->setWordWrap(true);
    empty->addWidget(symbol);
    empty->addWidget(emptyTitle);
    empty->addWidget(emptyText);
    empty->addStretch(1);
    page->addWidget(m_emptyView, 1);

    // The grid.
    m_scroll = new QScrollArea;
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_gridHost = new QWidget;
    m_grid = new AdaptiveGridLayout(180, 250, 12, 12, m_gridHost);
    m_grid->setContentsMargins(16, 16, 16, 16);
    m_scroll->setWidget(m_gridHost);
    // The arrow keys reach the scroll area from the cards; they move the
    // selection there rather than scroll.
    m_scroll->installEventFilter(this);
    page->addWidget(m_scroll, 1);

    m_minuteTimer = new QTimer(this);
    m_minuteTimer->setInterval(60 * 1000);
    connect(m_minuteTimer, &QTimer::timeout, this, [this] {
        for (HistoryCard *card : std::as_const(m_cards))
            card->update();
    });
    m_minuteTimer->start();

    connect(&appState, &AppState::changed, this, [this](AppState::Property property) {
        if (property == AppState::Property::history)
            historyChanged();
    });
    historyChanged();
}

QList<HistoryCard *> HistoryView::cards() const
{
    QList<HistoryCard *> list;
    for (int i = 0; i < m_grid->count(); ++i)
        if (auto *card = qobject_cast<HistoryCard *>(m_grid->itemAt(i)->widget()))
            list.append(card);
    return list;
}

void HistoryView::historyChanged()
{
    // Whatever took captures out of the history, they leave the selection
    // and the pointer state with it.
    QSet<QUuid> ids;
    for (const HistoryItem &item : m_appState.history())
        ids.insert(item.id);
    m_selectedIDs.intersect(ids);
    if (m_hoveredID && !ids.contains(*m_hoveredID))
        m_hoveredID.reset();
    rebuildCards();
    updateHeader();
}

void HistoryView::rebuildCards()
{
    const QList<HistoryItem> &history = m_appState.history();
    while (QLayoutItem *item = m_grid->takeAt(0))
        delete item;
    QHash<QUuid, HistoryCard *> kept;
    for (const HistoryItem &item : history) {
        HistoryCard *card = m_cards.take(item.id);
        if (card && card->item().filePath != item.filePath) {
            card->deleteLater();
            card = nullptr;
        }
        if (!card) {
            const QUuid id = item.id;
            HistoryCard::Actions actions;
            actions.onOpen = [this, id] {
                for (const HistoryItem &i : m_appState.history())
                    if (i.id == id)
                        return HistoryActions::openInEditor(m_appState, i);
            };
            actions.onCopy = [this, id] {
                if (HistoryCard *c = m_cards.value(id))
                    HistoryActions::copyImage(c->item());
            };
            actions.onReveal = [this, id] {
                if (HistoryCard *c = m_cards.value(id))
                    HistoryActions::reveal(c->item());
            };
            actions.onDelete = [this, id] { deleteEntry(id); };
            actions.onToggleSelect = [this, id] { toggleSelection(id); };
            actions.onHover = [this, id](bool entered) {
                if (entered)
                    setHoveredID(id);
                else
                    setHoveredID(std::nullopt);
            };
            card = new HistoryCard(item, actions, m_gridHost);
        }
        kept.insert(item.id, card);
        m_grid->addWidget(card);
    }
    // Cards of captures that left the history; later, since one of them
    // may be running its own delete action.
    for (HistoryCard *gone : std::as_const(m_cards)) {
        gone->hide();
        gone->deleteLater();
    }
    m_cards = kept;
    updateCardStates();
    m_emptyView->setVisible(history.isEmpty());
    m_scroll->setVisible(!history.isEmpty());
}

void HistoryView::updateHeader()
{
    const qsizetype count = m_appState.history().size();
    m_countLabel->setText(localized("%lld items").replace(QStringLiteral("%lld"), QString::number(count)));
    const bool any = count > 0;
    const bool selection = any && !m_selectedIDs.isEmpty();
    m_exportSelected->setText(localized("Export Selected (%lld)")
                                  .replace(QStringLiteral("%lld"), QString::number(m_selectedIDs.size())));
    m_exportSelected->setVisible(selection);
    m_clearSelection->setVisible(selection);
    m_exportAll->setVisible(any);
    m_clearAll->setVisible(any);
}

void HistoryView::updateCardStates()
{
    for (auto it = m_cards.cbegin(); it != m_cards.cend(); ++it) {
        it.value()->setSelected(m_selectedIDs.contains(it.key()));
        it.value()->setHovered(m_hoveredID == it.key());
    }
}

bool HistoryView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_scroll && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if ((modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier)
            && moveSelection(Qt::Key(key->key()), modifiers == Qt::ShiftModifier))
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool HistoryView::moveSelection(Qt::Key key, bool extend)
{
    const QList<HistoryCard *> grid = cards();
    if (grid.isEmpty())
        return false;
    const int columns = std::max(1, m_grid->columns().count);
    int step = 0;
    switch (key) {
    case Qt::Key_Left: step = -1; break;
    case Qt::Key_Right: step = 1; break;
    case Qt::Key_Up: step = -columns; break;
    case Qt::Key_Down: step = columns; break;
    default: return false;
    }
    const int last = int(grid.size()) - 1;
    int current = -1;
    QWidget *focus = QApplication::focusWidget();
    for (int i = 0; i <= last && focus; ++i)
        if (grid[i] == focus || grid[i]->isAncestorOf(focus))
            current = i;
    // With no card in focus the first key lands on the first card.
    const int target = current < 0 ? 0 : std::clamp(current + step, 0, last);
    HistoryCard *card = grid[target];

    int anchor = -1;
    for (int i = 0; i <= last && extend && m_anchorID; ++i)
        if (grid[i]->item().id == *m_anchorID)
            anchor = i;
    if (extend && anchor < 0)
        anchor = current < 0 ? target : current;
    m_selectedIDs.clear();
    if (extend) {
        for (int i = std::min(anchor, target); i <= std::max(anchor, target); ++i)
            m_selectedIDs.insert(grid[i]->item().id);
        m_anchorID = grid[anchor]->item().id;
    } else {
        m_selectedIDs.insert(card->item().id);
        m_anchorID = card->item().id;
    }
    card->setFocus(Qt::OtherFocusReason);
    m_scroll->ensureWidgetVisible(card, 0, 12);
    updateCardStates();
    updateHeader();
    return true;
}

void HistoryView::toggleSelection(const QUuid &id)
{
    if (!m_selectedIDs.remove(id))
        m_selectedIDs.insert(id);
    m_anchorID = id;
    updateCardStates();
    updateHeader();
}

void HistoryView::clearSelection()
{
    m_selectedIDs.clear();
    m_anchorID.reset();
    updateCardStates();
    updateHeader();
}

void HistoryView::setHoveredID(const std::optional<QUuid> &id)
{
    m_hoveredID = id;
    updateCardStates();
}

void HistoryView::deleteEntry(const QUuid &id)
{
    HistoryActions::deleteEntry(m_appState, id);
    m_selectedIDs.remove(id);
    updateCardStates();
    updateHeader();
}

void HistoryView::clearAll()
{
    HistoryActions::clearAll(m_appState);
    m_selectedIDs.clear();
    m_anchorID.reset();
    m_hoveredID.reset();
    updateCardStates();
    updateHeader();
}

bool HistoryView::exportSelected()
{
    QList<HistoryItem> items;
    for (const HistoryItem &item : m_appState.history())
        if (m_selectedIDs.contains(item.id))
            items.append(item);
    return BatchExport::start(m_appState, items);
}

bool HistoryView::exportAll()
{
    return BatchExport::start(m_appState, m_appState.history());
}
