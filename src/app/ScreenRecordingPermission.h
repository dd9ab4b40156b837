#pragma once

#include <QObject>
#include <QProcessEnvironment>
#include <functional>

// Whether the program may read the screen, and the launch-time check that
// tells the user when it may not. An X11 session lets every client read the
// screen; elsewhere (a Wayland session) the program cannot capture.
class ScreenRecordingPermission
{
public:
    // Whether screen capture is possible now (no prompt is ever shown).
    static bool preflight();

    // The launch-time check. Returns at once; when access is missing and the
    // environment does not suppress the prompt, the "Screen Recording
    // Permission Needed" alert is shown later on the main thread, and
    // openSettings runs when its first button is chosen.
    static void checkAtLaunch(QObject *context, const QProcessEnvironment &environment, bool hasAccess,
                              std::function<void()> openSettings);

    // Opens the desktop's privacy settings, or the settings program itself
    // when that page cannot be opened. Queued on the main thread.
    static void openSettings(QObject *context);
};
