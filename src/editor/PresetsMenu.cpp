#include "editor/PresetsMenu.h"

#include "editor/EditorSymbols.h"
#include "model/AppState.h"
#include "platform/Localized.h"
#include "platform/MenuText.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Spaces and tabs (horizontal white space) off both ends; line breaks stay.
QString trimmedHorizontally(const QString &text)
{
    auto horizontal = [](QChar c) {
        return c == QLatin1Char('\t') || (c.isSpace() && c != QLatin1Char('\n') && c != QLatin1Char('\r') &&
                                          c != QChar(0x0B) && c != QChar(0x0C) && c != QChar(0x85) &&
                                          c != QChar(0x2028) && c != QChar(0x2029));
    };
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && horizontal(text.at(start)))
        ++start;
    while (end > start && horizontal(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

} // namespace

PresetsMenu::PresetsMenu(AppState &appState, QWidget *parent)
    : QToolButton(parent), m_appState(appState), m_presets(AnnotationPreset::load())
{
    setIcon(editorSymbol(QStringLiteral("star")));
    setIconSize(QSize(18, 18));
    setFixedSize(40, 28);
    setAutoRaise(true);
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setToolTip(localized("Annotation Presets"));
    setAccessibleName(localized("Annotation Presets"));
    setObjectName(QStringLiteral("PresetsMenu"));
    m_menu = new QMenu(this);
    setMenu(m_menu);
    rebuildMenu();
}

void PresetsMenu::rebuildMenu()
{
    m_menu->clear();
    for (const AnnotationPreset &preset : std::as_const(m_presets)) {
        QAction *a = m_menu->addAction(menuItemText(preset.name));
        connect(a, &QAction::triggered, this, [this, preset] { applyPreset(preset); });
    }
    if (!m_presets.isEmpty())
        m_menu->addSeparator();
    connect(m_menu->addAction(localized("Save current as preset…")), &QAction::triggered, this,
            &PresetsMenu::showNamePrompt);
    if (!m_presets.isEmpty()) {
        QMenu *remove = m_menu->addMenu(localized("Delete…"));
        for (const AnnotationPreset &preset : std::as_const(m_presets)) {
            QAction *a = remove->addAction(menuItemText(preset.name));
            connect(a, &QAction::triggered, this, [this, preset] { deletePreset(preset); });
        }
    }
}

void PresetsMenu::applyPreset(const AnnotationPreset &preset)
{
    m_appState.setCurrentTool(preset.tool);
    m_appState.setCurrentColor(colorFromHex(preset.colorHex).value_or(QColor(255, 59, 48)));
    m_appState.setCurrentLineWidth(preset.lineWidth);
    m_appState.setCurrentFontSize(preset.fontSize);
}

void PresetsMenu::deletePreset(const AnnotationPreset &preset)
{
    m_presets.removeIf([&](const AnnotationPreset &p) { return p.id == preset.id; });
    AnnotationPreset::save(m_presets);
    rebuildMenu();
}

void PresetsMenu::ensurePrompt()
{
    if (m_prompt)
        return;
    auto *dialog = new QDialog(window());
    dialog->setWindowTitle(localized("Save current as preset…"));
    dialog->setWindowModality(Qt::WindowModal);
    auto *column = new QVBoxLayout(dialog);
    column->setSpacing(12);
    auto *title = new QLabel(localized("Preset name"), dialog);
    QFont headline = title->font();
    headline.setBold(true);
    title->setFont(headline);
    column->addWidget(title);
    m_nameField = new QLineEdit(dialog);
    m_nameField->setPlaceholderText(localized("e.g. Bold Red Arrow"));
    m_nameField->setFixedWidth(260);
    m_nameField->setText(m_newName);
    column->addWidget(m_nameField);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    auto *cancel = new QPushButton(localized("Cancel"), dialog);
    cancel->setAutoDefault(false);
    m_saveButton = new QPushButton(localized("Save"), dialog);
    m_saveButton->setDefault(true);
    row->addWidget(cancel);
    row->addWidget(m_saveButton);
    column->addLayout(row);
    connect(m_nameField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_newName = text;
        m_saveButton->setEnabled(canSaveName());
    });
    connect(cancel, &QPushButton::clicked, this, &PresetsMenu::cancelPresetPrompt);
    connect(m_saveButton, &QPushButton::clicked, this, &PresetsMenu::saveCurrentAsPreset);
    // Escape and the window's close button cancel.
    connect(dialog, &QDialog::rejected, this, [this] { setNewName(QString()); });
    m_saveButton->setEnabled(canSaveName());
    m_prompt = dialog;
}

void PresetsMenu::showNamePrompt()
{
    ensurePrompt();
    m_nameField->setText(m_newName);
    m_prompt->open();
    m_nameField->setFocus();
}

bool PresetsMenu::isNamePromptShown() const
{
    return m_prompt && m_prompt->isVisible();
}

void PresetsMenu::setNewName(const QString &name)
{
    m_newName = name;
    if (m_nameField && m_nameField->text() != name)
        m_nameField->setText(name);
    if (m_saveButton)
        m_saveButton->setEnabled(canSaveName());
}

bool PresetsMenu::canSaveName() const
{
    return !trimmedHorizontally(m_newName).isEmpty();
}

void PresetsMenu::saveCurrentAsPreset()
{
    if (!canSaveName())
        return;
    AnnotationPreset preset;
    preset.name = trimmedHorizontally(m_newName);
    preset.tool = m_appState.currentTool();
    preset.colorHex = hexString(m_appState.currentColor());
    preset.lineWidth = m_appState.currentLineWidth();
    preset.fontSize = m_appState.currentFontSize();
    m_presets.append(preset);
    AnnotationPreset::save(m_presets);
    rebuildMenu();
    setNewName(QString());
    if (m_prompt)
        m_prompt->hide();
}

void PresetsMenu::cancelPresetPrompt()
{
    if (m_prompt)
        m_prompt->hide();
    setNewName(QString());
}
