#pragma once

// Whether the UI thread is at work now (handling events, or waiting for a
// reply from the X server in the middle of that), or waiting for the next
// event. Background work that shares the cores with the UI thread and the
// X server can make room for them while the UI thread works: at the same
// priority, a thread that wakes on a core held by such work often waits for
// the end of its time slice, and the UI thread waits for the X server and
// for Qt's pool many times while a capture is shown.
class UiActivity
{
public:
    // Starts watching the calling thread's event loop (the UI thread's);
    // once, later calls do nothing.
    static void watch();
    // Any thread. False while nothing is watched.
    static bool busy();
};
