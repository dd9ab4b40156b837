#pragma once

#include <QFuture>
#include <QStringList>

class AppState;

// At launch, the temporary files that an earlier run, ended in the middle of
// a write, left in the folders the program writes into are removed: the
// save folder, the saved folders, the cloud copy's folder, the history, and
// the program's data and config folders. Only writeNew's own temporary names
// count, and only once they have stood unchanged for staleAfterMinutes, so
// that the write of a running save is never touched.
class TemporaryFileSweep
{
public:
    static constexpr int staleAfterMinutes = 10;

    // The folders that the state names, each once (the cloud folder is looked
    // for by the sweep itself, as that reads the disk).
    static QStringList folders(const AppState &state);
    // Sweeps them on a background thread of low priority; the future gives
    // how many files went.
    static QFuture<int> start(const AppState &state);
};
