// The editor window's commands against real parts: exported pixels with
// hidden layers, zoom and two pixels per point; "Save" into a temporary
// folder (a new name each time, the history entry in the store and in
// AppState, the 50-entry trim, the alert when the folder cannot be made);
// undo across crop and beautify; a very long capture; text recognition
// through the command; zoom and fit.

#include "editor/AnnotationCanvasNSView.h"
#include "editor/AnnotationToolbar.h"
#include "editor/EditorView.h"
#include "output/ImageExporter.h"
#include "model/AppState.h"
#include "output/HistoryService.h"
#include "output/PngEncoder.h"
#include "platform/SavePanel.h"
#include "support/RecordingAlertPresenter.h"
#include "support/SmallDisk.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>
#include <limits>

namespace {

QImage plain(int w, int h, QColor c, double ratio)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(c);
    image.setDevicePixelRatio(ratio);
    return image;
}

Annotation box(AnnotationTool tool, QPointF a, QPointF b, QColor color = QColor(255, 0, 0))
{
    Annotation x;
    x.tool = tool;
    x.color = color;
    x.lineWidth = 4;
    x.points = {a, b};
    x.isFinished = true;
    return x;
}

// Answers every save panel with a fixed path.
class AnsweringSavePanel : public SavePanel
{
public:
    explicit AnsweringSavePanel(QString path) : m_path(std::move(path)) { SavePanel::setCurrent(this); }
    ~AnsweringSavePanel() override { SavePanel::setCurrent(nullptr); }
    void begin(const Request &request, Completion completion) override
    {
        names.append(request.suggestedName);
        completion(m_path);
    }
    QStringList names;

private:
    QString m_path;
};

class EditorViewTest : public testing::Test
{
protected:
    void SetUp() override
    {
        HistoryService::shared().clear();
        HistoryService::shared().waitForPendingWrites();
        state.setSaveDirectory(folder.path());
        state.setDefaultFormat(ImageFormat::png);
        state.setMaxFileSizeKB(0);
        state.setICloudSyncEnabled(false);
    }
    void TearDown() override { HistoryService::shared().waitForPendingWrites(); }

    QString save(EditorView &view)
    {
        QSignalSpy done(&view, &EditorView::saveFinished);
        view.saveToFolder();
        EXPECT_TRUE(done.wait(60000));
        return done.isEmpty() ? QString() : done.first().first().toString();
    }

    QTemporaryDir folder;
    AppState state;
    RecordingAlertPresenter alerts;
};

} // namespace

TEST_F(EditorViewTest, ExportHasEveryAnnotationWhereTheCanvasShowsItAtTheImagesDensity)
{
    state.openEditor(ImageHandle(plain(400, 200, Qt::white, 2.0))); // 200 x 100 points
    state.setAnnotations({box(AnnotationTool::highlight, {0, 0}, {40, 30}, QColor(0, 0, 255)),
                          box(AnnotationTool::rectangle, {150, 60}, {190, 90})});
    state.setHiddenLayers({AnnotationTool::rectangle, AnnotationTool::highlight});
    EditorView view(state);
    view.setZoom(2.5);

    const auto flat = view.flattenedImage();
    ASSERT_TRUE(flat.has_value());
    EXPECT_EQ(flat->size(), QSize(400, 200));
    EXPECT_EQ(flat->devicePixelRatio(), 2.0);
    // The highlight in the top-left corner, the hidden rectangle's left edge
    // at x = 150 points = 300 pixels, nothing in between.
    const QColor tint = flat->pixelColor(20, 20);
    EXPECT_GT(tint.blue(), 200);
    EXPECT_LT(tint.red(), 220);
    EXPECT_EQ(flat->pixelColor(300, 150), QColor(255, 0, 0));
    EXPECT_EQ(flat->pixelColor(200, 150), QColor(Qt::white));

    QSignalSpy copied(&view, &EditorView::copyFinished);
    view.copyImage();
    ASSERT_TRUE(copied.wait(10000));
    const QImage clip = QGuiApplication::clipboard()->image();
    EXPECT_EQ(clip.pixelColor(300, 150), QColor(255, 0, 0));
    // Other programs get it as PNG from our own encoder, not from Qt's on this thread.
    EXPECT_EQ(QGuiApplication::clipboard()->mimeData()->data("image/png"),
              PngEncoder::encode(clip, 2.0, PngEncoder::Effort::fast, PngEncoder::Threads::callingThreadOnly));

    state.setAnnotations({});
    EXPECT_FALSE(view.flattenedImage().has_value());
}

TEST_F(EditorViewTest, SaveWritesANewFileEachTimeAndRecordsItInTheHistory)
{
    // A full history: the save keeps 50, the oldest goes.
    QList<HistoryItem> full;
    for (int i = 0; i < HistoryService::maxItems; ++i) {
        HistoryItem item;
        item.id = QUuid::createUuid();
        item.image = ImageHandle(plain(4, 4, Qt::gray, 1.0));
        item.date = QDateTime::currentDateTime().addSecs(-100 - i);
        full.append(item);
    }
    HistoryService::shared().setItems(full);
    state.setHistory(full);
    state.setCaptureMode(CaptureMode::window);
    // A limit so large that KB x 1024 would overflow.
    state.setMaxFileSizeKB(std::numeric_limits<qint64>::max() / 2);

    state.openEditor(ImageHandle(plain(400, 200, Qt::white, 2.0)));
    state.setAnnotations({box(AnnotationTool::rectangle, {10, 10}, {60, 40})});
    EditorView view(state);
    const QString first = save(view);
    const QString second = save(view);
    ASSERT_FALSE(first.isEmpty());
    ASSERT_FALSE(second.isEmpty());
    EXPECT_NE(first, second);
    EXPECT_TRUE(QFileInfo(first).fileName().startsWith(QStringLiteral("Vorna_")));
    EXPECT_TRUE(first.endsWith(QStringLiteral(".png")));
    EXPECT_EQ(QFileInfo(first).absolutePath(), QDir(folder.path()).absolutePath());
    for (const QString &path : {first, second}) {
        const QImage written(path);
        ASSERT_EQ(written.size(), QSize(400, 200)) << path.toStdString();
        EXPECT_EQ(written.pixelColor(20, 40), QColor(255, 0, 0)); // the annotation is burnt in
    }
    EXPECT_TRUE(alerts.alerts.isEmpty());

    const QList<HistoryItem> &items = HistoryService::shared().items();
    ASSERT_EQ(items.size(), HistoryService::maxItems);
    EXPECT_EQ(items[0].filePath, second);
    EXPECT_EQ(items[1].filePath, first);
    EXPECT_EQ(items[0].mode, CaptureMode::window);
    EXPECT_EQ(items[2].id, full[0].id);
    EXPECT_EQ(items.last().id, full[HistoryService::maxItems - 3].id);
    // AppState's history is the store's list, trimmed entries gone.
    ASSERT_EQ(state.history().size(), HistoryService::maxItems);
    EXPECT_EQ(state.history()[0].id, items[0].id);
    EXPECT_EQ(state.history().last().id, items.last().id);

    // The editor's save and the capture's speak of "no limit" one way: 0.
    EXPECT_EQ(ImageExporter::byteLimit(0), 0);
    EXPECT_EQ(ImageExporter::byteLimit(-5), 0);
    EXPECT_EQ(ImageExporter::byteLimit(3), 3072);
    EXPECT_EQ(ImageExporter::byteLimit(std::numeric_limits<qint64>::max()), 0);
}

TEST_F(EditorViewTest, AFailedSaveSaysSoAndKeepsTheCaptureAndItsAnnotations)
{
    // A file stands where the folder should be (root may write anywhere,
    // but not create a folder over a file).
    const QString blocker = folder.filePath(QStringLiteral("taken"));
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    state.setSaveDirectory(blocker + QStringLiteral("/shots"));

    const ImageHandle image(plain(100, 80, Qt::white, 1.0));
    state.openEditor(image);
    const QList<Annotation> marks{box(AnnotationTool::arrow, {5, 5}, {50, 40})};
    state.setAnnotations(marks);
    EditorView view(state);
    EXPECT_TRUE(save(view).isEmpty());
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, QStringLiteral("Could not save screenshot"));
    EXPECT_EQ(alerts.alerts[0].style, AlertPresenter::Style::warning);
    EXPECT_FALSE(alerts.alerts[0].informativeText.isEmpty());
    EXPECT_EQ(state.capturedImage(), image);
    EXPECT_EQ(state.annotations(), marks);
    EXPECT_TRUE(HistoryService::shared().items().isEmpty());
    EXPECT_TRUE(state.history().isEmpty());
}

TEST_F(EditorViewTest, UndoBringsBackTheImageAndAnnotationsAcrossCropAndBeautify)
{
    const ImageHandle original(plain(300, 200, Qt::white, 1.0));
    state.openEditor(original);
    const QList<Annotation> marks{box(AnnotationTool::rectangle, {10, 10}, {100, 80})};
    state.setAnnotations(marks);
    state.setCurrentTool(AnnotationTool::crop);
    EditorView view(state);

    const ImageHandle cropped(plain(120, 90, Qt::white, 1.0));
    view.handleImageCropped(cropped);
    EXPECT_EQ(state.capturedImage(), cropped);
    EXPECT_TRUE(state.annotations().isEmpty());
    EXPECT_EQ(state.currentTool(), AnnotationTool::select);

    state.setAnnotations({box(AnnotationTool::line, {0, 0}, {50, 50})});
    QSignalSpy beautified(&view, &EditorView::beautifyFinished);
    view.applyBeautify(BeautifyStyle::deviceFrame);
    ASSERT_TRUE(beautified.wait(30000));
    EXPECT_EQ(state.capturedImage().pixelSize(), QSize(120 + 84, 90 + 110));
    EXPECT_TRUE(state.annotations().isEmpty());
    // The line was burnt in: dark pixels on the diagonal inside the frame.
    EXPECT_LT(state.capturedImage().image().pixelColor(42 + 25, 68 + 25).green(), 100);

    state.undo();
    EXPECT_EQ(state.capturedImage(), cropped);
    ASSERT_EQ(state.annotations().size(), 1);
    EXPECT_EQ(state.annotations()[0].tool, AnnotationTool::line);
    state.undo();
    EXPECT_EQ(state.capturedImage(), original);
    EXPECT_EQ(state.annotations(), marks);
    state.redo();
    EXPECT_EQ(state.capturedImage(), cropped);
    // The canvas shows the image that undo put back.
    EXPECT_EQ(static_cast<AnnotationCanvasNSView *>(view.canvas())->image(), cropped);
}

TEST_F(EditorViewTest, AVeryLongCaptureOpensZoomsSavesAndBeautifies)
{
    QImage tall(2880, 20000, QImage::Format_RGB32);
    tall.fill(QColor(40, 120, 200));
    {
        QPainter p(&tall);
        for (int y = 0; y < 20000; y += 400)
            p.fillRect(0, y, 2880, 40, QColor(250, 250, 250));
    }
    tall.setDevicePixelRatio(2.0);
    state.openEditor(ImageHandle(tall));
    state.setAnnotations({box(AnnotationTool::rectangle, {100, 9000}, {600, 9500})});
    EditorView view(state);
    view.resize(1100, 760);
    view.show();
    view.fitToWindow();
    EXPECT_LT(view.zoom(), 0.2);
    view.zoomIn();
    EXPECT_EQ(view.sizeLabel()->text(), QStringLiteral("1440 × 10000"));

    // What the scroll area shows is the capture, not an empty window.
    const QImage shown = view.scrollArea()->viewport()->grab().toImage();
    int blue = 0;
    for (int y = 0; y < shown.height(); y += 7)
        for (int x = 0; x < shown.width(); x += 7)
            blue += shown.pixelColor(x, y) == QColor(40, 120, 200) ? 1 : 0;
    EXPECT_GT(blue, 100);

    const QString path = save(view);
    ASSERT_FALSE(path.isEmpty());
    EXPECT_EQ(QImageReader(path).size(), QSize(2880, 20000));

    QSignalSpy beautified(&view, &EditorView::beautifyFinished);
    view.applyBeautify(BeautifyStyle::shadowAndRoundedCorners);
    ASSERT_TRUE(beautified.wait(60000));
    EXPECT_EQ(state.capturedImage().pixelSize(), QSize(2880 + 240, 20000 + 240));
    EXPECT_TRUE(alerts.alerts.isEmpty());
}

TEST_F(EditorViewTest, ExtractTextCopiesWhatItReadsOrSaysWhyNot)
{
    QImage page(900, 160, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(36);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(QPointF(30, 70), QStringLiteral("Meeting moved to Thursday"));
    }
    page.setDevicePixelRatio(2.0);
    state.openEditor(ImageHandle(page));
    // Annotations are not read: only the capture itself.
    Annotation typed;
    typed.tool = AnnotationTool::text;
    typed.text = QStringLiteral("SECRET WORD");
    typed.fontSize = 30;
    typed.color = Qt::black;
    typed.points = {QPointF(20, 50)};
    state.setAnnotations({typed});
    EditorView view(state);

    QSignalSpy done(&view, &EditorView::textExtractionFinished);
    view.extractText();
    EXPECT_TRUE(view.isBusy());
    ASSERT_TRUE(done.wait(60000));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Meeting moved to Thursday"));
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, QStringLiteral("OCR"));
    EXPECT_EQ(alerts.alerts[0].informativeText, QStringLiteral("Copied 25 characters to the clipboard."));

    // Nothing to read: the clipboard keeps what it had.
    state.openEditor(ImageHandle(plain(300, 200, Qt::white, 1.0)));
    view.extractText();
    ASSERT_TRUE(done.wait(60000));
    EXPECT_EQ(alerts.alerts.last().informativeText, QStringLiteral("No text was recognized in this image."));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Meeting moved to Thursday"));

    // An image that cannot be read: the error, and nothing changes.
    const ImageHandle broken = ImageHandle::fromFile(folder.filePath(QStringLiteral("missing.png")));
    state.openEditor(broken);
    view.extractText();
    ASSERT_TRUE(done.wait(60000));
    EXPECT_EQ(alerts.alerts.last().title, QStringLiteral("OCR failed"));
    EXPECT_EQ(alerts.alerts.last().informativeText, QStringLiteral("Export failed: could not read image"));
    EXPECT_EQ(state.capturedImage(), broken);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("Meeting moved to Thursday"));
}

TEST_F(EditorViewTest, ZoomStepsAndFit)
{
    state.openEditor(ImageHandle(plain(800, 600, Qt::white, 1.0)));
    EditorView view(state);
    QStringList shown;
    for (int i = 0; i < 4; ++i) {
        view.zoomOut();
        shown << view.zoomLabel()->text();
    }
    EXPECT_EQ(shown, (QStringList{"75%", "50%", "25%", "10%"}));
    view.setZoom(0.3);
    view.zoomOut();
    EXPECT_DOUBLE_EQ(view.zoom(), 0.1);
    view.setZoom(4.9);
    view.zoomIn();
    EXPECT_DOUBLE_EQ(view.zoom(), 5.0);
    EXPECT_EQ(view.canvas()->size(), QSize(4000, 3000));

    EXPECT_DOUBLE_EQ(EditorView::fittedZoom({3000, 2000}, QSizeF(1440, 875)), 0.3375);
    EXPECT_DOUBLE_EQ(EditorView::fittedZoom({400, 300}, QSizeF(1440, 875)), 1.0);
    EXPECT_DOUBLE_EQ(EditorView::fittedZoom({2200, 600}, std::nullopt), 0.5);

    // Undo follows the stack: Clear records a step even with no annotations.
    EXPECT_FALSE(view.toolbar()->undoButton()->isEnabled());
    view.toolbar()->clearButton()->click();
    EXPECT_TRUE(view.toolbar()->undoButton()->isEnabled());
    EXPECT_FALSE(view.toolbar()->redoButton()->isEnabled());
    view.toolbar()->undoButton()->click();
    EXPECT_TRUE(view.toolbar()->redoButton()->isEnabled());
}

TEST_F(EditorViewTest, SaveAsWritesTheAnnotatedImageOrSaysWhyNot)
{
    state.openEditor(ImageHandle(plain(200, 100, Qt::white, 1.0)));
    state.setAnnotations({box(AnnotationTool::rectangle, {20, 20}, {80, 60})});
    EditorView view(state);
    const QString target = folder.filePath(QStringLiteral("chosen.png"));
    {
        AnsweringSavePanel panel(target);
        view.saveImageAs();
        ASSERT_TRUE(QTest::qWaitFor([&] { return QImage(target).size() == QSize(200, 100); }, 20000));
        ASSERT_EQ(panel.names.size(), 1);
        EXPECT_TRUE(panel.names[0].startsWith(QStringLiteral("Vorna_")));
    }
    EXPECT_EQ(QImage(target).pixelColor(20, 40), QColor(255, 0, 0));
    EXPECT_TRUE(alerts.alerts.isEmpty());
    EXPECT_TRUE(HistoryService::shared().items().isEmpty()); // no history entry for Save As

    AnsweringSavePanel blocked(folder.filePath(QStringLiteral("chosen.png/inside.png")));
    view.saveImageAs();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 20000));
    EXPECT_EQ(alerts.alerts[0].title, QStringLiteral("Save As failed"));
}

// The picture replaced by Save As on a full disk stays as it was, and the
// user is told the save failed and why (the new bytes are few enough for Qt
// to hold them back until the file is closed).
TEST_F(EditorViewTest, SaveAsOnAFullDiskKeepsTheOldFileAndSaysWhy)
{
    const QString full = folder.filePath(QStringLiteral("full"));
    SmallDisk disk(full, 64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error().toStdString();
    const QString target = full + QStringLiteral("/small.png");
    const QImage old = plain(160, 100, QColor(0, 200, 0), 1.0);
    ASSERT_TRUE(old.save(target, "PNG"));
    const QByteArray oldBytes = [&] {
        QFile f(target);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    ASSERT_FALSE(oldBytes.isEmpty());
    ASSERT_TRUE(disk.fill());

    state.openEditor(ImageHandle(plain(160, 100, Qt::white, 1.0)));
    state.setAnnotations({box(AnnotationTool::rectangle, {20, 20}, {80, 60})});
    EditorView view(state);
    AnsweringSavePanel panel(target);
    view.saveImageAs();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 20000));
    ASSERT_EQ(alerts.alerts.size(), 1);
    EXPECT_EQ(alerts.alerts[0].title, QStringLiteral("Save As failed"));
    EXPECT_TRUE(alerts.alerts[0].informativeText.contains(QStringLiteral("No space left on device")))
        << alerts.alerts[0].informativeText.toStdString();
    QFile kept(target);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), oldBytes);
    EXPECT_EQ(QDir(full).entryList(QDir::Files | QDir::Hidden), QStringList({".filler", "small.png"}));
}

// At its narrowest the window keeps every toolbar control whole and apart:
// the toolbar scrolls sideways rather than drawing controls over each other,
// and is no taller than needed once the window is wide again.
TEST_F(EditorViewTest, ANarrowWindowScrollsTheToolbarInsteadOfOverlappingIt)
{
    state.openEditor(ImageHandle(plain(800, 600, Qt::white, 1.0)));
    EditorView view(state);
    view.resize(view.minimumSize());
    view.show();
    QCoreApplication::processEvents();

    const auto overlaps = [&view] {
        QList<QRect> seen;
        for (QWidget *w : view.toolbar()->findChildren<QWidget *>()) {
            if (!w->isVisible() || !qobject_cast<QAbstractButton *>(w))
                continue;
            const QRect r(w->mapTo(view.toolbar(), QPoint(0, 0)), w->size());
            for (const QRect &other : std::as_const(seen))
                if (r.intersects(other))
                    return true;
            seen.append(r);
        }
        return false;
    };
    EXPECT_FALSE(overlaps());
    EXPECT_GE(view.toolbar()->width(), view.toolbar()->minimumSizeHint().width());
    const QRect redo(view.toolbar()->redoButton()->mapTo(&view, QPoint(0, 0)), view.toolbar()->redoButton()->size());
    EXPECT_FALSE(view.rect().contains(redo)) << "the end of the row lies beyond the narrow window";

    // The scroll bar takes none of the toolbar's own height.
    QWidget *viewport = view.toolbar()->parentWidget();
    QWidget *strip = viewport->parentWidget();
    EXPECT_GE(viewport->height(), view.toolbar()->sizeHint().height());
    const int narrowHeight = strip->height();
    view.resize(1600, 800);
    QCoreApplication::processEvents();
    EXPECT_FALSE(overlaps());
    EXPECT_TRUE(view.rect().contains(
        QRect(view.toolbar()->redoButton()->mapTo(&view, QPoint(0, 0)), view.toolbar()->redoButton()->size())));
    EXPECT_GE(viewport->height(), view.toolbar()->sizeHint().height());
    EXPECT_LT(strip->height(), narrowHeight);
}
