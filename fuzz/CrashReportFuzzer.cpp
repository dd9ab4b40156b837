// A crash report file read back at the next start and turned into the
// event that is sent.
#include "FuzzSupport.h"

#include "platform/CrashReport.h"

#include <QJsonDocument>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString error;
    const auto report = CrashReport::parse(fuzzBytes(data, size), &error);
    if (!report) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    const SentryEvent event = report->toEvent(QStringLiteral("0123456789abcdef0123456789abcdef"));
    QJsonDocument(event.toJson()).toJson(QJsonDocument::Compact);
    return 0;
}
