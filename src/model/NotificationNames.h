#pragma once

#include <QString>

// The names of the program-wide notifications.
namespace NotificationNames {
// User info "mode" holds a CaptureMode.
inline const QString initCapture = QStringLiteral("VornaInitCapture");
inline const QString hotKeysChanged = QStringLiteral("VornaHotKeysChanged");
inline const QString openEditor = QStringLiteral("VornaOpenEditor");
inline const QString showSettings = QStringLiteral("VornaShowSettings");
inline const QString menuModeChanged = QStringLiteral("VornaMenuModeChanged");
inline const QString savedPathsChanged = QStringLiteral("VornaSavedPathsChanged");
// A history item whose image cannot be decoded left the history; user info
// "id" holds its QUuid.
inline const QString historyItemDropped = QStringLiteral("VornaHistoryItemDropped");
} // namespace NotificationNames
