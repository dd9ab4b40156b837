#include "HistoryTestSupport.h"

#include "platform/FileManagerReveal.h"
#include "platform/Workspace.h"
#include "windows/HistoryCard.h"
#include "windows/HistoryView.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QToolButton>

namespace {

// A session bus of our own for the length of a test: dbus-run-session runs a
// shell that prints the bus address and waits for its input to close.
class PrivateSessionBus
{
public:
    PrivateSessionBus()
    {
        m_process.start(QStringLiteral("dbus-run-session"),
                        {"--", "sh", "-c", "echo \"$DBUS_SESSION_BUS_ADDRESS\"; exec cat"});
        if (m_process.waitForStarted(5000) && m_process.waitForReadyRead(10000))
            address = QString::fromUtf8(m_process.readLine()).trimmed();
    }
    ~PrivateSessionBus()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
    QString address;

private:
    QProcess m_process;
};

// The file manager's ShowItems call, recorded and answered.
class FakeFileManager : public QDBusVirtualObject
{
public:
    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.interface() != FileManagerReveal::interface || message.member() != "ShowItems")
            return false;
        calls.append(message.arguments());
        connection.send(message.createReply());
        return true;
    }
    QList<QVariantList> calls;
};

// Records what would have been opened instead.
class RecordingWorkspace : public Workspace
{
public:
    RecordingWorkspace() { Workspace::setCurrent(this); }
    ~RecordingWorkspace() override { Workspace::setCurrent(nullptr); }
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return true;
    }
    bool launch(const QString &, const QStringList &) override { return false; }
    QList<QUrl> opened;
};

class RevealTest : public HistoryTestBase
{
protected:
    void TearDown() override
    {
        FileManagerReveal::setBus(nullptr);
        QDBusConnection::disconnectFromBus("vorna-test-client");
        QDBusConnection::disconnectFromBus("vorna-test-file-manager");
        HistoryTestBase::TearDown();
    }
};

} // namespace

TEST_F(RevealTest, ShowsTheSavedFileThroughTheFileManagerOnTheBusElseOpensItsFolder)
{
    ASSERT_FALSE(QStandardPaths::findExecutable("dbus-run-session").isEmpty())
        << "dbus-run-session is missing (Debian package dbus-daemon)";
    PrivateSessionBus bus;
    ASSERT_FALSE(bus.address.isEmpty());
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "vorna-test-file-manager");
    QDBusConnection client = QDBusConnection::connectToBus(bus.address, "vorna-test-client");
    ASSERT_TRUE(service.isConnected());
    ASSERT_TRUE(client.isConnected());
    FakeFileManager fileManager;
    ASSERT_TRUE(service.registerVirtualObject(FileManagerReveal::objectPath, &fileManager));
    ASSERT_TRUE(service.registerService(FileManagerReveal::service));
    FileManagerReveal::setBus(&client);
    RecordingWorkspace workspace;

    const QString folder = TestHome::path() + "/My Shots";
    QDir().mkpath(folder);
    const QString saved = folder + "/Vorna 1.png";
    ASSERT_TRUE(picture(Qt::blue).save(saved));
    const HistoryItem item = addCapture(Qt::blue, QDateTime::currentDateTime(), CaptureMode::window, saved);
    HistoryView view(*appState);
    view.setHoveredID(item.id);
    QToolButton *reveal = view.card(item.id)->actionButton("folder");
    ASSERT_NE(reveal, nullptr);

    reveal->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fileManager.calls.isEmpty(); }, 10000));
    const QVariantList args = fileManager.calls[0];
    ASSERT_EQ(args.size(), 2);
    EXPECT_EQ(args[0].toStringList(), QStringList({QUrl::fromLocalFile(saved).toString(QUrl::FullyEncoded)}));
    EXPECT_TRUE(args[0].toStringList().value(0).endsWith("/My%20Shots/Vorna%201.png"));
    EXPECT_EQ(args[1].toString(), QString());
    // The file manager answered: the folder is not opened as well.
    QTest::qWait(200);
    EXPECT_TRUE(workspace.opened.isEmpty());

    // No file manager on the bus: the folder opens instead.
    ASSERT_TRUE(service.unregisterService(FileManagerReveal::service));
    reveal->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !workspace.opened.isEmpty(); }, 10000));
    EXPECT_EQ(workspace.opened, QList<QUrl>({QUrl::fromLocalFile(folder)}));
    EXPECT_EQ(fileManager.calls.size(), 1);
}
