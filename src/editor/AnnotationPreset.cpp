#include "editor/AnnotationPreset.h"

#include "platform/UserDefaults.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace {

AnnotationPreset builtIn(const char *name, AnnotationTool tool, const char *hex, double fontSize)
{
    AnnotationPreset p;
    p.name = QString::fromLatin1(name);
    p.tool = tool;
    p.colorHex = QString::fromLatin1(hex);
    p.lineWidth = 3;
    p.fontSize = fontSize;
    return p;
}

std::optional<double> size(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d <= 0 || d > AnnotationPreset::largestSize)
        return std::nullopt;
    return d;
}

std::optional<AnnotationPreset> decodeOne(const QJsonValue &element)
{
    if (!element.isObject())
        return std::nullopt;
    const QJsonObject o = element.toObject();
    const QJsonValue id = o.value(QLatin1String("id"));
    const QJsonValue name = o.value(QLatin1String("name"));
    const QJsonValue tool = o.value(QLatin1String("tool"));
    const QJsonValue color = o.value(QLatin1String("colorHex"));
    if (!id.isString() || !name.isString() || !tool.isString() || !color.isString())
        return std::nullopt;
    const QString idText = id.toString();
    // The canonical 8-4-4-4-12 form only (no braces).
    if (idText.size() != 36)
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(idText);
    const auto toolValue = AnnotationTools::fromRawValue(tool.toString());
    const auto lineWidth = size(o.value(QLatin1String("lineWidth")));
    const auto fontSize = size(o.value(QLatin1String("fontSize")));
    if (uuid.isNull() || !toolValue || !lineWidth || !fontSize)
        return std::nullopt;
    AnnotationPreset p;
    p.id = uuid;
    p.name = name.toString();
    p.tool = *toolValue;
    p.colorHex = color.toString();
    p.lineWidth = *lineWidth;
    p.fontSize = *fontSize;
    return p;
}

} // namespace

QList<AnnotationPreset> AnnotationPreset::defaults()
{
    static const QList<AnnotationPreset> presets{
        builtIn("Red Arrow", AnnotationTool::arrow, "#FF3B30", 18),
        builtIn("Yellow Highlight", AnnotationTool::highlight, "#FFCC00", 18),
        builtIn("Numbered Step", AnnotationTool::numbering, "#007AFF", 14),
    };
    return presets;
}

std::optional<QList<AnnotationPreset>> AnnotationPreset::decode(const QByteArray &bytes)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QList<AnnotationPreset> presets;
    for (const QJsonValue &element : doc.array()) {
        if (auto p = decodeOne(element))
            presets.append(*p);
    }
    return presets;
}

QByteArray AnnotationPreset::encode(const QList<AnnotationPreset> &presets)
{
    QJsonArray array;
    for (const AnnotationPreset &p : presets) {
        QJsonObject o;
        o.insert(QLatin1String("id"), p.id.toString(QUuid::WithoutBraces).toUpper());
        o.insert(QLatin1String("name"), p.name);
        o.insert(QLatin1String("tool"), AnnotationTools::rawValue(p.tool));
        o.insert(QLatin1String("colorHex"), p.colorHex);
        o.insert(QLatin1String("lineWidth"), p.lineWidth);
        o.insert(QLatin1String("fontSize"), p.fontSize);
        array.append(o);
    }
    QByteArray json = QJsonDocument(array).toJson(QJsonDocument::Compact);
    // Compact JSON has a "/" only inside texts; write it escaped, as other
    // writers of this value do.
    json.replace("/", "\\/");
    return json;
}

QList<AnnotationPreset> AnnotationPreset::load()
{
    const QVariant stored = UserDefaults::standard().object(QLatin1String(defaultsKey));
    if (!stored.isValid() || stored.typeId() != QMetaType::QByteArray)
        return defaults();
    const QByteArray bytes = stored.toByteArray();
    const auto decoded = decode(bytes);
    if (!decoded)
        return defaults();
    // A list in which nothing is readable (all of it from a newer version,
    // say) is not the user's choice of no presets: offer the built-ins. The
    // stored value stays as it is until the user saves or deletes a preset.
    if (decoded->isEmpty() && !QJsonDocument::fromJson(bytes).array().isEmpty())
        return defaults();
    return *decoded;
}

void AnnotationPreset::save(const QList<AnnotationPreset> &presets)
{
    UserDefaults::standard().setData(QLatin1String(defaultsKey), encode(presets));
}

std::optional<QColor> colorFromHex(const QString &text)
{
    QString s = text.trimmed();
    if (s.startsWith(QLatin1Char('#')))
        s.remove(0, 1);
    if (s.size() != 6)
        return std::nullopt;
    auto hexDigit = [](QChar c) -> int {
        const char16_t u = c.unicode();
        if (u >= '0' && u <= '9')
            return u - '0';
        if (u >= 'a' && u <= 'f')
            return u - 'a' + 10;
        if (u >= 'A' && u <= 'F')
            return u - 'A' + 10;
        return -1;
    };
    int start = 0;
    if (s.at(0) == QLatin1Char('+') || s.at(0) == QLatin1Char('-'))
        start = 1;
    quint32 value = 0;
    for (int i = start; i < 6; ++i) {
        const int d = hexDigit(s.at(i));
        if (d < 0)
            return std::nullopt;
        value = value * 16 + quint32(d);
    }
    if (s.at(0) == QLatin1Char('-') && value != 0)
        return std::nullopt;
    return QColor::fromRgb(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}

QString hexString(const QColor &color)
{
    if (!color.isValid())
        return QStringLiteral("#000000");
    const QColor rgb = color.toRgb();
    auto component = [](float f) { return int(std::lround(double(f) * 255.0)); };
    return QString::asprintf("#%02X%02X%02X", component(rgb.redF()), component(rgb.greenF()),
                             component(rgb.blueF()));
}
