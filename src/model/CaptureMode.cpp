#include "model/CaptureMode.h"

#include "platform/Localized.h"

QString CaptureModes::rawValue(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::fullscreen: return QStringLiteral("fullscreen");
    case CaptureMode::window: return QStringLiteral("window");
    case CaptureMode::region: return QStringLiteral("region");
    case CaptureMode::scrolling: return QStringLiteral("scrolling");
    case CaptureMode::timed: return QStringLiteral("timed");
    }
    return QString();
}

std::optional<CaptureMode> CaptureModes::fromRawValue(const QString &text)
{
    for (CaptureMode m : allCases())
        if (rawValue(m) == text)
            return m;
    return std::nullopt;
}

QList<CaptureMode> CaptureModes::allCases()
{
    return {CaptureMode::fullscreen, CaptureMode::window, CaptureMode::region, CaptureMode::scrolling,
            CaptureMode::timed};
}

QString CaptureModes::displayName(CaptureMode mode)
{
    switch (mode) {
    case CaptureMode::fullscreen: return localized("Full Screen");
    case CaptureMode::window: return localized("Window");
    case CaptureMode::region: return localized("Region");
    case CaptureMode::scrolling: return localized("Scrolling");
    case CaptureMode::timed: return localized("Timed (5s)");
    }
    return QString();
}
