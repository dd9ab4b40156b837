#pragma once

#include <QIcon>
#include <QStyledItemDelegate>
#include <functional>

// Draws one saved folder of the saved-folders list: the mark (a check for
// the active save folder, else a folder), the path with "~" for the home
// folder elided in the middle, and the make-active and remove buttons. The
// rows are drawn rather than built of widgets, so a list of any length
// costs only the rows on screen.
class SavedFolderDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    enum class Button { makeActive, remove };

    // isActive tells whether a stored path is the active save folder.
    explicit SavedFolderDelegate(std::function<bool(const QString &)> isActive, QObject *parent = nullptr);

    // Where a row's button lies, given the row's rectangle.
    static QRect buttonRect(const QRect &row, Button button);
    static QString tooltip(Button button);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

signals:
    // A row's button was clicked; the path is the row's text as stored.
    void clicked(Button button, const QString &path);

private:
    static QRect markRect(const QRect &row);
    static QRect textRect(const QRect &row);

    std::function<bool(const QString &)> m_isActive;
    QIcon m_activeMark;
    QIcon m_folderMark;
    QIcon m_makeActive;
    QIcon m_remove;
};
