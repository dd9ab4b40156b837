// The real program, asked to end while the user's own save of a capture is
// still being encoded, or hangs in a file system that stopped answering.
#include "output/HistoryService.h"
#include "platform/AppPaths.h"
#include "platform/ImageFileReader.h"
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
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

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

// A private X server with one large screen that shows random noise, the
// slowest kind of picture to encode. Ends with the object.
class NoisyScreen
{
public:
    NoisyScreen(int width, int height)
    {
        // Display numbers far above those of desktops and of the suite's
        // own server; a number taken already makes the server end at once.
        for (int number = 240; number < 280 && m_display.isEmpty(); ++number) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(number)))
                continue;
            m_server.start("Xvfb", {QStringLiteral(":%1").arg(number), "-displayfd", "1", "-screen", "0",
                                    QStringLiteral("%1x%2x24").arg(width).arg(height), "-nolisten", "tcp"});
            if (!m_server.waitForStarted(10000))
                return;
            // The server writes its display's number once it takes clients.
            const bool ready = QTest::qWaitFor(
                [&] {
                    m_server.waitForReadyRead(100);
                    return m_server.canReadLine() || m_server.state() == QProcess::NotRunning;
                },
                30000);
            if (ready && m_server.canReadLine())
                m_display = ":" + QString::fromLatin1(m_server.readLine().trimmed());
            else
                m_server.waitForFinished(10000);
        }
        if (m_display.isEmpty())
            return;
        m_conn = xcb_connect(m_display.toLatin1().constData(), nullptr);
        if (xcb_connection_has_error(m_conn))
            return;
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_conn)).data;
        const xcb_pixmap_t pixmap = xcb_generate_id(m_conn);
        xcb_create_pixmap(m_conn, screen->root_depth, pixmap, screen->root, width, height);
        const xcb_gcontext_t gc = xcb_generate_id(m_conn);
        xcb_create_gc(m_conn, gc, pixmap, 0, nullptr);
        // In strips that fit a request without the big-requests extension.
        constexpr int kRows = 16;
        QRandomGenerator noise(43);
        QByteArray strip(width * 4 * kRows, Qt::Uninitialized);
        for (int y = 0; y < height; y += kRows) {
            const int rows = std::min(kRows, height - y);
            noise.fillRange(reinterpret_cast<quint32 *>(strip.data()), width * rows);
            xcb_put_image(m_conn, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, width, rows, 0, y, 0, 24,
                          width * 4 * rows, reinterpret_cast<const uint8_t *>(strip.constData()));
        }
        const uint32_t background = pixmap;
        xcb_change_window_attributes(m_conn, screen->root, XCB_CW_BACK_PIXMAP, &background);
        xcb_clear_area(m_conn, 0, screen->root, 0, 0, 0, 0);
        xcb_free_gc(m_conn, gc);
        // The server has drawn it all once this answers.
        std::free(xcb_get_input_focus_reply(m_conn, xcb_get_input_focus(m_conn), nullptr));
        m_ready = !xcb_connection_has_error(m_conn);
    }
    ~NoisyScreen()
    {
        if (m_conn)
            xcb_disconnect(m_conn);
        m_server.terminate();
        m_server.waitForFinished(10000);
    }
    NoisyScreen(const NoisyScreen &) = delete;
    NoisyScreen &operator=(const NoisyScreen &) = delete;

    bool isReady() const { return m_ready; }
    QString display() const { return m_display; }

    // Whether a program owns the clipboard (a capture has been put there).
    bool clipboardIsOwned() const
    {
        const QByteArray name("CLIPBOARD");
        xcb_intern_atom_reply_t *atom =
            xcb_intern_atom_reply(m_conn, xcb_intern_atom(m_conn, 0, name.size(), name.constData()), nullptr);
        if (!atom)
            return false;
        xcb_get_selection_owner_reply_t *owner =
            xcb_get_selection_owner_reply(m_conn, xcb_get_selection_owner(m_conn, atom->atom), nullptr);
        const bool owned = owner && owner->owner != XCB_NONE;
        std::free(owner);
        std::free(atom);
        return owned;
    }

private:
    QProcess m_server;
    QString m_display;
    xcb_connection_t *m_conn = nullptr;
    bool m_ready = false;
};

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

// More captures whose saves never return than the program has threads to
// save with, then SIGTERM: the saves that never got a thread are not waited
// for either, and the program ends.
TEST(QuitProcess, SigtermEndsVornaBehindMoreStuckSavesThanItHasThreads)
{
    const QString shots = TestHome::path() + "/Shots";
    SmallDisk disk(shots, 64 << 20);
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
    // The program saves on one thread a core.
    const int captures = QThread::idealThreadCount() + 1;
    for (int i = 1; i <= captures; ++i) {
        QProcess second;
        second.setProcessEnvironment(programEnvironment());
        second.start(QStringLiteral(VORNA_BINARY_PATH), {"vorna://capture?mode=fullscreen"});
        ASSERT_TRUE(second.waitForFinished(30000));
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                vorna.waitForReadyRead(20);
                return QString::fromUtf8(vorna.peek(1 << 20)).count("[Vorna] url: capture request: fullscreen") >= i;
            },
            10000))
            << output();
        QTest::qWait(300); // each capture is taken 0.2 s after its request
    }
    QTest::qWait(1500); // every save now waits in the stalled folder, or for a thread

    ::kill(static_cast<pid_t>(vorna.processId()), SIGTERM);
    const bool ended = vorna.waitForFinished(30000);
    EXPECT_TRUE(ended) << output();
    if (!ended)
        return; // the stalled opens go through as the case ends, and the process with them
    EXPECT_EQ(historyManifest().size(), captures) << output();
}

// SIGTERM (a logout) one second after a full-screen HEIC capture of a large,
// detailed screen, while its file is still being encoded: the program waits
// for it, however long that takes. The file is whole under its dated name,
// and the history of the next start names it.
TEST(QuitProcess, SigtermSoonAfterAHeicCaptureKeepsItsFileAndTheHistoryNamesIt)
{
    // Captured at two pixels per point: 3840 x 2160 pixels of noise.
    NoisyScreen screen(1920, 1080);
    ASSERT_TRUE(screen.isReady()) << "no private X server";
    const QString shots = TestHome::path() + "/Shots";
    QDir().mkpath(shots);
    UserDefaults::standard().setString("saveDirectory", shots);
    UserDefaults::standard().setString("defaultFormat", "heic");
    UserDefaults::standard().setBool("playSound", false);
    UserDefaults::standard().setBool("showFloatingPreview", false);
    ASSERT_TRUE(UserDefaults::standard().flush());

    QProcessEnvironment env = programEnvironment();
    env.insert("DISPLAY", screen.display());
    QProcess vorna;
    vorna.setProcessEnvironment(env);
    vorna.setProcessChannelMode(QProcess::MergedChannels);
    vorna.start(QStringLiteral(VORNA_BINARY_PATH), {});
    ASSERT_TRUE(vorna.waitForStarted(30000));
    const auto output = [&] { return QString::fromUtf8(vorna.peek(1 << 20)).toStdString(); };
    ASSERT_TRUE(waitForOutput(vorna, "[Vorna] applicationDidFinishLaunching: done", 30000)) << output();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(VORNA_BINARY_PATH), {"vorna://capture?mode=fullscreen"});
    ASSERT_TRUE(second.waitForFinished(30000));
    // The capture is taken once the program puts it on the clipboard; its
    // file is encoded from then on.
    ASSERT_TRUE(QTest::qWaitFor([&] { return screen.clipboardIsOwned(); }, 30000)) << output();
    QTest::qWait(1000);
    ::kill(static_cast<pid_t>(vorna.processId()), SIGTERM);
    ASSERT_TRUE(vorna.waitForFinished(170000)) << output();
    EXPECT_EQ(vorna.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(vorna.exitCode(), 0) << output();

    const QStringList files = QDir(shots).entryList(QDir::Files | QDir::Hidden);
    ASSERT_EQ(files.size(), 1) << files.join(", ").toStdString() << "\n" << output();
    const QString name = files.first();
    EXPECT_TRUE(QRegularExpression(QRegularExpression::anchoredPattern(
                                       "Vorna_\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2}\\.heic"))
                    .match(name)
                    .hasMatch())
        << name.toStdString();
    const QString path = shots + "/" + name;
    EXPECT_EQ(ImageFileReader::read(path).size(), QSize(3840, 2160));

    HistoryService::resetShared();
    const QList<HistoryItem> items = HistoryService::shared().items();
    ASSERT_EQ(items.size(), 1) << output();
    EXPECT_EQ(items.first().filePath.value_or(QString()), path);
    EXPECT_EQ(items.first().image.pixelSize(), QSize(3840, 2160));
    HistoryService::resetShared();
}

// SIGTERM while a capture of a very large screen is being read: the capture
// is dropped or completes, and the program ends normally, never with a crash
// of the thread that reads it.
TEST(QuitProcess, SigtermDuringTheReadOfALargeCaptureEndsCleanly)
{
    // Captured at two pixels per point: 7680 x 4320 pixels.
    NoisyScreen screen(3840, 2160);
    ASSERT_TRUE(screen.isReady()) << "no private X server";
    const QString shots = TestHome::path() + "/Shots";
    QDir().mkpath(shots);
    UserDefaults::standard().setString("saveDirectory", shots);
    UserDefaults::standard().setBool("playSound", false);
    UserDefaults::standard().setBool("showFloatingPreview", false);
    ASSERT_TRUE(UserDefaults::standard().flush());

    QProcessEnvironment env = programEnvironment();
    env.insert("DISPLAY", screen.display());
    QProcess vorna;
    vorna.setProcessEnvironment(env);
    vorna.setProcessChannelMode(QProcess::MergedChannels);
    vorna.start(QStringLiteral(VORNA_BINARY_PATH), {});
    ASSERT_TRUE(vorna.waitForStarted(30000));
    const auto output = [&] { return QString::fromUtf8(vorna.peek(1 << 20)).toStdString(); };
    ASSERT_TRUE(waitForOutput(vorna, "[Vorna] applicationDidFinishLaunching: done", 30000)) << output();

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(VORNA_BINARY_PATH), {"vorna://capture?mode=fullscreen"});
    ASSERT_TRUE(second.waitForFinished(30000));
    ASSERT_TRUE(waitForOutput(vorna, "[Vorna] url: capture request: fullscreen", 30000)) << output();
    // The read starts 0.2 s after the request and takes a while at this size.
    QTest::qWait(400);
    ::kill(static_cast<pid_t>(vorna.processId()), SIGTERM);
    ASSERT_TRUE(vorna.waitForFinished(170000)) << output();
    EXPECT_EQ(vorna.exitStatus(), QProcess::NormalExit) << output();
    EXPECT_EQ(vorna.exitCode(), 0) << output();
    // Whatever was saved is whole.
    for (const QString &name : QDir(shots).entryList(QDir::Files | QDir::Hidden))
        EXPECT_EQ(ImageFileReader::read(shots + "/" + name).size(), QSize(7680, 4320)) << name.toStdString();
}
