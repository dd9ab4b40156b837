#pragma once

#include <QByteArray>
#include <QJsonValue>

// Writes JSON the way the files this program shares with other tools are
// laid out: pretty printed with two-space indentation, " : " between a key
// and its value, keys sorted at every level, "/" escaped as "\/", and empty
// containers written as "[\n\n]" and "{\n\n}". Integers stay integers;
// other numbers use the shortest text that reads back to the same double.
class FoundationJson
{
public:
    static QByteArray prettySorted(const QJsonValue &value);
    // One string literal, quoted and escaped as above; with escapeSlash
    // false "/" is kept as it is (for hand-edited files).
    static QByteArray quote(const QString &text, bool escapeSlash = true);
    // The shortest round-trip text of a double (no exponent for ordinary
    // magnitudes). Non-finite numbers have no JSON form: the result is empty.
    static QByteArray number(double value);
};
