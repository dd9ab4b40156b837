#include "platform/BundleInfo.h"

#include <QCoreApplication>
#include <QVariant>

std::optional<QString> BundleInfo::shortVersionString()
{
    const QString v = QCoreApplication::applicationVersion();
    if (v.isEmpty())
        return std::nullopt;
    return v;
}

std::optional<QString> BundleInfo::bundleVersion()
{
    const QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return std::nullopt;
    const QVariant v = app->property("vornaBuildNumber");
    if (v.typeId() != QMetaType::QString || v.toString().isEmpty())
        return std::nullopt;
    return v.toString();
}
