#pragma once

#include <QString>
#include <functional>

// Holds the requests other X clients make for one type of the clipboard
// while its data is not ready, instead of letting Qt answer them at once.
// Released, they are sent back to the clipboard owner's own window and Qt
// answers them then, from whatever the clipboard holds by that time.
// Nothing is held off X11.
class ClipboardRequestHold
{
public:
    ClipboardRequestHold() = delete;

    // Starts holding, once for the life of the application: from then on a
    // request for mimeType is held whenever shouldHold() is true. Later
    // calls change nothing.
    static void start(const QString &mimeType, std::function<bool()> shouldHold);
    // Sends every held request back to be answered.
    static void release();
};
