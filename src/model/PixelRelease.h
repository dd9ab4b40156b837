#pragma once

#include <QImage>

// Giving a large image's memory back to the system takes the thread that
// does it a millisecond or more per twenty megabytes (tens of milliseconds
// for a scrolling capture with its copies). When the UI thread lets go of
// what may be the last reference to such pixels, a pool thread does it
// instead. QImage buffers are reference counted atomically, so whichever
// thread drops the last reference frees them safely.
class PixelRelease
{
public:
    PixelRelease() = delete;

    // Takes the image (leaving it null). Called on the UI thread with an
    // image of at least a few megabytes, the reference is dropped on a pool
    // thread; otherwise here, at once.
    static void later(QImage &image);
};
