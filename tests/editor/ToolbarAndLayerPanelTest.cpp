// The tool bar and the layer panel follow and write AppState: the chosen
// tool, the marked swatch, the slider labels (a preset's 2.5 stays 2.5),
// the font-size group only for text, the well's own colour; layer rows in
// tool order with their counts, and hiding that outlives the annotations.

#include "editor/AnnotationToolbar.h"
#include "editor/LayerPanel.h"
#include "model/AppState.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSignalSpy>
#include <QSlider>
#include <QToolButton>

#include <gtest/gtest.h>
#include <cmath>

namespace {

Annotation mark(AnnotationTool tool)
{
    Annotation a;
    a.tool = tool;
    a.color = Qt::red;
    a.points = {QPointF(1, 1), QPointF(20, 20)};
    return a;
}

bool marked(const QAbstractButton *swatch)
{
    return swatch->property("marked").toBool();
}

} // namespace

TEST(ToolbarTest, ControlsFollowAndWriteTheEditorState)
{
    AppState state;
    AnnotationToolbar bar(state);
    bar.show();

    EXPECT_TRUE(bar.toolButton(AnnotationTool::arrow)->isChecked());
    EXPECT_EQ(bar.toolButton(AnnotationTool::blur)->toolTip(), QStringLiteral("Blur"));
    EXPECT_EQ(bar.lineWidthLabel()->text(), QStringLiteral("3"));
    EXPECT_EQ(bar.visibleSeparatorCount(), 3);
    EXPECT_FALSE(bar.fontSizeGroup()->isVisible());
    ASSERT_EQ(bar.swatches().size(), 8);
    EXPECT_TRUE(marked(bar.swatches()[0]));
    EXPECT_FALSE(marked(bar.swatches()[4]));

    bar.toolButton(AnnotationTool::text)->click();
    EXPECT_EQ(state.currentTool(), AnnotationTool::text);
    EXPECT_EQ(bar.visibleSeparatorCount(), 4);
    EXPECT_TRUE(bar.fontSizeGroup()->isVisible());
    state.setCurrentTool(AnnotationTool::ellipse); // from elsewhere (a preset)
    EXPECT_TRUE(bar.toolButton(AnnotationTool::ellipse)->isChecked());
    EXPECT_EQ(bar.visibleSeparatorCount(), 3);

    // Sliders show values without writing them back, and write whole
    // steps when moved.
    state.setCurrentLineWidth(2.5);
    EXPECT_EQ(bar.lineWidthLabel()->text(), QStringLiteral("2"));
    EXPECT_EQ(state.currentLineWidth(), 2.5);
    state.setCurrentLineWidth(40);
    EXPECT_EQ(bar.lineWidthLabel()->text(), QStringLiteral("40"));
    EXPECT_EQ(bar.lineWidthSlider()->value(), 12);
    bar.lineWidthSlider()->setValue(5);
    EXPECT_EQ(state.currentLineWidth(), 5);
    bar.fontSizeSlider()->setValue(bar.fontSizeSlider()->minimum());
    EXPECT_EQ(state.currentFontSize(), 10);
    bar.fontSizeSlider()->setValue(bar.fontSizeSlider()->maximum());
    EXPECT_EQ(state.currentFontSize(), 72);
    EXPECT_EQ(AnnotationToolbar::sizeLabel(std::nan("")), QStringLiteral("–"));
    EXPECT_EQ(AnnotationToolbar::sizeLabel(1e300), QStringLiteral("–"));

    // A swatch sets the colour and the well; a colour from elsewhere
    // leaves the well alone.
    bar.swatches()[4]->click();
    EXPECT_EQ(state.currentColor(), AnnotationToolbar::palette()[4]);
    EXPECT_EQ(bar.wellColor(), AnnotationToolbar::palette()[4]);
    EXPECT_TRUE(marked(bar.swatches()[4]));
    EXPECT_FALSE(marked(bar.swatches()[0]));
    state.setCurrentColor(QColor(12, 34, 56));
    EXPECT_EQ(bar.wellColor(), AnnotationToolbar::palette()[4]);
    for (QAbstractButton *s : bar.swatches())
        EXPECT_FALSE(marked(s));
    bar.setWellColor(QColor(200, 100, 0)); // the colour dialog's choice
    EXPECT_EQ(state.currentColor(), QColor(200, 100, 0));

    // Undo and redo follow what the editor tells; clear always works.
    QSignalSpy clear(&bar, &AnnotationToolbar::clearRequested);
    QSignalSpy undo(&bar, &AnnotationToolbar::undoRequested);
    bar.undoButton()->click();
    EXPECT_EQ(undo.size(), 0);
    bar.setCanUndo(true);
    bar.undoButton()->click();
    EXPECT_EQ(undo.size(), 1);
    bar.clearButton()->click();
    EXPECT_EQ(clear.size(), 1);
}

TEST(LayerPanelTest, RowsPerToolInToolOrderAndHidingOutlivesTheAnnotations)
{
    AppState state;
    LayerPanel panel(state);
    EXPECT_TRUE(panel.rows().isEmpty());
    EXPECT_FALSE(panel.emptyLabel()->isHidden());

    state.setAnnotations({mark(AnnotationTool::text), mark(AnnotationTool::arrow), mark(AnnotationTool::arrow)});
    EXPECT_TRUE(panel.emptyLabel()->isHidden());
    ASSERT_EQ(panel.rows().size(), 2);
    EXPECT_EQ(panel.rows()[0]->text(), QStringLiteral("Arrow"));
    EXPECT_EQ(panel.rows()[0]->property("count").toLongLong(), 2);
    EXPECT_EQ(panel.rows()[1]->text(), QStringLiteral("Text"));
    EXPECT_EQ(panel.rows()[1]->property("count").toLongLong(), 1);
    EXPECT_EQ(LayerPanel::layerTools({mark(AnnotationTool::crop), mark(AnnotationTool::select)}),
              (QList<AnnotationTool>{AnnotationTool::select, AnnotationTool::crop}));

    panel.rows()[0]->click();
    EXPECT_EQ(state.hiddenLayers(), QSet<AnnotationTool>{AnnotationTool::arrow});
    EXPECT_TRUE(panel.rows()[0]->property("layerHidden").toBool());
    EXPECT_FALSE(panel.rows()[1]->property("layerHidden").toBool());

    // The last arrow goes: its row goes, the layer stays hidden, and a new
    // arrow comes back hidden.
    state.setAnnotations({mark(AnnotationTool::text)});
    ASSERT_EQ(panel.rows().size(), 1);
    EXPECT_EQ(state.hiddenLayers(), QSet<AnnotationTool>{AnnotationTool::arrow});
    state.setAnnotations({mark(AnnotationTool::text), mark(AnnotationTool::arrow)});
    ASSERT_EQ(panel.rows().size(), 2);
    EXPECT_TRUE(panel.rows()[0]->property("layerHidden").toBool());
    panel.toggleLayer(AnnotationTool::arrow);
    EXPECT_TRUE(state.hiddenLayers().isEmpty());

    state.setAnnotations({});
    EXPECT_TRUE(panel.rows().isEmpty());
    EXPECT_FALSE(panel.emptyLabel()->isHidden());
}
