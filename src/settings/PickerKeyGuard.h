#pragma once

#include <QObject>

class QComboBox;

// Keeps a closed picker from choosing on its own. A closed QComboBox takes
// each arrow key, Page Up/Down, Home/End, typed letter and wheel notch as a
// choice and emits activated() for it, so stepping through the rows runs
// whatever a choice runs, once per row. With the guard, those keys open the
// list instead (where they move only the highlight, and Return or a click
// chooses), and the wheel leaves the picker alone.
class PickerKeyGuard : public QObject
{
public:
    // The guard belongs to the picker.
    static void install(QComboBox *picker);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit PickerKeyGuard(QComboBox *picker);
    QComboBox *m_picker;
};
