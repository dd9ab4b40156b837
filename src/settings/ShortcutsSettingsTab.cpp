#include "settings/ShortcutsSettingsTab.h"

#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "platform/Localized.h"
#include "platform/NotificationCenter.h"
#include "platform/SymbolIcon.h"
#include "platform/UserDefaults.h"
#include "settings/HotKeyRecorder.h"
#include "settings/SettingsPanels.h"
#include "settings/SettingsWidgets.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QString symbolOf(CaptureShortcut mode)
{
    switch (mode) {
    case CaptureShortcut::fullscreen: return QStringLiteral("rectangle.dashed");
    case CaptureShortcut::window: return QStringLiteral("macwindow");
    case CaptureShortcut::region: return QStringLiteral("rectangle.dashed.badge.record");
    case CaptureShortcut::scrolling: return QStringLiteral("scroll");
    case CaptureShortcut::timed: return QStringLiteral("timer");
    }
    return QString();
}

} // namespace

ShortcutsSettingsTab::ShortcutsSettingsTab(AppState &appState, QWidget *parent)
    : QWidget(parent), m_appState(appState)
{
    SettingsWidgets::ensureSymbols();
    auto *form = new QVBoxLayout(this);
    QVBoxLayout *rows = SettingsWidgets::section(form, localized("Global Shortcuts"));
    const QIcon warning = SymbolIcon::make(QStringLiteral("exclamationmark.triangle.fill"));

    for (const CaptureShortcut mode : CaptureShortcuts::allCases()) {
        Row r;
        auto *rowWidget = new QWidget;
        auto *rowLayout = new QVBoxLayout(rowWidget);
        rowLayout->setContentsMargins(0, 2, 0, 2);
        rowLayout->setSpacing(6);

        auto *keyLine = new QHBoxLayout;
        auto *symbol = new QLabel;
        symbol->setFixedWidth(18);
        symbol->setPixmap(SymbolIcon::make(symbolOf(mode)).pixmap(16, 16));
        keyLine->addWidget(symbol);
        keyLine->addWidget(new QLabel(CaptureShortcuts::title(mode)));
        keyLine->addStretch(1);

        r.recorder = new HotKeyRecorder;
        r.recorder->setFixedSize(160, 26);
        r.recorder->setToolTip(CaptureShortcuts::title(mode));
        keyLine->addWidget(r.recorder);

        r.text = new QLineEdit;
        r.text->setPlaceholderText(localized("e.g. f12"));
        r.text->setFixedWidth(110);
        r.text->setToolTip(
            localized("Type the shortcut as text. Enter or Tab to apply. Accepts ‘f12’, ‘alt+shift+a’, ‘ctrl+space’, etc."));
        r.text->setAccessibleName(CaptureShortcuts::title(mode));
        r.errorMark = r.text->addAction(warning, QLineEdit::TrailingPosition);
        r.errorMark->setToolTip(localized("Unrecognized shortcut. Try e.g. f12, alt+shift+a."));
        r.errorMark->setVisible(false);
        keyLine->addWidget(r.text);

        r.clear = SettingsWidgets::iconButton(QStringLiteral("xmark.circle"),
                                              localized("Clear — remove this shortcut entirely"));
        r.reset = SettingsWidgets::iconButton(QStringLiteral("arrow.uturn.backward.circle"), localized("Reset to default"));
        keyLine->addWidget(r.clear);
        keyLine->addWidget(r.reset);
        rowLayout->addLayout(keyLine);

        auto *twiceLine = new QHBoxLayout;
        twiceLine->setContentsMargins(26, 0, 0, 0);
        r.twice = new QCheckBox(localized("Twice"));
        r.twice->setToolTip(localized(
            "When on, pressing this shortcut twice within the configured window runs the selected capture mode instead."));
        twiceLine->addWidget(r.twice);
        auto *arrow = new QLabel(QStringLiteral("→"));
        arrow->setForegroundRole(QPalette::PlaceholderText);
        twiceLine->addWidget(arrow);
        r.target = new QComboBox;
        r.target->setMaximumWidth(200);
        r.target->setAccessibleName(localized("Double-press target"));
        for (const CaptureShortcut other : CaptureShortcuts::allCases())
            if (other != mode)
                r.target->addItem(CaptureShortcuts::title(other), QVariant::fromValue(other));
        twiceLine->addWidget(r.target);
        twiceLine->addStretch(1);
        rowLayout->addLayout(twiceLine);
        rows->addWidget(rowWidget);

        connect(r.recorder, &HotKeyRecorder::captured, this,
                [this, mode](const HotKeyBinding &b) { captureBinding(mode, b); });
        // The field also finishes editing whenever it loses the focus, to an
        // alert that the commit itself brought up, say: only Return, or
        // leaving a text typed since the last commit, commits.
        connect(r.text, &QLineEdit::editingFinished, this, [this, mode] {
            const QLineEdit *field = m_rows[mode].text;
            if (field->hasFocus() || field->isModified())
                commitText(mode);
        });
        connect(r.clear, &QToolButton::clicked, this, [this, mode] { clearBinding(mode); });
        connect(r.reset, &QToolButton::clicked, this, [this, mode] { resetBinding(mode); });
        // The two choices are stored one turn later, outside the control's own signal.
        connect(r.twice, &QCheckBox::clicked, this, [this, mode](bool on) {
            QTimer::singleShot(0, this, [this, mode, on] { setTwice(mode, on); });
        });
        connect(r.target, &QComboBox::activated, this, [this, mode](int index) {
            const auto target = m_rows[mode].target->itemData(index).value<CaptureShortcut>();
            QTimer::singleShot(0, this, [this, mode, target] { setTarget(mode, target); });
        });
        m_rows.insert(mode, r);
    }

    QLabel *note = SettingsWidgets::caption(localized(
        "Shortcuts are active system-wide when Vorna is running. Click the key field to record, or type it — e.g. "
        "“f12”, “alt+shift+a”. Tick “twice” to promote a double-press to another capture mode."));
    note->setContentsMargins(8, 4, 8, 0);
    form->addWidget(note);
    form->addStretch(1);

    for (const CaptureShortcut mode : CaptureShortcuts::allCases())
        showRow(mode);
}

CaptureShortcut ShortcutsSettingsTab::defaultTarget(CaptureShortcut mode)
{
    return mode == CaptureShortcut::fullscreen ? CaptureShortcut::window : CaptureShortcut::fullscreen;
}

void ShortcutsSettingsTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    loadAll();
}

void ShortcutsSettingsTab::loadAll()
{
    for (const CaptureShortcut mode : CaptureShortcuts::allCases()) {
        const HotKeyBinding b = AppState::hotKeyBinding(mode);
        m_bindings[mode] = b;
        m_rows[mode].text->setText(b.specString());
        m_textErrors[mode] = false;
        const std::optional<CaptureShortcut> t = AppState::doubleTapTarget(mode);
        m_doubleTapEnabled[mode] = t.has_value();
        m_doubleTapTargets[mode] = t.value_or(defaultTarget(mode));
        showRow(mode);
    }
}

void ShortcutsSettingsTab::showRow(CaptureShortcut mode)
{
    Row &r = m_rows[mode];
    r.recorder->setBinding(m_bindings.value(mode, HotKeyBinding::defaultBinding(mode)));
    r.errorMark->setVisible(m_textErrors.value(mode));
    const bool twice = m_doubleTapEnabled.value(mode);
    r.twice->setChecked(twice);
    r.target->setEnabled(twice);
    const CaptureShortcut target = m_doubleTapTargets.value(mode, defaultTarget(mode));
    const int index = r.target->findData(QVariant::fromValue(target));
    r.target->setCurrentIndex(index);
}

void ShortcutsSettingsTab::setTextError(CaptureShortcut mode, bool error)
{
    m_textErrors[mode] = error;
    m_rows[mode].errorMark->setVisible(error);
}

void ShortcutsSettingsTab::captureBinding(CaptureShortcut mode, const HotKeyBinding &binding)
{
    m_bindings[mode] = binding;
    m_rows[mode].text->setText(binding.specString());
    setTextError(mode, false);
    showRow(mode);
    AppState::setHotKeyBinding(binding, mode);
}

void ShortcutsSettingsTab::commitText(CaptureShortcut mode)
{
    QLineEdit *field = m_rows[mode].text;
    const QString text = field->text().trimmed();
    if (text.isEmpty()) {
        setTextError(mode, false);
        return;
    }
    // A typed shortcut follows the recorder's rule: without a modifier only
    // F1 to F20 may take a key away from every other program.
    const std::optional<HotKeyBinding> b = HotKeyBinding::fromSpec(text);
    if (!b || !b->isAcceptableShortcut()) {
        setTextError(mode, true);
        SettingsPanels::beep();
        return;
    }
    setTextError(mode, false);
    m_bindings[mode] = *b;
    field->setText(b->specString());
    showRow(mode);
    AppState::setHotKeyBinding(*b, mode);
}

void ShortcutsSettingsTab::clearBinding(CaptureShortcut mode)
{
    m_bindings[mode] = HotKeyBinding();
    m_rows[mode].text->clear();
    setTextError(mode, false);
    showRow(mode);
    AppState::setHotKeyBinding(HotKeyBinding(), mode);
}

void ShortcutsSettingsTab::resetBinding(CaptureShortcut mode)
{
    UserDefaults::standard().removeObject(QStringLiteral("hotkey.") + CaptureShortcuts::rawValue(mode));
    NotificationCenter::instance().post(NotificationNames::hotKeysChanged);
    const HotKeyBinding b = HotKeyBinding::defaultBinding(mode);
    m_bindings[mode] = b;
    m_rows[mode].text->setText(b.specString());
    setTextError(mode, false);
    showRow(mode);
}

void ShortcutsSettingsTab::setTwice(CaptureShortcut mode, bool on)
{
    m_doubleTapEnabled[mode] = on;
    const CaptureShortcut t = m_doubleTapTargets.value(mode, defaultTarget(mode));
    m_doubleTapTargets[mode] = t;
    showRow(mode);
    AppState::setDoubleTapTarget(on ? std::optional(t) : std::nullopt, mode);
}

void ShortcutsSettingsTab::setTarget(CaptureShortcut mode, CaptureShortcut target)
{
    m_doubleTapTargets[mode] = target;
    showRow(mode);
    if (m_doubleTapEnabled.value(mode))
        AppState::setDoubleTapTarget(target, mode);
}
