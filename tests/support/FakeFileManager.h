#pragma once

#include "platform/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QList>
#include <QVariantList>

// The file manager's ShowItems call, recorded and answered as a test asks:
// with a reply, with an error, or not at all.
class FakeFileManager : public QDBusVirtualObject
{
public:
    enum class Answer { reply, error, silence };

    // Registers the object and the service name on the connection.
    bool registerOn(QDBusConnection &connection)
    {
        return connection.registerVirtualObject(FileManagerReveal::objectPath, this)
            && connection.registerService(FileManagerReveal::service);
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.interface() != FileManagerReveal::interface || message.member() != QLatin1String("ShowItems"))
            return false;
        calls.append(message.arguments());
        if (answer == Answer::reply)
            connection.send(message.createReply());
        else if (answer == Answer::error)
            connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("cannot show that")));
        return true;
    }

    Answer answer = Answer::reply;
    QList<QVariantList> calls;
};
