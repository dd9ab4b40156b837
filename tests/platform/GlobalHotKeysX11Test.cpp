// Global shortcuts against a real X server: presses through xdotool, a second
// X client that holds a combination, auto-repeat and a modifier-map change.
#include "platform/X11GlobalHotKeys.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr quint32 kKey1 = 10; // X keycode of the "1" key (evdev 2 + 8)
constexpr quint32 kKey2 = 11;

void xdotool(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    ASSERT_TRUE(p.waitForFinished(30000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

// Another X client: its own connection to the same server.
class OtherClient
{
public:
    OtherClient()
    {
        c = xcb_connect(nullptr, nullptr);
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~OtherClient() { xcb_disconnect(c); }
    bool grab(quint32 keycode, quint16 mask)
    {
        auto cookie = xcb_grab_key_checked(c, 0, root, mask, static_cast<xcb_keycode_t>(keycode),
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t *e = xcb_request_check(c, cookie);
        std::free(e);
        return e == nullptr;
    }
    quint16 modifierState()
    {
        auto *r = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
        const quint16 mask = r ? r->mask : 0;
        std::free(r);
        return mask;
    }
    xcb_connection_t *c;
    xcb_window_t root;
};

// Counts every key press of a keycode that reaches our connection, so a
// test can tell that the server really repeated a held key.
class RawPressCounter : public QAbstractNativeEventFilter
{
public:
    explicit RawPressCounter(quint32 code) : keycode(code) { qApp->installNativeEventFilter(this); }
    ~RawPressCounter() override { qApp->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &, void *message, qintptr *) override
    {
        auto *e = static_cast<xcb_generic_event_t *>(message);
        if ((e->response_type & 0x7f) == XCB_KEY_PRESS && reinterpret_cast<xcb_key_press_event_t *>(e)->detail == keycode)
            ++presses;
        return false;
    }
    quint32 keycode;
    int presses = 0;
};

class GlobalHotKeysX11Test : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(QGuiApplication::platformName(), "xcb"); }
    // Leaves the server's lock keys off for the next test.
    void TearDown() override
    {
        OtherClient probe;
        const quint16 state = probe.modifierState();
        if (state & XCB_MOD_MASK_LOCK)
            xdotool({"key", "Caps_Lock"});
        if (state & XCB_MOD_MASK_2)
            xdotool({"key", "Num_Lock"});
    }
};

} // namespace

TEST_F(GlobalHotKeysX11Test, PressesArriveWhateverTheLockKeysAndOnlyForTheirCombination)
{
    X11GlobalHotKeys keys;
    ASSERT_TRUE(keys.isAvailable());
    QSignalSpy spy(&keys, &GlobalHotKeys::activated);
    ASSERT_TRUE(keys.grab(7, {kKey1}, GlobalHotKeys::Control | GlobalHotKeys::Shift));
    ASSERT_TRUE(keys.grab(8, {kKey2}, GlobalHotKeys::Control | GlobalHotKeys::Alt));

    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 1; }, 30000));
    EXPECT_EQ(spy.at(0).at(0).toUInt(), 7u);

    xdotool({"key", "ctrl+alt+2"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 2; }, 30000));
    EXPECT_EQ(spy.at(1).at(0).toUInt(), 8u);

    // Other modifiers on the same key are not the shortcut.
    xdotool({"key", "ctrl+1", "shift+1", "ctrl+shift+alt+1"});
    QTest::qWait(300);
    EXPECT_EQ(spy.count(), 2);

    xdotool({"key", "Num_Lock"});
    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 3; }, 30000)) << "NumLock on";
    xdotool({"key", "Caps_Lock"});
    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 4; }, 30000)) << "NumLock and CapsLock on";

    keys.ungrab(7);
    xdotool({"key", "ctrl+shift+1"});
    QTest::qWait(300);
    EXPECT_EQ(spy.count(), 4);
    // Released: another client can take it now.
    OtherClient other;
    EXPECT_TRUE(other.grab(kKey1, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT));
}

TEST_F(GlobalHotKeysX11Test, ACombinationHeldByAnotherClientIsRefusedAndHoldsNothing)
{
    OtherClient other;
    // The other client holds only the CapsLock variant: the shortcut would
    // fail with CapsLock on, so it is refused as a whole.
    ASSERT_TRUE(other.grab(kKey1, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_LOCK));

    X11GlobalHotKeys keys;
    QSignalSpy spy(&keys, &GlobalHotKeys::activated);
    EXPECT_FALSE(keys.grab(1, {kKey1}, GlobalHotKeys::Control | GlobalHotKeys::Shift));
    // None of the variants we did get are kept.
    OtherClient third;
    EXPECT_TRUE(third.grab(kKey1, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT));
    // Unknown keys are refused too.
    EXPECT_FALSE(keys.grab(2, {}, GlobalHotKeys::Control));
    // Other shortcuts are unaffected.
    EXPECT_TRUE(keys.grab(3, {kKey2}, GlobalHotKeys::Control | GlobalHotKeys::Shift));
    xdotool({"key", "ctrl+shift+2"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 1; }, 30000));
    EXPECT_EQ(spy.at(0).at(0).toUInt(), 3u);
}

// The server lets one client grab a combination twice; ours must not, or
// which id a press reaches would be chance.
TEST_F(GlobalHotKeysX11Test, ACombinationAnotherIdHoldsIsRefusedUntilReleased)
{
    X11GlobalHotKeys keys;
    QSignalSpy spy(&keys, &GlobalHotKeys::activated);
    ASSERT_TRUE(keys.grab(1, {kKey1}, GlobalHotKeys::Control | GlobalHotKeys::Shift));
    EXPECT_FALSE(keys.grab(2, {kKey1}, GlobalHotKeys::Control | GlobalHotKeys::Shift));
    EXPECT_TRUE(keys.grab(3, {kKey1}, GlobalHotKeys::Control)) << "other modifiers are another combination";
    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 1; }, 30000));
    EXPECT_EQ(spy.at(0).at(0).toUInt(), 1u);
    // Grabbing again under the same id, and taking it once released, work.
    EXPECT_TRUE(keys.grab(1, {kKey1}, GlobalHotKeys::Control | GlobalHotKeys::Shift));
    keys.ungrab(1);
    EXPECT_TRUE(keys.grab(2, {kKey1}, GlobalHotKeys::Control | GlobalHotKeys::Shift));
}

TEST_F(GlobalHotKeysX11Test, AHeldKeyReportsOnePress)
{
    X11GlobalHotKeys keys;
    QSignalSpy spy(&keys, &GlobalHotKeys::activated);
    RawPressCounter raw(kKey1);
    ASSERT_TRUE(keys.grab(1, {kKey1}, GlobalHotKeys::Control | GlobalHotKeys::Shift));
    xdotool({"keydown", "ctrl+shift+1"});
    QTest::qWait(1500);
    xdotool({"keyup", "ctrl+shift+1"});
    QTest::qWait(200);
    ASSERT_GT(raw.presses, 3) << "the server did not repeat the held key";
    EXPECT_EQ(spy.count(), 1);

    // The next real press counts again.
    xdotool({"key", "ctrl+shift+1"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() == 2; }, 30000));
}

TEST_F(GlobalHotKeysX11Test, GrabsFollowAModifierMapChange)
{
    X11GlobalHotKeys keys;
    QSignalSpy spy(&keys, &GlobalHotKeys::activated);
    QSignalSpy renewed(&keys, &X11GlobalHotKeys::grabsRenewed);
    ASSERT_TRUE(keys.grab(1, {kKey1}, GlobalHotKeys::Control | GlobalHotKeys::Shift));

    OtherClient admin;
    auto *reply = xcb_get_modifier_mapping_reply(admin.c, xcb_get_modifier_mapping(admin.c), nullptr);
    ASSERT_NE(reply, nullptr);
    const int per = reply->keycodes_per_modifier;
    std::vector<xcb_keycode_t> original(xcb_get_modifier_mapping_keycodes(reply),
                                        xcb_get_modifier_mapping_keycodes(reply) + 8 * per);
    std::free(reply);

    // Move NumLock from its modifier (Mod2 on a stock server) to Mod3.
    std::vector<xcb_keycode_t> moved = original;
    xcb_key_symbols_t *syms = xcb_key_symbols_alloc(admin.c);
    xcb_keycode_t *numLockCodes = xcb_key_symbols_get_keycode(syms, 0xff7f);
    ASSERT_NE(numLockCodes, nullptr);
    const xcb_keycode_t numLock = numLockCodes[0];
    std::free(numLockCodes);
    xcb_key_symbols_free(syms);
    for (auto &code : moved)
        if (code == numLock)
            code = 0;
    for (int i = 0; i < per; ++i) {
        if (moved[5 * per + i] == 0) {
            moved[5 * per + i] = numLock;
            break;
        }
    }
    auto setMap = [&](std::vector<xcb_keycode_t> &map) {
        auto *r = xcb_set_modifier_mapping_reply(
            admin.c, xcb_set_modifier_mapping(admin.c, static_cast<uint8_t>(per), map.data()), nullptr);
        const bool ok = r && r->status == XCB_MAPPING_STATUS_SUCCESS;
        std::free(r);
        return ok;
    };
    ASSERT_TRUE(setMap(moved));
    struct Restore
    {
        std::function<void()> f;
        ~Restore() { f(); }
    } restore{[&] {
        if ((admin.modifierState() & XCB_MOD_MASK_3))
            xdotool({"key", "Num_Lock"});
        setMap(original);
    }};

    ASSERT_TRUE(QTest::qWaitFor([&] { return renewed.count() >= 1; }, 30000));
    xdotool({"key", "Num_Lock"});
    ASSERT_TRUE(admin.modifierState() & XCB_MOD_MASK_3) << "NumLock is not on Mod3";
    xdotool({"key", "ctrl+shift+1"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return spy.count() == 1; }, 30000)) << "NumLock on its new modifier";
}
