// The built program, run as real processes: the first Vorna of a user keeps
// running and receives what later ones hand over; those end with 0.
#include "platform/AppPaths.h"
#include "platform/SingleInstance.h"
#include "support/TestHome.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTest>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

namespace {

const QString kSocket = "/org.vorna.Vorna.socket";

QProcessEnvironment childEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VornaSuppressPermissionPrompt", "1");
    return env;
}

// One program process with everything it writes collected.
class Vorna
{
public:
    explicit Vorna(const QStringList &arguments, const QString &workingDirectory = QString())
    {
        m_process.setWorkingDirectory(workingDirectory.isEmpty() ? QDir::rootPath() : workingDirectory);
        m_process.setProgram(QStringLiteral(VORNA_BINARY_PATH));
        m_process.setArguments(arguments);
        m_process.setProcessEnvironment(childEnvironment());
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start();
    }
    ~Vorna()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished(30000);
        }
    }

    QString output()
    {
        m_output += QString::fromUtf8(m_process.readAll());
        return m_output;
    }

    // Waits until the output holds the text.
    bool waitFor(const QString &text, int ms = 30000)
    {
        QDeadlineTimer deadline(ms);
        while (!output().contains(text)) {
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return output().contains(text);
            m_process.waitForReadyRead(50);
        }
        return true;
    }

    bool finish(int ms = 30000) { return m_process.waitForFinished(ms); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QString m_output;
};

QString socketPath()
{
    return SingleInstance::runtimeDirectory() + kSocket;
}

// Runs a program that hands its arguments over; expects it to end with 0.
void handOver(const QStringList &arguments, const QString &workingDirectory = QString())
{
    Vorna second(arguments, workingDirectory);
    ASSERT_TRUE(second.finish()) << second.output().toStdString();
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.output().toStdString();
    EXPECT_TRUE(second.output().contains(
        QStringLiteral("[Vorna] instance: handed %1 argument(s) to the running Vorna").arg(arguments.size())))
        << second.output().toStdString();
    // A process that hands over never runs the launch sequence.
    EXPECT_FALSE(second.output().contains("applicationDidFinishLaunching"));
}

TEST(InstanceProcess, SecondProcessHandsItsLinkToTheFirstAndEnds)
{
    Vorna first({});
    ASSERT_TRUE(first.waitFor("[Vorna] applicationDidFinishLaunching: done")) << first.output().toStdString();

    handOver({"vorna://capture?mode=region"});
    EXPECT_TRUE(first.waitFor("[Vorna] url: capture request: region")) << first.output().toStdString();

    // Only this user may reach the socket.
    struct stat st = {};
    ASSERT_EQ(::lstat(QFile::encodeName(socketPath()).constData(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);

    // A later process without arguments hands over nothing and ends too.
    handOver({});
    handOver({"vorna://capture?mode=Timed", "vorna://capture?mode=window"});
    EXPECT_TRUE(first.waitFor("[Vorna] url: capture request: window")) << first.output().toStdString();
    const QString out = first.output();
    EXPECT_LT(out.indexOf("capture request: timed"), out.indexOf("capture request: window"));
    EXPECT_TRUE(first.isRunning());
    EXPECT_EQ(out.count("applicationDidFinishLaunching: done"), 1);
}

TEST(InstanceProcess, FirstProcessWithArgumentsHandlesThemAfterItsLaunch)
{
    Vorna first({"vorna://capture?mode=scrolling"});
    ASSERT_TRUE(first.waitFor("[Vorna] url: capture request: scrolling")) << first.output().toStdString();
    const QString out = first.output();
    EXPECT_LT(out.indexOf("applicationDidFinishLaunching: done"), out.indexOf("capture request: scrolling"));
    // It is now the running instance.
    handOver({"vorna://capture?mode=fullscreen"});
    EXPECT_TRUE(first.waitFor("[Vorna] url: capture request: fullscreen")) << first.output().toStdString();
}

TEST(InstanceProcess, SocketLeftByACrashedInstanceIsTakenOver)
{
    {
        Vorna crashed({});
        ASSERT_TRUE(crashed.waitFor("[Vorna] applicationDidFinishLaunching: done"));
        ASSERT_TRUE(QFileInfo::exists(socketPath()));
        ::kill(static_cast<pid_t>(crashed.pid()), SIGKILL);
        ASSERT_TRUE(crashed.finish());
    }
    ASSERT_TRUE(QFileInfo::exists(socketPath())) << "the killed process should have left its socket behind";

    Vorna next({"vorna://capture?mode=window"});
    ASSERT_TRUE(next.waitFor("[Vorna] url: capture request: window")) << next.output().toStdString();
    handOver({"vorna://capture?mode=timed"});
    EXPECT_TRUE(next.waitFor("[Vorna] url: capture request: timed")) << next.output().toStdString();
}

TEST(InstanceProcess, ImageFileHandedOverEntersTheRunningInstancesHistory)
{
    QDir(TestHome::path()).mkpath("shots");
    QImage img(30, 20, QImage::Format_RGB32);
    img.fill(Qt::magenta);
    ASSERT_TRUE(img.save(TestHome::path() + "/shots/a.png"));

    Vorna first({});
    ASSERT_TRUE(first.waitFor("[Vorna] applicationDidFinishLaunching: done"));
    // A relative path counts from the folder the second process runs in.
    handOver({"shots/a.png"}, TestHome::path());

    const QString manifest = AppPaths::appDataDir() + "/history/manifest.json";
    const QByteArray expected = QDir(TestHome::path()).filePath("shots/a.png").toUtf8().replace("/", "\\/");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QFile f(manifest);
            return f.open(QIODevice::ReadOnly) && f.readAll().contains("\"filePath\" : \"" + expected + "\"");
        },
        10000))
        << first.output().toStdString();
}

// What arrives on the socket is checked; nothing stops the running program.
TEST(InstanceProcess, RunningInstanceSurvivesBadRequests)
{
    Vorna first({});
    ASSERT_TRUE(first.waitFor("[Vorna] applicationDidFinishLaunching: done"));

    auto send = [](const QByteArray &bytes, bool closeEarly) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        EXPECT_TRUE(socket.waitForConnected(30000));
        socket.write(bytes);
        socket.waitForBytesWritten(30000);
        if (closeEarly) {
            socket.abort();
            return QByteArray();
        }
        QByteArray reply;
        QDeadlineTimer deadline(30000);
        while (!reply.contains('\n') && !deadline.hasExpired() && socket.state() == QLocalSocket::ConnectedState) {
            socket.waitForReadyRead(100);
            reply += socket.readAll();
        }
        return reply + socket.readAll();
    };

    EXPECT_EQ(send("GET / HTTP/1.0\r\n\r\n", false), "ERR\n");
    EXPECT_TRUE(first.waitFor("[Vorna] instance: ignored a malformed request: not a request of this program"));
    EXPECT_EQ(send(QByteArray("VORNAOP1\xff\xff\xff\xff", 12), false), "ERR\n");
    EXPECT_TRUE(first.waitFor("ignored a malformed request: bad argument count"));
    // A request cut off half-way, and a connection that sends nothing.
    SingleInstance::Request partial{"/", {"vorna://capture?mode=region"}};
    send(SingleInstance::encode(partial).left(20), true);
    send(QByteArray(), true);

    // Arguments that are no links or paths are skipped one by one.
    SingleInstance::Request mixed{"/tmp",
                                  {QByteArray("\xff\xfe\x00\x01", 4), QByteArray(20000, 'x'),
                                   QByteArray("vorna://capture?mode=VIDEO"), QByteArray("vorna://capture?mode=region")}};
    EXPECT_EQ(send(SingleInstance::encode(mixed), false), "OK\n");
    ASSERT_TRUE(first.waitFor("[Vorna] url: capture request: region")) << first.output().toStdString();
    const QString out = first.output();
    EXPECT_TRUE(out.contains("[Vorna] open: ignored an argument that is not UTF-8 text"));
    EXPECT_TRUE(out.contains("[Vorna] open: ignored an overlong argument (20000 bytes)"));
    EXPECT_TRUE(out.contains("[Vorna] url: unknown capture mode: vorna://capture?mode=VIDEO"));

    // Still the running instance, still answering.
    handOver({"vorna://capture?mode=fullscreen"});
    EXPECT_TRUE(first.waitFor("[Vorna] url: capture request: fullscreen")) << first.output().toStdString();
    EXPECT_TRUE(first.isRunning());
}

} // namespace

// A named pipe nobody writes to never finishes opening. Handed over, it
// must hold back neither later files nor later links, and the program must
// still end when asked.
TEST(InstanceProcess, AFileThatNeverOpensHoldsNothingBack)
{
    const QString fifo = TestHome::path() + "/stalled.png";
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QImage img(30, 20, QImage::Format_RGB32);
    img.fill(Qt::cyan);
    ASSERT_TRUE(img.save(TestHome::path() + "/after.png"));

    Vorna first({});
    ASSERT_TRUE(first.waitFor("[Vorna] applicationDidFinishLaunching: done"));
    handOver({fifo});
    handOver({TestHome::path() + "/after.png"});
    const QString manifest = AppPaths::appDataDir() + "/history/manifest.json";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QFile f(manifest);
            return f.open(QIODevice::ReadOnly) && f.readAll().contains("after.png");
        },
        10000))
        << first.output().toStdString();
    EXPECT_TRUE(first.waitFor("stalled.png", 30000)) << "the pipe is refused with a log line";

    QElapsedTimer clock;
    clock.start();
    handOver({"vorna://capture?mode=region"});
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(first.waitFor("[Vorna] url: capture request: region")) << first.output().toStdString();

    ::kill(static_cast<pid_t>(first.pid()), SIGTERM);
    ASSERT_TRUE(first.finish(30000)) << "SIGTERM must end the program";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
}

// Pipes where the launch reads its own files used to hold it before any
// window or log line (the preferences) or on the UI thread (the launcher's
// manifest): nobody ever writes to them.
TEST(InstanceProcess, PipesWhereItsFilesShouldBeHoldNothingUp)
{
    const QString config = TestHome::path() + "/config/Vorna";
    const QString providers = AppPaths::dataHome() + "/Dovrelin/providers";
    ASSERT_TRUE(QDir().mkpath(config));
    ASSERT_TRUE(QDir().mkpath(AppPaths::appDataDir()));
    ASSERT_TRUE(QDir().mkpath(providers));
    const QStringList pipes = {config + "/defaults.json", AppPaths::appDataDir() + "/settings.json",
                               AppPaths::appDataDir() + "/appsettings.json",
                               providers + "/" VORNA_APP_ID ".json"};
    for (const QString &pipe : pipes)
        ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0) << pipe.toStdString();

    Vorna first({});
    ASSERT_TRUE(first.waitFor("[Vorna] applicationDidFinishLaunching: done")) << first.output().toStdString();
    EXPECT_TRUE(first.output().contains("[Vorna] defaults: the preferences file is not a regular file; kept the file aside as "))
        << first.output().toStdString();
    // The manifest is written after the launch, in the pipe's place.
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo(pipes.last()).isFile(); }, 30000)) << first.output().toStdString();

    ::kill(static_cast<pid_t>(first.pid()), SIGTERM);
    ASSERT_TRUE(first.finish(30000)) << "SIGTERM must end the program";
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
}
