// The update feed's body, decoded as the checker does, and the version
// comparison the offer depends on.
#include "FuzzSupport.h"

#include "services/AppcastEntry.h"
#include "services/UpdateChecker.h"

#include <cstdlib>

namespace {
void checkOrder(const QString &a, const QString &b)
{
    const int ab = UpdateChecker::compareVersions(a, b);
    const int ba = UpdateChecker::compareVersions(b, a);
    if (ab < -1 || ab > 1 || ab != -ba)
        std::abort();
    if (UpdateChecker::compareVersions(a, a) != 0)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    QString error;
    if (const auto entry = AppcastEntry::decode(bytes, &error)) {
        checkOrder(entry->version, QStringLiteral("0.1.0"));
        if (entry->build)
            checkOrder(entry->version, *entry->build);
    } else if (error.isEmpty()) {
        std::abort(); // a refusal always says why
    }
    // The raw text split in two as a pair of versions.
    const QString text = QString::fromUtf8(bytes);
    const qsizetype cut = text.indexOf(QLatin1Char('\n'));
    if (cut >= 0)
        checkOrder(text.left(cut), text.mid(cut + 1));
    else
        checkOrder(text, QStringLiteral("1.0"));
    return 0;
}
