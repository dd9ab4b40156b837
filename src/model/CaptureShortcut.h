#pragma once

#include "model/CaptureMode.h"

// The five global-shortcut slots; same cases, order and raw values as CaptureMode.
enum class CaptureShortcut { fullscreen, window, region, scrolling, timed };

namespace CaptureShortcuts {
QString rawValue(CaptureShortcut shortcut);
std::optional<CaptureShortcut> fromRawValue(const QString &text);
QList<CaptureShortcut> allCases();
// Localized title ("Full Screen Capture", ...).
QString title(CaptureShortcut shortcut);
CaptureShortcut fromMode(CaptureMode mode);
CaptureMode toMode(CaptureShortcut shortcut);
} // namespace CaptureShortcuts

inline size_t qHash(CaptureShortcut s, size_t seed = 0) { return ::qHash(static_cast<int>(s), seed); }

Q_DECLARE_METATYPE(CaptureShortcut)
