// Recording a combination the program holds as a global shortcut, with real
// key presses through the X server: while a recorder records, the press
// reaches it and runs no shortcut; however recording ends, the shortcut
// works again.
#include "model/HotKeyBinding.h"
#include "services/HotKeyService.h"
#include "settings/HotKeyRecorder.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

namespace {

bool xdotool(const QStringList &args)
{
    return QProcess::execute("xdotool", args) == 0;
}

} // namespace

TEST(HotKeyRecorderX11, AHeldShortcutReachesTheRecorderAndComesBackHoweverRecordingEnds)
{
    const HotKeyBinding ctrlAltF = HotKeyBinding::fromSpec("ctrl+alt+f").value();
    int fired = 0;
    auto registerShortcut = [&] {
        return HotKeyService::shared().registerHotKeys(
            {{CaptureShortcut::fullscreen, ctrlAltF, [&fired] { ++fired; }}});
    };
    ASSERT_TRUE(registerShortcut().isEmpty());
    auto pressAndExpectShortcut = [&fired](int expected) {
        ASSERT_TRUE(xdotool({"key", "ctrl+alt+f"}));
        ASSERT_TRUE(QTest::qWaitFor([&] { return fired == expected; }, 30000)) << "the shortcut is not held";
    };

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *first = new HotKeyRecorder;
    auto *second = new HotKeyRecorder;
    auto *other = new QLineEdit;
    layout->addWidget(first);
    layout->addWidget(second);
    layout->addWidget(other);
    QList<HotKeyBinding> captured;
    QObject::connect(first, &HotKeyRecorder::captured, [&captured](const HotKeyBinding &b) { captured.append(b); });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(xdotool({"windowfocus", "--sync", QString::number(window.winId())}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &window; }, 30000));
    pressAndExpectShortcut(1);

    // Recorded: the recorder gets the combination, the shortcut does not run,
    // also when the shortcuts are registered again meanwhile (a click on
    // another row's Reset leaves the focus where it is).
    QTest::mouseClick(first, Qt::LeftButton);
    ASSERT_TRUE(first->isRecording());
    ASSERT_TRUE(registerShortcut().isEmpty());
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+f"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !captured.isEmpty(); }, 30000)) << "the press never reached the recorder";
    QCoreApplication::processEvents();
    EXPECT_EQ(captured.value(0), ctrlAltF);
    EXPECT_EQ(fired, 1);
    pressAndExpectShortcut(2);
    EXPECT_EQ(captured.size(), 1);

    // Cancelled with Escape.
    QTest::mouseClick(first, Qt::LeftButton);
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !first->isRecording(); }, 30000));
    pressAndExpectShortcut(3);

    // The focus moved on.
    QTest::mouseClick(first, Qt::LeftButton);
    other->setFocus();
    ASSERT_FALSE(first->isRecording());
    pressAndExpectShortcut(4);

    // The recorder went away while recording.
    QTest::mouseClick(first, Qt::LeftButton);
    delete first;
    pressAndExpectShortcut(5);

    // The window closed while recording.
    QTest::mouseClick(second, Qt::LeftButton);
    ASSERT_TRUE(second->isRecording());
    window.close();
    EXPECT_FALSE(second->isRecording());
    pressAndExpectShortcut(6);

    // A window that never had the keyboard focus closed while recording.
    QWidget lone;
    auto *third = new HotKeyRecorder(&lone);
    lone.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&lone));
    QTest::mouseClick(third, Qt::LeftButton);
    ASSERT_TRUE(third->isRecording());
    ASSERT_FALSE(third->hasFocus());
    lone.close();
    pressAndExpectShortcut(7);
    EXPECT_FALSE(HotKeyService::shared().isSuspended());
}
