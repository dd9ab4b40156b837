#include "settings/SavedFolderDelegate.h"

#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/SymbolIcon.h"
#include "settings/SettingsWidgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

namespace {

constexpr int kPadding = 2;  // above and below a row's contents
constexpr int kSpacing = 6;  // between its parts
constexpr int kMark = 16;
constexpr int kButton = 22;
constexpr int kIcon = 16;

QString shownPath(const QString &stored)
{
    return SettingsWidgets::abbreviateHome(AppPaths::expandTilde(stored));
}

} // namespace

SavedFolderDelegate::SavedFolderDelegate(std::function<bool(const QString &)> isActive, QObject *parent)
    : QStyledItemDelegate(parent),
      m_isActive(std::move(isActive)),
      m_activeMark(SymbolIcon::make(QStringLiteral("checkmark.circle.fill"))),
      m_folderMark(SymbolIcon::make(QStringLiteral("folder"))),
      m_makeActive(SymbolIcon::make(QStringLiteral("arrow.right.circle"))),
      m_remove(SymbolIcon::make(QStringLiteral("minus.circle")))
{
}

QRect SavedFolderDelegate::buttonRect(const QRect &row, Button button)
{
    const int right = button == Button::remove ? row.right() : row.right() - kButton;
    return {right - kButton + 1, row.center().y() - kButton / 2 + 1, kButton, kButton};
}

QRect SavedFolderDelegate::markRect(const QRect &row)
{
    return {row.left() + kPadding, row.center().y() - kMark / 2 + 1, kMark, kMark};
}

QRect SavedFolderDelegate::textRect(const QRect &row)
{
    const int left = markRect(row).right() + 1 + kSpacing;
    const int right = buttonRect(row, Button::makeActive).left() - kSpacing;
    return {left, row.top(), std::max(0, right - left), row.height()};
}

QString SavedFolderDelegate::tooltip(Button button)
{
    return button == Button::makeActive ? localized("Make this the active save folder") : localized("Remove from list");
}

void SavedFolderDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString path = index.data(Qt::DisplayRole).toString();
    // The style draws the row's background, selection and focus only.
    opt.text.clear();
    opt.icon = QIcon();
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const QRect row = opt.rect;
    const bool active = m_isActive && m_isActive(path);
    (active ? m_activeMark : m_folderMark).paint(painter, markRect(row));

    const QRect text = textRect(row);
    const bool selected = opt.state & QStyle::State_Selected;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                      opt.fontMetrics.elidedText(shownPath(path), Qt::ElideMiddle, text.width()));
    painter->restore();

    for (const Button button : {Button::makeActive, Button::remove}) {
        const QRect area = buttonRect(row, button);
        const QRect icon(area.center().x() - kIcon / 2 + 1, area.center().y() - kIcon / 2 + 1, kIcon, kIcon);
        (button == Button::makeActive ? m_makeActive : m_remove).paint(painter, icon);
    }
}

QSize SavedFolderDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    const int height = std::max({kButton, kMark, option.fontMetrics.height()}) + 2 * kPadding;
    return {kMark + 3 * kSpacing + 2 * kButton + 60, height};
}

bool SavedFolderDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                      const QModelIndex &index)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            for (const Button button : {Button::makeActive, Button::remove}) {
                if (buttonRect(option.rect, button).contains(mouse->position().toPoint())) {
                    emit clicked(button, index.data(Qt::DisplayRole).toString());
                    return true;
                }
            }
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool SavedFolderDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                    const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString path = index.data(Qt::DisplayRole).toString();
    QString tip = shownPath(path);
    QRect area = textRect(option.rect);
    for (const Button button : {Button::makeActive, Button::remove}) {
        if (buttonRect(option.rect, button).contains(event->pos())) {
            tip = tooltip(button);
            area = buttonRect(option.rect, button);
        }
    }
    if (markRect(option.rect).contains(event->pos()) && m_isActive && m_isActive(path)) {
        tip = localized("Active save folder");
        area = markRect(option.rect);
    }
    QToolTip::showText(event->globalPos(), tip, view ? view->viewport() : nullptr, area);
    return true;
}
