#pragma once

#include <QImage>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QRectF>
#include <functional>
#include <optional>

// Captures content taller than the screen: captures a region, scrolls the
// content under it one wheel notch at a time, captures again after each
// notch, stops when the content no longer moves (or after 50 notches), and
// stitches the frames into one tall image. Frames are taken at two pixels per
// point; the stitched image carries its pixel size (devicePixelRatio 1).
// Start, scrolling and frame captures run on the main thread without blocking
// it (the first frame, which waits for the region overlay to leave the
// screen, is read in the background); the stitching runs in the background.
class ScrollCaptureService : public QObject
{
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<QImage>)>;
    // Takes one frame of a rectangle (global points, top-left origin at the
    // primary screen's top-left corner), or nothing.
    using FrameGrabber = std::function<std::optional<QImage>(const QRectF &)>;
    // Scrolls the content under a point (global points, same origin) by one
    // notch; false when no event could be sent.
    using ScrollPoster = std::function<bool(const QPointF &)>;

    static constexpr int maximumScrollSteps = 50;
    static constexpr int scrollWaitMs = 350;

    explicit ScrollCaptureService(QObject *parent = nullptr);
    ~ScrollCaptureService() override;

    // Starts a capture of region (global points, top-left origin at the
    // primary screen). Ignored while a capture runs: that completion is never
    // called. The completion runs once on the main thread with the stitched
    // image, or nothing when no frame could be taken.
    void startScrollCapture(const QRectF &region, Completion completion);
    bool isRunning() const { return m_isRunning; }

    // One frame of rect: truncated width and height, times two, in pixels;
    // without the pointer.
    std::optional<QImage> captureScrollFrame(const QRectF &rect) const;

    // True when two frames of the same size show the same content: a strip of
    // at most 60 rows across the middle, every 16th byte, fewer than 5 differ.
    static bool framesLookIdentical(const QImage &a, const QImage &b);
    // How many rows at the top of next repeat the bottom of previous; 0 when
    // no overlap of at least the compared row count is found. Frames that
    // differ never overlap by the whole of the shorter one. A narrow band of
    // columns that changes between the frames in a way no scroll explains (a
    // page's own scroll bar, a floating button) does not mislead the search.
    static int findScrollOverlap(const QImage &previous, const QImage &next);
    // The frames, top to bottom, each later frame laid over the rows it shares
    // with the one before. Rows that stay put at the top and bottom of every
    // frame (a sticky header or footer) are laid once, from the first and the
    // last frame, and the overlaps are searched in the rows between them.
    // A result larger than ImageFileReader::largestImageBytes is cut at the
    // bottom to fit. Nothing for no frames or when memory runs out.
    static std::optional<QImage> stitchScrollFrames(const QList<QImage> &frames);

    // Replace how frames are taken and how the content is scrolled (tests).
    void setFrameGrabber(FrameGrabber grabber) { m_frameGrabber = std::move(grabber); }
    void setScrollPoster(ScrollPoster poster) { m_scrollPoster = std::move(poster); }
    void setScrollWaitMs(int ms) { m_scrollWaitMs = ms; }

private:
    void runScrollLoop(int remaining);
    void finishScrollCapture();

    QList<QImage> m_captures;
    QRectF m_region;
    bool m_isRunning = false;
    Completion m_completion;

    FrameGrabber m_frameGrabber;
    ScrollPoster m_scrollPoster;
    int m_scrollWaitMs = scrollWaitMs;
};
