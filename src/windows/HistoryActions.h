#pragma once

#include "model/HistoryItem.h"

#include <QSet>
#include <QUuid>

class AppState;

// What the recent thumbnails and the history cards do with one capture.
// Main thread only; file work goes to the history service's queue.
namespace HistoryActions {

// The one editor rule: the external editor with the saved file (or a copy
// of the image), else the built-in editor. The pixels are read in the
// background; the editor appears once they are in.
void openInEditor(AppState &appState, const HistoryItem &item);
// Puts the image on the clipboard (its pixels are read in the background).
void copyImage(const HistoryItem &item);
// The save panel for the image in the default format (taken now); a
// failure shows "Could not save screenshot".
void saveAs(AppState &appState, const HistoryItem &item);
// Shows the saved file in the file manager; nothing without a saved file.
void reveal(const HistoryItem &item);
// Whether the entry has a saved file that exists now.
bool hasSavedFile(const HistoryItem &item);
// Removes the entry from the history service and AppState and queues the
// removal of its history PNG and the manifest rewrite; an export or an
// editor that still holds the entry's image keeps its pixels. The saved
// screenshot is not touched.
void deleteEntry(AppState &appState, const QUuid &id);
// The capture's pixels: in memory when they are, else read from its history
// PNG (or the file its image comes from) without keeping them in the
// entry. Any thread.
QImage pixels(const HistoryItem &item, const QString &historyPng);

// Empties the history service (its folder is emptied on its queue) and
// AppState's history. Saved screenshots are not touched.
void clearAll(AppState &appState);

} // namespace HistoryActions
