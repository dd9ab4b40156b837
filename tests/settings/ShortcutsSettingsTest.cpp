// The hot-key recorder and the Shortcuts tab.
#include "SettingsFixture.h"

#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "platform/NotificationCenter.h"
#include "settings/HotKeyRecorder.h"
#include "settings/ShortcutsSettingsTab.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr quint32 kCtrlShift = 0x1200;

class HotKeyRecorderTest : public SettingsFixture
{
protected:
    void SetUp() override
    {
        SettingsFixture::SetUp();
        auto *layout = new QVBoxLayout(&window);
        recorder = new HotKeyRecorder;
        other = new QLineEdit;
        layout->addWidget(recorder);
        layout->addWidget(other);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QObject::connect(recorder, &HotKeyRecorder::captured, [this](const HotKeyBinding &b) { captured.append(b); });
        recorder->setBinding(HotKeyBinding(18, kCtrlShift));
    }
    void startRecording()
    {
        QTest::mouseClick(recorder, Qt::LeftButton);
        ASSERT_TRUE(recorder->isRecording());
        ASSERT_TRUE(recorder->hasFocus());
    }

    QWidget window;
    HotKeyRecorder *recorder = nullptr;
    QLineEdit *other = nullptr;
    QList<HotKeyBinding> captured;
};

TEST_F(HotKeyRecorderTest, KeysThatCannotBeShortcutsBeepAndKeepRecording)
{
    startRecording();
    EXPECT_EQ(recorder->displayText(), "Press keys…  (Esc cancels)");

    // Lone modifiers are part of a combination still being typed: no beep.
    for (Qt::Key key : {Qt::Key_Shift, Qt::Key_Control, Qt::Key_Alt, Qt::Key_Meta, Qt::Key_Super_L, Qt::Key_CapsLock})
        QTest::keyPress(recorder, key);
    EXPECT_EQ(beeps, 0);

    // A letter alone, Tab alone, and keys without a position number.
    QTest::keyClick(recorder, Qt::Key_Q);
    QTest::keyClick(recorder, Qt::Key_Tab);
    QTest::keyClick(recorder, Qt::Key_Pause, Qt::ControlModifier);
    QTest::keyClick(recorder, Qt::Key_ScrollLock, Qt::ControlModifier);
    EXPECT_EQ(beeps, 4);
    EXPECT_TRUE(recorder->isRecording());
    EXPECT_TRUE(recorder->hasFocus()) << "Tab must not move the focus while recording";
    EXPECT_TRUE(captured.isEmpty());
    EXPECT_EQ(recorder->binding(), HotKeyBinding(18, kCtrlShift));

    // Ctrl+Tab is a combination like any other.
    QTest::keyClick(recorder, Qt::Key_Tab, Qt::ControlModifier);
    ASSERT_EQ(captured.size(), 1);
    EXPECT_EQ(captured[0], HotKeyBinding(48, 0x1000));
    EXPECT_FALSE(recorder->isRecording());
}

TEST_F(HotKeyRecorderTest, AcceptsModifiedKeysAndBareFunctionKeysAndCancelsOnEscapeOrFocusLoss)
{
    startRecording();
    QTest::keyClick(recorder, Qt::Key_F5);
    startRecording();
    QTest::keyClick(recorder, Qt::Key_A, Qt::ShiftModifier);
    ASSERT_EQ(captured.size(), 2);
    EXPECT_EQ(captured[0], HotKeyBinding(96, 0));
    EXPECT_EQ(captured[1], HotKeyBinding(0, 0x200));
    EXPECT_EQ(recorder->displayText(), "Shift+A");

    // Escape cancels, also with a modifier held.
    startRecording();
    QTest::keyClick(recorder, Qt::Key_Escape, Qt::ControlModifier);
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(recorder->binding(), HotKeyBinding(0, 0x200));

    // Clicking into another control ends recording without a change.
    startRecording();
    other->setFocus();
    EXPECT_FALSE(recorder->isRecording());
    EXPECT_EQ(captured.size(), 2);
    EXPECT_EQ(beeps, 0);

    recorder->setBinding(HotKeyBinding());
    EXPECT_EQ(recorder->displayText(), "Click to record");
}

class ShortcutsTabTest : public SettingsFixture
{
protected:
    void SetUp() override
    {
        SettingsFixture::SetUp();
        NotificationCenter::instance().addObserver(NotificationNames::hotKeysChanged, &context,
                                                   [this](const auto &) { ++hotKeyPosts; });
    }
    static std::optional<QByteArray> stored(const char *mode) { return defaults().dataForKey(QString("hotkey.") + mode); }
    void commit(ShortcutsSettingsTab &tab, CaptureShortcut mode, const QString &text)
    {
        tab.row(mode).text->setText(text);
        tab.commitText(mode);
    }

    QObject context;
    int hotKeyPosts = 0;
};

TEST_F(ShortcutsTabTest, TypedShortcutsAreCheckedBeforeTheyAreStored)
{
    AppState state;
    ShortcutsSettingsTab tab(state);
    tab.loadAll();
    const auto region = CaptureShortcut::region;
    EXPECT_EQ(tab.row(region).text->text(), "ctrl+shift+3");

    // A bare letter would be taken from every program: refused like the recorder does.
    for (const QString &bad : {QString("q"), QString("hello"), QString("ctrl+a+b"), QString("shift")}) {
        SCOPED_TRACE(bad.toStdString());
        const int before = beeps;
        commit(tab, region, bad);
        EXPECT_EQ(beeps, before + 1);
        EXPECT_TRUE(tab.hasTextError(region));
        EXPECT_TRUE(tab.row(region).errorMark->isVisible());
        EXPECT_EQ(tab.row(region).text->text(), bad) << "the typed text stays";
        EXPECT_FALSE(stored("region"));
    }
    EXPECT_EQ(hotKeyPosts, 0);

    // Blank text only clears the mark.
    commit(tab, region, "   ");
    EXPECT_FALSE(tab.hasTextError(region));
    EXPECT_FALSE(tab.row(region).errorMark->isVisible());
    EXPECT_FALSE(stored("region"));

    commit(tab, region, "q");
    ASSERT_TRUE(tab.row(region).errorMark->isVisible());
    commit(tab, region, "F12");
    EXPECT_FALSE(tab.row(region).errorMark->isVisible());
    EXPECT_EQ(stored("region"), QByteArray(R"({"keyCode":111,"carbonModifiers":0})"));
    commit(tab, region, " cmd+shift+a\n");
    EXPECT_EQ(AppState::hotKeyBinding(region), HotKeyBinding(0, 0x300));
    EXPECT_EQ(tab.row(region).text->text(), "shift+cmd+a");
    EXPECT_EQ(tab.row(region).recorder->binding(), HotKeyBinding(0, 0x300));
    EXPECT_EQ(hotKeyPosts, 2);
}

TEST_F(ShortcutsTabTest, ClearStoresTheUnboundBindingWhileResetRemovesTheKey)
{
    AppState state;
    ShortcutsSettingsTab tab(state);
    tab.loadAll();
    const auto window = CaptureShortcut::window;

    tab.row(window).clear->click();
    EXPECT_EQ(stored("window"), QByteArray(R"({"keyCode":0,"carbonModifiers":0})"));
    EXPECT_TRUE(AppState::hotKeyBinding(window).isUnbound());
    EXPECT_EQ(tab.row(window).text->text(), "");
    EXPECT_EQ(tab.row(window).recorder->displayText(), "Click to record");

    commit(tab, window, "nonsense");
    tab.row(window).reset->click();
    EXPECT_FALSE(stored("window"));
    EXPECT_FALSE(tab.hasTextError(window));
    EXPECT_EQ(tab.row(window).text->text(), "ctrl+shift+2");
    EXPECT_EQ(hotKeyPosts, 2);

    // A recorded combination goes the same way.
    tab.captureBinding(window, HotKeyBinding(96, 0));
    EXPECT_EQ(AppState::hotKeyBinding(window), HotKeyBinding(96, 0));
    EXPECT_EQ(tab.row(window).text->text(), "f5");
}

TEST_F(ShortcutsTabTest, DoublePressTargetIsStoredOnlyWhileTwiceIsOn)
{
    AppState state;
    ShortcutsSettingsTab tab(state);
    tab.loadAll();
    // Nothing stored: full screen promotes to window, the others are off.
    EXPECT_TRUE(tab.row(CaptureShortcut::fullscreen).twice->isChecked());
    EXPECT_EQ(tab.row(CaptureShortcut::fullscreen).target->currentText(), "Window Capture");
    const auto timed = CaptureShortcut::timed;
    EXPECT_FALSE(tab.row(timed).twice->isChecked());
    EXPECT_FALSE(tab.row(timed).target->isEnabled());
    EXPECT_EQ(tab.row(timed).target->currentText(), "Full Screen Capture");

    // Through the controls: both are applied one turn later.
    QComboBox *picker = tab.row(timed).target;
    picker->setEnabled(true); // a disabled picker takes no choice
    emit picker->activated(picker->findText("Region Capture"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(defaults().contains("doubleTapTarget.timed"));

    tab.row(timed).twice->click();
    EXPECT_FALSE(defaults().contains("doubleTapTarget.timed")) << "deferred by one turn";
    QCoreApplication::processEvents();
    EXPECT_EQ(defaults().stringForKey("doubleTapTarget.timed"), QString("region"));
    EXPECT_TRUE(tab.row(timed).target->isEnabled());

    defaults().setBool("doubleTapFullscreen", true);
    tab.setTwice(CaptureShortcut::fullscreen, false);
    EXPECT_EQ(defaults().stringForKey("doubleTapTarget.fullscreen"), QString(""));
    EXPECT_FALSE(defaults().contains("doubleTapFullscreen"));
    EXPECT_FALSE(AppState::doubleTapTarget(CaptureShortcut::fullscreen));
}

// Values from an imported file that no control of the tab would produce.
TEST_F(ShortcutsTabTest, StrangeStoredValuesAreShownWithoutBeingRewritten)
{
    defaults().setData("hotkey.region", R"({"keyCode":4000000000,"carbonModifiers":256})");
    defaults().setString("hotkey.window", "not json");
    defaults().setString("doubleTapTarget.window", "window"); // its own mode
    defaults().setInteger("doubleTapTarget.timed", 3);
    const QVariantMap before = defaults().dictionaryRepresentation();
    AppState state;
    ShortcutsSettingsTab tab(state);
    tab.loadAll();
    EXPECT_EQ(tab.row(CaptureShortcut::region).recorder->displayText(), "Super+Key 4000000000");
    EXPECT_EQ(tab.row(CaptureShortcut::window).text->text(), "ctrl+shift+2");
    EXPECT_TRUE(tab.row(CaptureShortcut::window).twice->isChecked());
    EXPECT_EQ(tab.row(CaptureShortcut::window).target->currentIndex(), -1) << "a row cannot target itself";
    EXPECT_FALSE(tab.row(CaptureShortcut::timed).twice->isChecked());
    EXPECT_EQ(defaults().dictionaryRepresentation(), before);
    EXPECT_EQ(hotKeyPosts, 0);
}

} // namespace
