#include "model/CaptureMode.h"
#include "platform/NotificationCenter.h"

#include <QTest>
#include <QThread>
#include <QtConcurrent>
#include <gtest/gtest.h>

TEST(NotificationCenter, ObserversRunInOrderAndCarryTypedUserInfo)
{
    auto &center = NotificationCenter::instance();
    QObject context;
    QStringList calls;
    center.addObserver("N", &context, [&](const auto &n) {
        calls << "first:" + CaptureModes::rawValue(n.userInfo.value("mode").template value<CaptureMode>());
    });
    center.addObserver("N", &context, [&](const auto &) { calls << "second"; });
    center.addObserver("Other", &context, [&](const auto &) { calls << "other"; });
    center.post("N", {{"mode", QVariant::fromValue(CaptureMode::scrolling)}});
    EXPECT_EQ(calls, (QStringList{"first:scrolling", "second"}));
}

TEST(NotificationCenter, ObserversOfADestroyedContextAreDropped)
{
    auto &center = NotificationCenter::instance();
    int calls = 0;
    {
        QObject context;
        center.addObserver("Gone", &context, [&](const auto &) { ++calls; });
    }
    center.post("Gone");
    EXPECT_EQ(calls, 0);
}

TEST(NotificationCenter, APostFromAWorkerThreadIsDeliveredOnTheMainThread)
{
    auto &center = NotificationCenter::instance();
    QObject context;
    QThread *seen = nullptr;
    center.addObserver("FromWorker", &context, [&](const auto &) { seen = QThread::currentThread(); });
    QtConcurrent::run([&] { center.post("FromWorker"); }).waitForFinished();
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen != nullptr; }, 30000));
    EXPECT_EQ(seen, QCoreApplication::instance()->thread());
}
