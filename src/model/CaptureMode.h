#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

// The five ways of taking a capture, in their fixed order.
enum class CaptureMode { fullscreen, window, region, scrolling, timed };

namespace CaptureModes {
QString rawValue(CaptureMode mode);
std::optional<CaptureMode> fromRawValue(const QString &text);
QList<CaptureMode> allCases();
// Localized name shown to the user ("Full Screen", "Window", ...).
QString displayName(CaptureMode mode);
} // namespace CaptureModes

inline size_t qHash(CaptureMode m, size_t seed = 0) { return ::qHash(static_cast<int>(m), seed); }

Q_DECLARE_METATYPE(CaptureMode)
