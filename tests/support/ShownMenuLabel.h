#pragma once

#include <QAction>
#include <QKeySequence>
#include <QString>

// What a menu row shows of an action's text, as Qt draws it: the part
// before the first tab is the label (the rest goes into the shortcut
// column), "&&" in it is a literal "&", and a lone "&" is not shown but
// underlines the next character as the accelerator.
inline QString shownMenuLabel(const QAction *action)
{
    const QString text = action->text().section(u'\t', 0, 0);
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        // "&x" shows x (underlined), "&&" shows "&".
        if (text.at(i) == u'&' && i + 1 < text.size())
            ++i;
        shown += text.at(i);
    }
    return shown;
}

// Whether the text gives its menu item a keyboard accelerator.
inline bool hasAccelerator(const QAction *action)
{
    return !QKeySequence::mnemonic(action->text()).isEmpty();
}
