// Real key presses through the X server: the binding comes from the key's
// position, whatever character the pressed combination types.
#include "model/HotKeyBinding.h"

#include <QApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

class KeyRecorder : public QWidget
{
public:
    KeyRecorder()
    {
        setFocusPolicy(Qt::StrongFocus);
        resize(200, 100);
    }
    QList<HotKeyBinding> bindings;
    QList<int> qtKeys;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        // Modifier keys on their own are not shortcuts.
        if (event->key() == Qt::Key_Control || event->key() == Qt::Key_Shift || event->key() == Qt::Key_Alt
            || event->key() == Qt::Key_Meta)
            return;
        bindings.append(HotKeyBinding::fromKeyEvent(*event).value_or(HotKeyBinding()));
        qtKeys.append(event->key());
    }
};

bool xdotool(const QStringList &args)
{
    return QProcess::execute("xdotool", args) == 0;
}

} // namespace

TEST(HotKeyBindingX11, PressedCombinationsBindByKeyPosition)
{
    KeyRecorder window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QString id = QString::number(window.winId());
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", id}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.hasFocus() || QApplication::focusWidget() == &window; }, 30000));

    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "ctrl+shift+1"}));
    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "alt+z"}));
    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "ctrl+shift+5"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.bindings.size() >= 3; }, 30000));

    ASSERT_EQ(window.bindings.size(), 3);
    // Qt sees the shifted character "!", the binding is the key "1".
    EXPECT_EQ(window.qtKeys[0], int(Qt::Key_Exclam));
    EXPECT_EQ(window.bindings[0], HotKeyBinding(18, 0x1200));
    EXPECT_EQ(window.bindings[0].displayString(), "Ctrl+Shift+1");
    EXPECT_EQ(window.bindings[1], HotKeyBinding(6, HotKeyBinding::optionModifier));
    EXPECT_EQ(window.bindings[2], HotKeyBinding(23, 0x1200));
}
