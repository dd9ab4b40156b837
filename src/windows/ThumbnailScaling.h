#pragma once

#include <QImage>
#include <QSize>

// Scales screen-sized pictures down to thumbnails on the calling thread
// alone. Qt's smooth scaling spreads a large image over its global pool,
// where it would take cores from the file the user waits for and from the
// UI thread; halving with a box filter first leaves Qt only a small image.
class ThumbnailScaling
{
public:
    // Half the width and height (rounded down), each pixel the mean of the
    // four it covers.
    static QImage halved(const QImage &image);
    // The image at size (aspect ratio as given): halved while it is at
    // least twice the size each way, then scaled smoothly. Keeps the input's
    // device pixel ratio.
    static QImage scaledDown(const QImage &image, const QSize &size);
};
