#include "HistoryTestSupport.h"

#include "editor/AnnotationCanvasNSView.h"
#include "editor/EditorView.h"
#include "model/NotificationNames.h"
#include "platform/Log.h"
#include "support/GatedFile.h"
#include "support/PipedImage.h"
#include "support/RecordingAlertPresenter.h"
#include "support/RecordingEditor.h"
#include "windows/HistoryActions.h"
#include "windows/HistoryCard.h"
#include "windows/HistoryView.h"

#include <QApplication>
#include <QBuffer>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

namespace {

// What the header shows: the count and which buttons are there.
struct Header
{
    QString count;
    bool exportSelected, clearSelection, exportAll, clearAll;
    bool operator==(const Header &) const = default;
};

void PrintTo(const Header &h, std::ostream *os)
{
    *os << h.count.toStdString() << " exportSelected=" << h.exportSelected << " clearSelection=" << h.clearSelection
        << " exportAll=" << h.exportAll << " clearAll=" << h.clearAll;
}

class HistoryGridTest : public HistoryTestBase
{
protected:
    static Header header(HistoryView &view)
    {
        return {view.countLabel()->text(), view.exportSelectedButton()->isVisibleTo(&view),
                view.clearSelectionButton()->isVisibleTo(&view), view.exportAllButton()->isVisibleTo(&view),
                view.clearAllButton()->isVisibleTo(&view)};
    }
};

} // namespace

TEST_F(HistoryGridTest, HeaderCardsAndClearAllFollowTheHistoryAndTheSelection)
{
    HistoryView view(*appState);
    view.resize(640, 480);
    view.show();
    EXPECT_EQ(header(view), (Header{"0 items", false, false, false, false}));
    EXPECT_TRUE(view.emptyView()->isVisibleTo(&view));
    EXPECT_FALSE(view.gridArea()->isVisibleTo(&view));

    const QString saved = TestHome::path() + "/Desktop/Vorna_saved.png";
    QDir().mkpath(TestHome::path() + "/Desktop");
    ASSERT_TRUE(picture(Qt::blue).save(saved));
    const QDateTime now = QDateTime::currentDateTime();
    const HistoryItem a = addCapture(Qt::red, now.addSecs(-120));
    const HistoryItem b = addCapture(Qt::blue, now.addSecs(-60), CaptureMode::window, saved);
    const HistoryItem c = addCapture(Qt::green, now);
    EXPECT_EQ(header(view), (Header{"3 items", false, false, true, true}));
    EXPECT_FALSE(view.emptyView()->isVisibleTo(&view));
    ASSERT_EQ(view.cards().size(), 3);
    EXPECT_EQ(view.cards()[0]->item().id, c.id);
    EXPECT_EQ(view.cards()[2]->item().id, a.id);

    // Hovering shows the action row; the reveal button only for a saved capture.
    HistoryCard *cardA = view.card(a.id);
    HistoryCard *cardB = view.card(b.id);
    EXPECT_EQ(cardA->actionBar(), nullptr);
    view.setHoveredID(a.id);
    ASSERT_NE(cardA->actionBar(), nullptr);
    EXPECT_TRUE(cardA->actionBar()->isVisibleTo(cardA));
    EXPECT_EQ(cardA->actionButton("folder"), nullptr);
    cardA->actionButton("square")->click();
    EXPECT_EQ(cardA->actionButton("square")->toolTip(), "Deselect");
    view.setHoveredID(b.id);
    EXPECT_TRUE(cardA->isSelected());
    EXPECT_TRUE(cardA->actionBar()->isVisibleTo(cardA)); // selected keeps it
    EXPECT_TRUE(cardB->isHovered());
    EXPECT_FALSE(cardA->isHovered());
    ASSERT_NE(cardB->actionButton("folder"), nullptr);
    EXPECT_EQ(cardB->actionButton("folder")->toolTip(), "Reveal in File Manager");
    cardB->actionButton("square")->click();
    EXPECT_EQ(header(view), (Header{"3 items", true, true, true, true}));
    EXPECT_EQ(view.exportSelectedButton()->text(), "Export Selected (2)");

    // Deleting a selected card lowers the count and removes its file only.
    cardB->actionButton("trash")->click();
    HistoryService::shared().waitForPendingWrites();
    EXPECT_EQ(view.exportSelectedButton()->text(), "Export Selected (1)");
    EXPECT_EQ(view.countLabel()->text(), "2 items");
    EXPECT_EQ(view.cards().size(), 2);
    EXPECT_FALSE(QFile::exists(pngOf(b.id)));
    EXPECT_TRUE(QFile::exists(saved));
    EXPECT_EQ(HistoryService::shared().items().size(), 2);

    // Clear All with a selection: everything goes, but the saved screenshot.
    view.clearAllButton()->click();
    HistoryService::shared().waitForPendingWrites();
    EXPECT_TRUE(view.selectedIDs().isEmpty());
    EXPECT_FALSE(view.hoveredID().has_value());
    EXPECT_EQ(header(view), (Header{"0 items", false, false, false, false}));
    EXPECT_TRUE(view.emptyView()->isVisibleTo(&view));
    EXPECT_TRUE(appState->history().isEmpty());
    EXPECT_TRUE(QDir(HistoryService::shared().storeDir()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot));
    EXPECT_TRUE(QFile::exists(saved));
}

TEST_F(HistoryGridTest, TheSelectionNeverHoldsCapturesThatLeftTheHistory)
{
    const QDateTime now = QDateTime::currentDateTime();
    const HistoryItem a = addCapture(Qt::red, now.addSecs(-2));
    const HistoryItem b = addCapture(Qt::blue, now.addSecs(-1));
    const HistoryItem c = addCapture(Qt::green, now);
    HistoryView view(*appState);
    ScriptedFolderPanel panel;
    view.toggleSelection(a.id);
    view.toggleSelection(b.id);
    view.setHoveredID(a.id);

    // Removed elsewhere (the recent strip's Delete).
    HistoryActions::deleteEntry(*appState, a.id);
    EXPECT_EQ(view.selectedIDs(), QSet<QUuid>({b.id}));
    EXPECT_FALSE(view.hoveredID().has_value());
    EXPECT_EQ(view.exportSelectedButton()->text(), "Export Selected (1)");

    // Trimmed by the capture pipeline.
    QList<HistoryItem> trimmed = appState->history();
    trimmed.removeIf([&](const HistoryItem &i) { return i.id == b.id; });
    appState->setHistory(trimmed);
    EXPECT_TRUE(view.selectedIDs().isEmpty());
    EXPECT_FALSE(view.exportSelectedButton()->isVisibleTo(&view));
    // Nothing selected: no panel.
    EXPECT_FALSE(view.exportSelected());
    EXPECT_TRUE(panel.requests.isEmpty());
    ASSERT_EQ(view.cards().size(), 1);
    EXPECT_EQ(view.cards()[0]->item().id, c.id);
}

// An editor opened on a capture whose history file was not written yet
// keeps the capture's image; the write then moves its pixels to that file.
// Deleting the entry used to remove the file under the editor.
TEST_F(HistoryGridTest, AnEditorOpenedBeforeTheFileWasWrittenKeepsItsPictureWhenTheEntryIsDeleted)
{
    const HistoryItem item = addCapture(Qt::magenta, QDateTime::currentDateTime(), CaptureMode::region,
                                        std::nullopt, false);
    HistoryActions::openInEditor(*appState, item);
    ASSERT_EQ(appState->capturedImage(), item.image);
    HistoryService::shared().saveImage(item);
    HistoryService::shared().waitForPendingWrites();
    ASSERT_FALSE(item.image.isDecoded()) << "the pixels live in the history file now";

    HistoryView view(*appState);
    view.setHoveredID(item.id);
    view.card(item.id)->actionButton("trash")->click();
    HistoryService::shared().waitForPendingWrites();
    ASSERT_FALSE(QFile::exists(pngOf(item.id)));
    ASSERT_TRUE(appState->history().isEmpty());

    const QImage shown = appState->capturedImage().image();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32), picture(Qt::magenta).convertToFormat(QImage::Format_RGB32));
}

TEST_F(HistoryGridTest, PicturesComeAtDisplaySizeAndTimesReadAsElapsedTime)
{
    // An entry whose history file is not written yet shows its pixels in memory.
    const HistoryItem pending = addCapture(Qt::red, QDateTime::currentDateTime(), CaptureMode::region, std::nullopt,
                                           /*writePng=*/false);
    ASSERT_FALSE(QFile::exists(pngOf(pending.id)));
    const QImage fromMemory = ThumbnailCache::load(pngOf(pending.id), pending.image, QSize(230, 120));
    EXPECT_EQ(fromMemory.size(), QSize(192, 120));

    // A large capture from its file: decoded straight at the asked size.
    const QString big = TestHome::path() + "/big.png";
    ASSERT_TRUE(picture(Qt::blue, QSize(2880, 1800)).save(big));
    const ImageHandle onDisk = ImageHandle::fromFile(big);
    const QImage scaled = ThumbnailCache::load(big, onDisk, QSize(230, 120));
    EXPECT_EQ(scaled.size(), QSize(192, 120));
    EXPECT_FALSE(onDisk.isDecoded());
    EXPECT_EQ(scaled.pixel(5, 60), QColor(Qt::blue).rgb());
    // No file and no pixels: nothing (a placeholder).
    EXPECT_TRUE(ThumbnailCache::load(TestHome::path() + "/gone.png", ImageHandle::fromFile(TestHome::path() + "/gone.png"),
                                     QSize(230, 120))
                    .isNull());

    const QDateTime now(QDate(2026, 3, 3), QTime(12, 0));
    EXPECT_EQ(elapsedTimeText(now.addSecs(-30), now), "Just now");
    EXPECT_EQ(elapsedTimeText(now.addSecs(-61), now), "1 minute ago");
    EXPECT_EQ(elapsedTimeText(now.addSecs(-5 * 60 - 59), now), "5 minutes ago");
    EXPECT_EQ(elapsedTimeText(now.addSecs(-2 * 3600), now), "2 hours ago");
    EXPECT_EQ(elapsedTimeText(now.addDays(-3), now), "3 days ago");
    HistoryView view(*appState);
    EXPECT_EQ(view.minuteTimer()->interval(), 60000);
    EXPECT_TRUE(view.minuteTimer()->isActive());
}

TEST_F(HistoryGridTest, EditOnACaptureThatCannotBeReadSaysSoAndOpensNoEditor)
{
    RecordingAlertPresenter alerts;
    const QDateTime now = QDateTime::currentDateTime();
    const HistoryItem intact = addCapture(Qt::green, now.addSecs(-5));
    const HistoryItem damaged = addCapture(Qt::blue, now);
    // The header still reads; the pixels do not.
    QFile file(pngOf(damaged.id));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray png = file.readAll();
    const qsizetype idat = png.indexOf("IDAT");
    ASSERT_GT(idat, 0);
    for (qsizetype i = idat + 4; i < png.size() - 16; ++i)
        png[i] = char(0x5a ^ png[i]);
    file.seek(0);
    file.write(png);
    file.close();
    reloadHistoryFromDisk();

    HistoryView view(*appState);
    PostRecorder opened(NotificationNames::openEditor);
    LogCapture log;
    view.setHoveredID(damaged.id);
    view.card(damaged.id)->actionButton("pencil")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 10000));
    EXPECT_EQ(alerts.alerts[0].title, "Could not open this image");
    EXPECT_EQ(alerts.alerts[0].style, AlertPresenter::Style::warning);
    // The entry leaves the history with its log line; its file is kept aside.
    ASSERT_TRUE(QTest::qWaitFor([&] { return appState->history().size() == 1; }, 30000));
    EXPECT_EQ(appState->history()[0].id, intact.id);
    ASSERT_EQ(view.cards().size(), 1);
    EXPECT_TRUE(log.contains("cannot decode " + pngOf(damaged.id)));
    HistoryService::shared().waitForPendingWrites();
    EXPECT_FALSE(QFile::exists(pngOf(damaged.id)));
    EXPECT_EQ(QDir(HistoryService::shared().storeDir())
                  .entryList({QFileInfo(pngOf(damaged.id)).fileName() + ".unreadable-*"}, QDir::Files)
                  .size(),
              1);
    // No editor, not even an empty one.
    EXPECT_TRUE(opened.posts.isEmpty());
    EXPECT_FALSE(appState->isEditorOpen());
    EXPECT_TRUE(appState->capturedImage().isNull());

    // The intact capture opens with its pixels in memory.
    view.setHoveredID(intact.id);
    view.card(intact.id)->actionButton("pencil")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened.posts.size() == 1; }, 10000));
    EXPECT_EQ(appState->capturedImage(), appState->history()[0].image);
    EXPECT_TRUE(appState->capturedImage().isDecoded());
    EXPECT_EQ(appState->capturedImage().image().pixel(10, 100), QColor(Qt::green).rgb());
    EXPECT_EQ(alerts.alerts.size(), 1);
}

TEST_F(HistoryGridTest, EditReadsAReleasedCaptureOffTheUiThreadForEitherEditor)
{
    // The capture's pixels are only in its file, whose opens are held up
    // by a gate that notices an opener on the UI thread.
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture(Qt::red).save(&buffer, "PNG"));
    const QString released = TestHome::path() + "/released.png";
    GatedFile gate(released, png);
    if (!gate.isValid())
        GTEST_SKIP() << "opens cannot be held up here (fanotify needs root)";
    HistoryItem item;
    item.id = QUuid::createUuid();
    item.image = ImageHandle::fromFile(released, 2.0);
    item.date = QDateTime::currentDateTime();

    // The built-in editor, shown the way the editor window shows it.
    EditorView editor(*appState);
    editor.resize(1100, 760);
    editor.show();
    PostRecorder opened(NotificationNames::openEditor);
    HistoryActions::openInEditor(*appState, item);
    // A second click while the first one's read waits for the file (the UI
    // thread takes no events meanwhile): it must not wait on that read.
    const QDeadlineTimer deadline(10000);
    while (gate.openersSeen() == 0 && !deadline.hasExpired())
        QThread::msleep(1);
    ASSERT_GT(gate.openersSeen(), 0);
    HistoryActions::openInEditor(*appState, item);
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened.posts.size() == 1; }, 20000));
    EXPECT_FALSE(gate.uiThreadWaited());
    EXPECT_EQ(appState->capturedImage(), item.image);
    ASSERT_NE(editor.canvas(), nullptr);
    const QImage shown = static_cast<AnnotationCanvasNSView *>(editor.canvas())->grab().toImage();
    EXPECT_EQ(shown.pixel(shown.width() / 2, shown.height() / 2), QColor(Qt::red).rgb());

    // The external editor gets a temporary PNG written from the same file.
    const RecordingEditor externalEditor;
    ASSERT_TRUE(externalEditor.install());
    appState->setExternalEditorPath(externalEditor.script());
    HistoryItem again = item;
    again.image = ImageHandle::fromFile(released, 2.0);
    HistoryActions::openInEditor(*appState, again);
    ASSERT_TRUE(QTest::qWaitFor([&] { return externalEditor.wasStarted(); }, 20000));
    EXPECT_FALSE(gate.uiThreadWaited());
    const QImage handedOver(externalEditor.openedFile());
    ASSERT_EQ(handedOver.size(), QSize(320, 200));
    EXPECT_EQ(handedOver.pixel(10, 100), QColor(Qt::red).rgb());
    EXPECT_EQ(opened.posts.size(), 1);
}

// After launch, a named pipe takes the place of a capture's history file
// (one that would hand out a picture to whoever waits on it). Its card shows
// the placeholder, Edit says the capture cannot be read, and the entry
// leaves the history with the pipe kept aside, as for a damaged file;
// nothing waits on the pipe.
TEST_F(HistoryGridTest, APipeInPlaceOfACapturesFileIsHandledAsDamaged)
{
    RecordingAlertPresenter alerts;
    const QDateTime now = QDateTime::currentDateTime();
    QList<HistoryItem> added;
    for (int i = 0; i < 12; ++i)
        added.append(addCapture(QColor::fromHsv(i * 25, 200, 200), now.addSecs(i - 12)));
    reloadHistoryFromDisk();
    const QUuid piped = added.first().id; // the oldest: last in the grid
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(picture(Qt::red).save(&buffer, "PNG"));
    PipedImage pipe(pngOf(piped), png);
    ASSERT_TRUE(pipe.isValid());

    HistoryView view(*appState);
    view.resize(700, 300);
    view.show();
    ASSERT_EQ(view.cards().size(), 12);
    view.gridArea()->ensureWidgetVisible(view.card(piped));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view.card(piped)->showsPlaceholder(); }, 30000));

    PostRecorder opened(NotificationNames::openEditor);
    LogCapture log;
    view.setHoveredID(piped);
    view.card(piped)->actionButton("pencil")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !alerts.alerts.isEmpty(); }, 30000));
    EXPECT_EQ(alerts.alerts[0].title, "Could not open this image");
    ASSERT_TRUE(QTest::qWaitFor([&] { return appState->history().size() == 11; }, 30000));
    EXPECT_EQ(view.cards().size(), 11);
    EXPECT_EQ(view.card(piped), nullptr);
    EXPECT_TRUE(log.contains("cannot decode " + pngOf(piped)));
    HistoryService::shared().waitForPendingWrites();
    EXPECT_EQ(QDir(HistoryService::shared().storeDir())
                  .entryList({QFileInfo(pngOf(piped)).fileName() + ".unreadable-*"}, QDir::System)
                  .size(),
              1);
    EXPECT_TRUE(opened.posts.isEmpty());
    EXPECT_FALSE(pipe.uiThreadWaited());
}

TEST_F(HistoryGridTest, ArrowKeysMoveTheSelectionThroughTheGridAndShiftExtendsIt)
{
    const QDateTime now = QDateTime::currentDateTime();
    for (int i = 0; i < 8; ++i)
        addCapture(QColor::fromHsv(i * 40, 200, 200), now.addSecs(-i));
    HistoryView view(*appState);
    view.resize(700, 300); // three columns, less than two rows in view
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    const QList<HistoryCard *> cards = view.cards();
    ASSERT_EQ(cards.size(), 8);
    int columns = 0;
    while (columns < cards.size() && cards[columns]->y() == cards[0]->y())
        ++columns;
    ASSERT_EQ(columns, 3);

    auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget *focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : view.gridArea(), key, modifiers);
    };
    auto selected = [&](std::initializer_list<int> indexes) {
        QSet<QUuid> ids;
        for (int i : indexes)
            ids.insert(cards[i]->item().id);
        return ids;
    };
    auto inView = [&](int i) {
        return cards[i]->visibleRegion().boundingRect() == cards[i]->rect();
    };

    // With no card in focus the first key takes the first card.
    view.gridArea()->setFocus();
    press(Qt::Key_Down);
    EXPECT_EQ(view.selectedIDs(), selected({0}));
    EXPECT_TRUE(cards[0]->hasFocus());

    // By one sideways, by a row up and down, stopping at the ends.
    const struct
    {
        Qt::Key key;
        int to;
    } moves[] = {{Qt::Key_Right, 1}, {Qt::Key_Down, 4}, {Qt::Key_Down, 7}, {Qt::Key_Down, 7}, {Qt::Key_Right, 7},
                 {Qt::Key_Up, 4},    {Qt::Key_Left, 3}, {Qt::Key_Left, 2}, {Qt::Key_Up, 0},   {Qt::Key_Left, 0}};
    for (const auto &move : moves) {
        press(move.key);
        SCOPED_TRACE(move.to);
        EXPECT_EQ(view.selectedIDs(), selected({move.to}));
        EXPECT_TRUE(cards[move.to]->hasFocus());
        EXPECT_TRUE(inView(move.to)); // scrolled to, whichever way
        EXPECT_TRUE(cards[move.to]->isSelected());
    }
    EXPECT_EQ(view.exportSelectedButton()->text(), "Export Selected (1)");

    // Shift extends from where the last plain move left the selection.
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedIDs(), selected({6, 7}));
    press(Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedIDs(), selected({4, 5, 6}));
    EXPECT_TRUE(cards[4]->hasFocus());
    EXPECT_EQ(view.exportSelectedButton()->text(), "Export Selected (3)");
    press(Qt::Key_Up, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedIDs(), selected({1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(inView(1));
    // A card toggled with Space is where the next extension starts.
    cards[1]->setFocus();
    press(Qt::Key_Space);
    press(Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_EQ(view.selectedIDs(), selected({0, 1}));
    press(Qt::Key_Right);
    EXPECT_EQ(view.selectedIDs(), selected({1}));
}
