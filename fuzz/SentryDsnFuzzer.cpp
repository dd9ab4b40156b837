// The crash-reporting DSN from appsettings.json.
#include "FuzzSupport.h"

#include "platform/SentryDsn.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString error;
    const auto dsn = SentryDsn::parse(QString::fromUtf8(fuzzBytes(data, size)), &error);
    if (!dsn) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    // Envelopes only ever go to a web address with a host.
    const QUrl endpoint = dsn->envelopeEndpoint();
    const QString scheme = endpoint.scheme();
    if (!endpoint.isValid() || endpoint.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || dsn->publicKey().isEmpty()
        || dsn->projectId().isEmpty())
        std::abort();
    dsn->authHeader(QStringLiteral("vorna.sentry/1.0.0"));
    return 0;
}
