#include "model/PixelRelease.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

#include <utility>

void PixelRelease::later(QImage &image)
{
    // Below this the memory is usually reused by the allocator rather than
    // unmapped, and freeing it costs next to nothing.
    constexpr qsizetype kLarge = qsizetype(4) << 20;
    QImage pixels = std::exchange(image, QImage());
    if (pixels.isNull() || pixels.sizeInBytes() < kLarge)
        return;
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return;
    QThreadPool::globalInstance()->start([pixels = std::move(pixels)]() mutable { pixels = QImage(); });
}
