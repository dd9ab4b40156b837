#pragma once

#include <QStringList>
#include <QWidget>

class AppState;
class QPushButton;
class QVBoxLayout;

// The list of saved save-folders in the General tab: folders are added,
// removed and made the active save folder here. The list lives in
// AppState.savedPaths; this view shows a copy that follows every change of
// it ("VornaSavedPathsChanged") and of the save folder.
class SavedFoldersEditor : public QWidget
{
    Q_OBJECT
public:
    explicit SavedFoldersEditor(AppState &appState, QWidget *parent = nullptr);

    QStringList paths() const { return m_paths; }
    // Whether the entry is the save folder ("~" expanded on both sides).
    bool isActive(const QString &path) const;

    void refresh();
    void makeActive(const QString &path);
    void remove(const QString &path);
    void addFolder();

    QPushButton *addButton() const { return m_add; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void rebuildRows();

    AppState &m_appState;
    QStringList m_paths;
    QVBoxLayout *m_rows;
    QPushButton *m_add;
};
