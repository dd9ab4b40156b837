#include "app/AppDelegate.h"

#include "model/AppState.h"
#include "output/HistoryService.h"
#include "platform/AppPaths.h"
#include "support/GatedFile.h"
#include "support/RecordingAlertPresenter.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

TEST(AppDelegateHistory, LaunchFillsTheStateFromTheStoredHistory)
{
    const QString dir = AppPaths::appDataDir() + "/history";
    QDir().mkpath(dir);
    const QString id = "0A1B2C3D-0000-4000-8000-000000000001";
    QImage img(20, 10, QImage::Format_RGB32);
    img.fill(Qt::red);
    // Each open of the PNG waits for a gate that notices a reader on the UI
    // thread: not even its header is read there.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(img.save(&buffer, "PNG"));
    GatedFile gate(dir + "/" + id + ".png", png);
    if (!gate.isValid())
        GTEST_SKIP() << "opens cannot be held up here (fanotify needs root)";
    QFile manifest(dir + "/manifest.json");
    ASSERT_TRUE(manifest.open(QIODevice::WriteOnly));
    manifest.write("[{\"date\" : \"2024-05-01T10:00:00Z\", \"id\" : \"" + id.toUtf8() + "\", \"mode\" : \"window\"}]");
    manifest.close();

    AppDelegate delegate;
    QSignalSpy launched(&delegate, &AppDelegate::launched);
    delegate.applicationDidFinishLaunching({});
    // The history arrives after the launch sequence has returned.
    EXPECT_TRUE(delegate.appState().history().isEmpty());
    ASSERT_TRUE(launched.wait(30000));
    ASSERT_EQ(delegate.appState().history().size(), 1);
    EXPECT_EQ(delegate.appState().history().first().id, QUuid::fromString(id));
    EXPECT_EQ(delegate.appState().history().first().mode, CaptureMode::window);
    EXPECT_EQ(delegate.appState().history().first().image.pixelSize(), QSize(20, 10));
    EXPECT_GT(gate.opens(), 0);
    EXPECT_FALSE(gate.uiThreadWaited());
}

TEST(AppDelegateHistory, ALongCaptureReadBackFromItsPngOpensInTheEditor)
{
    // Longer than Qt decodes by default (128 MiB of pixels).
    RecordingAlertPresenter alerts;
    AppDelegate delegate;
    QImage page(1440, 24000, QImage::Format_RGB32);
    page.fill(QColor(30, 90, 160));
    const QString path = AppPaths::home() + "/long.png";
    ASSERT_TRUE(page.save(path));
    const ImageHandle image = ImageHandle::fromFile(path, 2.0);

    delegate.appState().openInEditor(image);
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.appState().isEditorOpen() || !alerts.alerts.isEmpty(); },
                                120000));
    EXPECT_TRUE(alerts.alerts.isEmpty());
    ASSERT_EQ(delegate.appState().capturedImage(), image);
    EXPECT_EQ(image.image().size(), QSize(1440, 24000));
    EXPECT_EQ(image.image().pixel(700, 23000), QColor(30, 90, 160).rgb());
}
