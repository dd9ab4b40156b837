// "Open in Editor" on the floating preview, as the delegate wires it.
#include "app/AppDelegate.h"
#include "app/CapturePipeline.h"
#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "output/HistoryService.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/RecordingAlertPresenter.h"
#include "support/RecordingEditor.h"
#include "support/TestHome.h"
#include "windows/FloatingPreviewController.h"
#include "windows/FloatingPreviewView.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

class PreviewEditTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TestHome::reset();
        UserDefaults::resetStandard();
        HistoryService::resetShared();
        QDir().mkpath(TestHome::path() + "/Shots");
        UserDefaults::standard().setString("saveDirectory", TestHome::path() + "/Shots");
        UserDefaults::standard().setBool("playSound", false);
    }
    void TearDown() override
    {
        HistoryService::resetShared();
        UserDefaults::resetStandard();
    }

    // Runs one capture through the delegate's pipeline and clicks "Open in Editor".
    void captureAndEdit(AppDelegate &delegate)
    {
        QImage image(200, 120, QImage::Format_RGB32);
        image.fill(Qt::magenta);
        image.setDevicePixelRatio(2);
        QSignalSpy saved(&delegate.capturePipeline(), &CapturePipeline::saved);
        delegate.capturePipeline().handleCapture(image, CaptureMode::region);
        QWidget *panel = delegate.floatingPreview().panel();
        ASSERT_NE(panel, nullptr);
        panel->findChild<FloatingPreviewView *>()->editButton()->click();
        EXPECT_EQ(delegate.floatingPreview().panel(), nullptr);
        // The file is saved whatever the preview does.
        ASSERT_TRUE(QTest::qWaitFor([&] { return saved.count() == 1; }, 30000));
    }

    RecordingAlertPresenter alerts;
};

} // namespace

TEST_F(PreviewEditTest, WithoutAnExternalEditorTheBuiltInEditorOpensWithTheCapture)
{
    AppDelegate delegate;
    QSignalSpy openEditor(&NotificationCenter::instance(), &NotificationCenter::posted);
    captureAndEdit(delegate);
    EXPECT_TRUE(delegate.appState().isEditorOpen());
    EXPECT_EQ(delegate.appState().capturedImage().pixelSize(), QSize(200, 120));
    bool posted = false;
    for (const auto &args : openEditor)
        posted |= args.at(0).toString() == NotificationNames::openEditor;
    EXPECT_TRUE(posted);
}

TEST_F(PreviewEditTest, AnExternalEditorGetsTheCaptureAndTheBuiltInOneStaysClosed)
{
    const RecordingEditor externalEditor;
    ASSERT_TRUE(externalEditor.install());
    UserDefaults::standard().setString("externalEditorPath", externalEditor.script());

    AppDelegate delegate;
    captureAndEdit(delegate);
    EXPECT_FALSE(delegate.appState().isEditorOpen());
    ASSERT_TRUE(QTest::qWaitFor([&] { return externalEditor.wasStarted(); }, 30000));
    const QString path = externalEditor.openedFile();
    EXPECT_TRUE(path.endsWith(".png"));
    EXPECT_EQ(QImage(path).size(), QSize(200, 120));
}
