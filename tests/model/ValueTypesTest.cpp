#include "model/Annotation.h"
#include "model/CaptureMode.h"
#include "model/CaptureShortcut.h"
#include "model/ImageFormat.h"
#include "model/VornaError.h"
#include "support/RecordingAlertPresenter.h"

#include <gtest/gtest.h>

TEST(ValueTypes, RawValuesParseExactlyAndCaseSensitively)
{
    EXPECT_EQ(ImageFormats::fromRawValue("jpeg"), ImageFormat::jpeg);
    for (const char *bad : {"JPEG", "jpg", "", "tif", "png "})
        EXPECT_FALSE(ImageFormats::fromRawValue(bad)) << bad;
    EXPECT_EQ(ImageFormats::fileExtension(ImageFormat::tiff), "tiff");
    EXPECT_EQ(ImageFormats::contentTypeIdentifier(ImageFormat::webp), "org.webmproject.webp");

    EXPECT_FALSE(CaptureModes::fromRawValue("Region"));
    EXPECT_FALSE(AnnotationTools::fromRawValue("number"));
    EXPECT_EQ(AnnotationTools::fromRawValue("numbering"), AnnotationTool::numbering);
    for (AnnotationTool t : AnnotationTools::allCases())
        EXPECT_EQ(AnnotationTools::fromRawValue(AnnotationTools::rawValue(t)), t);
}

TEST(ValueTypes, ModesAndShortcutsShareOrderAndRawValues)
{
    const auto modes = CaptureModes::allCases();
    const auto shortcuts = CaptureShortcuts::allCases();
    ASSERT_EQ(modes.size(), 5);
    ASSERT_EQ(shortcuts.size(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(CaptureModes::rawValue(modes[i]), CaptureShortcuts::rawValue(shortcuts[i]));
        EXPECT_EQ(CaptureShortcuts::fromMode(modes[i]), shortcuts[i]);
        EXPECT_EQ(CaptureShortcuts::toMode(shortcuts[i]), modes[i]);
    }
    EXPECT_EQ(CaptureModes::displayName(CaptureMode::timed), "Timed (5s)");
    EXPECT_EQ(CaptureShortcuts::title(CaptureShortcut::scrolling), "Scrolling Capture");
    EXPECT_EQ(AnnotationTools::displayName(AnnotationTool::numbering), "Number");
    EXPECT_EQ(AnnotationTools::systemImage(AnnotationTool::ellipse), "circle");
}

TEST(ValueTypes, BoundingRectFollowsTheToolAndPointCount)
{
    Annotation a;
    EXPECT_EQ(a.boundingRect(), QRectF(0, 0, 0, 0));

    // A badge's box is centred on its point; a text's hangs from its top-left.
    a.tool = AnnotationTool::numbering;
    a.points = {QPointF(100, 200)};
    EXPECT_EQ(a.boundingRect(), QRectF(80, 180, 40, 40));
    a.tool = AnnotationTool::text;
    EXPECT_EQ(a.boundingRect(), QRectF(100, 200, 40, 40));

    a.tool = AnnotationTool::rectangle;
    a.points = {QPointF(10, 50), QPointF(30, 20), QPointF(500, 500)};
    EXPECT_EQ(a.boundingRect(), QRectF(10, 20, 20, 30));

    a.tool = AnnotationTool::freehand;
    a.points = {QPointF(5, 5), QPointF(1, 9), QPointF(7, 2)};
    EXPECT_EQ(a.boundingRect(), QRectF(1, 2, 6, 7));
}

TEST(VornaError, DescriptionsCarryTheirPayloadVerbatim)
{
    EXPECT_EQ(VornaError::captureFailed("no display").errorDescription(), "Capture failed: no display");
    EXPECT_EQ(VornaError::exportFailed("100% %1 full").errorDescription(), "Export failed: 100% %1 full");
    EXPECT_EQ(VornaError::hotkeyRegistrationFailed({"A", "B"}).errorDescription(),
              "Some hotkeys could not be registered (already in use): A, B");
    EXPECT_EQ(VornaError::hotkeyRegistrationFailed({}).errorDescription(),
              "Some hotkeys could not be registered (already in use): ");
    const QString denied = VornaError::permissionDenied().errorDescription();
    EXPECT_EQ(denied.toUtf8().size(), 117);
    EXPECT_TRUE(denied.contains(QChar(0x2192)));
}

TEST(VornaError, AlertsHaveOneOkButtonAndTheRightStyle)
{
    RecordingAlertPresenter alerts;
    presentErrorAlert(VornaError::exportFailed("disk full"), "Could not save screenshot");
    presentErrorAlert(QString("Permission denied"), "Save As failed");
    presentInfoAlert("3 exported, 1 failed", "Batch Export", 1);
    ASSERT_EQ(alerts.alerts.size(), 3);
    EXPECT_EQ(alerts.alerts[0].style, AlertPresenter::Style::warning);
    EXPECT_EQ(alerts.alerts[0].title, "Could not save screenshot");
    EXPECT_EQ(alerts.alerts[0].informativeText, "Export failed: disk full");
    EXPECT_EQ(alerts.alerts[1].informativeText, "Permission denied");
    EXPECT_EQ(alerts.alerts[2].style, AlertPresenter::Style::informational);
    for (const auto &a : alerts.alerts)
        EXPECT_EQ(a.buttons, QStringList{"OK"});
}
