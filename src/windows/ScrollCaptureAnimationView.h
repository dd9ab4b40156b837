#pragma once

#include <QColor>
#include <QList>
#include <QWidget>
#include <array>
#include <optional>

class QPushButton;
class QVariantAnimation;

// The animated demonstration on the Scrolling Capture help page: a miniature
// browser window with an eight-section page beside a "Result" strip. Play
// runs a fixed script of about six seconds (select, three captures while the
// page scrolls, the slices piling up, stitching, done); a caption names the
// step. Everything is drawn from fixed numbers; no capture code is used.
//
// The steps are timers owned by the widget: destroying it mid-run cancels
// whatever is left of the run.
class ScrollCaptureAnimationView : public QWidget
{
    Q_OBJECT
public:
    enum class AnimationPhase { idle, selectRegion, capture1, scroll1, capture2, scroll2, capture3, stitching, done };

    // What each step shows.
    struct Step
    {
        AnimationPhase phase;
        const char *caption;  // English; shown through localized()
        int startMs;          // after Play
        int pageOffset;       // points; negative is up
        bool selectionFrame;
        bool captureFlash;
        int resultSlices;
    };
    static const std::array<Step, 9> &steps();
    static const Step &step(AnimationPhase phase);
    // The phase with that value; none outside 0...8.
    static std::optional<AnimationPhase> phaseFromValue(int value);

    explicit ScrollCaptureAnimationView(QWidget *parent = nullptr);
    ~ScrollCaptureAnimationView() override;

    AnimationPhase phase() const { return m_phase; }
    bool isAnimating() const { return m_isAnimating; }
    QString phaseCaption() const;
    const QList<QColor> &pageContentColors() const { return m_pageContentColors; }

    // The Play button's action: starts a run unless one is running.
    void play();
    // Shows a phase at once, without animation (a still of one step).
    void jumpTo(AnimationPhase phase);
    // Plays the script faster (below 1) or slower; 1 is its real timetable.
    void setTimeScale(double scale) { m_timeScale = scale; }

    QPushButton *playButton() const { return m_playButton; }
    // Where the parts are drawn, in this widget's coordinates.
    QRectF cardRect() const;
    QRectF viewportRect() const;
    QRectF resultStripRect() const;
    // The page's offset as currently drawn (it moves over 0.6 s).
    double pageOffset() const { return m_offset; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

signals:
    void phaseChanged(ScrollCaptureAnimationView::AnimationPhase phase);
    void animatingChanged(bool animating);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void setPhase(AnimationPhase phase, bool inTransaction);
    void setAnimating(bool animating);
    int scaled(int ms) const;
    void animate(QVariantAnimation *animation, double &value, double target, int ms);
    QVariantAnimation *makeAnimation(double *value);
    void paintWindow(QPainter &p) const;
    void paintResult(QPainter &p) const;
    QRectF windowRect() const;
    qreal titleBarHeight() const;

    AnimationPhase m_phase = AnimationPhase::idle;
    bool m_isAnimating = false;
    const QList<QColor> m_pageContentColors;
    double m_timeScale = 1.0;

    // What is drawn, animated towards the phase's values.
    double m_offset = 0;
    double m_frameOpacity = 0;
    double m_flashOpacity = 0;
    double m_dotsOpacity = 0;
    double m_checkProgress = 0;
    double m_sliceProgress = 1; // from m_slicesFrom (0) to m_slicesTo (1)
    int m_slicesFrom = 0;
    int m_slicesTo = 0;
    double m_captionProgress = 1; // from m_previousCaption (0) to the current one (1)
    QString m_previousCaption;

    QVariantAnimation *m_offsetAnimation;
    QVariantAnimation *m_frameAnimation;
    QVariantAnimation *m_flashAnimation;
    QVariantAnimation *m_dotsAnimation;
    QVariantAnimation *m_checkAnimation;
    QVariantAnimation *m_sliceAnimation;
    QVariantAnimation *m_captionAnimation;
    QPushButton *m_playButton;
};
