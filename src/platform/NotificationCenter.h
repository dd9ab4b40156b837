#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <vector>

// Program-wide notifications: a name and a user-info map. Observers run on
// the main thread in the order they were added; a post from another thread
// is delivered on the main thread. An observer tied to a context object is
// dropped when that object is destroyed.
class NotificationCenter : public QObject
{
    Q_OBJECT
public:
    struct Notification
    {
        QString name;
        QVariantMap userInfo;
    };
    using Handler = std::function<void(const Notification &)>;

    static NotificationCenter &instance();

    // Adds an observer for one name; returns a token for removeObserver.
    int addObserver(const QString &name, QObject *context, Handler handler);
    void removeObserver(int token);

    void post(const QString &name, const QVariantMap &userInfo = {});

signals:
    // Emitted on the main thread after the observers of a post have run.
    void posted(const QString &name, const QVariantMap &userInfo);

private:
    void deliver(const QString &name, const QVariantMap &userInfo);

    struct Observer
    {
        int token;
        QString name;
        QPointer<QObject> context;
        bool hasContext;
        Handler handler;
    };
    std::vector<Observer> m_observers;
    int m_nextToken = 1;
};
