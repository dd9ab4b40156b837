#include "windows/HelpDetailView.h"

#include "platform/Localized.h"
#include "windows/HelpBlocks.h"
#include "windows/ScrollCaptureAnimationView.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

constexpr int kPagePadding = 32;
constexpr int kStackSpacing = 20;
constexpr int kBlockSpacing = 16;

// Adds the blocks of one page, top to bottom. Texts are looked up in the
// program's translations; key combinations, format names and symbol names
// are used as written.
class PageBuilder
{
public:
    explicit PageBuilder(QWidget *page) : m_page(page), m_layout(new QVBoxLayout(page))
    {
        m_layout->setContentsMargins(0, 0, 0, 0);
        m_layout->setSpacing(kBlockSpacing);
    }

    void title(const char *text) { add(new HelpTitle(localized(text), m_page)); }
    void subtitle(const char *text) { add(new HelpSubtitle(localized(text), m_page)); }
    void body(const char *text) { add(new HelpBody(localized(text), m_page)); }
    void step(qint64 number, const char *text) { add(new HelpStep(number, localized(text), m_page)); }
    void feature(const char *icon, const char *title, const char *description)
    {
        add(new HelpFeature(QString::fromLatin1(icon), localized(title), localized(description), m_page));
    }
    // A feature whose title is a format name, shown as written.
    void formatFeature(const char *icon, const char *name, const char *description)
    {
        add(new HelpFeature(QString::fromLatin1(icon), QString::fromLatin1(name), localized(description), m_page));
    }
    void shortcut(const char *keys) { add(new HelpShortcut(QString::fromLatin1(keys), m_page), Qt::AlignLeft); }
    void tip(const char *text) { add(new HelpTip(localized(text), m_page)); }
    void shortcutBox(std::initializer_list<std::pair<const char *, const char *>> rows)
    {
        QList<ShortcutHelpRow *> made;
        for (const auto &[keys, action] : rows)
            made.append(new ShortcutHelpRow(QString::fromLatin1(keys), localized(action)));
        add(new HelpShortcutBox(made, m_page));
    }
    void demonstration()
    {
        // Centred in the column, 8 points of room above and below.
        auto *holder = new QWidget(m_page);
        auto *row = new QHBoxLayout(holder);
        row->setContentsMargins(0, 8, 0, 8);
        row->addStretch(1);
        row->addWidget(new ScrollCaptureAnimationView(holder));
        row->addStretch(1);
        add(holder);
    }

private:
    void add(QWidget *block, Qt::Alignment alignment = {}) { m_layout->addWidget(block, 0, alignment); }

    QWidget *m_page;
    QVBoxLayout *m_layout;
};

void buildGettingStarted(PageBuilder &p)
{
    p.title("Welcome to Vorna");
    p.body("Vorna is a powerful screenshot tool for Linux that lets you capture, annotate, beautify, and share "
           "screenshots with ease.");
    p.subtitle("Quick Start");
    p.step(1, "Vorna lives in your system tray. Click the camera icon to see capture options.");
    p.step(2, "Use global keyboard shortcuts to capture without opening the menu.");
    p.step(3, "After capturing, a floating preview appears. Click it to edit or it saves automatically.");
    p.step(4, "In the editor, annotate with arrows, shapes, text, blur, and more.");
    p.step(5, "Beautify your screenshot with shadows, gradient backgrounds, or device frames.");
    p.subtitle("Permissions");
    p.body("On an X11 desktop Vorna needs no special permission to capture your screen. Under Wayland it cannot "
           "read the screen and says so when it starts; log in to an X11 session to capture.");
}

void buildFullscreen(PageBuilder &p)
{
    p.title("Full Screen Capture");
    p.shortcut("Ctrl + Shift + 1");
    p.body("Captures the entire screen instantly. If you have multiple displays, it captures the primary display.");
    p.subtitle("How It Works");
    p.body("When triggered from the tray menu, there is a brief delay to allow the menu to close before capturing. "
           "When triggered via the keyboard shortcut, the capture is nearly instant.");
    p.body("The captured image is automatically saved to your configured save directory and copied to the clipboard "
           "(if enabled in Settings).");
}

void buildWindow(PageBuilder &p)
{
    p.title("Window Capture");
    p.shortcut("Ctrl + Shift + 2");
    p.body("Captures a specific application window. A window picker appears showing thumbnails of all open windows.");
    p.subtitle("How It Works");
    p.step(1, "Trigger window capture via menu or shortcut.");
    p.step(2, "A picker window appears with thumbnails of all visible windows.");
    p.step(3, "Click the window you want to capture.");
    p.body("The window is captured with its frame, including the title bar and rounded corners.");
}

void buildRegion(PageBuilder &p)
{
    p.title("Region Capture");
    p.shortcut("Ctrl + Shift + 3");
    p.body("Select a rectangular region of the screen to capture.");
    p.subtitle("Selection Tools");
    p.feature("plus", "Crosshair", "Precise crosshair guides help you align your selection.");
    p.feature("magnifyingglass", "Magnifier Loupe",
              "A magnified view near your cursor shows the exact pixel position.");
    p.feature("ruler", "Dimensions", "Live width x height display updates as you drag.");
    p.body("Press Escape to cancel the selection.");
}

void buildScrolling(PageBuilder &p)
{
    p.title("Scrolling Capture");
    p.shortcut("Ctrl + Shift + 4");
    p.body("Capture content that extends beyond the visible screen by automatically scrolling and stitching multiple "
           "captures together. Perfect for long web pages, documents, and chat histories.");
    p.demonstration();
    p.subtitle("How It Works");
    p.step(1, "Select the scrollable region you want to capture.");
    p.step(2, "Vorna automatically scrolls the content and takes captures.");
    p.step(3, "Overlapping regions are detected and aligned using pixel matching.");
    p.step(4, "The final stitched image is assembled from all captures.");
    p.body("The process stops automatically when no new content is detected (i.e., the page has reached the bottom).");
}

void buildTimed(PageBuilder &p)
{
    p.title("Timed Capture");
    p.shortcut("Ctrl + Shift + 5");
    p.body("Captures the full screen after a 5-second countdown. Useful for capturing menus, tooltips, or other "
           "transient UI elements that disappear when you switch focus.");
    p.subtitle("How It Works");
    p.body("A floating countdown timer appears in the center of the screen. Arrange your screen as needed during the "
           "countdown. When the timer reaches zero, the full screen is captured.");
}

void buildAnnotationTools(PageBuilder &p)
{
    p.title("Annotation Tools");
    p.body("The built-in editor provides a full set of tools to annotate and mark up your screenshots.");
    p.feature("cursorarrow", "Select", "Click to select annotations. Drag to move them. Press Delete to remove.");
    p.feature("arrow.up.right", "Arrow", "Draw arrows to point out important areas.");
    p.feature("line.diagonal", "Line", "Draw straight lines between two points.");
    p.feature("rectangle", "Rectangle", "Draw rectangular outlines to frame areas of interest.");
    p.feature("circle", "Ellipse", "Draw elliptical outlines and circles.");
    p.feature("pencil.tip", "Freehand", "Draw freely with the mouse, like a pen.");
    p.feature("textformat", "Text", "Click to place a text field. Type your annotation and press Enter.");
    p.feature("highlighter", "Highlight", "Draw a semi-transparent colored rectangle to highlight areas.");
    p.feature("aqi.medium", "Blur / Pixelate",
              "Pixelate a region to redact sensitive information like names, emails, or passwords.");
    p.feature("number.circle", "Numbering", "Place numbered circles (1, 2, 3...) to mark steps or sequences.");
    p.subtitle("Toolbar Controls");
    p.body("Use the color picker or preset color swatches to change the annotation color. Adjust line width with the "
           "slider. For the text tool, a font size slider also appears. Undo/Redo and Clear buttons are on the right "
           "side of the toolbar.");
}

void buildBeautifier(PageBuilder &p)
{
    p.title("Screenshot Beautifier");
    p.body("Make your screenshots look polished and professional with one-click effects.");
    p.feature("shadow", "Shadow & Rounded Corners",
              "Adds padding, a drop shadow, and smooth rounded corners. Great for documentation and presentations.");
    p.feature("paintpalette", "Gradient Background",
              "Places your screenshot on a vibrant purple-blue-teal gradient with a shadow. Perfect for social media "
              "posts.");
    p.feature("desktopcomputer", "Device Frame",
              "Wraps your screenshot in a window frame with red, yellow and green title bar buttons. Ideal for app "
              "showcases.");
}

void buildShortcuts(PageBuilder &p)
{
    p.title("Keyboard Shortcuts");
    p.body("Vorna registers global keyboard shortcuts that work system-wide, even when Vorna is not the active "
           "application.");
    p.shortcutBox({{"Ctrl + Shift + 1", "Full Screen Capture"},
                   {"Ctrl + Shift + 2", "Window Capture"},
                   {"Ctrl + Shift + 3", "Region Capture"},
                   {"Ctrl + Shift + 4", "Scrolling Capture"},
                   {"Ctrl + Shift + 5", "Timed Capture"}});
    p.subtitle("Editor Shortcuts");
    p.shortcutBox({{"Ctrl + Z", "Undo"},
                   {"Ctrl + Shift + Z", "Redo"},
                   {"Ctrl + S", "Save"},
                   {"Ctrl + Shift + S", "Save As..."},
                   {"Ctrl + Shift + C", "Copy to Clipboard"},
                   {"Delete", "Remove Selected Annotation"}});
}

void buildFormats(PageBuilder &p)
{
    p.title("Image Formats");
    p.body("Vorna supports saving screenshots in multiple formats. Choose the best one for your use case.");
    p.formatFeature("doc", "PNG",
                    "Lossless compression. Best for screenshots with text and sharp edges. Largest file size.");
    p.formatFeature("doc", "JPEG",
                    "Lossy compression with adjustable quality. Smaller files, good for photos. May show artifacts "
                    "around text.");
    p.formatFeature("doc", "TIFF",
                    "High-quality format often used in professional workflows. Supports lossless compression.");
    p.formatFeature("doc", "HEIC",
                    "Modern Apple format with excellent compression. Smaller than JPEG at similar quality. May not be "
                    "compatible with all apps.");
    p.body("Set your preferred default format in Settings > General > Output.");
}

void buildTips(PageBuilder &p)
{
    p.title("Tips & Tricks");
    p.tip("Use the floating preview: After each capture, a small preview appears in the corner. Hover over it to "
          "quickly edit or dismiss.");
    p.tip("Blur for privacy: Use the Blur tool in the editor to quickly pixelate sensitive information before "
          "sharing.");
    p.tip("Numbered steps: The Numbering tool auto-increments, making it perfect for creating step-by-step guides.");
    p.tip("Beautify for presentations: Use the gradient background or device frame to make screenshots look "
          "professional in slides and blog posts.");
    p.tip("Scrolling capture for web pages: Select just the content area (not the browser chrome) for cleanest "
          "results.");
    p.tip("Quick copy: Screenshots are automatically copied to the clipboard when this option is enabled in Settings.");
    p.tip("Undo freely: The editor supports full undo/redo, so experiment without fear.");
}

// The scrolled column. Its height is what its width needs: wrapped texts
// report their height for the column's width, so the minimum height that
// their narrowest form would need must not count (it would spread the blocks
// apart).
class PageColumn : public QWidget
{
public:
    QSize minimumSizeHint() const override
    {
        const QSize full = QWidget::minimumSizeHint();
        return QSize(full.width(), 0);
    }
};

} // namespace

HelpDetailView::HelpDetailView(HelpTopic topic, QWidget *parent) : QScrollArea(parent), m_topic(topic)
{
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
    buildPage();
}

void HelpDetailView::setTopic(HelpTopic topic)
{
    if (topic == m_topic && m_page)
        return;
    m_topic = topic;
    buildPage();
}

QList<QWidget *> HelpDetailView::blocks() const
{
    QList<QWidget *> out;
    if (!m_page || !m_page->layout())
        return out;
    for (int i = 0; i < m_page->layout()->count(); ++i)
        if (QWidget *w = m_page->layout()->itemAt(i)->widget())
            out.append(w);
    return out;
}

void HelpDetailView::buildPage()
{
    // The old page goes at once (with a demonstration that may be running).
    if (QWidget *old = takeWidget())
        delete old;

    auto *content = new PageColumn;
    content->setBackgroundRole(QPalette::Base);
    auto *stack = new QVBoxLayout(content);
    stack->setContentsMargins(kPagePadding, kPagePadding, kPagePadding, kPagePadding);
    stack->setSpacing(kStackSpacing);
    m_page = new QWidget(content);
    PageBuilder builder(m_page);
    switch (m_topic) {
    case HelpTopic::captureFullscreen: buildFullscreen(builder); break;
    case HelpTopic::captureWindow: buildWindow(builder); break;
    case HelpTopic::captureRegion: buildRegion(builder); break;
    case HelpTopic::captureScrolling: buildScrolling(builder); break;
    case HelpTopic::captureTimed: buildTimed(builder); break;
    case HelpTopic::annotationTools: buildAnnotationTools(builder); break;
    case HelpTopic::beautifier: buildBeautifier(builder); break;
    case HelpTopic::shortcuts: buildShortcuts(builder); break;
    case HelpTopic::formats: buildFormats(builder); break;
    case HelpTopic::tips: buildTips(builder); break;
    case HelpTopic::gettingStarted:
    default: buildGettingStarted(builder); break;
    }
    stack->addWidget(m_page);
    stack->addStretch(1);
    setWidget(content);
}
