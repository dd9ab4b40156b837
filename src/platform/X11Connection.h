#pragma once

#include <xcb/xcb.h>

// The X server connection Qt uses, for the few requests Qt has no API for.
class X11Connection
{
public:
    X11Connection() = delete;

    // Qt's connection when the program runs on X11, else nullptr.
    static xcb_connection_t *connection();
    // The root window of the screen Qt uses (XCB_NONE without a connection).
    static xcb_window_t rootWindow();
};
