#include "platform/MenuText.h"

QString menuItemText(const QString &name)
{
    QString text;
    text.reserve(name.size() + 4);
    for (const QChar c : name) {
        if (c == u'&')
            text += QStringLiteral("&&");
        else if (c == u'\t' || c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            text += u' ';
        else
            text += c;
    }
    return text;
}
