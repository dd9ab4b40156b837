#pragma once

class QThreadPool;

// The threads that encode captures and saved images: the files the user
// waits for. They run at normal priority and may use every core. They are
// kept apart from Qt's global pool on purpose: Qt's raster painting and
// image scaling split large fills across the global pool and wait for the
// parts, so an encoder filling that pool would hold up every repaint on the
// UI thread until its strips were done.
class EncodingThreads
{
public:
    // One thread a core; created on first use and kept for the run.
    static QThreadPool &pool();

    // Threads that do the work of an encoding under way on one of pool()'s
    // threads: one a core but the encoding's own, which takes part.
    static QThreadPool &helpers();

    // How many helpers of an encoding go on while the UI thread is at work;
    // the others wait until it is done (UiActivity), so that the cores are
    // there for the UI thread, the X server and Qt's pool, which showing a
    // capture keeps waking: a thread woken on a core that an encoder holds
    // waits for it, and the UI thread waits for the others many times while
    // it shows a capture. That takes a few milliseconds, at the start of an
    // encoding; the rest of the time an encoding has every core.
    static int helpersBesideTheUi();
};
