// Links and launch arguments: an argument handed to the program (command
// line, or over the single-instance socket) becomes a URL, and a URL a
// capture link, exactly as the delegate does it.
#include "FuzzSupport.h"

#include "app/CaptureLink.h"
#include "app/OpenArguments.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray argument = fuzzBytes(data, size);
    QString problem;
    if (const auto url = OpenArguments::urlForArgument(argument, QStringLiteral("/home/someone/Pictures"), &problem)) {
        const CaptureLink link = CaptureLink::parse(*url);
        if (link.kind == CaptureLink::Kind::capture && !link.mode)
            std::abort(); // a capture link always names its mode
    } else if (problem.isEmpty()) {
        std::abort(); // a refusal always says why
    }
    // URLs reach the parser from the desktop as well, not only as arguments.
    CaptureLink::parse(QUrl(QString::fromUtf8(argument)));
    CaptureLink::parse(QUrl(QString::fromUtf8(argument), QUrl::StrictMode));
    return 0;
}
