#pragma once

#include <QHash>
#include <QImage>
#include <QPointer>
#include <QWidget>
#include <functional>

class AppState;
class QLabel;
class QPushButton;
class QSlider;
class DiffImageWell;

// The root view of the screenshot diff window: two images to compare, their
// difference image, and the threshold above which a pixel counts as changed.
// It starts empty, with threshold 0.1.
//
// Each new image, and "Recompute", starts the comparison in the background;
// only the newest one's result is shown, and the view is busy until that one
// has ended. Moving the slider alone does not recompute.
class DiffView : public QWidget
{
    Q_OBJECT
public:
    // The comparison, run on a worker thread; computeImageDiff unless a test
    // gives its own.
    using Compute = std::function<QImage(const QImage &, const QImage &, double)>;

    explicit DiffView(QWidget *parent = nullptr);
    explicit DiffView(Compute compute, QWidget *parent = nullptr);
    // The image chooser first opens in appState's save folder (where the
    // screenshots are), later where it was last used. Without appState it
    // first opens in the home folder.
    explicit DiffView(const AppState &appState, QWidget *parent = nullptr);
    ~DiffView() override;

    const QImage &firstImage() const { return m_firstImage; }
    const QImage &secondImage() const { return m_secondImage; }
    const QImage &differenceImage() const { return m_differenceImage; }
    double threshold() const { return m_threshold; }
    bool isProcessing() const { return m_isProcessing; }
    // The last image file that could not be opened, as shown under the
    // buttons; empty when there is none.
    QString message() const;

    // What the panes' pickers and drops do once an image has loaded.
    void setFirstImage(const QImage &image);
    void setSecondImage(const QImage &image);
    void setThreshold(double threshold);

    // "Recompute": compares the two images again with the current threshold.
    void recomputeDiff();
    // "Copy": puts the difference image on the clipboard.
    void copyDiffImage();

    // The controls, for tests and accessibility.
    QSlider *thresholdSlider() const { return m_slider; }
    QLabel *thresholdLabel() const { return m_thresholdLabel; }
    QPushButton *recomputeButton() const { return m_recompute; }
    QPushButton *copyButton() const { return m_copy; }
    DiffImageWell *firstWell() const { return m_firstWell; }
    DiffImageWell *secondWell() const { return m_secondWell; }
    DiffImageWell *diffWell() const { return m_diffWell; }

signals:
    // A comparison's result has been taken (or dropped as stale) on the main thread.
    void computationEnded();
    // An image file has been loaded (or has failed to load) on the main thread.
    void imageLoadEnded();

private:
    void build();
    void refreshControls();
    void openImage(DiffImageWell *well, const std::function<void(const QImage &)> &onImage);
    void loadImage(DiffImageWell *well, const QString &path, const std::function<void(const QImage &)> &onImage);

    Compute m_compute;
    QPointer<const AppState> m_appState;
    QImage m_firstImage;
    QImage m_secondImage;
    QImage m_differenceImage;
    double m_threshold = 0.1;
    bool m_isProcessing = false;
    // Each comparison gets the next number; a result whose number is not the
    // latest is stale and dropped.
    quint64 m_generation = 0;
    // The same for the files given to each pane.
    QHash<DiffImageWell *, quint64> m_loads;

    QSlider *m_slider = nullptr;
    QLabel *m_thresholdLabel = nullptr;
    QLabel *m_message = nullptr;
    QPushButton *m_recompute = nullptr;
    QPushButton *m_copy = nullptr;
    DiffImageWell *m_firstWell = nullptr;
    DiffImageWell *m_secondWell = nullptr;
    DiffImageWell *m_diffWell = nullptr;
};
