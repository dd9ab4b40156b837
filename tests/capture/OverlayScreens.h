#pragma once

// The overlay tests run on three offscreen screens: the primary one at the
// origin (as large as the offscreen platform's own single screen), one to its
// right and higher up, one to its left and lower down. The offscreen platform
// reads its screens from a file named in QT_QPA_PLATFORM before the
// application object exists, so this is set while the test program loads.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRect>
#include <QList>
#include <cstdlib>
#include <unistd.h>

namespace OverlayScreens {

inline const QList<QRect> &geometries()
{
    static const QList<QRect> screens{QRect(0, 0, 800, 800), QRect(800, -240, 1280, 1024),
                                      QRect(-640, 300, 640, 480)};
    return screens;
}

inline bool configure()
{
    if (qgetenv("QT_QPA_PLATFORM") != "offscreen")
        return false;
    QByteArray json = R"({ "screens": [)";
    // The platform lists its screens in the order of their names.
    const char *names[] = {"1-primary", "2-right", "3-left"};
    for (qsizetype i = 0; i < geometries().size(); ++i) {
        const QRect g = geometries()[i];
        json += QByteArray(i ? "," : "") + R"({"name":")" + names[i] + R"(","x":)" + QByteArray::number(g.x())
            + R"(,"y":)" + QByteArray::number(g.y()) + R"(,"width":)" + QByteArray::number(g.width())
            + R"(,"height":)" + QByteArray::number(g.height()) + R"(,"logicalDpi":96})";
    }
    json += "]}";
    // Written before the test home exists; removed when the program ends.
    static const QString path =
        QDir::tempPath() + "/vorna-overlay-screens-" + QString::number(qint64(::getpid())) + ".json";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size())
        return false;
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(path));
    std::atexit([] { QFile::remove(path); });
    return true;
}

inline const bool configured = configure();

} // namespace OverlayScreens
