#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// One action the companion launcher offers on our behalf.
struct ProviderAction
{
    QString id;
    QString title;
    std::optional<QString> subtitle;
    std::optional<QString> systemImage;
    QString url;

    QJsonObject toJson() const;
};

// The file the companion launcher reads to list our actions.
struct ProviderManifest
{
    int schemaVersion = 1;
    QString bundleIdentifier;
    QString displayName;
    QList<ProviderAction> actions;

    QJsonObject toJson() const;
    // Pretty printed with sorted keys, "/" escaped: the launcher's format.
    QByteArray encode() const;
};
