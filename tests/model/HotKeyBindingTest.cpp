#include "model/HotKeyBinding.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <gtest/gtest.h>

namespace {
constexpr quint32 kCtrl = HotKeyBinding::controlModifier;
constexpr quint32 kShift = HotKeyBinding::shiftModifier;
constexpr quint32 kOpt = HotKeyBinding::optionModifier;
constexpr quint32 kCmd = HotKeyBinding::commandModifier;

// X11 keycodes (evdev + 8) of some keys on a PC keyboard.
constexpr quint32 kX11Digit1 = 10;
constexpr quint32 kX11Digit5 = 14;
constexpr quint32 kX11LetterA = 38;
constexpr quint32 kX11LetterZ = 52;
constexpr quint32 kX11LetterY = 29; // where a German keyboard has Z
constexpr quint32 kX11Print = 107;
constexpr quint32 kX11F13 = 191;
} // namespace

TEST(HotKeyBinding, DefaultsAndTheirTextForms)
{
    const struct {
        CaptureShortcut shortcut;
        quint32 code;
        const char *shown;
        const char *spelled;
    } rows[] = {
        {CaptureShortcut::fullscreen, 18, "Ctrl+Shift+1", "ctrl+shift+1"},
        {CaptureShortcut::window, 19, "Ctrl+Shift+2", "ctrl+shift+2"},
        {CaptureShortcut::region, 20, "Ctrl+Shift+3", "ctrl+shift+3"},
        {CaptureShortcut::scrolling, 21, "Ctrl+Shift+4", "ctrl+shift+4"},
        {CaptureShortcut::timed, 23, "Ctrl+Shift+5", "ctrl+shift+5"},
    };
    for (const auto &row : rows) {
        const HotKeyBinding b = HotKeyBinding::defaultBinding(row.shortcut);
        EXPECT_EQ(b, HotKeyBinding(row.code, 0x1200));
        EXPECT_EQ(b.displayString(), QString::fromUtf8(row.shown));
        EXPECT_EQ(b.specString(), QString::fromUtf8(row.spelled));
    }
}

TEST(HotKeyBinding, TextFormsFollowTheFixedModifierOrder)
{
    EXPECT_EQ(HotKeyBinding().displayString(), QString::fromUtf8("—"));
    EXPECT_EQ(HotKeyBinding().specString(), QString());

    // Key code 0 with a modifier is a real shortcut.
    EXPECT_EQ(HotKeyBinding(0, kCmd).displayString(), "Super+A");
    EXPECT_EQ(HotKeyBinding(0, kCmd).specString(), "cmd+a");

    // A fixed order, whatever order the bits came in.
    const HotKeyBinding all(40, kCmd | kShift | kOpt | kCtrl);
    EXPECT_EQ(all.displayString(), "Super+Ctrl+Alt+Shift+K");
    EXPECT_EQ(all.specString(), "ctrl+opt+shift+cmd+k");

    EXPECT_EQ(HotKeyBinding(96, kCmd).specString(), "cmd+f5");
    EXPECT_EQ(HotKeyBinding(116, kOpt).specString(), "opt+pageup");
    EXPECT_EQ(HotKeyBinding(36, 0).specString(), "return");
    EXPECT_EQ(HotKeyBinding(49, kCtrl).displayString(), "Ctrl+Space");
    EXPECT_EQ(HotKeyBinding(51, 0).specString(), "delete");
    EXPECT_EQ(HotKeyBinding(117, 0).specString(), "del");
    EXPECT_EQ(HotKeyBinding(42, kCtrl).specString(), "ctrl+\\");
    EXPECT_EQ(HotKeyBinding(105, 0).displayString(), "F13");

    // Unknown codes.
    EXPECT_EQ(HotKeyBinding(200, kShift).displayString(), "Shift+Key 200");
    EXPECT_EQ(HotKeyBinding(200, kShift).specString(), "shift+key 200");
    EXPECT_FALSE(HotKeyBinding::fromSpec("shift+key 200"));
}

// Shortcuts are shown the way the menus show theirs (Qt's native text on
// Linux, whose "Meta" the desktops call Super), and what is shown can be
// typed back.
TEST(HotKeyBinding, ShownFormIsTheMenusShortcutTextAndParsesBack)
{
    const QList<QPair<HotKeyBinding, int>> keys = {
        {HotKeyBinding(18, 0), Qt::Key_1},          {HotKeyBinding(40, 0), Qt::Key_K},
        {HotKeyBinding(105, 0), Qt::Key_F13},       {HotKeyBinding(36, 0), Qt::Key_Return},
        {HotKeyBinding(48, 0), Qt::Key_Tab},        {HotKeyBinding(49, 0), Qt::Key_Space},
        {HotKeyBinding(51, 0), Qt::Key_Backspace},  {HotKeyBinding(117, 0), Qt::Key_Delete},
        {HotKeyBinding(53, 0), Qt::Key_Escape},     {HotKeyBinding(123, 0), Qt::Key_Left},
        {HotKeyBinding(124, 0), Qt::Key_Right},     {HotKeyBinding(126, 0), Qt::Key_Up},
        {HotKeyBinding(125, 0), Qt::Key_Down},      {HotKeyBinding(115, 0), Qt::Key_Home},
        {HotKeyBinding(119, 0), Qt::Key_End},       {HotKeyBinding(116, 0), Qt::Key_PageUp},
        {HotKeyBinding(121, 0), Qt::Key_PageDown},  {HotKeyBinding(24, 0), Qt::Key_Equal},
        {HotKeyBinding(33, 0), Qt::Key_BracketLeft}, {HotKeyBinding(50, 0), Qt::Key_QuoteLeft},
    };
    for (quint32 mods = 0; mods <= HotKeyBinding::allModifiers; mods += kCmd) {
        if ((mods & ~HotKeyBinding::allModifiers) != 0 || mods == 0)
            continue;
        Qt::KeyboardModifiers qtMods;
        qtMods.setFlag(Qt::ControlModifier, mods & kCtrl);
        qtMods.setFlag(Qt::AltModifier, mods & kOpt);
        qtMods.setFlag(Qt::ShiftModifier, mods & kShift);
        qtMods.setFlag(Qt::MetaModifier, mods & kCmd);
        for (const auto &[key, qtKey] : keys) {
            const HotKeyBinding b(key.keyCode, mods);
            const QString menuText = QKeySequence(QKeyCombination(qtMods, Qt::Key(qtKey)))
                                         .toString(QKeySequence::NativeText)
                                         .replace(QStringLiteral("Meta"), QStringLiteral("Super"));
            SCOPED_TRACE(menuText.toStdString());
            EXPECT_EQ(b.displayString(), menuText);
            EXPECT_EQ(HotKeyBinding::fromSpec(b.displayString()), b);
            EXPECT_EQ(HotKeyBinding::fromSpec(b.displayString().toLower()), b);
        }
    }
}

TEST(HotKeyBinding, ParserAcceptsAndRejects)
{
    const struct {
        const char *text;
        std::optional<HotKeyBinding> expected;
    } rows[] = {
        {"ctrl+shift+1", HotKeyBinding(18, 0x1200)},
        {"Ctrl-Shift-1", HotKeyBinding(18, 0x1200)},
        {"  ⌃⇧1 \n", HotKeyBinding(18, 0x1200)},
        {"shift ctrl 1", HotKeyBinding(18, 0x1200)},
        {"control+shift+1", HotKeyBinding(18, 0x1200)},
        {"1+ctrl+shift+ctrl", HotKeyBinding(18, 0x1200)},
        {"⌃shift+1", HotKeyBinding(18, 0x1200)},
        {"cmd+opt+f13", HotKeyBinding(105, 0x900)},
        {"cmd+print", HotKeyBinding(105, 0x100)},
        {"meta+prtsc", HotKeyBinding(105, 0x100)},
        {"alt+printscreen", HotKeyBinding(105, 0x800)},
        {"command+option+space", HotKeyBinding(49, 0x900)},
        {"ctrl+enter", HotKeyBinding(36, kCtrl)},
        {"ctrl+return", HotKeyBinding(36, kCtrl)},
        {"ctrl+del", HotKeyBinding(117, kCtrl)},
        {"ctrl+delete", HotKeyBinding(51, kCtrl)},
        {"ctrl+minus", HotKeyBinding(27, kCtrl)},
        {"cmd+⏎", HotKeyBinding(36, kCmd)},
        {"cmd+a", HotKeyBinding(0, kCmd)},
        {"F5", HotKeyBinding(96, 0)},
        {"ctrl+shift", std::nullopt},
        {"ctrl+a+b", std::nullopt},
        {"ctrl+banana", std::nullopt},
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"+-+", std::nullopt},
        {"ctrl+-", std::nullopt},  // "-" separates, so no key is left
        {"ctrl\t1", std::nullopt}, // only spaces separate
        // The bare letter "a" would be the unbound value: a typed shortcut
        // never clears the binding.
        {"a", std::nullopt},
        {" A ", std::nullopt},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(HotKeyBinding::fromSpec(QString::fromUtf8(row.text)), row.expected);
    }
}

TEST(HotKeyBinding, EveryNamedKeyRoundTripsThroughTheSpelledForm)
{
    int named = 0;
    for (quint32 code = 0; code < 128; ++code) {
        if (HotKeyBinding::keyDisplayName(code).startsWith("Key "))
            continue;
        ++named;
        for (const quint32 mods : {kCtrl, kCmd | kShift, kCtrl | kOpt | kShift | kCmd}) {
            const HotKeyBinding b(code, mods);
            SCOPED_TRACE(b.specString().toStdString());
            if (code == 27) { // minus: its "-" is a separator
                EXPECT_FALSE(HotKeyBinding::fromSpec(b.specString()));
                continue;
            }
            EXPECT_EQ(HotKeyBinding::fromSpec(b.specString()), b);
        }
    }
    EXPECT_EQ(named, 81);
}

TEST(HotKeyBinding, JsonFormIsCompactWithKeyCodeFirst)
{
    EXPECT_EQ(HotKeyBinding::defaultBinding(CaptureShortcut::fullscreen).toJson(),
              QByteArray("{\"keyCode\":18,\"carbonModifiers\":4608}"));
    EXPECT_EQ(HotKeyBinding().toJson(), QByteArray("{\"keyCode\":0,\"carbonModifiers\":0}"));
    EXPECT_EQ(HotKeyBinding(4294967295u, 0).toJson(), QByteArray("{\"keyCode\":4294967295,\"carbonModifiers\":0}"));

    EXPECT_EQ(HotKeyBinding::fromJson("{\"carbonModifiers\":4608,\"keyCode\":18}"), HotKeyBinding(18, 4608));
    EXPECT_EQ(HotKeyBinding::fromJson("{\"keyCode\":0,\"carbonModifiers\":0,\"x\":true}"), HotKeyBinding());
    EXPECT_EQ(HotKeyBinding::fromJson("{\"keyCode\":4294967295,\"carbonModifiers\":256}"),
              HotKeyBinding(4294967295u, 256));
    for (const char *bad : {"{\"keyCode\":18}", "{\"carbonModifiers\":4608}", "{\"keyCode\":-1,\"carbonModifiers\":0}",
                            "{\"keyCode\":1.5,\"carbonModifiers\":0}", "{\"keyCode\":\"18\",\"carbonModifiers\":0}",
                            "{\"keyCode\":4294967296,\"carbonModifiers\":0}", "{\"keyCode\":null,\"carbonModifiers\":0}",
                            "[18,4608]", "", "not json"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(HotKeyBinding::fromJson(bad));
    }
}

TEST(HotKeyBinding, KeyEventsBindTheKeyByPositionNotByCharacter)
{
    // Ctrl+Shift+1 types "!" but is the key "1".
    QKeyEvent ctrlShift1(QEvent::KeyPress, Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier, kX11Digit1, 0, 0,
                         "!");
    EXPECT_EQ(HotKeyBinding::fromKeyEvent(ctrlShift1), HotKeyBinding(18, 0x1200));

    QKeyEvent percent(QEvent::KeyPress, Qt::Key_Percent, Qt::ControlModifier | Qt::ShiftModifier, kX11Digit5, 0, 0,
                      "%");
    EXPECT_EQ(HotKeyBinding::fromKeyEvent(percent), HotKeyBinding(23, 0x1200));

    // On a German layout the key where US has Y types "z": the position wins.
    QKeyEvent germanZ(QEvent::KeyPress, Qt::Key_Z, Qt::AltModifier, kX11LetterY, 0, 0, "z");
    EXPECT_EQ(HotKeyBinding::fromKeyEvent(germanZ), HotKeyBinding(16, kOpt));

    QKeyEvent superA(QEvent::KeyPress, Qt::Key_A, Qt::MetaModifier | Qt::KeypadModifier, kX11LetterA, 0, 0, "a");
    EXPECT_EQ(HotKeyBinding::fromKeyEvent(superA), HotKeyBinding(0, kCmd));

    QKeyEvent print(QEvent::KeyPress, Qt::Key_Print, Qt::ShiftModifier, kX11Print, 0, 0);
    EXPECT_EQ(HotKeyBinding::fromKeyEvent(print), HotKeyBinding(105, kShift));

    // Without a scan code the Qt key is read as a US layout.
    QKeyEvent noScan(QEvent::KeyPress, Qt::Key_At, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(HotKeyBinding::fromKeyEvent(noScan), HotKeyBinding(19, 0x1200));
    QKeyEvent noScanF5(QEvent::KeyPress, Qt::Key_F5, Qt::NoModifier);
    EXPECT_EQ(HotKeyBinding::fromKeyEvent(noScanF5), HotKeyBinding(96, 0));
}

// Keys without a position number used to come out as key code 0, the A key
// (Ctrl+Pause bound Ctrl+A system-wide).
TEST(HotKeyBinding, KeysWithoutAPositionGiveNoBinding)
{
    // X11 keycodes (evdev + 8) of Pause, Scroll Lock, Num Lock and Menu.
    const QList<QPair<int, quint32>> keys = {
        {Qt::Key_Pause, 119 + 8}, {Qt::Key_ScrollLock, 70 + 8}, {Qt::Key_NumLock, 69 + 8}, {Qt::Key_Menu, 127 + 8}};
    for (const auto &[key, x11] : keys) {
        SCOPED_TRACE(key);
        QKeyEvent withScan(QEvent::KeyPress, key, Qt::ControlModifier, x11, 0, 0);
        EXPECT_FALSE(HotKeyBinding::fromKeyEvent(withScan));
        QKeyEvent withoutScan(QEvent::KeyPress, key, Qt::NoModifier);
        EXPECT_FALSE(HotKeyBinding::fromKeyEvent(withoutScan));
    }
    // The A key itself still binds as key code 0.
    QKeyEvent ctrlA(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier, kX11LetterA, 0, 0, "a");
    EXPECT_EQ(HotKeyBinding::fromKeyEvent(ctrlA), HotKeyBinding(0, 0x1000));
}

TEST(HotKeyBinding, X11KeycodesMatchTheKeyPositions)
{
    EXPECT_EQ(HotKeyBinding::keyCodeFromX11Keycode(kX11LetterA), 0u);
    EXPECT_EQ(HotKeyBinding::keyCodeFromX11Keycode(kX11LetterZ), 6u);
    EXPECT_EQ(HotKeyBinding::keyCodeFromX11Keycode(kX11Digit5), 23u);
    EXPECT_EQ(HotKeyBinding::keyCodeFromX11Keycode(kX11F13), 105u);
    EXPECT_FALSE(HotKeyBinding::keyCodeFromX11Keycode(0));
    EXPECT_FALSE(HotKeyBinding::keyCodeFromX11Keycode(255));
    EXPECT_EQ(HotKeyBinding::x11KeycodesFromKeyCode(105), (QList<quint32>{kX11Print, kX11F13}));

    // Every key with a name can be grabbed, and maps back to itself.
    for (quint32 code = 0; code < 128; ++code) {
        if (HotKeyBinding::keyDisplayName(code).startsWith("Key "))
            continue;
        SCOPED_TRACE(code);
        const QList<quint32> x11 = HotKeyBinding::x11KeycodesFromKeyCode(code);
        ASSERT_FALSE(x11.isEmpty());
        for (const quint32 k : x11)
            EXPECT_EQ(HotKeyBinding::keyCodeFromX11Keycode(k), code);
    }
}

TEST(HotKeyBinding, KeyNameTables)
{
    EXPECT_EQ(HotKeyBinding::keyCodeForName("tick"), 50u);
    EXPECT_EQ(HotKeyBinding::keyCodeForName("`"), 50u);
    EXPECT_EQ(HotKeyBinding::keyCodeForName("pgdn"), 121u);
    EXPECT_EQ(HotKeyBinding::keyCodeForName("f20"), 90u);
    EXPECT_FALSE(HotKeyBinding::keyCodeForName("F20")); // names are lower case
    EXPECT_FALSE(HotKeyBinding::keyCodeForName("f21"));
    EXPECT_EQ(HotKeyBinding::keyToken(90), "f20");
    EXPECT_EQ(HotKeyBinding::keyToken(6), "z");
    EXPECT_EQ(HotKeyBinding::keyDisplayName(50), "`");
    EXPECT_EQ(HotKeyBinding::keyDisplayName(22), "6");
}
