#include "windows/AdaptiveGridLayout.h"

#include <QWidget>
#include <algorithm>

AdaptiveColumns AdaptiveColumns::fit(int availableWidth, int minWidth, int maxWidth, int spacing)
{
    AdaptiveColumns c;
    minWidth = std::max(1, minWidth);
    maxWidth = std::max(minWidth, maxWidth);
    spacing = std::max(0, spacing);
    availableWidth = std::max(0, availableWidth);
    c.count = std::max(1, (availableWidth + spacing) / (minWidth + spacing));
    if (c.count == 1 && availableWidth < minWidth) {
        c.width = availableWidth;
        return c;
    }
    c.width = std::min(maxWidth, (availableWidth - (c.count - 1) * spacing) / c.count);
    return c;
}

AdaptiveGridLayout::AdaptiveGridLayout(int minColumnWidth, int maxColumnWidth, int columnSpacing, int rowSpacing,
                                       QWidget *parent)
    : QLayout(parent), m_minColumnWidth(minColumnWidth), m_maxColumnWidth(maxColumnWidth), m_rowSpacing(rowSpacing)
{
    setSpacing(columnSpacing);
    setContentsMargins(0, 0, 0, 0);
}

AdaptiveGridLayout::~AdaptiveGridLayout()
{
    while (QLayoutItem *item = takeAt(0))
        delete item;
}

void AdaptiveGridLayout::addItem(QLayoutItem *item)
{
    m_items.append(item);
    invalidate();
}

QLayoutItem *AdaptiveGridLayout::itemAt(int index) const
{
    return index >= 0 && index < m_items.size() ? m_items.at(index) : nullptr;
}

QLayoutItem *AdaptiveGridLayout::takeAt(int index)
{
    if (index < 0 || index >= m_items.size())
        return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    invalidate();
    return item;
}

AdaptiveColumns AdaptiveGridLayout::columnsFor(int width) const
{
    const QMargins m = contentsMargins();
    return AdaptiveColumns::fit(width - m.left() - m.right(), m_minColumnWidth, m_maxColumnWidth, spacing());
}

int AdaptiveGridLayout::heightForWidth(int width) const
{
    return place(QRect(0, 0, width, 0), false);
}

QSize AdaptiveGridLayout::sizeHint() const
{
    // Three columns at their widest, as a starting size.
    const QMargins m = contentsMargins();
    const int width = 3 * m_maxColumnWidth + 2 * spacing() + m.left() + m.right();
    return QSize(width, heightForWidth(width));
}

QSize AdaptiveGridLayout::minimumSize() const
{
    const QMargins m = contentsMargins();
    return QSize(m_minColumnWidth + m.left() + m.right(), 0);
}

void AdaptiveGridLayout::setGeometry(const QRect &rect)
{
    QLayout::setGeometry(rect);
    place(rect, true);
}

int AdaptiveGridLayout::place(const QRect &rect, bool apply) const
{
    const QMargins m = contentsMargins();
    const QRect area = rect.marginsRemoved(m);
    const AdaptiveColumns cols = columnsFor(rect.width());
    const int rowWidth = cols.count * cols.width + (cols.count - 1) * spacing();
    const int left = area.left() + std::max(0, (area.width() - rowWidth) / 2);

    QList<QLayoutItem *> visible;
    for (QLayoutItem *item : m_items)
        if (!item->isEmpty())
            visible.append(item);

    int y = area.top();
    for (qsizetype start = 0; start < visible.size(); start += cols.count) {
        const qsizetype end = std::min<qsizetype>(visible.size(), start + cols.count);
        int rowHeight = 0;
        for (qsizetype i = start; i < end; ++i) {
            QLayoutItem *item = visible.at(i);
            const int h = item->hasHeightForWidth() ? item->heightForWidth(cols.width) : item->sizeHint().height();
            rowHeight = std::max(rowHeight, h);
        }
        if (apply) {
            for (qsizetype i = start; i < end; ++i) {
                const int x = left + int(i - start) * (cols.width + spacing());
                visible.at(i)->setGeometry(QRect(x, y, cols.width, rowHeight));
            }
        }
        y += rowHeight + (end < visible.size() ? m_rowSpacing : 0);
    }
    return y - area.top() + m.top() + m.bottom();
}
