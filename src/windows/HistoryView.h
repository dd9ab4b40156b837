#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QUuid>
#include <QWidget>
#include <optional>

class AppState;
class AdaptiveGridLayout;
class HistoryCard;
class QLabel;
class QPushButton;
class QScrollArea;
class QTimer;

// The History page: a header with the number of captures and the batch
// export and clearing buttons, and a grid of every capture (newest first),
// or a note when there is none. The page keeps which card is under the
// pointer and which captures are selected for export; the selection never
// holds a capture that has left the history.
class HistoryView : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryView(AppState &appState, QWidget *parent = nullptr);

    std::optional<QUuid> hoveredID() const { return m_hoveredID; }
    QSet<QUuid> selectedIDs() const { return m_selectedIDs; }

    void toggleSelection(const QUuid &id);
    // An arrow key: the selection moves to the card beside, above or below
    // the one with the keyboard focus (by one, or by a row of the current
    // columns, stopping at the first and last card), which then takes the
    // focus and is scrolled into view. With extend, the selection runs from
    // the card where the last plain move or toggle left it to the new one.
    // False for other keys or an empty grid.
    bool moveSelection(Qt::Key key, bool extend);
    void clearSelection();
    void setHoveredID(const std::optional<QUuid> &id);
    void deleteEntry(const QUuid &id);
    void clearAll();
    // Batch export of the selected captures, or of all; false when there
    // was nothing to export.
    bool exportSelected();
    bool exportAll();

    // The cards in grid order.
    QList<HistoryCard *> cards() const;
    HistoryCard *card(const QUuid &id) const { return m_cards.value(id); }
    QLabel *countLabel() const { return m_countLabel; }
    QPushButton *exportSelectedButton() const { return m_exportSelected; }
    QPushButton *clearSelectionButton() const { return m_clearSelection; }
    QPushButton *exportAllButton() const { return m_exportAll; }
    QPushButton *clearAllButton() const { return m_clearAll; }
    // The note shown instead of the grid when there is no capture.
    QWidget *emptyView() const { return m_emptyView; }
    QScrollArea *gridArea() const { return m_scroll; }
    // Repaints the times every minute.
    QTimer *minuteTimer() const { return m_minuteTimer; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void historyChanged();
    void rebuildCards();
    void updateHeader();
    void updateCardStates();

    AppState &m_appState;
    std::optional<QUuid> m_hoveredID;
    QSet<QUuid> m_selectedIDs;
    // Where a selection extended by the keys starts.
    std::optional<QUuid> m_anchorID;

    QLabel *m_countLabel = nullptr;
    QPushButton *m_exportSelected = nullptr;
    QPushButton *m_clearSelection = nullptr;
    QPushButton *m_exportAll = nullptr;
    QPushButton *m_clearAll = nullptr;
    QWidget *m_emptyView = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_gridHost = nullptr;
    AdaptiveGridLayout *m_grid = nullptr;
    QHash<QUuid, HistoryCard *> m_cards;
    QTimer *m_minuteTimer = nullptr;
};
