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

    // Called first by each job on pool(). From then on the thread does not
    // take the processor from the thread that wakes it with the next job
    // (the UI thread, in the middle of showing a capture): it waits for a
    // free core or the end of a time slice instead. Its share of the
    // processor stays the same.
    static void enterJob();

    // Threads that do the work of an encoding under way on one of pool()'s
    // threads, one a core but two: one core is the encoding's own, one is
    // left free. They run at idle priority: they use only cores nothing else
    // wants, so the X server and the UI thread, which wake while a capture
    // is encoded, get a core at once instead of waiting for an encoder's
    // time slice to end; a core a helper holds is given up only when the
    // helper's current work lets it, which is why one core is never theirs.
    // The encoding's own thread leaves the work to them while they get on
    // with it, and does what is left at its normal share when they do not,
    // so a busy system slows the encoding down but cannot hold it up.
    static QThreadPool &helpers();
};
