#include "services/ProviderManifest.h"

#include "platform/FoundationJson.h"

#include <QJsonArray>

QJsonObject ProviderAction::toJson() const
{
    QJsonObject o{{QStringLiteral("id"), id}, {QStringLiteral("title"), title}, {QStringLiteral("url"), url}};
    if (subtitle)
        o.insert(QStringLiteral("subtitle"), *subtitle);
    if (systemImage)
        o.insert(QStringLiteral("systemImage"), *systemImage);
    return o;
}

QJsonObject ProviderManifest::toJson() const
{
    QJsonArray list;
    for (const ProviderAction &a : actions)
        list.append(a.toJson());
    return QJsonObject{{QStringLiteral("schemaVersion"), schemaVersion},
                       {QStringLiteral("bundleIdentifier"), bundleIdentifier},
                       {QStringLiteral("displayName"), displayName},
                       {QStringLiteral("actions"), list}};
}

QByteArray ProviderManifest::encode() const
{
    return FoundationJson::prettySorted(toJson());
}
