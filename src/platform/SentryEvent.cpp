#include "platform/SentryEvent.h"

SentryEvent SentryEvent::fromJson(const QJsonObject &json)
{
    SentryEvent event;
    event.payload = json;
    event.eventId = event.payload.take(QStringLiteral("event_id")).toString();
    const QJsonValue user = event.payload.take(QStringLiteral("user"));
    if (user.isObject())
        event.user = user.toObject();
    const QJsonValue request = event.payload.take(QStringLiteral("request"));
    if (request.isObject())
        event.request = request.toObject();
    const QJsonValue server = event.payload.take(QStringLiteral("server_name"));
    if (server.isString())
        event.serverName = server.toString();
    return event;
}

QJsonObject SentryEvent::toJson() const
{
    QJsonObject o = payload;
    o.insert(QStringLiteral("event_id"), eventId);
    if (user)
        o.insert(QStringLiteral("user"), *user);
    if (request)
        o.insert(QStringLiteral("request"), *request);
    if (serverName)
        o.insert(QStringLiteral("server_name"), *serverName);
    return o;
}
