#pragma once

#include <functional>

// What the menu items do. An action left empty makes its item do nothing.
struct MenuActions
{
    std::function<void()> captureFullScreen;
    std::function<void()> captureWindow;
    std::function<void()> captureRegion;
    std::function<void()> captureScrolling;
    std::function<void()> captureTimed;
    std::function<void()> openMainWindow;
    std::function<void()> openHistory;
    std::function<void()> openEditor;
    std::function<void()> openDiffViewer;
    std::function<void()> openHelp;
    std::function<void()> reportBug;
    std::function<void()> showAboutPanel;
    std::function<void()> checkForUpdates;
    std::function<void()> openSettings;
    std::function<void()> quitApp;
};
