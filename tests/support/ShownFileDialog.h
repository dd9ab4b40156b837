#pragma once

#include <QApplication>
#include <QFileDialog>

// The file dialog on screen, if any.
inline QFileDialog *shownFileDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *d = qobject_cast<QFileDialog *>(w); d && d->isVisible())
            return d;
    return nullptr;
}
