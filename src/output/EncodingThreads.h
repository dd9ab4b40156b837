#pragma once

class QThreadPool;

// The threads that encode captures and saved images. They are kept apart
// from Qt's global pool on purpose: Qt's raster painting and image scaling
// split large fills across the global pool and wait for the parts, so an
// encoder filling that pool would hold up every repaint on the UI thread
// until its strips were done.
class EncodingThreads
{
public:
    // One thread a core; created on first use and kept for the run.
    static QThreadPool &pool();
};
