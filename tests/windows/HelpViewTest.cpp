// The help window: its sidebar, the selected topic kept by the window, and
// every page laid out from its blocks.
#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/WindowManager.h"
#include "windows/HelpBlocks.h"
#include "windows/HelpDetailView.h"
#include "windows/HelpView.h"
#include "windows/ScrollCaptureAnimationView.h"

#include <QApplication>
#include <QIcon>
#include <QListWidget>
#include <QMap>
#include <QPainter>
#include <QPointer>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

const HelpTopic kAllTopics[] = {HelpTopic::gettingStarted, HelpTopic::captureFullscreen, HelpTopic::captureWindow,
                                HelpTopic::captureRegion,  HelpTopic::captureScrolling,  HelpTopic::captureTimed,
                                HelpTopic::annotationTools, HelpTopic::beautifier,       HelpTopic::shortcuts,
                                HelpTopic::formats,        HelpTopic::tips};

QRect inPage(QWidget *block, QWidget *page)
{
    return QRect(block->mapTo(page, QPoint(0, 0)), block->size());
}

// Every label under a widget, the widget itself included.
QList<QLabel *> labelsOf(QWidget *w)
{
    QList<QLabel *> out = w->findChildren<QLabel *>();
    if (auto *self = qobject_cast<QLabel *>(w))
        out.prepend(self);
    return out;
}

// Texts on a page: translated ones carry the marker the translator adds.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *, const char *source, const char *, int) const override
    {
        return QStringLiteral("«") + QString::fromUtf8(source) + QStringLiteral("»");
    }
    bool isEmpty() const override { return false; }
};

// Contrast of two colours as readability guidelines measure it.
double contrastOf(QColor a, QColor b)
{
    const auto luminance = [](QColor c) {
        const auto ch = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * ch(c.redF()) + 0.7152 * ch(c.greenF()) + 0.0722 * ch(c.blueF());
    };
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// Each group header of the sidebar as drawn: its text and the best contrast
// one of its pixels has against the background it stands on.
QMap<QString, double> headerContrasts(HelpView &view)
{
    QListWidget *sidebar = view.sidebar();
    const QImage drawn = sidebar->viewport()->grab().toImage();
    QMap<QString, double> out;
    for (int i = 0; i < sidebar->count(); ++i) {
        QListWidgetItem *item = sidebar->item(i);
        if (item->flags() & Qt::ItemIsSelectable)
            continue;
        const QRect rect = sidebar->visualItemRect(item) & drawn.rect();
        // The background: the colour most of the header's row has.
        QMap<QRgb, int> counts;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                ++counts[drawn.pixel(x, y)];
        QRgb background = 0;
        for (auto it = counts.begin(); it != counts.end(); ++it)
            if (it.value() > counts.value(background))
                background = it.key();
        double best = 1;
        for (auto it = counts.begin(); it != counts.end(); ++it)
            best = std::max(best, contrastOf(QColor(it.key()), QColor(background)));
        EXPECT_EQ(QColor(background), sidebar->palette().color(QPalette::Base)) << item->text().toStdString();
        out.insert(item->text(), best);
    }
    return out;
}

} // namespace

TEST(HelpView, SidebarListsElevenTopicsInFourGroupsAndAlwaysKeepsOneSelected)
{
    HelpView view;
    view.resize(780, 580);
    view.show();
    QListWidget *list = view.sidebar();
    QStringList rows;
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem *item = list->item(i);
        const bool header = !(item->flags() & Qt::ItemIsSelectable);
        rows << (header ? "# " : "") + item->text();
        if (!header)
            EXPECT_EQ(view.rowOf(view.selectedTopic()) == item, item->isSelected()) << item->text().toStdString();
    }
    EXPECT_EQ(rows, QStringList({"Getting Started", "# Features", "Full Screen Capture", "Window Capture",
                                 "Region Capture", "Scrolling Capture", "Timed Capture", "# Editor",
                                 "Annotation Tools", "Beautifier", "# Other", "Keyboard Shortcuts", "Image Formats",
                                 "Tips & Tricks"}));
    // Each row stands for its topic, in the topics' own order.
    int previous = -1;
    for (const HelpTopic topic : kAllTopics) {
        QListWidgetItem *row = view.rowOf(topic);
        ASSERT_NE(row, nullptr);
        EXPECT_GT(list->row(row), previous);
        previous = list->row(row);
    }
    EXPECT_EQ(view.selectedTopic(), HelpTopic::gettingStarted);
    EXPECT_EQ(view.detail()->topic(), HelpTopic::gettingStarted);
    EXPECT_GE(view.minimumSize().width(), 700);
    EXPECT_GE(view.minimumSize().height(), 500);
    EXPECT_GE(list->minimumWidth(), 200);

    // Clicking a row shows its page; clicking a header or control-clicking
    // the selected row keeps the selection.
    QSignalSpy changed(&view, &HelpView::selectedTopicChanged);
    const auto click = [&](QListWidgetItem *item, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, list->visualItemRect(item).center());
    };
    click(view.rowOf(HelpTopic::formats));
    EXPECT_EQ(view.selectedTopic(), HelpTopic::formats);
    EXPECT_EQ(view.detail()->topic(), HelpTopic::formats);
    click(list->item(1)); // "Features"
    click(view.rowOf(HelpTopic::formats), Qt::ControlModifier);
    EXPECT_EQ(view.selectedTopic(), HelpTopic::formats);
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems().first(), view.rowOf(HelpTopic::formats));
    list->clearSelection();
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems().first(), view.rowOf(HelpTopic::formats));
    EXPECT_EQ(changed.size(), 1);

    // The keyboard moves over the rows, never onto a header.
    list->setFocus();
    view.setSelectedTopic(HelpTopic::captureTimed);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(view.selectedTopic(), HelpTopic::annotationTools);
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(view.selectedTopic(), HelpTopic::captureTimed);
}

TEST(HelpView, TheWindowKeepsTheChosenTopicAcrossClosingAndReopening)
{
    AppDelegate delegate;
    delegate.openHelp();
    AppWindow *window = delegate.windows().helpWindow();
    auto *view = qobject_cast<HelpView *>(window->rootView());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->selectedTopic(), HelpTopic::gettingStarted);
    EXPECT_TRUE(view->rowOf(HelpTopic::gettingStarted)->isSelected());
    view->setSelectedTopic(HelpTopic::shortcuts);
    window->close();
    delegate.openHelp();
    EXPECT_EQ(qobject_cast<HelpView *>(delegate.windows().helpWindow()->rootView()), view);
    EXPECT_EQ(view->selectedTopic(), HelpTopic::shortcuts);
    EXPECT_TRUE(view->rowOf(HelpTopic::shortcuts)->isSelected());
    EXPECT_EQ(view->detail()->topic(), HelpTopic::shortcuts);
}

// Every page: a title first, then its blocks stacked top to bottom 16 points
// apart, hugging the left edge 32 points in, none wider than the column, no
// text cut off. Checked at the window's width and at a narrow one, where
// long texts wrap onto more lines instead.
TEST(HelpView, EveryPageStacksItsBlocksAndWrapsAtANarrowWidth)
{
    struct Page
    {
        HelpTopic topic;
        const char *title;
        int blocks;
        int steps;
        int features;
        const char *shortcut; // the badge, when the page has one
    };
    const Page pages[] = {
        {HelpTopic::gettingStarted, "Welcome to Vorna", 10, 5, 0, nullptr},
        {HelpTopic::captureFullscreen, "Full Screen Capture", 6, 0, 0, "Ctrl + Shift + 1"},
        {HelpTopic::captureWindow, "Window Capture", 8, 3, 0, "Ctrl + Shift + 2"},
        {HelpTopic::captureRegion, "Region Capture", 8, 0, 3, "Ctrl + Shift + 3"},
        {HelpTopic::captureScrolling, "Scrolling Capture", 10, 4, 0, "Ctrl + Shift + 4"},
        {HelpTopic::captureTimed, "Timed Capture", 5, 0, 0, "Ctrl + Shift + 5"},
        {HelpTopic::annotationTools, "Annotation Tools", 14, 0, 10, nullptr},
        {HelpTopic::beautifier, "Screenshot Beautifier", 5, 0, 3, nullptr},
        {HelpTopic::shortcuts, "Keyboard Shortcuts", 5, 0, 0, nullptr},
        {HelpTopic::formats, "Image Formats", 7, 0, 4, nullptr},
        {HelpTopic::tips, "Tips & Tricks", 8, 0, 0, nullptr},
    };
    HelpDetailView detail(HelpTopic::gettingStarted);
    detail.show();
    for (const int width : {760, 480}) {
        detail.resize(width, 480);
        for (const Page &page : pages) {
            SCOPED_TRACE(std::string(page.title) + " at " + std::to_string(width));
            detail.setTopic(page.topic);
            QApplication::processEvents();
            const QList<QWidget *> blocks = detail.blocks();
            ASSERT_EQ(blocks.size(), page.blocks);
            auto *title = qobject_cast<HelpTitle *>(blocks.first());
            ASSERT_TRUE(title);
            EXPECT_EQ(title->text(), page.title);

            QWidget *pageWidget = detail.page();
            EXPECT_EQ(pageWidget->mapTo(detail.widget(), QPoint(0, 0)), QPoint(32, 32));
            EXPECT_EQ(pageWidget->width(), detail.viewport()->width() - 64);
            int steps = 0, features = 0, lastStep = 0;
            for (int i = 0; i < blocks.size(); ++i) {
                const QRect r = inPage(blocks[i], pageWidget);
                EXPECT_EQ(r.left(), 0) << i;
                EXPECT_LE(r.right(), pageWidget->width() - 1) << i;
                if (i > 0)
                    EXPECT_EQ(r.top(), inPage(blocks[i - 1], pageWidget).bottom() + 1 + 16) << i;
                for (QLabel *label : labelsOf(blocks[i])) {
                    // Wrapped text gets the height it needs: nothing is cut.
                    if (label->wordWrap() && !label->text().isEmpty())
                        EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                            << label->text().toStdString();
                    else if (!label->text().isEmpty())
                        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
                }
                if (auto *step = qobject_cast<HelpStep *>(blocks[i])) {
                    EXPECT_EQ(step->number(), lastStep + 1);
                    lastStep = int(step->number());
                    ++steps;
                    EXPECT_EQ(step->label()->x() - step->badge()->geometry().right() - 1, 12);
                }
                if (auto *feature = qobject_cast<HelpFeature *>(blocks[i])) {
                    ++features;
                    EXPECT_EQ(feature->iconLabel()->size(), QSize(24, 24));
                    EXPECT_LE(feature->titleLabel()->geometry().bottom() + 1 + 2,
                              feature->descriptionLabel()->geometry().top() + 1);
                }
            }
            EXPECT_EQ(steps, page.steps);
            EXPECT_EQ(features, page.features);
            auto *badge = qobject_cast<HelpShortcut *>(blocks.value(1));
            EXPECT_EQ(badge ? badge->text() : QString(), page.shortcut ? QString(page.shortcut) : QString());
            if (badge)
                EXPECT_LT(badge->width(), pageWidget->width() / 2); // it hugs its text
            // The blocks take the height they need; the rest of the column stays empty.
            const int used = inPage(blocks.last(), pageWidget).bottom() + 1;
            int needed = 16 * (blocks.size() - 1);
            for (QWidget *block : blocks)
                needed +=
                    block->hasHeightForWidth() ? block->heightForWidth(block->width()) : block->sizeHint().height();
            EXPECT_EQ(used, needed);
        }
    }

    // At the narrow width the long paragraph takes more lines; the page is
    // taller than the window and scrolls.
    detail.setTopic(HelpTopic::annotationTools);
    detail.resize(760, 480);
    QApplication::processEvents();
    const int wide = detail.blocks().last()->height();
    detail.resize(480, 480);
    QApplication::processEvents();
    EXPECT_GT(detail.blocks().last()->height(), wide);
    EXPECT_GT(detail.verticalScrollBar()->maximum(), 0);
}

TEST(HelpView, ShortcutTablesAndTheDemonstrationSitWhereThePagesPutThem)
{
    HelpDetailView detail(HelpTopic::shortcuts);
    detail.resize(600, 700);
    detail.show();
    QApplication::processEvents();
    const QList<HelpShortcutBox *> boxes = detail.page()->findChildren<HelpShortcutBox *>();
    ASSERT_EQ(boxes.size(), 2);
    QStringList lines;
    for (HelpShortcutBox *box : boxes)
        for (ShortcutHelpRow *row : box->rows()) {
            lines << row->action() + " = " + row->shortcut();
            // The action at the left, the keys at the right of the box.
            EXPECT_LT(row->actionLabel()->x(), row->shortcutLabel()->x());
            EXPECT_GT(row->shortcutLabel()->geometry().right(), box->width() - 40);
        }
    EXPECT_EQ(lines, QStringList({"Full Screen Capture = Ctrl + Shift + 1", "Window Capture = Ctrl + Shift + 2",
                                  "Region Capture = Ctrl + Shift + 3", "Scrolling Capture = Ctrl + Shift + 4",
                                  "Timed Capture = Ctrl + Shift + 5", "Undo = Ctrl + Z", "Redo = Ctrl + Shift + Z",
                                  "Save = Ctrl + S", "Save As... = Ctrl + Shift + S",
                                  "Copy to Clipboard = Ctrl + Shift + C", "Remove Selected Annotation = Delete"}));

    detail.setTopic(HelpTopic::captureScrolling);
    QApplication::processEvents();
    const QList<QWidget *> blocks = detail.blocks();
    auto *demo = blocks[3]->findChild<ScrollCaptureAnimationView *>();
    ASSERT_TRUE(demo);
    // Centred in the column, 8 points from the blocks around it.
    const int centre = demo->mapTo(detail.page(), demo->rect().center()).x();
    EXPECT_NEAR(centre, detail.page()->width() / 2, 1);
    EXPECT_EQ(demo->mapTo(blocks[3], QPoint(0, 0)).y(), 8);
    EXPECT_EQ(blocks[3]->height(), demo->height() + 16);
    // Leaving the page ends the demonstration with it.
    QPointer<ScrollCaptureAnimationView> watched(demo);
    demo->play();
    detail.setTopic(HelpTopic::tips);
    EXPECT_TRUE(watched.isNull());
}

// With a translation loaded every page text is translated, while the key
// combinations and format names stay as written.
TEST(HelpView, TranslationsReachThePageTextsButNotKeysOrFormatNames)
{
    MarkingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    HelpView view;
    view.setSelectedTopic(HelpTopic::formats);
    QStringList texts;
    for (QLabel *label : view.detail()->page()->findChildren<QLabel *>())
        if (!label->text().isEmpty())
            texts << label->text();
    view.setSelectedTopic(HelpTopic::shortcuts);
    for (QLabel *label : view.detail()->page()->findChildren<QLabel *>())
        if (!label->text().isEmpty())
            texts << label->text();
    const QString sidebarRow = view.rowOf(HelpTopic::tips)->text();
    QCoreApplication::removeTranslator(&translator);

    EXPECT_EQ(sidebarRow, "«Tips & Tricks»");
    for (const QString &text : texts) {
        const bool asWritten = text.contains(" + ") || text == "Delete" || text == "PNG" || text == "JPEG"
                               || text == "TIFF" || text == "HEIC";
        if (text == "Delete")
            continue; // a key name
        EXPECT_EQ(text.startsWith("«"), !asWritten) << text.toStdString();
    }
    EXPECT_TRUE(texts.contains("PNG"));
    EXPECT_TRUE(texts.contains("Ctrl + Shift + 5"));
    EXPECT_TRUE(texts.contains("«Image Formats»"));
}

// Each page drawn offscreen: readable text, nothing cut off at the right.
TEST(HelpView, RendersEveryPageOffscreen)
{
    // The icon theme a desktop has (the offscreen platform has none).
    const QString oldTheme = QIcon::themeName();
    const QStringList oldPaths = QIcon::themeSearchPaths();
    QIcon::setThemeSearchPaths(oldPaths + QStringList{QStringLiteral("/usr/share/icons")});
    QIcon::setThemeName(QStringLiteral("Adwaita"));
    HelpView view;
    view.resize(780, 580);
    view.show();
    const QString out = qEnvironmentVariable("VORNA_RENDER_DIR");
    for (const HelpTopic topic : kAllTopics) {
        view.setSelectedTopic(topic);
        QApplication::processEvents();
        QWidget *content = view.detail()->widget();
        const QImage page = content->grab().toImage();
        if (!out.isEmpty()) {
            view.grab().save(QStringLiteral("%1/help-%2.png").arg(out).arg(int(topic)));
            page.save(QStringLiteral("%1/help-page-%2.png").arg(out).arg(int(topic)));
        }
        // The title is drawn in the page's top-left area, in dark ink.
        const QRect titleRect = view.detail()->blocks().first()->geometry().translated(32, 32);
        int dark = 0;
        for (int y = titleRect.top(); y <= titleRect.bottom(); ++y)
            for (int x = titleRect.left(); x < titleRect.left() + 120 && x < page.width(); ++x)
                dark += qGray(page.pixel(x, y)) < 100;
        EXPECT_GT(dark, 40) << int(topic);
    }
    QIcon::setThemeName(oldTheme);
    QIcon::setThemeSearchPaths(oldPaths);
}

// The group headers stay easy to read on the sidebar, with the default
// palette and after a switch to a dark one.
TEST(HelpView, SidebarHeadersAreReadableInLightAndDarkPalettes)
{
    const QPalette before = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(before); });
    HelpView view;
    view.resize(780, 580);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    const QStringList headers{"Features", "Editor", "Other"};

    const QMap<QString, double> light = headerContrasts(view);
    EXPECT_EQ(light.keys(), QStringList({"Editor", "Features", "Other"}));
    for (const QString &header : headers)
        EXPECT_GE(light.value(header), 4.5) << header.toStdString();

    QPalette dark(QColor(60, 60, 60), QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, QColor(225, 225, 225));
    dark.setColor(QPalette::Text, QColor(225, 225, 225));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.sidebar()->palette().color(QPalette::Base), QColor(40, 40, 40));
    const QMap<QString, double> darkContrasts = headerContrasts(view);
    for (const QString &header : headers)
        EXPECT_GE(darkContrasts.value(header), 4.5) << header.toStdString();
}
