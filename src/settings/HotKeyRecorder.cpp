#include "settings/HotKeyRecorder.h"

#include "platform/Localized.h"
#include "services/HotKeyService.h"
#include "settings/SettingsPanels.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

namespace {

// Keys that only modify others: pressed alone they are part of a
// combination still being typed.
bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_Mode_switch:
        return true;
    default:
        return false;
    }
}

constexpr quint32 kX11Escape = 9; // evdev 1 + 8

} // namespace

HotKeyRecorder::HotKeyRecorder(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(localized("Shortcut"));
}

HotKeyRecorder::~HotKeyRecorder()
{
    setRecording(false);
}

void HotKeyRecorder::setBinding(const HotKeyBinding &binding)
{
    m_binding = binding;
    update();
}

QString HotKeyRecorder::displayText() const
{
    if (m_recording)
        return localized("Press keys…  (Esc cancels)");
    if (!m_binding.isUnbound())
        return m_binding.displayString();
    return localized("Click to record");
}

void HotKeyRecorder::setRecording(bool recording)
{
    if (recording == m_recording)
        return;
    m_recording = recording;
    // A grabbed combination would go to the shortcut, never to this box.
    if (recording)
        HotKeyService::shared().suspend();
    else
        HotKeyService::shared().resume();
    update();
}

void HotKeyRecorder::startRecording()
{
    setRecording(true);
    setFocus(Qt::MouseFocusReason);
}

void HotKeyRecorder::endRecording()
{
    setRecording(false);
    if (hasFocus())
        clearFocus();
}

bool HotKeyRecorder::event(QEvent *event)
{
    // While recording every combination is the recorder's: none goes to a
    // shortcut of the window (Ctrl+W would close it).
    if (m_recording && event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    // Tab would move the focus on before keyPressEvent sees it.
    if (m_recording && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keyPressEvent(key);
            return true;
        }
    }
    return QWidget::event(event);
}

void HotKeyRecorder::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    startRecording();
}

void HotKeyRecorder::keyPressEvent(QKeyEvent *event)
{
    if (!m_recording) {
        const int key = event->key();
        if (event->modifiers() == Qt::NoModifier
            && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
            startRecording();
            return;
        }
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->key() == Qt::Key_Escape || event->nativeScanCode() == kX11Escape) {
        endRecording();
        return;
    }
    if (isModifierKey(event->key()))
        return;
    const std::optional<HotKeyBinding> binding = HotKeyBinding::fromKeyEvent(*event);
    if (!binding || !binding->isAcceptableShortcut()) {
        SettingsPanels::beep();
        return;
    }
    m_binding = *binding;
    endRecording();
    emit captured(m_binding);
}

void HotKeyRecorder::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    setRecording(false);
}

void HotKeyRecorder::hideEvent(QHideEvent *event)
{
    // A window that never had the keyboard focus is closed without a focus
    // change; its recorder must not keep the shortcuts away.
    QWidget::hideEvent(event);
    setRecording(false);
}

void HotKeyRecorder::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette &pal = palette();
    QColor fill = pal.color(QPalette::Base);
    QColor stroke = pal.color(QPalette::Mid);
    if (m_recording) {
        stroke = pal.color(QPalette::Highlight);
        fill = stroke;
        fill.setAlphaF(0.18f);
    } else if (hasFocus()) {
        stroke = pal.color(QPalette::Highlight);
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    p.fillPath(path, fill);
    p.setPen(QPen(stroke, hasFocus() && !m_recording ? 2 : 1));
    p.drawPath(path);

    // The prompt is long for the box: the text shrinks a little to fit
    // before it is elided.
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setWeight(QFont::Medium);
    const QString text = displayText();
    for (qreal size = 10; size >= 7; size -= 0.5) {
        font.setPointSizeF(size);
        if (QFontMetrics(font).horizontalAdvance(text) <= width() - 8)
            break;
    }
    p.setFont(font);
    const bool strong = m_recording || !m_binding.isUnbound();
    p.setPen(pal.color(strong ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(rect(), Qt::AlignCenter, QFontMetrics(font).elidedText(text, Qt::ElideRight, width() - 8));
}
