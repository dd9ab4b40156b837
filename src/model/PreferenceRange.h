#pragma once

#include <QtGlobal>

// The range a clamped integer preference is stored in. A value read back
// from the preferences file is taken as stored, so it can lie anywhere; the
// code that uses one clamps it again, in 64 bits, before it becomes a delay.
struct PreferenceRange
{
    qint64 low;
    qint64 high;

    constexpr qint64 clamp(qint64 value) const { return value < low ? low : (value > high ? high : value); }
};

namespace PreferenceRanges {
inline constexpr PreferenceRange floatingPreviewDurationSec{2, 60};
inline constexpr PreferenceRange countdownSeconds{1, 30};
inline constexpr PreferenceRange doubleTapIntervalMS{120, 1000};
} // namespace PreferenceRanges
