#pragma once

#include <algorithm>
#include <cmath>

// The quality of the lossy encoders: a number in 0...1. A preference can
// hold anything (an imported settings file, say), so every encoder clamps
// it before use: below 0 counts as 0, above 1 as 1, and a value that is
// not a number as 1.
class EncoderQuality
{
public:
    static double clamp(double quality)
    {
        if (std::isnan(quality))
            return 1.0;
        return std::clamp(quality, 0.0, 1.0);
    }

    // The clamped quality as a percentage, rounded, at least minimum.
    static int percent(double quality, int minimum = 0)
    {
        return std::max(minimum, int(std::lround(clamp(quality) * 100.0)));
    }
};
