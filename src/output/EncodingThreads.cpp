#include "output/EncodingThreads.h"

#include <QThread>
#include <QThreadPool>

#include <algorithm>

QThreadPool &EncodingThreads::pool()
{
    static QThreadPool threads;
    static const bool configured = [] {
        threads.setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
        threads.setObjectName(QStringLiteral("encoding"));
        threads.setExpiryTimeout(-1);
        return true;
    }();
    Q_UNUSED(configured);
    return threads;
}

QThreadPool &EncodingThreads::helpers()
{
    static QThreadPool threads;
    static const bool configured = [] {
        threads.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1));
        threads.setObjectName(QStringLiteral("encoding helpers"));
        threads.setExpiryTimeout(-1);
        return true;
    }();
    Q_UNUSED(configured);
    return threads;
}

int EncodingThreads::helpersBesideTheUi()
{
    return 1;
}
