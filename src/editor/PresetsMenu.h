#pragma once

#include "editor/AnnotationPreset.h"

#include <QPointer>
#include <QToolButton>

class AppState;
class QDialog;
class QLineEdit;
class QMenu;
class QPushButton;

// The tool bar's star button: a menu that applies a stored preset, saves
// the current tool, colour, width and font size as a new one (asking for
// its name in a small sheet), or deletes one. The list is read once, when
// the menu is made; every save and delete writes the whole list back.
class PresetsMenu : public QToolButton
{
    Q_OBJECT
public:
    explicit PresetsMenu(AppState &appState, QWidget *parent = nullptr);

    const QList<AnnotationPreset> &presets() const { return m_presets; }
    QMenu *presetMenu() const { return m_menu; }

    // Sets the current tool, colour (system red when the preset's colour
    // text does not parse), line width and font size, as they are.
    void applyPreset(const AnnotationPreset &preset);
    // Removes every preset with that id and stores the list.
    void deletePreset(const AnnotationPreset &preset);

    // The name sheet: shown by "Save current as preset…".
    void showNamePrompt();
    bool isNamePromptShown() const;
    QString newName() const { return m_newName; }
    void setNewName(const QString &name);
    // Whether "Save" can be pressed: the name has more than spaces and tabs.
    bool canSaveName() const;
    // The sheet's two buttons.
    void saveCurrentAsPreset();
    void cancelPresetPrompt();

private:
    void rebuildMenu();
    void ensurePrompt();

    AppState &m_appState;
    QList<AnnotationPreset> m_presets;
    QString m_newName;
    QMenu *m_menu = nullptr;
    QPointer<QDialog> m_prompt;
    QLineEdit *m_nameField = nullptr;
    QPushButton *m_saveButton = nullptr;
};
