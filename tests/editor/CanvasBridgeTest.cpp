// CanvasView keeping the canvas and AppState in step, and AppState's undo
// steps that hold the image and its annotations together.
#include "editor/AnnotationCanvasNSView.h"
#include "editor/CanvasView.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

ImageHandle image(int w = 400, int h = 300)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    return ImageHandle(img);
}

void drag(QWidget *w, QPoint from, QList<QPoint> to)
{
    QTest::mousePress(w, Qt::LeftButton, {}, from);
    for (QPoint p : to)
        QTest::mouseMove(w, p);
    QTest::mouseRelease(w, Qt::LeftButton, {}, to.last());
}

} // namespace

TEST(CanvasBridge, EveryGestureIsOneUndoStepRecordedBeforeTheChange)
{
    AppState state;
    state.openEditor(image());
    CanvasView bridge(state);
    AnnotationCanvasNSView *canvas = bridge.canvas();
    canvas->show();
    int added = 0;
    bridge.onAnnotationAdded = [&] { ++added; };

    state.setCurrentTool(AnnotationTool::rectangle);
    drag(canvas, QPoint(20, 20), {QPoint(80, 60)});
    // The report arrives on a later turn of the event loop.
    EXPECT_TRUE(state.annotations().isEmpty());
    QCoreApplication::processEvents();
    ASSERT_EQ(state.annotations().size(), 1);
    EXPECT_EQ(added, 1);
    ASSERT_EQ(state.undoStack().size(), 1);
    EXPECT_TRUE(state.undoStack().first().annotations.isEmpty());
    const Annotation drawn = state.annotations().first();

    // A move of three drag events is one step; undo puts it back, and the
    // canvas follows although every id stayed the same.
    state.setCurrentTool(AnnotationTool::select);
    drag(canvas, QPoint(20, 20), {QPoint(30, 20), QPoint(40, 25), QPoint(50, 30)});
    QCoreApplication::processEvents();
    EXPECT_EQ(state.undoStack().size(), 2);
    EXPECT_EQ(state.annotations().first().points, (QList<QPointF>{{50, 30}, {110, 70}}));

    const int redraws = canvas->redrawCount();
    state.undo();
    EXPECT_EQ(state.annotations(), QList<Annotation>{drawn});
    EXPECT_EQ(canvas->annotations(), QList<Annotation>{drawn});
    EXPECT_GT(canvas->redrawCount(), redraws);
    state.undo(); // the first annotation can be undone
    EXPECT_TRUE(state.annotations().isEmpty());
    EXPECT_TRUE(canvas->annotations().isEmpty());
    state.redo();
    state.redo();
    EXPECT_EQ(canvas->annotations().first().points, (QList<QPointF>{{50, 30}, {110, 70}}));
    EXPECT_TRUE(state.redoStack().isEmpty());
}

TEST(CanvasBridge, RedrawsOnlyWhenSomethingDrawnChanges)
{
    AppState state;
    const ImageHandle first = image();
    state.openEditor(first);
    CanvasView bridge(state);
    AnnotationCanvasNSView *canvas = bridge.canvas();

    int before = canvas->redrawCount();
    state.setCurrentColor(Qt::green);
    state.setCurrentLineWidth(9);
    state.setNextNumber(7);
    EXPECT_EQ(canvas->redrawCount(), before);
    EXPECT_EQ(canvas->currentColor(), QColor(Qt::green));
    EXPECT_EQ(canvas->currentLineWidth(), 9);
    EXPECT_EQ(canvas->nextNumber(), 7);
    EXPECT_FALSE(bridge.refresh());

    state.setHiddenLayers({AnnotationTool::blur});
    EXPECT_EQ(canvas->redrawCount(), before + 1);
    EXPECT_EQ(canvas->hiddenLayers(), QSet<AnnotationTool>{AnnotationTool::blur});
    state.setCurrentTool(AnnotationTool::select);
    EXPECT_EQ(canvas->redrawCount(), before + 2);

    // The same image object again does nothing; a new object redraws.
    state.setCapturedImage(first);
    EXPECT_FALSE(bridge.refresh());
    state.setCapturedImage(image(200, 100));
    EXPECT_EQ(canvas->redrawCount(), before + 3);
    EXPECT_EQ(canvas->size(), QSize(200, 100));
}

TEST(CanvasBridge, UndoAcrossACropBringsBackImageAndAnnotations)
{
    AppState state;
    const ImageHandle original = image();
    state.openEditor(original);
    CanvasView bridge(state);
    AnnotationCanvasNSView *canvas = bridge.canvas();
    canvas->show();
    QObject::connect(&bridge, &CanvasView::imageCropped, &state, &AppState::replaceImage);

    state.setCurrentTool(AnnotationTool::arrow);
    drag(canvas, QPoint(10, 10), {QPoint(100, 100)});
    QCoreApplication::processEvents();
    const QList<Annotation> marks = state.annotations();
    ASSERT_EQ(marks.size(), 1);

    state.setCurrentTool(AnnotationTool::crop);
    drag(canvas, QPoint(0 + 1, 1), {QPoint(201, 101)});
    QCoreApplication::processEvents();
    ASSERT_EQ(state.capturedImage().pixelSize(), QSize(200, 100));
    EXPECT_TRUE(state.annotations().isEmpty());
    EXPECT_EQ(canvas->image(), state.capturedImage());

    state.undo();
    EXPECT_EQ(state.capturedImage(), original);
    EXPECT_EQ(state.annotations(), marks);
    EXPECT_EQ(canvas->image(), original);
    EXPECT_EQ(canvas->size(), QSize(400, 300));
    state.redo();
    EXPECT_EQ(state.capturedImage().pixelSize(), QSize(200, 100));
    EXPECT_TRUE(state.annotations().isEmpty());
}
