#include "settings/SavedFoldersEditor.h"

#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/SymbolIcon.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsWidgets.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// A label that elides its text in the middle to fit its width.
class PathLabel : public QLabel
{
public:
    explicit PathLabel(const QString &text) : m_full(text)
    {
        setToolTip(text);
        setMinimumWidth(60);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setTextFormat(Qt::PlainText);
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        setText(fontMetrics().elidedText(m_full, Qt::ElideMiddle, width()));
    }

private:
    QString m_full;
};

} // namespace

SavedFoldersEditor::SavedFoldersEditor(AppState &appState, QWidget *parent) : QWidget(parent), m_appState(appState)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(0);
    layout->addLayout(m_rows);
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 4, 0, 0);
    m_add = new QPushButton(SymbolIcon::make(QStringLiteral("folder.badge.plus")), localized("Add Folder…"));
    buttons->addWidget(m_add);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(m_add, &QPushButton::clicked, this, &SavedFoldersEditor::addFolder);
    NotificationCenter::instance().addObserver(NotificationNames::savedPathsChanged, this,
                                               [this](const NotificationCenter::Notification &) { refresh(); });
    connect(&m_appState, &AppState::changed, this, [this](AppState::Property p) {
        if (p == AppState::Property::saveDirectory)
            rebuildRows();
    });
    rebuildRows();
}

void SavedFoldersEditor::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

bool SavedFoldersEditor::isActive(const QString &path) const
{
    return AppPaths::expandTilde(path) == AppPaths::expandTilde(m_appState.saveDirectory());
}

void SavedFoldersEditor::refresh()
{
    m_paths = m_appState.savedPaths();
    rebuildRows();
}

void SavedFoldersEditor::makeActive(const QString &path)
{
    // The save folder is always a full path: an entry listed as "~/..."
    // would otherwise send captures into a folder named "~".
    m_appState.setSaveDirectory(AppPaths::expandTilde(path));
}

void SavedFoldersEditor::remove(const QString &path)
{
    QStringList remaining = m_paths;
    remaining.removeAll(path);
    m_paths = remaining;
    m_appState.setSavedPaths(remaining);
    rebuildRows();
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
        self->m_paths = list;
        self->rebuildRows();
    });
}

void SavedFoldersEditor::rebuildRows()
{
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        if (item->widget())
            item->widget()->deleteLater();
        delete item;
    }
    if (m_paths.isEmpty()) {
        m_rows->addWidget(SettingsWidgets::caption(localized("No save locations yet. Add one below.")));
        return;
    }
    for (const QString &path : std::as_const(m_paths)) {
        auto *row = new QWidget;
        auto *h = new QHBoxLayout(row);
        h->setContentsMargins(0, 2, 0, 2);
        h->setSpacing(6);
        const bool active = isActive(path);
        auto *mark = new QLabel;
        mark->setFixedWidth(16);
        mark->setPixmap(SymbolIcon::make(active ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("folder"))
                            .pixmap(16, 16));
        if (active)
            mark->setToolTip(localized("Active save folder"));
        h->addWidget(mark);
        h->addWidget(new PathLabel(SettingsWidgets::abbreviateHome(AppPaths::expandTilde(path))), 1);
        QToolButton *activate =
            SettingsWidgets::iconButton(QStringLiteral("arrow.right.circle"), localized("Make this the active save folder"));
        QToolButton *removeButton =
            SettingsWidgets::iconButton(QStringLiteral("minus.circle"), localized("Remove from list"));
        h->addWidget(activate);
        h->addWidget(removeButton);
        row->setProperty("vornaPath", path);
        connect(activate, &QToolButton::clicked, this, [this, path] { makeActive(path); });
        connect(removeButton, &QToolButton::clicked, this, [this, path] { remove(path); });
        m_rows->addWidget(row);
    }
}
