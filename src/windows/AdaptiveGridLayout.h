#pragma once

#include <QLayout>
#include <QList>

// Columns of an adaptive grid: as many columns of at least minWidth as fit
// the width with spacing between them (at least one), each then widened to
// share the width but never beyond maxWidth. With a width too small for one
// column, the one column takes the whole width.
struct AdaptiveColumns
{
    int count = 1;
    int width = 0;

    static AdaptiveColumns fit(int availableWidth, int minWidth, int maxWidth, int spacing);
};

// A layout that places its items in rows of adaptive columns
// (AdaptiveColumns), left to right, top to bottom; every item of a row takes
// the column width and the row takes the height of its tallest item
// (heightForWidth when the item has it). The rows are centred in the width.
class AdaptiveGridLayout : public QLayout
{
public:
    AdaptiveGridLayout(int minColumnWidth, int maxColumnWidth, int columnSpacing, int rowSpacing,
                       QWidget *parent = nullptr);
    ~AdaptiveGridLayout() override;

    // The columns at the layout's current width.
    AdaptiveColumns columns() const { return columnsFor(geometry().width()); }

    void addItem(QLayoutItem *item) override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    int count() const override { return int(m_items.size()); }
    Qt::Orientations expandingDirections() const override { return Qt::Horizontal; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;

private:
    AdaptiveColumns columnsFor(int width) const;
    // Places the items (when apply) and returns the height used.
    int place(const QRect &rect, bool apply) const;

    QList<QLayoutItem *> m_items;
    int m_minColumnWidth;
    int m_maxColumnWidth;
    int m_rowSpacing;
};
