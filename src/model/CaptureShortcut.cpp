#include "model/CaptureShortcut.h"

#include "platform/Localized.h"

QString CaptureShortcuts::rawValue(CaptureShortcut shortcut)
{
    return CaptureModes::rawValue(toMode(shortcut));
}

std::optional<CaptureShortcut> CaptureShortcuts::fromRawValue(const QString &text)
{
    const auto mode = CaptureModes::fromRawValue(text);
    if (!mode)
        return std::nullopt;
    return fromMode(*mode);
}

QList<CaptureShortcut> CaptureShortcuts::allCases()
{
    QList<CaptureShortcut> out;
    for (CaptureMode m : CaptureModes::allCases())
        out.append(fromMode(m));
    return out;
}

QString CaptureShortcuts::title(CaptureShortcut shortcut)
{
    switch (shortcut) {
    case CaptureShortcut::fullscreen: return localized("Full Screen Capture");
    case CaptureShortcut::window: return localized("Window Capture");
    case CaptureShortcut::region: return localized("Region Capture");
    case CaptureShortcut::scrolling: return localized("Scrolling Capture");
    case CaptureShortcut::timed: return localized("Timed Capture");
    }
    return QString();
}

CaptureShortcut CaptureShortcuts::fromMode(CaptureMode mode)
{
    return static_cast<CaptureShortcut>(static_cast<int>(mode));
}

CaptureMode CaptureShortcuts::toMode(CaptureShortcut shortcut)
{
    return static_cast<CaptureMode>(static_cast<int>(shortcut));
}
