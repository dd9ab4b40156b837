// The typed-shortcut parser (spelled and glyph forms) and the stored JSON
// form of a binding.
#include "FuzzSupport.h"

#include "model/HotKeyBinding.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    if (const auto binding = HotKeyBinding::fromSpec(QString::fromUtf8(bytes))) {
        // Typing never gives the unbound value, and what a binding spells
        // reads back as the same binding.
        if (binding->isUnbound())
            std::abort();
        const auto again = HotKeyBinding::fromSpec(binding->specString());
        if (!again || *again != *binding)
            std::abort();
        binding->displayString();
    }
    if (const auto stored = HotKeyBinding::fromJson(bytes)) {
        const auto again = HotKeyBinding::fromJson(stored->toJson());
        if (!again || *again != *stored)
            std::abort();
        stored->displayString();
        stored->specString();
    }
    return 0;
}
