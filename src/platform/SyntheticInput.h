#pragma once

#include <QPointF>

// Input events made up by the program, as if the user had made them.
class SyntheticInput
{
public:
    SyntheticInput() = delete;

    // One notch of the mouse wheel towards the user (the content scrolls
    // down) at a point in global points: the pointer jumps there, wheel button
    // 5 is pressed and released, and the pointer goes back where it was.
    // The X server has handled the events when this returns. False when no
    // event could be sent (not on X11, or the server lacks XTEST).
    static bool scrollWheelNotch(const QPointF &globalPoint);
};
