// The annotation presets stored under "annotationPresets.v1" (also what a
// settings import brings in).
#include "FuzzSupport.h"

#include "editor/AnnotationPreset.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto decoded = AnnotationPreset::decode(fuzzBytes(data, size));
    if (!decoded)
        return 0;
    for (const AnnotationPreset &preset : *decoded) {
        // Only usable sizes and real ids get through.
        for (double value : {preset.lineWidth, preset.fontSize}) {
            if (!std::isfinite(value) || value <= 0 || value > AnnotationPreset::largestSize)
                std::abort();
        }
        if (preset.id.isNull())
            std::abort();
        colorFromHex(preset.colorHex);
    }
    // What we write back reads back as the same list.
    const auto again = AnnotationPreset::decode(AnnotationPreset::encode(*decoded));
    if (!again || *again != *decoded)
        std::abort();
    return 0;
}
