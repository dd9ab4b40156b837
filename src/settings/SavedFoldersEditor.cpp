#include "settings/SavedFoldersEditor.h"

#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/SymbolIcon.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsWidgets.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

SavedFoldersEditor::SavedFoldersEditor(AppState &appState, QWidget *parent) : QWidget(parent), m_appState(appState)
{
    SettingsWidgets::ensureSymbols();
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    m_empty = SettingsWidgets::caption(localized("No save locations yet. Add one below."));
    layout->addWidget(m_empty);

    m_model = new QStringListModel(this);
    m_list = new QListView;
    m_list->setModel(m_model);
    auto *delegate = new SavedFolderDelegate([this](const QString &path) { return isActive(path); }, m_list);
    m_list->setItemDelegate(delegate);
    // Every row has the same height, so the view lays out a long list
    // without asking each row.
    m_list->setUniformItemSizes(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setMouseTracking(true);
    m_list->viewport()->setAutoFillBackground(false);
    m_list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_list->installEventFilter(this);
    m_list->hide();
    layout->addWidget(m_list);

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    m_add = new QPushButton(SymbolIcon::make(QStringLiteral("folder.badge.plus")), localized("Add Folder…"));
    buttons->addWidget(m_add);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(delegate, &SavedFolderDelegate::clicked, this,
            [this](SavedFolderDelegate::Button button, const QString &path) {
                if (button == SavedFolderDelegate::Button::makeActive)
                    makeActive(path);
                else
                    remove(path);
            });
    connect(m_add, &QPushButton::clicked, this, &SavedFoldersEditor::addFolder);
    NotificationCenter::instance().addObserver(NotificationNames::savedPathsChanged, this,
                                               [this](const NotificationCenter::Notification &) { refresh(); });
    connect(&m_appState, &AppState::changed, this, [this](AppState::Property p) {
        if (p == AppState::Property::saveDirectory)
            m_list->viewport()->update();
    });
}

void SavedFoldersEditor::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

bool SavedFoldersEditor::eventFilter(QObject *watched, QEvent *event)
{
    // The row buttons from the keyboard: Return makes the current row the
    // save folder, Delete removes it.
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        const QModelIndex current = m_list->currentIndex();
        if (current.isValid() && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            makeActive(current.data().toString());
            return true;
        }
        if (current.isValid() && (key == Qt::Key_Delete || key == Qt::Key_Backspace)) {
            remove(current.data().toString());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

QStringList SavedFoldersEditor::paths() const
{
    return m_model->stringList();
}

bool SavedFoldersEditor::isActive(const QString &path) const
{
    return AppPaths::expandTilde(path) == AppPaths::expandTilde(m_appState.saveDirectory());
}

QRect SavedFoldersEditor::buttonRect(int row, SavedFolderDelegate::Button button) const
{
    const QModelIndex index = m_model->index(row);
    if (!index.isValid())
        return {};
    return SavedFolderDelegate::buttonRect(m_list->visualRect(index), button);
}

void SavedFoldersEditor::refresh()
{
    showPaths(m_appState.savedPaths());
}

void SavedFoldersEditor::makeActive(const QString &path)
{
    // The save folder is always a full path: an entry listed as "~/..."
    // would otherwise send captures into a folder named "~".
    m_appState.setSaveDirectory(AppPaths::expandTilde(path));
}

void SavedFoldersEditor::remove(const QString &path)
{
    QStringList remaining = paths();
    remaining.removeAll(path);
    showPaths(remaining);
    m_appState.setSavedPaths(remaining);
}

void SavedFoldersEditor::addFolder()
{
    QPointer<SavedFoldersEditor> self(this);
    SettingsPanels::chooseFolder(window(), [self](std::optional<QString> chosen) {
        if (!self || !chosen || chosen->isEmpty())
            return;
        QStringList list = self->m_appState.savedPaths();
        if (list.contains(*chosen))
            return;
        list.append(*chosen);
        self->m_appState.setSavedPaths(list);
        self->showPaths(list);
    });
}

void SavedFoldersEditor::showPaths(const QStringList &paths)
{
    if (paths == m_model->stringList())
        return;
    // The list keeps its place and its current row, so that the keyboard
    // can remove one folder after another.
    const int current = m_list->currentIndex().row();
    m_model->setStringList(paths);
    m_empty->setVisible(paths.isEmpty());
    m_list->setVisible(!paths.isEmpty());
    fitHeight();
    if (current >= 0 && !paths.isEmpty())
        m_list->setCurrentIndex(m_model->index(std::min<int>(current, int(paths.size()) - 1)));
}

void SavedFoldersEditor::fitHeight()
{
    const int rows = std::min<int>(int(m_model->rowCount()), visibleRows);
    const int rowHeight = m_list->sizeHintForRow(0);
    m_list->setFixedHeight(std::max(rows, 1) * std::max(rowHeight, 1) + 2 * m_list->frameWidth());
}
