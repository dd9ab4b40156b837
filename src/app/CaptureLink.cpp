#include "app/CaptureLink.h"

#include <QUrlQuery>

CaptureLink CaptureLink::parse(const QUrl &url)
{
    CaptureLink link;
    if (url.isLocalFile()) {
        link.kind = Kind::openFile;
        return link;
    }
    if (url.scheme().isEmpty() || url.scheme().toLower() != QLatin1String("vorna"))
        return link;
    if (url.host().isEmpty())
        return link;
    if (url.host().toLower() != QLatin1String("capture")) {
        link.kind = Kind::unhandledHost;
        return link;
    }
    link.kind = Kind::unknownMode;
    if (!url.isValid() || !url.hasQuery())
        return link;
    const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto &[name, value] : items) {
        if (name != QLatin1String("mode"))
            continue;
        // Only the first "mode" counts, even when its value is unusable.
        if (const auto mode = CaptureModes::fromRawValue(value.toLower())) {
            link.kind = Kind::capture;
            link.mode = mode;
        }
        break;
    }
    return link;
}
