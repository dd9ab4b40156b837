#include "editor/DiffView.h"

#include "editor/DiffImageWell.h"
#include "editor/ImageDiff.h"
#include "model/AppState.h"
#include "output/ClipboardImage.h"
#include "platform/AppPaths.h"
#include "platform/Localized.h"
#include "platform/Log.h"
#include "platform/OpenPanel.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace {

constexpr int kPaneSpacing = 12;
constexpr int kSliderSteps = 100; // the slider counts hundredths

QFont scaledFont(const QFont &base, qreal factor, bool bold)
{
    QFont f = base;
    f.setPointSizeF(base.pointSizeF() * factor);
    f.setBold(bold);
    return f;
}

// What the image reader decodes: the formats the screenshots are saved in,
// which it reads through their own libraries where Qt has no plugin, then
// whatever else Qt reads.
QStringList readableImageTypes()
{
    QStringList types{QStringLiteral("image/png"), QStringLiteral("image/jpeg"), QStringLiteral("image/tiff"),
                      QStringLiteral("image/heic"), QStringLiteral("image/heif"), QStringLiteral("image/webp")};
    for (const QByteArray &type : QImageReader::supportedMimeTypes()) {
        const QString name = QString::fromLatin1(type);
        if (!types.contains(name))
            types.append(name);
    }
    return types;
}

} // namespace

DiffView::DiffView(QWidget *parent) : DiffView(Compute(computeImageDiff), parent) {}

DiffView::DiffView(const AppState &appState, QWidget *parent) : DiffView(Compute(computeImageDiff), parent)
{
    m_appState = &appState;
}

DiffView::DiffView(Compute compute, QWidget *parent) : QWidget(parent), m_compute(std::move(compute))
{
    // Long scrolling captures are larger than Qt decodes by default.
    ImageDiff::raiseAllocationLimit();
    build();
    refreshControls();
}

DiffView::~DiffView() = default;

void DiffView::build()
{
    setMinimumSize(900, 500);
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto *header = new QHBoxLayout;
    const int pad = style()->pixelMetric(QStyle::PM_LayoutLeftMargin);
    header->setContentsMargins(pad, pad, pad, pad);
    header->setSpacing(style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing));
    auto *title = new QLabel(localized("Screenshot Diff"), this);
    title->setFont(scaledFont(font(), 1.0, true));
    header->addWidget(title);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(1, 50);
    m_slider->setSingleStep(1);
    m_slider->setPageStep(5);
    m_slider->setValue(qRound(m_threshold * kSliderSteps));
    m_slider->setFixedWidth(160);
    m_slider->setAccessibleName(localized("Threshold"));
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) { setThreshold(double(value) / kSliderSteps); });
    header->addWidget(m_slider);

    m_thresholdLabel = new QLabel(this);
    m_thresholdLabel->setFont(scaledFont(font(), 0.85, false));
    m_thresholdLabel->setFixedWidth(110);
    m_thresholdLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->addWidget(m_thresholdLabel);

    m_recompute = new QPushButton(localized("Recompute"), this);
    connect(m_recompute, &QPushButton::clicked, this, &DiffView::recomputeDiff);
    header->addWidget(m_recompute);
    m_copy = new QPushButton(localized("Copy"), this);
    connect(m_copy, &QPushButton::clicked, this, &DiffView::copyDiffImage);
    header->addWidget(m_copy);

    m_message = new QLabel(this);
    m_message->setFont(scaledFont(font(), 0.85, false));
    m_message->setForegroundRole(QPalette::PlaceholderText);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_message->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    header->addWidget(m_message, 1);
    root->addLayout(header);

    auto *divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    root->addWidget(divider);

    auto *panes = new QHBoxLayout;
    panes->setContentsMargins(kPaneSpacing, kPaneSpacing, kPaneSpacing, kPaneSpacing);
    panes->setSpacing(kPaneSpacing);
    m_firstWell = new DiffImageWell(localized("Image A"), this);
    m_secondWell = new DiffImageWell(localized("Image B"), this);
    m_diffWell = new DiffImageWell(localized("Diff"), this);
    for (DiffImageWell *well : {m_firstWell, m_secondWell, m_diffWell})
        panes->addWidget(well, 1);
    root->addLayout(panes, 1);

    const auto first = [this](const QImage &image) { setFirstImage(image); };
    const auto second = [this](const QImage &image) { setSecondImage(image); };
    connect(m_firstWell, &DiffImageWell::clicked, this, [this, first] { openImage(m_firstWell, first); });
    connect(m_secondWell, &DiffImageWell::clicked, this, [this, second] { openImage(m_secondWell, second); });
    // The result pane takes a pick or a drop like the others but keeps its image.
    connect(m_diffWell, &DiffImageWell::clicked, this, [this] { openImage(m_diffWell, nullptr); });
    connect(m_firstWell, &DiffImageWell::fileDropped, this,
            [this, first](const QString &path) { loadImage(m_firstWell, path, first); });
    connect(m_secondWell, &DiffImageWell::fileDropped, this,
            [this, second](const QString &path) { loadImage(m_secondWell, path, second); });
}

QString DiffView::message() const
{
    return m_message->text();
}

void DiffView::refreshControls()
{
    m_thresholdLabel->setText(localized("Threshold %1%").arg(QString::number(m_threshold * 100, 'f', 0)));
    m_recompute->setEnabled(!m_firstImage.isNull() && !m_secondImage.isNull() && !m_isProcessing);
    m_copy->setEnabled(!m_differenceImage.isNull());
    m_firstWell->setImage(m_firstImage);
    m_secondWell->setImage(m_secondImage);
    m_diffWell->setImage(m_differenceImage);
}

void DiffView::setFirstImage(const QImage &image)
{
    m_firstImage = image;
    recomputeDiff();
}

void DiffView::setSecondImage(const QImage &image)
{
    m_secondImage = image;
    recomputeDiff();
}

void DiffView::setThreshold(double threshold)
{
    m_threshold = threshold;
    const int step = qRound(threshold * kSliderSteps);
    if (m_slider->value() != step) {
        const QSignalBlocker block(m_slider);
        m_slider->setValue(step);
    }
    refreshControls();
}

void DiffView::recomputeDiff()
{
    const quint64 generation = ++m_generation;
    if (m_firstImage.isNull() || m_secondImage.isNull()) {
        m_differenceImage = QImage();
        m_isProcessing = false;
        refreshControls();
        return;
    }
    m_isProcessing = true;
    refreshControls();

    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        // A newer comparison has started since: its result is the one to show.
        if (generation == m_generation) {
            m_differenceImage = watcher->result();
            m_isProcessing = false;
            refreshControls();
        }
        emit computationEnded();
    });
    watcher->setFuture(QtConcurrent::run(
        [compute = m_compute, a = m_firstImage, b = m_secondImage, t = m_threshold] { return compute(a, b, t); }));
}

void DiffView::copyDiffImage()
{
    if (m_differenceImage.isNull())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    ClipboardImage::copy(m_differenceImage);
}

void DiffView::openImage(DiffImageWell *well, const std::function<void(const QImage &)> &onImage)
{
    OpenPanel::Request request;
    request.mimeTypeFilters = readableImageTypes();
    request.allTypesName = localized("Image Files");
    request.name = QStringLiteral("diffImage");
    request.directory = m_appState ? AppPaths::expandTilde(m_appState->saveDirectory()) : QDir::homePath();
    QPointer<DiffView> self(this);
    OpenPanel::show(request, [self, well, onImage](std::optional<QString> path) {
        if (self && path && onImage)
            self->loadImage(well, *path, onImage);
    });
}

void DiffView::loadImage(DiffImageWell *well, const QString &path,
                         const std::function<void(const QImage &)> &onImage)
{
    // Two files given to one pane in quick succession: the later one counts,
    // whichever decodes first.
    const quint64 load = ++m_loads[well];
    auto *watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, well, load, path, onImage] {
        watcher->deleteLater();
        if (load != m_loads.value(well)) {
            emit imageLoadEnded();
            return;
        }
        const QImage image = watcher->result();
        // Beside the other pane's image it must leave a difference that can
        // be made: a very wide image against a very tall one cannot.
        const QImage &other = well == m_firstWell ? m_secondImage : m_firstImage;
        const bool fits = other.isNull() || ImageDiff::resultFits(image.size(), other.size());
        if (image.isNull() || !fits) {
            // Nothing changes; the message says why the pane did not take it.
            const QString name = QFileInfo(path).fileName();
            m_message->setText(localized("“%1” could not be opened as an image.").arg(name));
            m_message->setToolTip(path);
            if (image.isNull())
                vlog(QStringLiteral("[Vorna] Diff: could not open %1 as an image").arg(path));
            else
                vlog(QStringLiteral("[Vorna] Diff: %1 is too large to compare with the other image").arg(path));
        } else {
            m_message->clear();
            m_message->setToolTip(QString());
            onImage(image);
        }
        emit imageLoadEnded();
    });
    watcher->setFuture(QtConcurrent::run(ImageDiff::loadImage, path));
}
