#include "platform/NotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

NotificationCenter &NotificationCenter::instance()
{
    static NotificationCenter *center = [] {
        auto *c = new NotificationCenter;
        if (auto *app = QCoreApplication::instance())
            c->moveToThread(app->thread());
        return c;
    }();
    return *center;
}

int NotificationCenter::addObserver(const QString &name, QObject *context, Handler handler)
{
    const int token = m_nextToken++;
    m_observers.push_back(Observer{token, name, QPointer<QObject>(context), context != nullptr, std::move(handler)});
    return token;
}

void NotificationCenter::removeObserver(int token)
{
    std::erase_if(m_observers, [token](const Observer &o) { return o.token == token; });
}

void NotificationCenter::post(const QString &name, const QVariantMap &userInfo)
{
    if (QThread::currentThread() == thread()) {
        deliver(name, userInfo);
        return;
    }
    QMetaObject::invokeMethod(this, [this, name, userInfo] { deliver(name, userInfo); }, Qt::QueuedConnection);
}

void NotificationCenter::deliver(const QString &name, const QVariantMap &userInfo)
{
    std::erase_if(m_observers, [](const Observer &o) { return o.hasContext && o.context.isNull(); });
    // Copy the matching handlers first: an observer may add or remove others.
    std::vector<std::pair<int, Handler>> matching;
    for (const Observer &o : m_observers)
        if (o.name == name)
            matching.emplace_back(o.token, o.handler);
    const Notification n{name, userInfo};
    for (const auto &entry : matching) {
        // (A named copy, not a structured binding: clang 14 cannot capture those.)
        const int token = entry.first;
        const bool stillThere = std::any_of(m_observers.begin(), m_observers.end(), [&](const Observer &o) {
            return o.token == token && (!o.hasContext || !o.context.isNull());
        });
        if (stillThere)
            entry.second(n);
    }
    emit posted(name, userInfo);
}
