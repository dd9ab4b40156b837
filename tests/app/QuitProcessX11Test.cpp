// The real program, asked to end while the user's own save of a capture
// hangs in a file system that stopped answering.
#include "platform/AppPaths.h"
#include "platform/UserDefaults.h"
#include "support/SmallDisk.h"
#include "support/TestHome.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/fanotify.h>
#include <unistd.h>

namespace {

// Every open of a file on the mount holding folder waits, unanswered, for
// as long as this object lives (a network mount whose server is gone).
// Needs root; isValid() is false where the mark cannot be set.
class StalledMount
{
public:
    explicit StalledMount(const QString &folder)
    {
        m_fd = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
        if (m_fd >= 0
            && ::fanotify_mark(m_fd, FAN_MARK_ADD | FAN_MARK_MOUNT, FAN_OPEN_PERM, AT_FDCWD,
                               QFile::encodeName(folder).constData())
                   != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~StalledMount()
    {
        if (m_fd >= 0)
            ::close(m_fd); // lets every waiting open through
    }
    StalledMount(const StalledMount &) = delete;
    StalledMount &operator=(const StalledMount &) = delete;
    bool isValid() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

QProcessEnvironment programEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("VornaSuppressPermissionPrompt", "1");
    return env;
}

bool waitForOutput(QProcess &p, const QString &fragment, int ms)
{
    return QTest::qWaitFor(
        [&] {
            p.waitForReadyRead(20);
            return QString::fromUtf8(p.peek(1 << 20)).contains(fragment);
        },
        ms);
}

QJsonArray historyManifest()
{
    QFile f(AppPaths::appDataDir() + "/history/manifest.json");
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).array() : QJsonArray();
}

} // namespace

// A capture whose save never returns, then SIGTERM: the program ends within
// a few seconds, and the history has the capture, picture and manifest.
TEST(QuitProcess, SigtermEndsVornaBehindASaveThatNeverReturnsAndKeepsTheHistory)
{
    const QString shots = TestHome::path() + "/Shots";
    SmallDisk disk(shots, 16 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error().toStdString();
    UserDefaults::standard().setString("saveDirectory", shots);
    UserDefaults::standard().setBool("playSound", false);
    UserDefaults::standard().setBool("showFloatingPreview", false);
    ASSERT_TRUE(UserDefaults::standard().flush());

    QProcess vorna;
    vorna.setProcessEnvironment(programEnvironment());
    vorna.setProcessChannelMode(QProcess::MergedChannels);
    vorna.start(QStringLiteral(VORNA_BINARY_PATH), {});
    ASSERT_TRUE(vorna.waitForStarted(30000));
    const auto output = [&] { return QString::fromUtf8(vorna.peek(1 << 20)).toStdString(); };
    ASSERT_TRUE(waitForOutput(vorna, "[Vorna] applicationDidFinishLaunching: done", 30000)) << output();

    StalledMount stalled(shots);
    if (!stalled.isValid())
        GTEST_SKIP() << "cannot hold the opens of a mount here";
    QProcess second;
    second.setProcessEnvironment(programEnvironment());
    second.start(QStringLiteral(VORNA_BINARY_PATH), {"vorna://capture?mode=fullscreen"});
    ASSERT_TRUE(second.waitForFinished(30000));
    ASSERT_TRUE(waitForOutput(vorna, "[Vorna] url: capture request: fullscreen", 30000)) << output();
    QTest::qWait(1500); // the save now waits in the stalled folder
    EXPECT_TRUE(historyManifest().isEmpty()) << "the history's write waits for the user's save";

    QElapsedTimer clock;
    clock.start();
    ::kill(static_cast<pid_t>(vorna.processId()), SIGTERM);
    const bool ended = vorna.waitForFinished(12000);
    EXPECT_TRUE(ended) << output();
    EXPECT_LT(clock.elapsed(), 9000);
    if (!ended)
        return; // the stalled opens go through as the case ends, and the process with them

    const QJsonArray records = historyManifest();
    ASSERT_EQ(records.size(), 1) << output();
    const QString id = records.first().toObject().value("id").toString();
    const QImage picture(AppPaths::appDataDir() + "/history/" + id + ".png");
    EXPECT_FALSE(picture.isNull());
}
