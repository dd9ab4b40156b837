#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

// One event on its way to the server. The members a before-send hook is
// most likely to touch are fields of their own; everything else stays in
// payload as the server's JSON.
struct SentryEvent
{
    QString eventId;                    // 32 lowercase hexadecimal digits
    std::optional<QJsonObject> user;    // "user"
    std::optional<QJsonObject> request; // "request"
    std::optional<QString> serverName;  // "server_name"
    QJsonObject payload;                // every other member

    // Splits a JSON event into the fields above.
    static SentryEvent fromJson(const QJsonObject &json);
    // The event as the server reads it.
    QJsonObject toJson() const;
};
