// The diff window: picking and dropping files, the background comparison and
// its stale results, copying, and the window as drawn.
#include "editor/DiffImageWell.h"
#include "editor/DiffView.h"
#include "model/AppState.h"
#include "platform/OpenPanel.h"
#include "platform/PanelFolders.h"
#include "support/ShownFileDialog.h"

#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>
#include <map>

namespace {

class ScriptedOpenPanel : public OpenPanel
{
public:
    ScriptedOpenPanel() { OpenPanel::setCurrent(this); }
    ~ScriptedOpenPanel() override { OpenPanel::setCurrent(nullptr); }
    void begin(const Request &request, Completion completion) override
    {
        requests.append(request);
        pending = std::move(completion);
    }
    void choose(const std::optional<QString> &path) { std::exchange(pending, nullptr)(path); }

    QList<Request> requests;
    Completion pending;
};

QImage solid(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

QString writePng(const QTemporaryDir &dir, const QString &name, const QImage &image)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(image.save(path, "PNG"));
    return path;
}

void drop(QWidget *target, const QList<QUrl> &urls)
{
    auto *mime = new QMimeData;
    mime->setUrls(urls);
    const QPointF at = QRectF(target->rect()).center();
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent dropEvent(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropEvent);
    delete mime;
}

void clickWell(DiffImageWell *well)
{
    QTest::mouseClick(well, Qt::LeftButton, {}, well->wellRect().center());
}

QStringList listing(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

// A comparison that waits until the test lets it end. Each call is known by
// the colour of its second image.
struct GatedCompute
{
    std::map<QRgb, QSemaphore> gates;
    DiffView::Compute function()
    {
        return [this](const QImage &, const QImage &b, double) {
            const QRgb key = b.pixel(0, 0);
            gates.at(key).acquire();
            return solid(2, 2, QColor::fromRgb(key));
        };
    }
    void release(QColor color) { gates.at(color.rgb()).release(); }
};

} // namespace

// Two computations at once: whichever ends last, the window shows the newest
// one's result and stays busy until that one has ended.
TEST(DiffView, OnlyTheNewestComputationIsShownWhateverOrderTheyEnd)
{
    GatedCompute gated;
    const QColor colors[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
    for (const QColor &c : colors)
        gated.gates[c.rgb()];
    DiffView view(gated.function());
    QSignalSpy ended(&view, &DiffView::computationEnded);

    view.setFirstImage(solid(2, 2, Qt::white));
    EXPECT_FALSE(view.isProcessing()); // nothing to compare yet
    view.setSecondImage(solid(2, 2, Qt::red));
    view.setSecondImage(solid(2, 2, Qt::green));
    EXPECT_TRUE(view.isProcessing());
    EXPECT_FALSE(view.recomputeButton()->isEnabled());
    EXPECT_FALSE(view.copyButton()->isEnabled());

    // The newer ends first: it is shown at once; the older is dropped.
    gated.release(Qt::green);
    ASSERT_TRUE(ended.wait(30000));
    EXPECT_EQ(view.differenceImage().pixelColor(0, 0), QColor(Qt::green));
    EXPECT_FALSE(view.isProcessing());
    EXPECT_TRUE(view.recomputeButton()->isEnabled());
    gated.release(Qt::red);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.size() == 2; }, 30000));
    EXPECT_EQ(view.differenceImage().pixelColor(0, 0), QColor(Qt::green));
    EXPECT_FALSE(view.isProcessing());

    // The older ends first: still busy, the previous result kept.
    view.setSecondImage(solid(2, 2, Qt::blue));
    view.setSecondImage(solid(2, 2, Qt::yellow));
    gated.release(Qt::blue);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.size() == 3; }, 30000));
    EXPECT_TRUE(view.isProcessing());
    EXPECT_FALSE(view.recomputeButton()->isEnabled());
    EXPECT_EQ(view.differenceImage().pixelColor(0, 0), QColor(Qt::green));
    gated.release(Qt::yellow);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.size() == 4; }, 30000));
    EXPECT_EQ(view.differenceImage().pixelColor(0, 0), QColor(Qt::yellow));
    EXPECT_FALSE(view.isProcessing());
    EXPECT_EQ(view.diffWell()->image(), view.differenceImage());
}

// Files reach the panes by the open panel and by drops; the slider only sets
// the threshold; Recompute uses it; Copy puts the result on the clipboard.
TEST(DiffView, PickedAndDroppedFilesAreComparedAndTheResultCopied)
{
    QTemporaryDir dir;
    QImage first = solid(40, 30, QColor(90, 150, 210));
    QImage second = first;
    {
        QPainter p(&second);
        p.fillRect(10, 10, 5, 5, QColor(90, 150, 250)); // blue differs by 40
    }
    const QString firstPath = writePng(dir, "first.png", first);
    const QString secondPath = writePng(dir, "second.png", second);
    ScriptedOpenPanel panel;
    DiffView view;
    QSignalSpy loaded(&view, &DiffView::imageLoadEnded);
    QSignalSpy ended(&view, &DiffView::computationEnded);
    EXPECT_FALSE(view.recomputeButton()->isEnabled());
    EXPECT_FALSE(view.copyButton()->isEnabled());
    EXPECT_EQ(view.thresholdLabel()->text(), "Threshold 10%");

    clickWell(view.firstWell());
    ASSERT_EQ(panel.requests.size(), 1);
    EXPECT_TRUE(panel.requests[0].mimeTypeFilters.contains("image/png"));
    EXPECT_EQ(panel.requests[0].directory, QDir::homePath());
    panel.choose(firstPath);
    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_EQ(view.firstImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), first);
    EXPECT_TRUE(view.differenceImage().isNull());

    drop(view.secondWell(), {QUrl::fromLocalFile(secondPath), QUrl::fromLocalFile(firstPath)});
    ASSERT_TRUE(loaded.wait(30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.size() == 1; }, 30000));
    const QImage diff = view.differenceImage();
    ASSERT_EQ(diff.size(), QSize(40, 30));
    EXPECT_EQ(diff.pixel(12, 12), 0xC8C80000u);
    EXPECT_EQ(diff.pixel(0, 0), qRgb(30, 50, 70));

    // A pick on the result pane, or a cancelled panel, changes nothing.
    clickWell(view.diffWell());
    panel.choose(secondPath);
    clickWell(view.secondWell());
    EXPECT_EQ(panel.requests.last().directory, dir.path()); // where the last file was picked
    panel.choose(std::nullopt);
    QTest::qWait(100);
    EXPECT_EQ(view.differenceImage(), diff);
    EXPECT_EQ(ended.size(), 1);

    // Threshold 50%: the slider alone does not recompute; Recompute does.
    view.thresholdSlider()->setValue(50);
    EXPECT_EQ(view.threshold(), 0.5);
    EXPECT_EQ(view.thresholdLabel()->text(), "Threshold 50%");
    EXPECT_FALSE(view.isProcessing());
    EXPECT_EQ(view.differenceImage().pixel(12, 12), 0xC8C80000u);
    view.recomputeButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.size() == 2; }, 30000));
    EXPECT_EQ(view.differenceImage().pixel(12, 12), qRgb(30, 50, 70));

    // Copy clears the clipboard, then puts the one image on it: what the
    // clipboard holds at each change, in order.
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setText("something else");
    QList<QStringList> held;
    QObject watcher;
    QObject::connect(clipboard, &QClipboard::dataChanged, &watcher, [&] {
        const QMimeData *data = clipboard->mimeData();
        held.append(data ? data->formats() : QStringList());
    });
    ASSERT_TRUE(view.copyButton()->isEnabled());
    view.copyButton()->click();
    ASSERT_EQ(held.size(), 2);
    EXPECT_TRUE(held[0].isEmpty()) << held[0].join(", ").toStdString();
    EXPECT_TRUE(clipboard->mimeData()->hasImage());
    EXPECT_FALSE(clipboard->mimeData()->hasText());
    const QImage copied = clipboard->image();
    EXPECT_EQ(copied.convertToFormat(QImage::Format_ARGB32_Premultiplied), view.differenceImage());
}

// Files that are no images leave everything as it was, say so, and write
// nothing.
TEST(DiffView, FilesThatAreNoImagesChangeNothing)
{
    QTemporaryDir dir;
    const QString good = writePng(dir, "good.png", solid(8, 8, Qt::darkCyan));
    QFile(dir.filePath("empty.png")).open(QIODevice::WriteOnly);
    {
        QFile text(dir.filePath("notes.png"));
        text.open(QIODevice::WriteOnly);
        text.write("not an image at all\n");
    }
    {
        QFile cut(dir.filePath("cut.png"));
        cut.open(QIODevice::WriteOnly);
        QFile whole(good);
        whole.open(QIODevice::ReadOnly);
        cut.write(whole.readAll().left(60));
    }
    const QStringList before = listing(dir.path());
    DiffView view;
    QSignalSpy loaded(&view, &DiffView::imageLoadEnded);
    drop(view.firstWell(), {QUrl::fromLocalFile(good)});
    ASSERT_TRUE(loaded.wait(30000));
    const QImage kept = view.firstImage();
    ASSERT_FALSE(kept.isNull());
    EXPECT_TRUE(view.message().isEmpty());

    for (const char *name : {"empty.png", "notes.png", "cut.png", "missing.png"}) {
        drop(view.firstWell(), {QUrl::fromLocalFile(dir.filePath(name))});
        ASSERT_TRUE(loaded.wait(30000)) << name;
        EXPECT_EQ(view.firstImage(), kept) << name;
        EXPECT_TRUE(view.message().contains(name)) << view.message().toStdString();
    }
    // A drop without a local file is not taken.
    drop(view.secondWell(), {QUrl("https://example.org/a.png")});
    EXPECT_FALSE(loaded.wait(200));
    EXPECT_TRUE(view.secondImage().isNull());
    EXPECT_FALSE(view.isProcessing());
    EXPECT_EQ(listing(dir.path()), before);
}

// A long scrolling capture is larger than Qt decodes by default and still
// loads, and its difference with a wider, shorter image covers both.
TEST(DiffView, LongCaptureLoadsAndComparesWithAWiderShorterOne)
{
    QTemporaryDir dir;
    QImage tall(2880, 20000, QImage::Format_RGB32);
    tall.fill(QColor(200, 200, 200));
    QPainter(&tall).fillRect(0, 19000, 2880, 1000, Qt::black);
    const QString path = writePng(dir, "long.png", tall);
    tall = QImage();

    DiffView view;
    // Room for a 5120 x 20000 capture at four bytes a pixel.
    EXPECT_GE(QImageReader::allocationLimit(), 5120 * 20000 * 4 / (1024 * 1024));
    QSignalSpy loaded(&view, &DiffView::imageLoadEnded);
    QSignalSpy ended(&view, &DiffView::computationEnded);
    drop(view.firstWell(), {QUrl::fromLocalFile(path)});
    ASSERT_TRUE(loaded.wait(120000));
    EXPECT_EQ(view.firstImage().size(), QSize(2880, 20000));
    view.setSecondImage(solid(2900, 2880, QColor(200, 200, 200)));
    ASSERT_TRUE(ended.wait(120000));
    const QImage diff = view.differenceImage();
    ASSERT_EQ(diff.size(), QSize(2900, 20000));
    EXPECT_EQ(diff.pixel(100, 100), qRgb(66, 66, 66));
    EXPECT_EQ(diff.pixel(2890, 100), 0xC8C80000u);    // only the second covers it
    EXPECT_EQ(diff.pixel(100, 10000), 0xC8C80000u);   // only the first covers it
    EXPECT_EQ(diff.pixel(100, 19500), qRgb(0, 0, 0)); // black against nothing
    EXPECT_EQ(diff.pixel(2890, 10000), qRgb(0, 0, 0));
}

// A wide image against a tall one would need a difference far larger than
// either: the second is refused like a file that is no image, and the
// window goes on comparing what fits.
TEST(DiffView, AComparisonTooLargeToMakeIsRefused)
{
    QTemporaryDir dir;
    const QString wide = writePng(dir, "wide.png", solid(30000, 1, QColor(10, 200, 30)));
    const QString tall = writePng(dir, "tall.png", solid(1, 30000, QColor(10, 200, 30)));
    const QString small = writePng(dir, "small.png", solid(30, 20, QColor(10, 200, 30)));
    DiffView view;
    QSignalSpy loaded(&view, &DiffView::imageLoadEnded);
    QSignalSpy ended(&view, &DiffView::computationEnded);
    drop(view.firstWell(), {QUrl::fromLocalFile(wide)});
    ASSERT_TRUE(loaded.wait(30000));
    ASSERT_EQ(view.firstImage().size(), QSize(30000, 1));

    // 30000 x 30000 pixels at four bytes: over the limit files are read under.
    drop(view.secondWell(), {QUrl::fromLocalFile(tall)});
    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_TRUE(view.secondImage().isNull());
    EXPECT_FALSE(view.isProcessing());
    EXPECT_EQ(view.message(), QStringLiteral("“tall.png” could not be opened as an image."));
    EXPECT_FALSE(view.recomputeButton()->isEnabled());

    // Still usable: a small second image compares with the wide one, and the
    // tall one then replaces the wide one.
    drop(view.secondWell(), {QUrl::fromLocalFile(small)});
    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_TRUE(view.message().isEmpty());
    ASSERT_TRUE(ended.wait(30000));
    EXPECT_EQ(view.differenceImage().size(), QSize(30000, 20));
    drop(view.firstWell(), {QUrl::fromLocalFile(tall)});
    ASSERT_TRUE(loaded.wait(30000));
    ASSERT_TRUE(ended.wait(30000));
    EXPECT_EQ(view.firstImage().size(), QSize(1, 30000));
    EXPECT_EQ(view.differenceImage().size(), QSize(30, 30000));
    EXPECT_TRUE(view.recomputeButton()->isEnabled());
    EXPECT_TRUE(view.copyButton()->isEnabled());
}

// The window drawn offscreen: the empty prompt, then three images side by
// side with the red of the difference in the third pane.
TEST(DiffView, RendersItsPanesOffscreen)
{
    DiffView view;
    view.resize(900, 600);
    QImage empty = view.grab().toImage();
    const QRect firstWell = view.firstWell()->geometry();
    // The well is tinted a little darker than the window around it.
    const QColor around = empty.pixelColor(firstWell.left() - 6, firstWell.center().y());
    const QColor inWell = empty.pixelColor(firstWell.left() + 20, firstWell.center().y() + 40);
    EXPECT_LT(inWell.lightness(), around.lightness());

    QImage a = solid(300, 200, QColor(40, 120, 220));
    QImage b = a;
    QPainter(&b).fillRect(0, 0, 300, 100, QColor(240, 240, 40));
    QSignalSpy ended(&view, &DiffView::computationEnded);
    view.setFirstImage(a);
    view.setSecondImage(b);
    ASSERT_TRUE(ended.wait(30000));
    const QImage shot = view.grab().toImage();
    if (const QString out = qEnvironmentVariable("VORNA_RENDER_DIR"); !out.isEmpty()) {
        empty.save(out + "/diff-empty.png");
        shot.save(out + "/diff-images.png");
    }
    const QRect diffImage = view.diffWell()->imageRect().translated(view.diffWell()->pos());
    ASSERT_FALSE(diffImage.isEmpty());
    EXPECT_GT(diffImage.width(), 200);
    const QColor top = shot.pixelColor(diffImage.center().x(), diffImage.top() + diffImage.height() / 4);
    const QColor bottom = shot.pixelColor(diffImage.center().x(), diffImage.bottom() - diffImage.height() / 4);
    EXPECT_GT(top.red(), 200);
    EXPECT_LT(top.green(), 80);
    EXPECT_NEAR(bottom.blue(), 220 / 3, 3);
    EXPECT_NEAR(bottom.red(), 40 / 3, 3);
    const QRect firstImage = view.firstWell()->imageRect().translated(view.firstWell()->pos());
    EXPECT_EQ(shot.pixelColor(firstImage.center()), QColor(40, 120, 220));
}

// The chooser of the real file dialog: it first opens in the save folder,
// where the screenshots are, on one filter that shows every kind of image
// the window reads, with no entry twice; then it opens where a file was last
// picked.
TEST(DiffView, TheImageChooserShowsEveryReadableImageFirstInTheSaveFolder)
{
    PanelFolders::forgetAll();
    const auto forget = qScopeGuard([] { PanelFolders::forgetAll(); });
    QTemporaryDir saveFolder;
    QTemporaryDir elsewhere;
    const QStringList images{"shot.png", "shot.jpg", "shot.JPEG", "shot.webp", "shot.tif", "shot.tiff", "shot.heic",
                             "shot.heif", "shot.gif", "shot.bmp"};
    for (const QString &name : images + QStringList{"notes.txt", "shot.png.part"})
        QFile(saveFolder.filePath(name)).open(QIODevice::WriteOnly);
    QImage picked(16, 12, QImage::Format_RGB32);
    picked.fill(QColor(200, 40, 40));
    const QString jpeg = elsewhere.filePath("picked.jpg");
    ASSERT_TRUE(picked.save(jpeg, "JPEG"));

    AppState appState;
    appState.setSaveDirectory(saveFolder.path());
    DiffView view(appState);
    QSignalSpy loaded(&view, &DiffView::imageLoadEnded);
    clickWell(view.firstWell());
    QFileDialog *dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath().toStdString(), QDir(saveFolder.path()).canonicalPath().toStdString());
    const QStringList filters = dialog->nameFilters();
    EXPECT_EQ(dialog->selectedNameFilter(), filters.value(0));
    QSet<QString> names;
    for (const QString &filter : filters)
        names.insert(filter.left(filter.indexOf(" (")));
    EXPECT_EQ(names.size(), filters.size()) << filters.join(" | ").toStdString();
    // What the dialog lists in the save folder under the chosen filter.
    auto *model = dialog->findChild<QFileSystemModel *>();
    ASSERT_NE(model, nullptr);
    const auto listed = [&](const QString &path) {
        QStringList names;
        const QModelIndex folder = model->index(path);
        for (int row = 0; row < model->rowCount(folder); ++row)
            names << model->index(row, 0, folder).data().toString();
        names.sort();
        return names;
    };
    QStringList expected = images;
    expected.sort();
    EXPECT_TRUE(QTest::qWaitFor([&] { return listed(saveFolder.path()) == expected; }, 30000))
        << listed(saveFolder.path()).join(", ").toStdString();

    // A JPEG picked in another folder is compared.
    dialog->setDirectory(elsewhere.path());
    ASSERT_TRUE(QTest::qWaitFor([&] { return listed(elsewhere.path()) == QStringList{"picked.jpg"}; }, 30000));
    // As typed: the name field has the focus, where selectFile() sets nothing.
    auto *name = dialog->findChild<QLineEdit *>("fileNameEdit");
    ASSERT_NE(name, nullptr);
    name->setText("picked.jpg");
    QMetaObject::invokeMethod(dialog, "accept");
    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_EQ(view.firstImage().size(), QSize(16, 12));

    // The next time, for either pane, it opens where that file was.
    ASSERT_TRUE(QTest::qWaitFor([] { return shownFileDialog() == nullptr; }, 30000));
    clickWell(view.secondWell());
    dialog = shownFileDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(QDir(dialog->directory()).canonicalPath().toStdString(), QDir(elsewhere.path()).canonicalPath().toStdString());
    dialog->reject();
}
