#pragma once

#include <xcb/xcb.h>

#include <initializer_list>
#include <vector>

// The X server connection Qt uses, for the few requests Qt has no API for.
class X11Connection
{
public:
    X11Connection() = delete;

    // Qt's connection when the program runs on X11, else nullptr.
    static xcb_connection_t *connection();
    // The root window of the screen Qt uses (XCB_NONE without a connection).
    static xcb_window_t rootWindow();
    // The atoms of these names on Qt's connection, in the same order;
    // XCB_ATOM_NONE for one that could not be had. Each name is interned
    // once per connection; the names not yet known are asked for together.
    // Main thread only.
    static std::vector<xcb_atom_t> atoms(std::initializer_list<const char *> names);
};
