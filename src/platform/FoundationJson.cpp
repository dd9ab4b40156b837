#include "platform/FoundationJson.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>
#include <charconv>
#include <cmath>

namespace {

void writeValue(QByteArray &out, const QJsonValue &v, int depth);

void indent(QByteArray &out, int depth)
{
    out.append(QByteArray(depth * 2, ' '));
}

void writeArray(QByteArray &out, const QJsonArray &a, int depth)
{
    out.append("[\n");
    if (a.isEmpty()) {
        out.append("\n");
    } else {
        for (qsizetype i = 0; i < a.size(); ++i) {
            indent(out, depth + 1);
            writeValue(out, a.at(i), depth + 1);
            if (i + 1 < a.size())
                out.append(',');
            out.append('\n');
        }
    }
    indent(out, depth);
    out.append(']');
}

void writeObject(QByteArray &out, const QJsonObject &o, int depth)
{
    out.append("{\n");
    QStringList keys = o.keys();
    std::sort(keys.begin(), keys.end());
    if (keys.isEmpty()) {
        out.append("\n");
    } else {
        for (qsizetype i = 0; i < keys.size(); ++i) {
            indent(out, depth + 1);
            out.append(FoundationJson::quote(keys.at(i)));
            out.append(" : ");
            writeValue(out, o.value(keys.at(i)), depth + 1);
            if (i + 1 < keys.size())
                out.append(',');
            out.append('\n');
        }
    }
    indent(out, depth);
    out.append('}');
}

void writeValue(QByteArray &out, const QJsonValue &v, int depth)
{
    switch (v.type()) {
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        out.append("null");
        break;
    case QJsonValue::Bool:
        out.append(v.toBool() ? "true" : "false");
        break;
    case QJsonValue::Double: {
        const QVariant var = v.toVariant();
        if (var.typeId() == QMetaType::LongLong)
            out.append(QByteArray::number(var.toLongLong()));
        else {
            const QByteArray n = FoundationJson::number(v.toDouble());
            out.append(n.isEmpty() ? QByteArray("null") : n);
        }
        break;
    }
    case QJsonValue::String:
        out.append(FoundationJson::quote(v.toString()));
        break;
    case QJsonValue::Array:
        writeArray(out, v.toArray(), depth);
        break;
    case QJsonValue::Object:
        writeObject(out, v.toObject(), depth);
        break;
    }
}

} // namespace

QByteArray FoundationJson::prettySorted(const QJsonValue &value)
{
    QByteArray out;
    writeValue(out, value, 0);
    return out;
}

QByteArray FoundationJson::quote(const QString &text, bool escapeSlash)
{
    QByteArray out;
    out.reserve(text.size() + 2);
    out.append('"');
    const QByteArray utf8 = text.toUtf8();
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '/': out.append(escapeSlash ? "\\/" : "/"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out.append(buf);
            } else {
                out.append(ch);
            }
        }
    }
    out.append('"');
    return out;
}

QByteArray FoundationJson::number(double value)
{
    if (!std::isfinite(value))
        return QByteArray();
    if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0)
        return QByteArray::number(static_cast<qint64>(value));
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return QByteArray(buf, static_cast<qsizetype>(res.ptr - buf));
}
