#include "platform/SymbolIcon.h"

#include <QFile>
#include <QHash>

// The drawings are compiled into the static library; their registration
// must be pulled in by hand.
static void ensureResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    Q_UNUSED(registered);
}

namespace {

// Freedesktop icon names that stand in for symbols we do not draw ourselves.
const QHash<QString, QString> &themeNames()
{
    static const QHash<QString, QString> names{
        {QStringLiteral("rectangle.dashed"), QStringLiteral("view-fullscreen")},
        {QStringLiteral("macwindow"), QStringLiteral("window-new")},
        {QStringLiteral("rectangle.dashed.badge.record"), QStringLiteral("edit-select-all")},
        {QStringLiteral("scroll"), QStringLiteral("go-down")},
        {QStringLiteral("timer"), QStringLiteral("alarm-symbolic")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("document-open-recent")},
        {QStringLiteral("square.on.square.intersection.dashed"), QStringLiteral("edit-copy")},
        {QStringLiteral("questionmark.circle"), QStringLiteral("help-browser")},
        {QStringLiteral("ladybug"), QStringLiteral("dialog-warning")},
        {QStringLiteral("info.circle"), QStringLiteral("help-about")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("view-refresh")},
        {QStringLiteral("power"), QStringLiteral("application-exit")},
        {QStringLiteral("photo.badge.plus"), QStringLiteral("insert-image-symbolic")},
        {QStringLiteral("play.fill"), QStringLiteral("media-playback-start-symbolic")},
        {QStringLiteral("play.circle"), QStringLiteral("media-playback-start-symbolic")},
        {QStringLiteral("star"), QStringLiteral("starred-symbolic")},
        {QStringLiteral("sparkles"), QStringLiteral("applications-graphics-symbolic")},
        {QStringLiteral("keyboard"), QStringLiteral("input-keyboard-symbolic")},
        {QStringLiteral("photo"), QStringLiteral("image-x-generic-symbolic")},
        {QStringLiteral("lightbulb"), QStringLiteral("help-faq-symbolic")},
        {QStringLiteral("plus"), QStringLiteral("list-add-symbolic")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find-symbolic")},
        {QStringLiteral("doc"), QStringLiteral("text-x-generic-symbolic")},
        {QStringLiteral("paintpalette"), QStringLiteral("preferences-color-symbolic")},
        {QStringLiteral("desktopcomputer"), QStringLiteral("computer-symbolic")},
    };
    return names;
}

QString resourcePath(const QString &symbolName)
{
    ensureResources();
    return QStringLiteral(":/symbols/") + symbolName + QStringLiteral(".svg");
}

} // namespace

QIcon SymbolIcon::make(const QString &symbolName)
{
    // One icon per symbol for the whole run: an icon keeps the pictures it
    // has rendered, so a drawing is parsed and rendered once, not per window.
    static QHash<QString, QIcon> cache;
    if (const auto it = cache.constFind(symbolName); it != cache.cend())
        return *it;
    QIcon icon;
    const QString own = resourcePath(symbolName);
    const QString theme = themeNames().value(symbolName);
    if (QFile::exists(own))
        icon = QIcon(own);
    else if (!theme.isEmpty() && QIcon::hasThemeIcon(theme))
        icon = QIcon::fromTheme(theme);
    cache.insert(symbolName, icon);
    return icon;
}

bool SymbolIcon::exists(const QString &symbolName)
{
    return !make(symbolName).isNull();
}

QIcon SymbolIcon::asset(const QString &name)
{
    ensureResources();
    const QString path = QStringLiteral(":/") + name + QStringLiteral(".svg");
    return QFile::exists(path) ? QIcon(path) : QIcon();
}
