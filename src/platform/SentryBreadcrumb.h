#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// One trail entry recorded before a crash.
struct SentryBreadcrumb
{
    QDateTime timestamp = QDateTime::currentDateTimeUtc();
    QString type = QStringLiteral("default");
    QString category;
    QString level = QStringLiteral("info");
    QString message;
    QJsonObject data;

    QJsonObject toJson() const
    {
        QJsonObject o;
        o.insert(QStringLiteral("timestamp"), timestamp.toUTC().toString(Qt::ISODateWithMs));
        o.insert(QStringLiteral("type"), type);
        if (!category.isEmpty())
            o.insert(QStringLiteral("category"), category);
        o.insert(QStringLiteral("level"), level);
        if (!message.isEmpty())
            o.insert(QStringLiteral("message"), message);
        if (!data.isEmpty())
            o.insert(QStringLiteral("data"), data);
        return o;
    }
};
