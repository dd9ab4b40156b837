#include "model/HotKeyBinding.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QKeyEvent>
#include <QList>
#include <QPair>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace {

struct NamedKey
{
    quint32 code;
    const char *display; // UTF-8
    const char *token;   // UTF-8
};

// Keys whose spelled token differs from their lower-cased display name.
// The display names are the ones Qt's menus give these keys on Linux.
const NamedKey kSpecialKeys[] = {
    {36, "Return", "return"}, {48, "Tab", "tab"},          {49, "Space", "space"}, {51, "Backspace", "delete"},
    {117, "Del", "del"},      {53, "Esc", "esc"},          {123, "Left", "left"},  {124, "Right", "right"},
    {126, "Up", "up"},        {125, "Down", "down"},       {115, "Home", "home"},  {119, "End", "end"},
    {116, "PgUp", "pageup"},  {121, "PgDown", "pagedown"}, {27, "-", "-"},         {24, "=", "="},
    {33, "[", "["},          {30, "]", "]"},          {41, ";", ";"},         {39, "'", "'"},
    {43, ",", ","},          {47, ".", "."},          {44, "/", "/"},         {42, "\\", "\\"},
    {50, "`", "`"},
};

// A to Z.
const quint32 kLetterCodes[26] = {0,  11, 8,  2,  14, 3,  5,  4,  34, 38, 40, 37, 46,
                                  45, 31, 35, 12, 15, 1,  17, 32, 9,  13, 7,  16, 6};
// 0 to 9.
const quint32 kDigitCodes[10] = {29, 18, 19, 20, 21, 23, 22, 26, 28, 25};
// F1 to F20.
const quint32 kFunctionCodes[20] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109,
                                    103, 111, 105, 107, 113, 106, 64, 79, 80, 90};

const QHash<quint32, QString> &displayNames()
{
    static const QHash<quint32, QString> table = [] {
        QHash<quint32, QString> t;
        for (int i = 0; i < 26; ++i)
            t.insert(kLetterCodes[i], QString(QChar('A' + i)));
        for (int i = 0; i < 10; ++i)
            t.insert(kDigitCodes[i], QString(QChar('0' + i)));
        for (int i = 0; i < 20; ++i)
            t.insert(kFunctionCodes[i], QStringLiteral("F%1").arg(i + 1));
        for (const NamedKey &k : kSpecialKeys)
            t.insert(k.code, QString::fromUtf8(k.display));
        return t;
    }();
    return table;
}

const QHash<QString, quint32> &namedCodes()
{
    static const QHash<QString, quint32> table = [] {
        QHash<QString, quint32> t;
        for (int i = 0; i < 26; ++i)
            t.insert(QString(QChar('a' + i)), kLetterCodes[i]);
        for (int i = 0; i < 10; ++i)
            t.insert(QString(QChar('0' + i)), kDigitCodes[i]);
        const QList<QPair<const char *, quint32>> names = {
            {"return", 36},      {"enter", 36},        {"⏎", 36},         {"tab", 48},          {"⇥", 48},
            {"space", 49},       {"spacebar", 49},     {"delete", 51},    {"backspace", 51},    {"⌫", 51},
            {"forwarddelete", 117}, {"fwddelete", 117}, {"del", 117},     {"⌦", 117},           {"escape", 53},
            {"esc", 53},         {"⎋", 53},            {"left", 123},     {"right", 124},       {"up", 126},
            {"down", 125},       {"←", 123},           {"→", 124},        {"↑", 126},           {"↓", 125},
            {"home", 115},       {"end", 119},         {"pageup", 116},   {"pagedown", 121},    {"pgup", 116},
            {"pgdn", 121},       {"pgdown", 121},       {"-", 27},            {"minus", 27},     {"=", 24},            {"equals", 24},
            {"equal", 24},       {"[", 33},            {"leftbracket", 33}, {"]", 30},          {"rightbracket", 30},
            {";", 41},           {"semicolon", 41},    {"'", 39},         {"quote", 39},        {",", 43},
            {"comma", 43},       {".", 47},            {"period", 47},    {"/", 44},            {"slash", 44},
            {"\\", 42},          {"backslash", 42},    {"`", 50},         {"grave", 50},        {"tick", 50},
            {"printscreen", 105}, {"prtsc", 105},      {"print", 105},
        };
        for (const auto &[name, code] : names)
            t.insert(QString::fromUtf8(name), code);
        for (int i = 0; i < 20; ++i)
            t.insert(QStringLiteral("f%1").arg(i + 1), kFunctionCodes[i]);
        return t;
    }();
    return table;
}

// Linux evdev key code (the X11 keycode minus 8) to key position code.
// Print Screen (SysRq) shares 105 with F13, as the key names do.
const QList<QPair<quint32, quint32>> &evdevPairs()
{
    static const QList<QPair<quint32, quint32>> pairs = {
        {1, 53},    {2, 18},    {3, 19},    {4, 20},    {5, 21},    {6, 23},    {7, 22},    {8, 26},
        {9, 28},    {10, 25},   {11, 29},   {12, 27},   {13, 24},   {14, 51},   {15, 48},   {16, 12},
        {17, 13},   {18, 14},   {19, 15},   {20, 17},   {21, 16},   {22, 32},   {23, 34},   {24, 31},
        {25, 35},   {26, 33},   {27, 30},   {28, 36},   {29, 59},   {30, 0},    {31, 1},    {32, 2},
        {33, 3},    {34, 5},    {35, 4},    {36, 38},   {37, 40},   {38, 37},   {39, 41},   {40, 39},
        {41, 50},   {42, 56},   {43, 42},   {44, 6},    {45, 7},    {46, 8},    {47, 9},    {48, 11},
        {49, 45},   {50, 46},   {51, 43},   {52, 47},   {53, 44},   {54, 60},   {55, 67},   {56, 58},
        {57, 49},   {58, 57},   {59, 122},  {60, 120},  {61, 99},   {62, 118},  {63, 96},   {64, 97},
        {65, 98},   {66, 100},  {67, 101},  {68, 109},  {71, 89},   {72, 91},   {73, 92},   {74, 78},
        {75, 86},   {76, 87},   {77, 88},   {78, 69},   {79, 83},   {80, 84},   {81, 85},   {82, 82},
        {83, 65},   {86, 10},   {87, 103},  {88, 111},  {96, 76},   {97, 62},   {98, 75},   {99, 105},
        {100, 61},  {102, 115}, {103, 126}, {104, 116}, {105, 123}, {106, 124}, {107, 119}, {108, 125},
        {109, 121}, {110, 114}, {111, 117}, {117, 81},  {125, 55},  {126, 54},  {183, 105}, {184, 107},
        {185, 113}, {186, 106}, {187, 64},  {188, 79},  {189, 80},  {190, 90},
    };
    return pairs;
}

// The position code of a Qt key read as a US layout, for key events that
// carry no scan code. Shifted symbols count as the key they are typed on.
std::optional<quint32> keyCodeFromQtKey(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return kLetterCodes[key - Qt::Key_A];
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return kDigitCodes[key - Qt::Key_0];
    if (key >= Qt::Key_F1 && key <= Qt::Key_F20)
        return kFunctionCodes[key - Qt::Key_F1];
    static const QHash<int, quint32> table = {
        {Qt::Key_Exclam, 18},      {Qt::Key_At, 19},          {Qt::Key_NumberSign, 20},
        {Qt::Key_Dollar, 21},      {Qt::Key_Percent, 23},     {Qt::Key_AsciiCircum, 22},
        {Qt::Key_Ampersand, 26},   {Qt::Key_Asterisk, 28},    {Qt::Key_ParenLeft, 25},
        {Qt::Key_ParenRight, 29},  {Qt::Key_Minus, 27},       {Qt::Key_Underscore, 27},
        {Qt::Key_Equal, 24},       {Qt::Key_Plus, 24},        {Qt::Key_BracketLeft, 33},
        {Qt::Key_BraceLeft, 33},   {Qt::Key_BracketRight, 30}, {Qt::Key_BraceRight, 30},
        {Qt::Key_Semicolon, 41},   {Qt::Key_Colon, 41},       {Qt::Key_Apostrophe, 39},
        {Qt::Key_QuoteDbl, 39},    {Qt::Key_Comma, 43},       {Qt::Key_Less, 43},
        {Qt::Key_Period, 47},      {Qt::Key_Greater, 47},     {Qt::Key_Slash, 44},
        {Qt::Key_Question, 44},    {Qt::Key_Backslash, 42},   {Qt::Key_Bar, 42},
        {Qt::Key_QuoteLeft, 50},   {Qt::Key_AsciiTilde, 50},  {Qt::Key_Return, 36},
        {Qt::Key_Enter, 36},       {Qt::Key_Tab, 48},         {Qt::Key_Backtab, 48},
        {Qt::Key_Space, 49},       {Qt::Key_Backspace, 51},   {Qt::Key_Delete, 117},
        {Qt::Key_Escape, 53},      {Qt::Key_Left, 123},       {Qt::Key_Right, 124},
        {Qt::Key_Up, 126},         {Qt::Key_Down, 125},       {Qt::Key_Home, 115},
        {Qt::Key_End, 119},        {Qt::Key_PageUp, 116},     {Qt::Key_PageDown, 121},
        {Qt::Key_Print, 105},      {Qt::Key_Insert, 114},     {Qt::Key_Control, 59},
        {Qt::Key_Shift, 56},       {Qt::Key_Alt, 58},         {Qt::Key_Meta, 55},
        {Qt::Key_CapsLock, 57},
    };
    const auto it = table.constFind(key);
    if (it == table.constEnd())
        return std::nullopt;
    return *it;
}

// An unsigned 32-bit integer from a JSON number, or nothing.
std::optional<quint32> jsonUInt32(const QJsonValue &v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d < 0 || d > 4294967295.0 || std::floor(d) != d)
        return std::nullopt;
    return static_cast<quint32>(d);
}

} // namespace

std::optional<HotKeyBinding> HotKeyBinding::fromKeyEvent(const QKeyEvent &event)
{
    HotKeyBinding b;
    std::optional<quint32> code;
    if (event.nativeScanCode() != 0)
        code = keyCodeFromX11Keycode(event.nativeScanCode());
    if (!code)
        code = keyCodeFromQtKey(event.key());
    if (!code)
        return std::nullopt;
    b.keyCode = *code;

    const Qt::KeyboardModifiers mods = event.modifiers();
    if (mods & Qt::ShiftModifier)
        b.carbonModifiers |= shiftModifier;
    if (mods & Qt::ControlModifier)
        b.carbonModifiers |= controlModifier;
    if (mods & Qt::AltModifier)
        b.carbonModifiers |= optionModifier;
    if (mods & Qt::MetaModifier)
        b.carbonModifiers |= commandModifier;
    return b;
}

bool HotKeyBinding::isFunctionKey(quint32 keyCode)
{
    return std::find(std::begin(kFunctionCodes), std::end(kFunctionCodes), keyCode) != std::end(kFunctionCodes);
}

std::optional<HotKeyBinding> HotKeyBinding::fromSpec(const QString &spec)
{
    QString text = spec.trimmed().toLower();
    if (text.isEmpty())
        return std::nullopt;
    text.replace(QStringLiteral("⌃"), QStringLiteral("ctrl+"));
    text.replace(QStringLiteral("⌥"), QStringLiteral("opt+"));
    text.replace(QStringLiteral("⇧"), QStringLiteral("shift+"));
    text.replace(QStringLiteral("⌘"), QStringLiteral("cmd+"));

    QStringList tokens;
    QString current;
    for (const QChar c : std::as_const(text)) {
        if (c == u'+' || c == u'-' || c == u' ') {
            if (!current.isEmpty())
                tokens.append(current);
            current.clear();
        } else {
            current.append(c);
        }
    }
    if (!current.isEmpty())
        tokens.append(current);
    if (tokens.isEmpty())
        return std::nullopt;

    quint32 modifiers = 0;
    std::optional<QString> keyName;
    for (const QString &token : std::as_const(tokens)) {
        if (token == u"cmd" || token == u"command" || token == u"meta" || token == u"super")
            modifiers |= commandModifier;
        else if (token == u"ctrl" || token == u"control")
            modifiers |= controlModifier;
        else if (token == u"opt" || token == u"option" || token == u"alt")
            modifiers |= optionModifier;
        else if (token == u"shift")
            modifiers |= shiftModifier;
        else if (keyName)
            return std::nullopt; // a second key
        else
            keyName = token;
    }
    if (!keyName)
        return std::nullopt;
    const std::optional<quint32> code = keyCodeForName(*keyName);
    if (!code)
        return std::nullopt;
    const HotKeyBinding binding(*code, modifiers);
    if (binding.isUnbound())
        return std::nullopt;
    return binding;
}

QString HotKeyBinding::displayString() const
{
    if (isUnbound())
        return QStringLiteral("—");
    // The order and words of Qt's own shortcut texts on Linux, with the
    // desktop's name for the logo key.
    QStringList parts;
    if (carbonModifiers & commandModifier)
        parts << QStringLiteral("Super");
    if (carbonModifiers & controlModifier)
        parts << QStringLiteral("Ctrl");
    if (carbonModifiers & optionModifier)
        parts << QStringLiteral("Alt");
    if (carbonModifiers & shiftModifier)
        parts << QStringLiteral("Shift");
    parts << keyDisplayName(keyCode);
    return parts.join(u'+');
}

QString HotKeyBinding::specString() const
{
    if (isUnbound())
        return QString();
    QStringList parts;
    if (carbonModifiers & controlModifier)
        parts << QStringLiteral("ctrl");
    if (carbonModifiers & optionModifier)
        parts << QStringLiteral("opt");
    if (carbonModifiers & shiftModifier)
        parts << QStringLiteral("shift");
    if (carbonModifiers & commandModifier)
        parts << QStringLiteral("cmd");
    parts << keyToken(keyCode);
    return parts.join(u'+');
}

QString HotKeyBinding::keyDisplayName(quint32 keyCode)
{
    const auto &table = displayNames();
    const auto it = table.constFind(keyCode);
    if (it != table.constEnd())
        return *it;
    return QStringLiteral("Key %1").arg(keyCode);
}

QString HotKeyBinding::keyToken(quint32 keyCode)
{
    for (const NamedKey &k : kSpecialKeys) {
        if (k.code == keyCode)
            return QString::fromUtf8(k.token);
    }
    for (int i = 0; i < 20; ++i) {
        if (kFunctionCodes[i] == keyCode)
            return QStringLiteral("f%1").arg(i + 1);
    }
    return keyDisplayName(keyCode).toLower();
}

std::optional<quint32> HotKeyBinding::keyCodeForName(const QString &name)
{
    const auto &table = namedCodes();
    const auto it = table.constFind(name);
    if (it == table.constEnd())
        return std::nullopt;
    return *it;
}

QByteArray HotKeyBinding::toJson() const
{
    return QByteArrayLiteral("{\"keyCode\":") + QByteArray::number(keyCode)
           + QByteArrayLiteral(",\"carbonModifiers\":") + QByteArray::number(carbonModifiers) + '}';
}

std::optional<HotKeyBinding> HotKeyBinding::fromJson(const QByteArray &json)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject obj = doc.object();
    const auto code = jsonUInt32(obj.value(QStringLiteral("keyCode")));
    const auto mods = jsonUInt32(obj.value(QStringLiteral("carbonModifiers")));
    if (!code || !mods)
        return std::nullopt;
    return HotKeyBinding(*code, *mods);
}

HotKeyBinding HotKeyBinding::defaultBinding(CaptureShortcut shortcut)
{
    static const quint32 codes[] = {18, 19, 20, 21, 23};
    return HotKeyBinding(codes[static_cast<int>(shortcut)], controlModifier | shiftModifier);
}

std::optional<quint32> HotKeyBinding::keyCodeFromX11Keycode(quint32 x11Keycode)
{
    if (x11Keycode < 8)
        return std::nullopt;
    const quint32 evdev = x11Keycode - 8;
    for (const auto &[e, code] : evdevPairs()) {
        if (e == evdev)
            return code;
    }
    return std::nullopt;
}

QList<quint32> HotKeyBinding::x11KeycodesFromKeyCode(quint32 keyCode)
{
    QList<quint32> result;
    for (const auto &[e, code] : evdevPairs()) {
        if (code == keyCode)
            result.append(e + 8);
    }
    return result;
}
