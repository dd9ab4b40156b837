#pragma once

#include "model/CaptureMode.h"
#include "model/ImageHandle.h"

#include <QDateTime>
#include <QMetaType>
#include <QUuid>
#include <optional>

// One capture in the history.
struct HistoryItem
{
    QUuid id;
    ImageHandle image;
    QDateTime date;
    CaptureMode mode = CaptureMode::region;
    std::optional<QString> filePath;
};
Q_DECLARE_METATYPE(HistoryItem)
