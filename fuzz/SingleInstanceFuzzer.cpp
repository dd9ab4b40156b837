// The request a later process hands over the single-instance socket, read
// as the running process reads its connection's buffer.
#include "FuzzSupport.h"

#include "platform/SingleInstance.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    bool malformed = false;
    QString why;
    const auto request = SingleInstance::decode(bytes, &malformed, &why);
    if (malformed && (request || why.isEmpty()))
        std::abort();
    if (request) {
        // Within the limits, and exactly what the sender encoded.
        if (request->arguments.size() > SingleInstance::maxArguments)
            std::abort();
        if (SingleInstance::encode(*request) != bytes)
            std::abort();
        // Every shorter piece of it is incomplete, never malformed.
        for (qsizetype n : {qsizetype(0), bytes.size() / 2, bytes.size() - 1}) {
            bool bad = false;
            if (n >= 0 && (SingleInstance::decode(bytes.left(n), &bad) || bad))
                std::abort();
        }
    }
    return 0;
}
