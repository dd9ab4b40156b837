// The hand-over between two processes of one user, in one test process:
// the lock decides who runs, the wire form is checked strictly.
#include "platform/SingleInstance.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QtConcurrent>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

TEST(SingleInstanceWire, RoundTripAndEveryPrefixIsIncomplete)
{
    const SingleInstance::Request request{"/home/u/shots",
                                          {"vorna://capture?mode=region", QByteArray("bin\0\xff", 5), QByteArray()}};
    const QByteArray bytes = SingleInstance::encode(request);
    bool malformed = true;
    const auto decoded = SingleInstance::decode(bytes, &malformed);
    ASSERT_TRUE(decoded);
    EXPECT_FALSE(malformed);
    EXPECT_EQ(decoded->workingDirectory, request.workingDirectory);
    EXPECT_EQ(decoded->arguments, request.arguments);
    for (qsizetype n = 0; n < bytes.size(); ++n) {
        EXPECT_FALSE(SingleInstance::decode(bytes.left(n), &malformed)) << n;
        EXPECT_FALSE(malformed) << n;
    }
}

TEST(SingleInstanceWire, RefusesWhatItCannotTrust)
{
    auto u32 = [](quint32 v) {
        QByteArray b(4, '\0');
        qToBigEndian(v, b.data());
        return b;
    };
    const QByteArray good = SingleInstance::encode({"/", {"a"}});
    const QByteArray cases[] = {
        QByteArray("HELLO"),
        good + "x",                                                  // trailing bytes
        QByteArray("VORNAOP1") + u32(0),                             // no working folder
        QByteArray("VORNAOP1") + u32(SingleInstance::maxArguments + 2),
        QByteArray("VORNAOP1") + u32(1) + u32(SingleInstance::maxElementBytes + 1),
        QByteArray(SingleInstance::maxRequestBytes + 1, 'V'),
    };
    for (const QByteArray &bytes : cases) {
        bool malformed = false;
        QString why;
        EXPECT_FALSE(SingleInstance::decode(bytes, &malformed, &why));
        EXPECT_TRUE(malformed) << bytes.left(16).toHex().toStdString();
        EXPECT_FALSE(why.isEmpty());
    }
}

TEST(SingleInstanceLock, OneHolderAndARequestReachesIt)
{
    SingleInstance first(QStringLiteral("org.vorna.Test"));
    ASSERT_EQ(first.claim(), SingleInstance::Role::primary);
    {
        SingleInstance second(QStringLiteral("org.vorna.Test"));
        EXPECT_EQ(second.claim(), SingleInstance::Role::secondary);
    }
    ASSERT_TRUE(first.listen());
    QSignalSpy received(&first, &SingleInstance::requestReceived);
    const SingleInstance::Request request{"/w", {"one", "two"}};
    const QString path = first.socketPath();
    QFuture<bool> sent = QtConcurrent::run([path, request] {
        QString error;
        return SingleInstance::sendToRunningInstance(path, request, 5000, &error);
    });
    ASSERT_TRUE(received.wait(30000));
    const auto got = received.first().first().value<SingleInstance::Request>();
    EXPECT_EQ(got.arguments, request.arguments);
    EXPECT_EQ(got.workingDirectory, request.workingDirectory);
    while (!sent.isFinished())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(sent.result());
}

TEST(SingleInstanceLock, NobodyListeningMeansNoHandOver)
{
    SingleInstance holder(QStringLiteral("org.vorna.Quiet"));
    ASSERT_EQ(holder.claim(), SingleInstance::Role::primary);
    QString error;
    EXPECT_FALSE(SingleInstance::sendToRunningInstance(holder.socketPath(), {"/", {"x"}}, 300, &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(SingleInstanceLock, PrivateFolderWhenTheSessionHasNone)
{
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    const QString dir = SingleInstance::runtimeDirectory();
    qputenv("XDG_RUNTIME_DIR", saved);
    ASSERT_FALSE(dir.isEmpty());
    const QFileInfo info(dir);
    EXPECT_TRUE(info.isDir());
    EXPECT_EQ(info.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                    | QFile::WriteOther | QFile::ExeOther),
              QFile::Permissions());
}

} // namespace
