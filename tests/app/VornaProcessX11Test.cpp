// Starts the real program on the test X server with a private home.
#include "support/TestHome.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <csignal>

namespace {

QProcessEnvironment programEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    return env;
}

bool waitForOutput(QProcess &p, const QString &fragment, int ms)
{
    return QTest::qWaitFor([&] {
        p.waitForReadyRead(20);
        return QString::fromUtf8(p.peek(1 << 20)).contains(fragment);
    }, ms);
}

} // namespace

TEST(X11Server, AWindowOfAKnownColourIsOnTheScreen)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    QWidget w;
    w.setWindowFlags(Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    w.setGeometry(100, 120, 80, 60);
    w.setAutoFillBackground(true);
    QPalette pal = w.palette();
    pal.setColor(QPalette::Window, QColor(10, 200, 30));
    w.setPalette(pal);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QImage shot;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
        return shot.pixelColor(140, 150) == QColor(10, 200, 30);
    }, 30000));
    EXPECT_EQ(shot.pixelColor(101, 121), QColor(10, 200, 30));
    EXPECT_NE(shot.pixelColor(99, 119), QColor(10, 200, 30));
}

TEST(VornaProcess, LaunchesKeepsRunningWithoutWindowsAndEndsCleanlyOnSigterm)
{
    QProcess p;
    p.setProcessEnvironment(programEnvironment());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VORNA_BINARY_PATH), {});
    ASSERT_TRUE(p.waitForStarted(30000));
    ASSERT_TRUE(waitForOutput(p, "[Vorna] applicationDidFinishLaunching: done", 30000))
        << p.readAll().toStdString();
    const QString out = QString::fromUtf8(p.peek(1 << 20));
    const qsizetype start = out.indexOf(QString("[Vorna] applicationDidFinishLaunching: pid=%1 version=").arg(p.processId()));
    ASSERT_GE(start, 0) << out.toStdString();
    EXPECT_LT(start, out.indexOf("[Vorna] applicationDidFinishLaunching: done"));

    QTest::qWait(300);
    EXPECT_EQ(p.state(), QProcess::Running);

    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);

    // Nothing was asked of it, so it stored no preference.
    QFile defaults(TestHome::path() + "/config/Vorna/defaults.json");
    if (defaults.open(QIODevice::ReadOnly)) {
        EXPECT_FALSE(defaults.readAll().contains("\"type\"")) << "a preference key was written";
    }
}
