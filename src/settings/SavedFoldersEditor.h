#pragma once

#include <QStringList>
#include <QWidget>

#include "settings/SavedFolderDelegate.h"

class AppState;
class QLabel;
class QListView;
class QPushButton;
class QStringListModel;

// The list of saved save-folders in the General tab: folders are added,
// removed and made the active save folder here. The list lives in
// AppState.savedPaths; this view shows a copy that follows every change of
// it ("VornaSavedPathsChanged") and of the save folder. The folders are the
// rows of a list view that shows a few of them and scrolls through the
// rest, so that a list of any length opens at once.
class SavedFoldersEditor : public QWidget
{
    Q_OBJECT
public:
    explicit SavedFoldersEditor(AppState &appState, QWidget *parent = nullptr);

    QStringList paths() const;
    // Whether the entry is the save folder ("~" expanded on both sides).
    bool isActive(const QString &path) const;

    void refresh();
    void makeActive(const QString &path);
    void remove(const QString &path);
    void addFolder();

    QPushButton *addButton() const { return m_add; }
    QListView *list() const { return m_list; }
    // Where a row's button is, in the list's viewport (empty for a row that
    // does not exist).
    QRect buttonRect(int row, SavedFolderDelegate::Button button) const;

    // The most rows shown before the list scrolls.
    static constexpr int visibleRows = 8;

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showPaths(const QStringList &paths);
    void fitHeight();

    AppState &m_appState;
    QStringListModel *m_model;
    QListView *m_list;
    QLabel *m_empty;
    QPushButton *m_add;
};
