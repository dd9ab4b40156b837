#pragma once

#include "model/CaptureMode.h"

#include <QUrl>
#include <optional>

// What one URL handed to the program asks for. A capture link is
// "vorna://capture?mode=" followed by a capture mode's raw value; scheme and
// host may be in any case, the query item must be named exactly "mode", only
// the first such item counts, and its value is lower-cased before it is read.
struct CaptureLink
{
    enum class Kind {
        openFile,      // a file URL: open the image
        capture,       // a capture link: mode holds the mode
        ignored,       // another scheme, or no scheme or host: nothing to do
        unhandledHost, // a "vorna" link for a host other than "capture"
        unknownMode,   // a capture link without a usable mode
    };

    Kind kind = Kind::ignored;
    std::optional<CaptureMode> mode;

    static CaptureLink parse(const QUrl &url);
};
