#include "editor/EditorView.h"

#include "editor/AnnotationCanvasNSView.h"
#include "editor/AnnotationRenderer.h"
#include "editor/AnnotationToolbar.h"
#include "editor/BeautifyRenderer.h"
#include "editor/CanvasView.h"
#include "editor/EditorSymbols.h"
#include "editor/LayerPanel.h"
#include "editor/TextRecognition.h"
#include "model/AppState.h"
#include "model/HistoryItem.h"
#include "output/ClipboardImage.h"
#include "output/HistoryService.h"
#include "output/ICloudDrive.h"
#include "output/ImageExporter.h"
#include "platform/Localized.h"
#include "platform/MenuText.h"

#include <QApplication>
#include <QClipboard>
#include <QFrame>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QShowEvent>
#include <QTextBoundaryFinder>
#include <QtConcurrent>

#include <cmath>

namespace {

QFrame *divider(QWidget *parent)
{
    auto *line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    line->setFixedHeight(1);
    return line;
}

QString integerText(double value)
{
    const double t = std::trunc(value);
    if (!std::isfinite(t) || std::abs(t) > 9.0e18)
        return QStringLiteral("–");
    return QString::number(qint64(t));
}

// Runs fn on a worker thread and hands its result to done on the main
// thread, unless receiver is gone by then.
template <typename Fn, typename Done>
void runInBackground(QObject *receiver, Fn fn, Done done)
{
    using Result = decltype(fn());
    auto *watcher = new QFutureWatcher<Result>(receiver);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, receiver, [watcher, done] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(std::move(fn)));
}

// The image a command works on: the annotations burnt in when there are
// any (a failed flatten falls back to the plain capture).
QImage commandImage(const ImageHandle &handle, const QList<Annotation> &annotations)
{
    const QImage pixels = handle.image();
    if (pixels.isNull() || annotations.isEmpty())
        return pixels;
    const QImage flat = AnnotationRenderer::flatten(pixels, annotations);
    return flat.isNull() ? pixels : flat;
}

// Holds the annotation toolbar. In a window narrower than the toolbar the
// row scrolls sideways instead of squeezing its controls over each other;
// the strip grows by the scroll bar's height only while that bar shows.
class ToolbarStrip : public QScrollArea
{
public:
    explicit ToolbarStrip(QWidget *toolbar, QWidget *parent) : QScrollArea(parent)
    {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        setWidget(toolbar);
        connect(horizontalScrollBar(), &QScrollBar::rangeChanged, this, [this] { updateGeometry(); });
    }

    QSize sizeHint() const override { return {widget()->sizeHint().width(), stripHeight()}; }
    QSize minimumSizeHint() const override { return {0, stripHeight()}; }

private:
    int stripHeight() const
    {
        const QScrollBar *bar = horizontalScrollBar();
        const bool scrolling = bar->maximum() > bar->minimum();
        return widget()->sizeHint().height() + (scrolling ? bar->sizeHint().height() : 0);
    }
};

} // namespace

struct EditorView::SaveOutcome
{
    QString path;              // the file written; empty on failure
    std::optional<ErrorReport> error;
    QImage image;              // what was saved
    CaptureMode mode = CaptureMode::region;
};

EditorView::EditorView(AppState &appState, QWidget *parent) : QWidget(parent), m_appState(appState)
{
    setObjectName(QStringLiteral("EditorView"));
    setMinimumSize(600, 400);
    m_canvasView = new CanvasView(m_appState, this);
    connect(m_canvasView, &CanvasView::imageCropped, this, &EditorView::handleImageCropped);
    buildLayout();

    connect(&m_appState, &AppState::changed, this, [this](AppState::Property p) {
        switch (p) {
        case AppState::Property::capturedImage:
            refreshImage();
            break;
        case AppState::Property::undoStack:
        case AppState::Property::redoStack:
            refreshUndoState();
            break;
        default:
            break;
        }
    });
    refreshImage();
    refreshUndoState();
}

EditorView::~EditorView() = default;

void EditorView::buildLayout()
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    m_toolbar = new AnnotationToolbar(m_appState, this);
    connect(m_toolbar, &AnnotationToolbar::undoRequested, &m_appState, &AppState::undo);
    connect(m_toolbar, &AnnotationToolbar::redoRequested, &m_appState, &AppState::redo);
    connect(m_toolbar, &AnnotationToolbar::clearRequested, &m_appState, &AppState::clearAnnotations);
    column->addWidget(new ToolbarStrip(m_toolbar, this));
    column->addWidget(divider(this));

    m_stack = new QStackedWidget(this);
    // No image: a quiet placeholder in the middle.
    auto *placeholder = new QWidget(m_stack);
    placeholder->setObjectName(QStringLiteral("NoImagePlaceholder"));
    auto *ph = new QVBoxLayout(placeholder);
    ph->addStretch(1);
    auto *icon = new QLabel(placeholder);
    icon->setPixmap(editorSymbol(QStringLiteral("photo")).pixmap(QSize(56, 56), devicePixelRatioF()));
    icon->setAlignment(Qt::AlignCenter);
    icon->setEnabled(false);
    ph->addWidget(icon);
    auto *title = new QLabel(localized("No Image"), placeholder);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.45);
    big.setBold(true);
    title->setFont(big);
    title->setAlignment(Qt::AlignCenter);
    ph->addWidget(title);
    auto *description = new QLabel(localized("Capture a screenshot to start editing"), placeholder);
    description->setAlignment(Qt::AlignCenter);
    description->setForegroundRole(QPalette::PlaceholderText);
    ph->addWidget(description);
    ph->addStretch(1);
    m_stack->addWidget(placeholder);

    // An image: the scrolling canvas and the layers beside it.
    auto *editing = new QWidget(m_stack);
    auto *row = new QHBoxLayout(editing);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_scroll = new QScrollArea(editing);
    m_scroll->setObjectName(QStringLiteral("CanvasScrollArea"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setAlignment(Qt::AlignCenter);
    m_scroll->setWidgetResizable(false);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A neutral backdrop a shade darker than the bars sets the image off.
    QPalette backdrop = m_scroll->palette();
    backdrop.setColor(QPalette::Window, palette().color(QPalette::Window).darker(112));
    m_scroll->setPalette(backdrop);
    m_scroll->setBackgroundRole(QPalette::Window);
    m_scroll->viewport()->setAutoFillBackground(true);
    row->addWidget(m_scroll, 1);
    auto *side = new QFrame(editing);
    side->setFrameShape(QFrame::VLine);
    side->setFrameShadow(QFrame::Plain);
    side->setForegroundRole(QPalette::Mid);
    side->setFixedWidth(1);
    row->addWidget(side);
    m_layers = new LayerPanel(m_appState, editing);
    m_layers->setFixedWidth(180);
    row->addWidget(m_layers);
    m_stack->addWidget(editing);
    column->addWidget(m_stack, 1);
    column->addWidget(divider(this));

    // The bottom bar.
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("EditorBottomBar"));
    bar->setAutoFillBackground(true);
    bar->setBackgroundRole(QPalette::Window);
    auto *bottom = new QHBoxLayout(bar);
    bottom->setContentsMargins(12, 8, 12, 8);

    auto *zoomRow = new QHBoxLayout;
    zoomRow->setSpacing(8);
    auto zoomButton = [&](const char *symbol, const char *tip) {
        auto *b = new QToolButton(bar);
        b->setIcon(editorSymbol(QString::fromLatin1(symbol)));
        b->setIconSize(QSize(18, 18));
        b->setAutoRaise(true);
        b->setToolTip(localized(tip));
        b->setAccessibleName(localized(tip));
        return b;
    };
    QToolButton *out = zoomButton("minus.magnifyingglass", "Zoom Out");
    connect(out, &QToolButton::clicked, this, &EditorView::zoomOut);
    zoomRow->addWidget(out);
    m_zoomLabel = new QLabel(bar);
    m_zoomLabel->setFixedWidth(50);
    m_zoomLabel->setAlignment(Qt::AlignCenter);
    zoomRow->addWidget(m_zoomLabel);
    QToolButton *in = zoomButton("plus.magnifyingglass", "Zoom In");
    connect(in, &QToolButton::clicked, this, &EditorView::zoomIn);
    zoomRow->addWidget(in);
    auto *fit = new QPushButton(localized("Fit"), bar);
    QFont caption = fit->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.92);
    fit->setFont(caption);
    fit->setToolTip(localized("Fit to Window"));
    fit->setMaximumWidth(48);
    connect(fit, &QPushButton::clicked, this, &EditorView::fitToWindow);
    zoomRow->addWidget(fit);
    bottom->addLayout(zoomRow);
    bottom->addStretch(1);
    m_sizeLabel = new QLabel(bar);
    m_sizeLabel->setFont(caption);
    m_sizeLabel->setForegroundRole(QPalette::PlaceholderText);
    // The first thing to give way when the window is narrow.
    m_sizeLabel->setMinimumWidth(1);
    bottom->addWidget(m_sizeLabel);
    bottom->addStretch(1);

    auto *commands = new QHBoxLayout;
    commands->setSpacing(8);
    auto *copy = new QPushButton(localized("Copy"), bar);
    copy->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copy->setToolTip(localized("Copy the image with its annotations (Ctrl+Shift+C)"));
    connect(copy, &QPushButton::clicked, this, &EditorView::copyImage);
    auto *save = new QPushButton(localized("Save"), bar);
    save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    save->setToolTip(localized("Save into the screenshot folder (Ctrl+S)"));
    connect(save, &QPushButton::clicked, this, &EditorView::saveToFolder);
    auto *saveAs = new QPushButton(localized("Save As..."), bar);
    saveAs->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    saveAs->setToolTip(localized("Save to a place you choose (Ctrl+Shift+S)"));
    connect(saveAs, &QPushButton::clicked, this, &EditorView::saveImageAs);
    auto *beautify = new QPushButton(localized("Beautify"), bar);
    auto *menu = new QMenu(beautify);
    connect(menu->addAction(menuItemText(localized("Add Shadow & Rounded Corners"))), &QAction::triggered, this,
            [this] { applyBeautify(BeautifyStyle::shadowAndRoundedCorners); });
    connect(menu->addAction(localized("Add Gradient Background")), &QAction::triggered, this,
            [this] { applyBeautify(BeautifyStyle::gradientBackground); });
    connect(menu->addAction(localized("Device Frame")), &QAction::triggered, this,
            [this] { applyBeautify(BeautifyStyle::deviceFrame); });
    beautify->setMenu(menu);
    m_extractButton = new QPushButton(localized("Extract Text"), bar);
    m_extractButton->setToolTip(localized("Recognize text in the current image (copies to clipboard)"));
    connect(m_extractButton, &QPushButton::clicked, this, &EditorView::extractText);
    for (QPushButton *b : {copy, save, saveAs, beautify, m_extractButton}) {
        b->setAutoDefault(false);
        commands->addWidget(b);
    }
    bottom->addLayout(commands);
    column->addWidget(bar);
    updateZoomLabel();
}

QWidget *EditorView::canvas() const
{
    if (m_appState.capturedImage().isNull())
        return nullptr;
    return m_canvasView->canvas();
}

void EditorView::dismiss()
{
    if (QWidget *w = window(); w && w != this)
        w->close();
}

void EditorView::refreshImage()
{
    const ImageHandle &image = m_appState.capturedImage();
    if (image.isNull()) {
        m_stack->setCurrentIndex(0);
        m_sizeLabel->hide();
        return;
    }
    AnnotationCanvasNSView *canvas = m_canvasView->canvas();
    if (canvas && m_scroll->widget() != canvas) {
        m_scroll->setWidget(canvas); // the scroll area owns it from now on
        canvas->setZoom(m_zoom);
    }
    m_stack->setCurrentIndex(1);
    const QSizeF points = image.pointSize();
    m_sizeLabel->setText(integerText(points.width()) + QStringLiteral(" × ") + integerText(points.height()));
    m_sizeLabel->show();
}

void EditorView::refreshUndoState()
{
    m_toolbar->setCanUndo(!m_appState.undoStack().isEmpty());
    m_toolbar->setCanRedo(!m_appState.redoStack().isEmpty());
}

void EditorView::updateZoomLabel()
{
    m_zoomLabel->setText(integerText(m_zoom * 100) + QStringLiteral("%"));
}

void EditorView::setZoom(double zoom)
{
    if (!std::isfinite(zoom) || zoom <= 0)
        return;
    m_zoom = zoom;
    m_canvasView->setZoom(zoom);
    updateZoomLabel();
}

void EditorView::zoomIn()
{
    setZoom(std::min(m_zoom + 0.25, 5.0));
}

void EditorView::zoomOut()
{
    setZoom(std::max(m_zoom - 0.25, 0.1));
}

double EditorView::fittedZoom(const QSizeF &imageSize, const std::optional<QSizeF> &visibleFrame)
{
    const QSizeF available = visibleFrame ? QSizeF(visibleFrame->width() - 100, visibleFrame->height() - 200)
                                          : QSizeF(1100, 600);
    if (imageSize.width() <= 0 || imageSize.height() <= 0)
        return 1.0;
    return std::min({1.0, available.width() / imageSize.width(), available.height() / imageSize.height()});
}

void EditorView::fitToWindow()
{
    const ImageHandle &image = m_appState.capturedImage();
    if (image.isNull())
        return;
    std::optional<QSizeF> frame;
    if (QScreen *screen = QGuiApplication::primaryScreen())
        frame = QSizeF(screen->availableGeometry().size());
    const double z = fittedZoom(image.pointSize(), frame);
    if (z > 0)
        setZoom(z);
}

void EditorView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        fitToWindow();
}

std::optional<QImage> EditorView::flattenedImage() const
{
    const ImageHandle &image = m_appState.capturedImage();
    if (image.isNull() || m_appState.annotations().isEmpty())
        return std::nullopt;
    const QImage flat = AnnotationRenderer::flatten(image.image(), m_appState.annotations());
    if (flat.isNull())
        return std::nullopt;
    return flat;
}

void EditorView::withCommandImage(std::function<void(const QImage &)> then)
{
    const ImageHandle handle = m_appState.capturedImage();
    const QList<Annotation> annotations = m_appState.annotations();
    runInBackground(
        this, [handle, annotations] { return commandImage(handle, annotations); },
        [then](const QImage &image) {
            if (!image.isNull())
                then(image);
        });
}

void EditorView::copyImage()
{
    if (m_appState.capturedImage().isNull())
        return;
    withCommandImage([this](const QImage &image) {
        ClipboardImage::copy(image);
        emit copyFinished();
    });
}

void EditorView::saveToFolder()
{
    const ImageHandle handle = m_appState.capturedImage();
    if (handle.isNull())
        return;
    // What the save needs is read now, on the main thread; burning the
    // annotations in, encoding and writing run on a worker.
    const QList<Annotation> annotations = m_appState.annotations();
    const QString folder = m_appState.saveDirectory();
    const ImageFormat format = m_appState.defaultFormat();
    const double quality = m_appState.jpegQuality();
    const CaptureMode mode = m_appState.captureMode();
    const bool cloudCopy = m_appState.iCloudSyncEnabled();
    const qint64 maxBytes = ImageExporter::byteLimit(m_appState.maxFileSizeKB());
    const QString name = ImageExporter::fileName(format, QDateTime::currentDateTime());

    runInBackground(
        this,
        [=] {
            SaveOutcome outcome;
            outcome.mode = mode;
            outcome.image = commandImage(handle, annotations);
            if (outcome.image.isNull()) {
                outcome.error = ErrorReport(VornaError::exportFailed(QStringLiteral("could not read image")));
                return outcome;
            }
            QByteArray bytes;
            try {
                bytes = ImageExporter::encodeWithinLimit(outcome.image, format, maxBytes, quality);
            } catch (const VornaError &e) {
                outcome.error = ErrorReport(e);
                return outcome;
            }
            // A new file every time: a second save in the same second gets
            // "_2" rather than replacing the first.
            QString writeError;
            outcome.path = ImageExporter::writeNewFile(bytes, folder, name, &writeError);
            if (outcome.path.isEmpty()) {
                outcome.error = ErrorReport(writeError);
                return outcome;
            }
            if (cloudCopy)
                copyToICloudDrive(outcome.path); // a failed copy is silent
            return outcome;
        },
        [this](const SaveOutcome &outcome) { finishSave(outcome); });
}

void EditorView::finishSave(const SaveOutcome &outcome)
{
    if (outcome.error) {
        presentErrorAlert(*outcome.error, localized("Could not save screenshot"));
        emit saveFinished(QString());
        return;
    }
    HistoryItem item;
    item.id = QUuid::createUuid();
    item.image = ImageHandle(outcome.image);
    item.date = QDateTime::currentDateTime();
    item.mode = outcome.mode;
    item.filePath = outcome.path;
    HistoryService &history = HistoryService::shared();
    history.addNewest(item);
    // Every view of the history follows the store (none keeps an entry
    // whose picture was just trimmed).
    m_appState.setHistory(history.items());
    emit saveFinished(outcome.path);
}

void EditorView::saveImageAs()
{
    if (m_appState.capturedImage().isNull())
        return;
    const ImageFormat format = m_appState.defaultFormat();
    const double quality = m_appState.jpegQuality();
    const QString folder = m_appState.saveDirectory();
    QPointer<EditorView> self(this);
    withCommandImage([self, format, quality, folder](const QImage &image) {
        if (!self)
            return;
        ImageExporter::presentSavePanel(image, format, quality, folder, [](const ErrorReport &error) {
            presentErrorAlert(error, localized("Save As failed"));
        });
    });
}

void EditorView::applyBeautify(BeautifyStyle style)
{
    const ImageHandle handle = m_appState.capturedImage();
    if (handle.isNull() || m_beautifying)
        return;
    m_beautifying = true;
    const QList<Annotation> annotations = m_appState.annotations();
    runInBackground(
        this,
        [handle, annotations, style]() -> std::optional<QImage> {
            const QImage image = commandImage(handle, annotations);
            if (image.isNull())
                return std::nullopt;
            switch (style) {
            case BeautifyStyle::shadowAndRoundedCorners: return BeautifyRenderer::renderShadow(image);
            case BeautifyStyle::gradientBackground: return BeautifyRenderer::renderGradient(image);
            case BeautifyStyle::deviceFrame: return BeautifyRenderer::renderDeviceFrame(image);
            }
            return std::nullopt;
        },
        [this, handle](const std::optional<QImage> &result) {
            m_beautifying = false;
            // A different image opened meanwhile keeps its place.
            if (result && m_appState.capturedImage() == handle) {
                // One undo step holds the image and its annotations, so
                // undo brings back both.
                m_appState.replaceImage(ImageHandle(*result));
            }
            emit beautifyFinished();
        });
}

void EditorView::extractText()
{
    const ImageHandle handle = m_appState.capturedImage();
    if (handle.isNull() || m_recognizing)
        return;
    m_recognizing = true;
    m_extractButton->setEnabled(false);
    auto *watcher = new QFutureWatcher<TextRecognitionResult>(this);
    connect(watcher, &QFutureWatcher<TextRecognitionResult>::finished, this, [this, watcher] {
        watcher->deleteLater();
        const TextRecognitionResult result = watcher->result();
        m_recognizing = false;
        m_extractButton->setEnabled(true);
        if (!result.succeeded()) {
            presentErrorAlert(*result.error, localized("OCR failed"));
        } else if (result.text.isEmpty()) {
            presentInfoAlert(localized("No text was recognized in this image."), localized("OCR"));
        } else {
            QGuiApplication::clipboard()->setText(result.text);
            // Characters as the user sees them (a letter with its accents
            // counts once).
            qint64 characters = 0;
            QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, result.text);
            while (graphemes.toNextBoundary() != -1)
                ++characters;
            presentInfoAlert(localized("Copied %lld characters to the clipboard.")
                                 .replace(QLatin1String("%lld"), QString::number(characters)),
                             localized("OCR"));
        }
        emit textExtractionFinished();
    });
    watcher->setFuture(recognizeText(handle));
}

void EditorView::handleImageCropped(const ImageHandle &image)
{
    if (image.isNull())
        return;
    m_appState.replaceImage(image);
    if (m_appState.currentTool() != AnnotationTool::select)
        m_appState.setCurrentTool(AnnotationTool::select);
}
