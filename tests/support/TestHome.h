#pragma once

#include <QString>

// A private home folder for one test process: HOME, XDG_CONFIG_HOME,
// XDG_DATA_HOME, XDG_CACHE_HOME and XDG_RUNTIME_DIR all point inside it.
class TestHome
{
public:
    static void install();
    static void remove();
    static QString path();
    // Empties the folder and recreates the XDG folders (for tests that
    // need a pristine home in the middle of a process).
    static void reset();
};
