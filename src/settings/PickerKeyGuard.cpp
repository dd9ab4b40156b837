#include "settings/PickerKeyGuard.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QKeyEvent>

PickerKeyGuard::PickerKeyGuard(QComboBox *picker) : QObject(picker), m_picker(picker) {}

void PickerKeyGuard::install(QComboBox *picker)
{
    picker->installEventFilter(new PickerKeyGuard(picker));
}

bool PickerKeyGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_picker || (event->type() != QEvent::Wheel && event->type() != QEvent::KeyPress))
        return false;
    if (m_picker->view()->isVisible())
        return false;
    if (event->type() == QEvent::Wheel) {
        event->ignore();
        return true;
    }
    const auto *key = static_cast<QKeyEvent *>(event);
    // Alt+Up/Down already open and close the list.
    if (key->modifiers() & (Qt::AltModifier | Qt::ControlModifier | Qt::MetaModifier))
        return false;
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        break;
    default:
        // A typed letter would pick the first row that starts with it.
        if (key->text().isEmpty() || !key->text().at(0).isPrint() || key->text().at(0).isSpace())
            return false;
    }
    m_picker->showPopup();
    return true;
}
