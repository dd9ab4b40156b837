#include "HistoryTestSupport.h"

#include "model/NotificationNames.h"
#include "platform/SavePanel.h"
#include "windows/AdaptiveGridLayout.h"
#include "windows/CaptureModeCard.h"
#include "windows/ContentView.h"
#include "windows/HistoryCard.h"
#include "windows/HistoryView.h"
#include "windows/QuickCaptureView.h"
#include "windows/RecentThumbnailCard.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

namespace {

class ContentViewTest : public HistoryTestBase
{
};

// Answers every save panel with one path.
class AnsweringSavePanel : public SavePanel
{
public:
    explicit AnsweringSavePanel(QString path) : m_path(std::move(path)) { SavePanel::setCurrent(this); }
    ~AnsweringSavePanel() override { SavePanel::setCurrent(nullptr); }
    void begin(const Request &request, Completion completion) override
    {
        requests.append(request);
        completion(m_path);
    }
    QList<Request> requests;

private:
    QString m_path;
};

QAction *actionNamed(QMenu &menu, const QString &text)
{
    for (QAction *a : menu.actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

QStringList menuTexts(QMenu &menu)
{
    QStringList texts;
    for (QAction *a : menu.actions())
        texts.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    return texts;
}

} // namespace

TEST(AdaptiveColumns, FitAsManyColumnsAsTheWidthHoldsAndWidenThemUpToTheirMaximum)
{
    // The mode cards: 140...180 wide, 16 apart, in at most 600 points.
    AdaptiveColumns c = AdaptiveColumns::fit(600, 140, 180, 16);
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(c.width, 180);
    // The narrowest window leaves 476 points: still three, narrower.
    c = AdaptiveColumns::fit(476, 140, 180, 16);
    EXPECT_EQ(c.count, 3);
    EXPECT_EQ(c.width, 148);
    // The history grid: 180...250 wide, 12 apart.
    c = AdaptiveColumns::fit(191 * 4 + 36, 180, 250, 12);
    EXPECT_EQ(c.count, 4);
    EXPECT_EQ(c.width, 191);
    c = AdaptiveColumns::fit(180 * 4 + 35, 180, 250, 12);
    EXPECT_EQ(c.count, 3);
    c = AdaptiveColumns::fit(300, 180, 250, 12);
    EXPECT_EQ(c.count, 1);
    EXPECT_EQ(c.width, 250);
    // Too narrow for one column: the one column takes what there is.
    c = AdaptiveColumns::fit(100, 180, 250, 12);
    EXPECT_EQ(c.count, 1);
    EXPECT_EQ(c.width, 100);

    // The layout places items by those columns, rows centred.
    QWidget host;
    auto *grid = new AdaptiveGridLayout(180, 250, 12, 12, &host);
    QList<QWidget *> items;
    for (int i = 0; i < 5; ++i) {
        auto *w = new QWidget;
        w->setFixedHeight(50);
        w->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        grid->addWidget(w);
        items.append(w);
    }
    grid->setGeometry(QRect(0, 0, 800, grid->heightForWidth(800)));
    EXPECT_EQ(grid->columns().count, 4);
    EXPECT_EQ(items[3]->geometry(), QRect(3 * (191 + 12), 0, 191, 50));
    EXPECT_EQ(items[4]->geometry(), QRect(0, 62, 191, 50));
    EXPECT_EQ(grid->heightForWidth(800), 112);
    EXPECT_EQ(grid->heightForWidth(400), 3 * 50 + 2 * 12); // two columns
    // One column at its widest, centred.
    grid->setGeometry(QRect(0, 0, 300, grid->heightForWidth(300)));
    EXPECT_EQ(items[1]->geometry(), QRect(25, 62, 250, 50));
}

TEST_F(ContentViewTest, SidebarSwitchesPagesAndTheHistoryPageStartsAfreshEachTime)
{
    const HistoryItem item = addCapture(Qt::red, QDateTime::currentDateTime());
    ContentView view(*appState);
    view.resize(820, 560);
    view.show();
    EXPECT_EQ(view.minimumSize(), QSize(700, 450));
    EXPECT_EQ(view.selectedTab(), ContentTab::capture);
    ASSERT_NE(view.quickCaptureView(), nullptr);
    EXPECT_TRUE(view.quickCaptureView()->isVisibleTo(&view));
    EXPECT_EQ(view.historyView(), nullptr);

    // The rows below the "Capture" section: Quick Capture, History.
    ASSERT_EQ(view.sidebar()->count(), 3);
    EXPECT_EQ(view.sidebar()->item(0)->text(), "Capture");
    EXPECT_FALSE(view.sidebar()->item(0)->flags() & Qt::ItemIsSelectable);
    view.sidebar()->setCurrentRow(2);
    EXPECT_EQ(view.selectedTab(), ContentTab::history);
    ASSERT_NE(view.historyView(), nullptr);
    EXPECT_FALSE(view.quickCaptureView()->isVisibleTo(&view));
    view.historyView()->toggleSelection(item.id);
    view.historyView()->setHoveredID(item.id);
    ASSERT_EQ(view.historyView()->selectedIDs().size(), 1);

    view.sidebar()->setCurrentRow(1);
    EXPECT_EQ(view.selectedTab(), ContentTab::capture);
    EXPECT_EQ(view.historyView(), nullptr);
    EXPECT_TRUE(view.quickCaptureView()->isVisibleTo(&view));

    view.setSelectedTab(ContentTab::history);
    EXPECT_EQ(view.sidebar()->currentRow(), 2);
    ASSERT_NE(view.historyView(), nullptr);
    EXPECT_TRUE(view.historyView()->selectedIDs().isEmpty());
    EXPECT_FALSE(view.historyView()->hoveredID().has_value());

    // Control-clicking the selected row leaves it selected with its page.
    QListWidget *sidebar = view.sidebar();
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      sidebar->visualItemRect(sidebar->item(2)).center());
    EXPECT_EQ(view.selectedTab(), ContentTab::history);
    EXPECT_EQ(sidebar->selectedItems(), QList<QListWidgetItem *>{sidebar->item(2)});
    QTest::mouseClick(sidebar->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      sidebar->visualItemRect(sidebar->item(1)).center());
    EXPECT_EQ(view.selectedTab(), ContentTab::capture);
    EXPECT_EQ(sidebar->selectedItems(), QList<QListWidgetItem *>{sidebar->item(1)});

    // Both settings buttons ask the shell for the settings window.
    PostRecorder settings(NotificationNames::showSettings);
    QTest::mouseClick(view.settingsButton(), Qt::LeftButton);
    view.toolbarSettingsButton()->click();
    EXPECT_EQ(settings.posts.size(), 2);
    EXPECT_TRUE(settings.posts.value(0).isEmpty());
    EXPECT_EQ(view.toolbarSettingsButton()->toolTip(), "Open Settings");
}

TEST_F(ContentViewTest, RecentStripShowsTheSixNewestAndFollowsTheHistory)
{
    QuickCaptureView page(*appState);
    page.resize(640, 600);
    page.show();
    EXPECT_FALSE(page.recentSection()->isVisibleTo(&page));
    EXPECT_TRUE(page.recentCards().isEmpty());

    const QDateTime start = QDateTime::currentDateTime().addSecs(-600);
    QList<HistoryItem> added;
    for (int i = 0; i < 8; ++i)
        added.prepend(addCapture(QColor::fromHsv(i * 40, 200, 200), start.addSecs(i)));
    EXPECT_TRUE(page.recentSection()->isVisibleTo(&page));
    const QList<RecentThumbnailCard *> cards = page.recentCards();
    ASSERT_EQ(cards.size(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(cards[i]->item().id, added[i].id) << i;
    // Left to right, newest first; 80 points high.
    EXPECT_LT(cards[0]->x(), cards[1]->x());
    EXPECT_EQ(cards[0]->sizeHint().height() - 12, RecentThumbnailCard::thumbnailHeight);
    EXPECT_EQ(cards[0]->toolTip(), "Region");

    appState->setHistory({});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(page.recentSection()->isVisibleTo(&page));
    EXPECT_TRUE(page.recentCards().isEmpty());
}

// The strip's place is kept before the first capture: the page neither grows
// (which would bring in the scroll bar) nor moves its cards when it arrives.
TEST_F(ContentViewTest, TheFirstCaptureMovesNothingOnThePage)
{
    QuickCaptureView page(*appState);
    page.resize(640, 600);
    page.show();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const QSize hint = page.sizeHint();
    const int minimumHeight = page.minimumSizeHint().height();
    const QRect section = page.recentSection()->geometry();
    ASSERT_FALSE(section.isEmpty());

    addCapture(Qt::blue, QDateTime::currentDateTime());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_TRUE(page.recentSection()->isVisibleTo(&page));
    EXPECT_EQ(page.sizeHint(), hint);
    EXPECT_EQ(page.minimumSizeHint().height(), minimumHeight);
    EXPECT_EQ(page.recentSection()->geometry(), section);
}

// A card at rest is drawn once and copied afterwards; what it shows still
// follows its picture arriving, the palette and the keyboard focus, also for
// the card that takes its place when the strip is built again.
TEST_F(ContentViewTest, ARecentCardRedrawsWhenItsPictureOrPaletteChanges)
{
    QuickCaptureView page(*appState);
    page.resize(820, 560);
    page.show();
    const HistoryItem first = addCapture(Qt::red, QDateTime::currentDateTime());
    ASSERT_EQ(page.recentCards().size(), 1);
    const auto centreOf = [](RecentThumbnailCard *card) {
        const QImage shown = card->grab().toImage();
        return shown.pixelColor(shown.width() / 2, shown.height() / 2);
    };
    // While the picture loads the card shows its palette's colour.
    RecentThumbnailCard *loading = page.recentCards().first();
    EXPECT_EQ(centreOf(loading), loading->palette().color(QPalette::AlternateBase));
    QPalette palette = loading->palette();
    palette.setColor(QPalette::AlternateBase, QColor(0, 200, 0));
    loading->setPalette(palette);
    EXPECT_EQ(centreOf(loading), QColor(0, 200, 0));
    settleThumbnails();
    EXPECT_EQ(centreOf(loading), QColor(Qt::red));

    // A second capture builds the strip again: the first card comes back.
    addCapture(Qt::blue, QDateTime::currentDateTime().addSecs(1));
    settleThumbnails();
    ASSERT_EQ(page.recentCards().size(), 2);
    RecentThumbnailCard *card = page.recentCards()[1];
    ASSERT_EQ(card->item().id, first.id);
    EXPECT_EQ(centreOf(card), QColor(Qt::red));

    // With the focus the outline shows; without it, the card is as at rest.
    const QImage rest = card->grab().toImage();
    card->setFocus();
    ASSERT_TRUE(card->hasFocus());
    EXPECT_NE(card->grab().toImage(), rest);
    card->clearFocus();
    EXPECT_EQ(card->grab().toImage(), rest);
}

// Once the strip is full, each capture moves the entries along its cards: a
// wide capture widens the first card, the others show the entries before it,
// and deleting entries shortens the strip from the end.
TEST_F(ContentViewTest, AFullStripMovesItsEntriesAlongAndShrinksFromTheEnd)
{
    QuickCaptureView page(*appState);
    page.resize(1400, 600);
    page.show();
    const QDateTime start = QDateTime::currentDateTime().addSecs(-600);
    QList<HistoryItem> added;
    for (int i = 0; i < QuickCaptureView::recentCount; ++i)
        added.prepend(addCapture(QColor::fromHsv(i * 40, 200, 200), start.addSecs(i), CaptureMode::window));
    const HistoryItem wide = addCapture(Qt::blue, start.addSecs(100), CaptureMode::region, std::nullopt, true,
                                        QSize(1600, 100));
    added.prepend(wide);
    QList<RecentThumbnailCard *> cards = page.recentCards();
    ASSERT_EQ(cards.size(), QuickCaptureView::recentCount);
    for (int i = 0; i < cards.size(); ++i)
        EXPECT_EQ(cards[i]->item().id, added[i].id) << i;
    EXPECT_EQ(cards[0]->toolTip(), "Region");
    EXPECT_EQ(cards[1]->toolTip(), "Window");
    EXPECT_EQ(cards[0]->width(), cards[0]->sizeHint().width());
    EXPECT_EQ(cards[0]->sizeHint().width() - 12, 16 * RecentThumbnailCard::thumbnailHeight);
    EXPECT_LT(cards[0]->geometry().right(), cards[1]->x());
    settleThumbnails();
    const QImage first = cards[0]->grab().toImage();
    EXPECT_EQ(first.pixelColor(first.width() / 2, first.height() / 2), QColor(Qt::blue));

    QList<HistoryItem> kept = appState->history().mid(0, 2);
    appState->setHistory(kept);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    cards = page.recentCards();
    ASSERT_EQ(cards.size(), 2);
    EXPECT_EQ(cards[0]->item().id, wide.id);
    EXPECT_EQ(cards[1]->item().id, added[1].id);
}

// A very wide capture gives a wide thumbnail, still 80 points high.
TEST_F(ContentViewTest, AWideCapturesThumbnailKeepsItsHeight)
{
    QuickCaptureView page(*appState);
    page.resize(820, 560);
    page.show();
    // 1600 x 100 pixels at two pixels per point: 16 times as wide as high.
    addCapture(Qt::blue, QDateTime::currentDateTime(), CaptureMode::region, std::nullopt, true, QSize(1600, 100));
    ASSERT_EQ(page.recentCards().size(), 1);
    RecentThumbnailCard *card = page.recentCards().first();
    EXPECT_EQ(card->sizeHint().height() - 12, RecentThumbnailCard::thumbnailHeight);
    EXPECT_EQ(card->sizeHint().width() - 12, 16 * RecentThumbnailCard::thumbnailHeight);

    settleThumbnails();
    card->resize(card->sizeHint());
    const QImage shown = card->grab().toImage();
    // The blue band is the middle third of the picture.
    int bandRows = 0;
    for (int y = 0; y < shown.height(); ++y) {
        const QColor c = shown.pixelColor(shown.width() / 2, y);
        if (c.blue() > 200 && c.red() < 60 && c.green() < 60)
            ++bandRows;
    }
    EXPECT_NEAR(bandRows, RecentThumbnailCard::thumbnailHeight / 3, 2);
}

// The strip has no scroll bar to drag: an ordinary wheel moves it along.
TEST_F(ContentViewTest, RecentStripScrollsSidewaysWithTheWheel)
{
    QuickCaptureView page(*appState);
    page.resize(820, 560);
    page.show();
    const QDateTime start = QDateTime::currentDateTime().addSecs(-600);
    for (int i = 0; i < 6; ++i)
        addCapture(QColor::fromHsv(i * 40, 200, 200), start.addSecs(i));
    QCoreApplication::processEvents();
    auto *strip = page.recentSection()->findChild<QScrollArea *>();
    ASSERT_TRUE(strip);
    QScrollBar *bar = strip->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "six captures are wider than the page";

    const auto turn = [](QWidget *w, QPoint angle) {
        QWheelEvent wheel(QPointF(w->rect().center()), QPointF(w->mapToGlobal(w->rect().center())), QPoint(), angle,
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(w, &wheel);
        return wheel.isAccepted();
    };
    // (Sent events do not travel up from the card, so it goes where a
    // real wheel over a card ends up.)
    QWidget *viewport = strip->viewport();
    EXPECT_TRUE(turn(viewport, QPoint(0, -120)));
    const int down = bar->value();
    EXPECT_GT(down, 0);
    turn(viewport, QPoint(0, -120 * 20));
    EXPECT_EQ(bar->value(), bar->maximum());
    turn(viewport, QPoint(-120, 0)); // a sideways wheel still works; at the end it goes on to the page
    EXPECT_EQ(bar->value(), bar->maximum());
    turn(viewport, QPoint(0, 120 * 20));
    EXPECT_EQ(bar->value(), 0);
}

// How many of the image's pixels are (nearly) the colour.
static int pixelsOf(const QImage &image, const QColor &color)
{
    int n = 0;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QColor c = argb.pixelColor(x, y);
            if (c.alpha() > 200 && std::abs(c.red() - color.red()) < 40 && std::abs(c.green() - color.green()) < 40 &&
                std::abs(c.blue() - color.blue()) < 40)
                ++n;
        }
    return n;
}

// How many of the image's pixels are a strong red.
static int redPixels(const QImage &image)
{
    int n = 0;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QColor c = argb.pixelColor(x, y);
            if (c.alpha() > 200 && c.red() > 180 && c.green() < 110 && c.blue() < 110)
                ++n;
        }
    return n;
}

// Deleting looks destructive wherever it is offered: the history card's
// trash button and the thumbnail menu's "Delete" are red. The page's
// header symbol is drawn in the accent colour.
TEST_F(ContentViewTest, DeleteIsRedAndTheHeaderSymbolTakesTheAccent)
{
    addCapture(Qt::blue, QDateTime::currentDateTime());
    ContentView view(*appState);
    view.resize(820, 560);
    view.show();

    QuickCaptureView *page = view.quickCaptureView();
    auto *symbol = page->findChild<QLabel *>("QuickCaptureSymbol");
    ASSERT_TRUE(symbol);
    const QImage header = symbol->pixmap().toImage();
    const QColor accent = symbol->palette().color(QPalette::Highlight);
    EXPECT_GT(pixelsOf(header, accent), 100);
    EXPECT_EQ(pixelsOf(header, symbol->palette().color(QPalette::WindowText)), 0);

    std::unique_ptr<QMenu> menu = page->recentCards()[0]->buildMenu();
    QAction *remove = actionNamed(*menu, "Delete");
    ASSERT_TRUE(remove);
    // The titles, right of the icons (the trash symbol is red by itself).
    const auto title = [&](QAction *action) {
        QRect r = menu->actionGeometry(action);
        r.setLeft(r.left() + 28);
        return menu->grab(r).toImage();
    };
    menu->popup(QPoint(0, 0));
    EXPECT_GT(redPixels(title(remove)), 10) << "Delete";
    EXPECT_EQ(redPixels(title(actionNamed(*menu, "Copy"))), 0) << "Copy";
    menu->hide();

    view.setSelectedTab(ContentTab::history);
    HistoryCard *card = view.historyView()->cards().first();
    view.historyView()->setHoveredID(card->item().id);
    QCoreApplication::processEvents();
    QToolButton *trash = card->actionButton("trash");
    ASSERT_TRUE(trash);
    EXPECT_GT(redPixels(trash->grab().toImage()), 10) << "trash";
    EXPECT_EQ(redPixels(card->actionButton("pencil")->grab().toImage()), 0) << "pencil";
}

TEST_F(ContentViewTest, CardClickPostsItsModeAndTheChipFollowsTheBindings)
{
    AppState::setHotKeyBinding(HotKeyBinding(18, HotKeyBinding::controlModifier | HotKeyBinding::shiftModifier),
                               CaptureShortcut::fullscreen);
    QuickCaptureView page(*appState);
    page.resize(640, 600);
    page.show();
    const QList<CaptureModeCard *> cards = page.modeCards();
    ASSERT_EQ(cards.size(), 5);
    EXPECT_EQ(cards[2]->objectName(), "CaptureModeCard.region");
    EXPECT_EQ(cards[0]->chipText(), "Ctrl+Shift+1");
    // Three columns of at most 180 points: two rows.
    EXPECT_EQ(cards[0]->width(), 180);
    EXPECT_EQ(cards[3]->y(), cards[0]->y() + cards[0]->height() + 16);

    PostRecorder captures(NotificationNames::initCapture);
    QTest::mouseClick(cards[2], Qt::LeftButton);
    ASSERT_EQ(captures.posts.size(), 1);
    const QVariant mode = captures.posts[0].value("mode");
    ASSERT_EQ(mode.metaType(), QMetaType::fromType<CaptureMode>());
    EXPECT_EQ(mode.value<CaptureMode>(), CaptureMode::region);

    // Clearing the binding in the settings shows the dash at once; another
    // mode's new binding shows up too.
    AppState::setHotKeyBinding(HotKeyBinding(), CaptureShortcut::fullscreen);
    EXPECT_EQ(cards[0]->shortcutText(), QString());
    EXPECT_EQ(cards[0]->chipText(), QString::fromUtf8("—"));
    AppState::setHotKeyBinding(HotKeyBinding(0, HotKeyBinding::commandModifier), CaptureShortcut::timed);
    EXPECT_EQ(cards[4]->chipText(), "Super+A");
}

TEST_F(ContentViewTest, ThumbnailMenuOpensCopiesAndDeletesFromBothListsAndTheDisk)
{
    const QString saved = TestHome::path() + "/Vorna_saved.png";
    ASSERT_TRUE(picture(Qt::blue).save(saved));
    const HistoryItem older = addCapture(Qt::green, QDateTime::currentDateTime().addSecs(-5));
    const HistoryItem newer = addCapture(Qt::blue, QDateTime::currentDateTime(), CaptureMode::window, saved);
    ContentView view(*appState);
    view.setSelectedTab(ContentTab::capture);
    QuickCaptureView *page = view.quickCaptureView();
    ASSERT_EQ(page->recentCards().size(), 2);

    // "Show in File Manager" only while the saved file is there.
    std::unique_ptr<QMenu> menu = page->recentCards()[0]->buildMenu();
    EXPECT_EQ(menuTexts(*menu), QStringList({"Open in Editor", "Copy", "Save As…", "Show in File Manager", "-", "Delete"}));
    EXPECT_EQ(menuTexts(*page->recentCards()[1]->buildMenu()),
              QStringList({"Open in Editor", "Copy", "Save As…", "-", "Delete"}));
    QFile::remove(saved);
    EXPECT_EQ(actionNamed(*page->recentCards()[0]->buildMenu(), "Show in File Manager"), nullptr);

    // Without an external editor, the built-in one gets the image.
    PostRecorder editor(NotificationNames::openEditor);
    actionNamed(*menu, "Open in Editor")->trigger();
    // Once its pixels have been read in the background.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !editor.posts.isEmpty(); }, 30000));
    EXPECT_EQ(editor.posts.size(), 1);
    EXPECT_EQ(appState->capturedImage(), newer.image);
    QGuiApplication::clipboard()->clear();
    actionNamed(*menu, "Copy")->trigger();
    ASSERT_TRUE(QTest::qWaitFor([] { return !QGuiApplication::clipboard()->image().isNull(); }, 30000));
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32).pixel(10, 100),
              QColor(Qt::blue).rgb());

    // Save As: the default format taken at the click, written where the panel says.
    appState->setDefaultFormat(ImageFormat::png);
    const QString chosen = TestHome::path() + "/chosen.png";
    {
        AnsweringSavePanel savePanel(chosen);
        actionNamed(*menu, "Save As…")->trigger();
        appState->setDefaultFormat(ImageFormat::jpeg);
        ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(chosen); }, 30000));
        ASSERT_EQ(savePanel.requests.size(), 1);
        EXPECT_TRUE(savePanel.requests[0].suggestedName.endsWith(".png"));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !QImage(chosen).isNull(); }, 30000));
    EXPECT_EQ(QImage(chosen).size(), QSize(320, 200));

    // Delete from the strip while the history page shows it too.
    view.setSelectedTab(ContentTab::history);
    HistoryView *history = view.historyView();
    history->toggleSelection(newer.id);
    ASSERT_TRUE(QFile::exists(pngOf(newer.id)));
    actionNamed(*menu, "Delete")->trigger();
    HistoryService::shared().waitForPendingWrites();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(QFile::exists(pngOf(newer.id)));
    EXPECT_TRUE(QFile::exists(pngOf(older.id)));
    ASSERT_EQ(appState->history().size(), 1);
    EXPECT_EQ(appState->history()[0].id, older.id);
    ASSERT_EQ(HistoryService::shared().items().size(), 1);
    ASSERT_EQ(page->recentCards().size(), 1);
    EXPECT_EQ(page->recentCards()[0]->item().id, older.id);
    ASSERT_EQ(history->cards().size(), 1);
    EXPECT_TRUE(history->selectedIDs().isEmpty());
    EXPECT_FALSE(history->exportSelectedButton()->isVisibleTo(history));
    // The manifest on disk no longer names it.
    QFile manifest(HistoryService::shared().manifestPath());
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    const QByteArray manifestBytes = manifest.readAll();
    EXPECT_FALSE(manifestBytes.contains(newer.id.toString(QUuid::WithoutBraces).toUpper().toUtf8()));
    EXPECT_TRUE(manifestBytes.contains(older.id.toString(QUuid::WithoutBraces).toUpper().toUtf8()));
}

TEST_F(ContentViewTest, PicturesOfEntriesThatLeaveTheHistoryAreLetGo)
{
    ContentView view(*appState);
    view.resize(820, 560);
    view.show();
    const QDateTime now = QDateTime::currentDateTime();
    addCapture(QColor(200, 80, 40), now.addSecs(-60));
    const HistoryItem newer = addCapture(QColor(40, 120, 200), now);
    settleThumbnails();
    const qint64 both = ThumbnailCache::shared().bytesCached();
    ASSERT_GT(both, 0);

    // The older entry leaves, as the oldest does when a capture is added to
    // a full history; the newer one keeps its picture.
    appState->setHistory({newer});
    settleThumbnails();
    EXPECT_EQ(ThumbnailCache::shared().bytesCached(), both / 2);
    ASSERT_EQ(view.quickCaptureView()->recentCards().size(), 1);
    EXPECT_FALSE(view.quickCaptureView()->recentCards()[0]->showsPlaceholder());
    appState->setHistory({});
    EXPECT_EQ(ThumbnailCache::shared().bytesCached(), 0);
}

TEST_F(ContentViewTest, RendersBothPagesWithRealCaptures)
{
    // Captures from the history folder, as after a relaunch.
    const QDateTime now = QDateTime::currentDateTime();
    const QString saved = TestHome::path() + "/Vorna_saved.png";
    ASSERT_TRUE(picture(Qt::darkCyan).save(saved));
    addCapture(QColor(200, 80, 40), now.addSecs(-7200), CaptureMode::fullscreen);
    addCapture(QColor(40, 120, 200), now.addSecs(-600), CaptureMode::window, saved);
    addCapture(QColor(60, 160, 80), now.addSecs(-30), CaptureMode::scrolling);
    const HistoryItem damaged = addCapture(QColor(90, 90, 90), now.addSecs(-20), CaptureMode::timed);
    reloadHistoryFromDisk();
    QFile damage(pngOf(damaged.id));
    ASSERT_TRUE(damage.open(QIODevice::ReadWrite));
    damage.resize(60);
    damage.close();

    ContentView view(*appState);
    view.resize(820, 560);
    view.show();
    settleThumbnails();
    for (RecentThumbnailCard *card : view.quickCaptureView()->recentCards())
        EXPECT_EQ(card->showsPlaceholder(), card->item().id == damaged.id);
    const QImage quick = view.grab().toImage();
    view.resize(view.minimumSize());
    QCoreApplication::processEvents();
    const QImage narrow = view.grab().toImage();
    EXPECT_EQ(narrow.size(), QSize(700, 450));
    view.resize(820, 560);

    view.setSelectedTab(ContentTab::history);
    HistoryView *history = view.historyView();
    ASSERT_EQ(history->cards().size(), 4);
    history->toggleSelection(history->cards()[1]->item().id);
    history->setHoveredID(history->cards()[2]->item().id);
    settleThumbnails();
    QTest::qWait(250); // the hover and selection ease in
    // Pictures came from the history files at display size; no capture was
    // decoded in full.
    for (const HistoryItem &item : appState->history())
        EXPECT_FALSE(item.image.isDecoded());
    EXPECT_TRUE(history->card(damaged.id)->showsPlaceholder());
    EXPECT_FALSE(history->cards()[1]->showsPlaceholder());
    const QImage grid = view.grab().toImage();
    EXPECT_FALSE(quick.isNull());
    EXPECT_FALSE(grid.isNull());
    if (qEnvironmentVariableIsSet("VORNA_SAVE_RENDERINGS")) {
        quick.save(qEnvironmentVariable("VORNA_SAVE_RENDERINGS") + "/main-quick-capture.png");
        grid.save(qEnvironmentVariable("VORNA_SAVE_RENDERINGS") + "/main-history.png");
        view.quickCaptureView()->grab().save(qEnvironmentVariable("VORNA_SAVE_RENDERINGS") + "/main-quick-capture-page.png");
        narrow.save(qEnvironmentVariable("VORNA_SAVE_RENDERINGS") + "/main-quick-capture-narrow.png");
    }

    // The damaged capture can still be deleted, from both pages at once.
    history->setHoveredID(damaged.id);
    history->card(damaged.id)->actionButton("trash")->click();
    HistoryService::shared().waitForPendingWrites();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(history->cards().size(), 3);
    EXPECT_EQ(view.quickCaptureView()->recentCards().size(), 3);
    EXPECT_FALSE(QFile::exists(pngOf(damaged.id)));
    HistoryService::resetShared();
    EXPECT_EQ(HistoryService::shared().items().size(), 3);
}
