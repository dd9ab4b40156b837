#include "platform/SymbolIcon.h"

#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QSvgRenderer>

// The drawings are compiled into the static library; their registration
// must be pulled in by hand. All three sets share the ":/symbols" folder, so
// they are registered together: a symbol asked for before the editor or the
// settings window first opens must still find its drawing.
static void ensureResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(symbols);
        Q_INIT_RESOURCE(editorsymbols);
        Q_INIT_RESOURCE(settings_symbols);
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

// The ink our drawings are made in; it is swapped for the palette's text
// colour when drawn, so the symbols stay legible on a dark palette and turn
// light on a selected row. Accent colours in a drawing are kept.
constexpr QLatin1StringView kInk("#2c2c2e");

QColor inkFor(QIcon::Mode mode)
{
    const QPalette palette = QGuiApplication::palette();
    switch (mode) {
    case QIcon::Disabled:
        return palette.color(QPalette::Disabled, QPalette::WindowText);
    case QIcon::Selected:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    default:
        return palette.color(QPalette::Active, QPalette::WindowText);
    }
}

// Draws one of our SVG symbols in the colours of the current palette.
class SymbolEngine : public QIconEngine
{
public:
    explicit SymbolEngine(QString path, QByteArray svg) : m_path(std::move(path)), m_svg(std::move(svg)) {}

    QIconEngine *clone() const override { return new SymbolEngine(m_path, m_svg); }
    QString key() const override { return QStringLiteral("VornaSymbol"); }
    bool isNull() override { return m_svg.isEmpty(); }

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, scale));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        const QSize device = size * scale;
        if (device.isEmpty())
            return QPixmap();
        const QColor ink = inkFor(mode);
        const QString cacheKey = QStringLiteral("vorna-symbol:%1:%2x%3:%4:%5")
                                     .arg(m_path)
                                     .arg(device.width())
                                     .arg(device.height())
                                     .arg(ink.name(QColor::HexArgb))
                                     .arg(int(mode));
        QPixmap pm;
        if (QPixmapCache::find(cacheKey, &pm))
            return pm;
        QByteArray svg = m_svg;
        svg.replace(QByteArray(kInk.data(), kInk.size()), ink.name(QColor::HexRgb).toLatin1());
        QSvgRenderer renderer(svg);
        QImage image(device, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            // Keep the drawing's proportions inside the asked-for square.
            QSizeF drawn = renderer.defaultSize();
            drawn.scale(QSizeF(device), Qt::KeepAspectRatio);
            const QRectF target((device.width() - drawn.width()) / 2, (device.height() - drawn.height()) / 2,
                                drawn.width(), drawn.height());
            renderer.render(&p, target);
        }
        pm = QPixmap::fromImage(std::move(image));
        QPixmapCache::insert(cacheKey, pm);
        pm.setDevicePixelRatio(scale);
        return pm;
    }

private:
    QString m_path;
    QByteArray m_svg;
};

QIcon ownIcon(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QIcon();
    QByteArray svg = file.readAll();
    if (svg.isEmpty())
        return QIcon();
    return QIcon(new SymbolEngine(path, std::move(svg)));
}

} // namespace

QIcon SymbolIcon::make(const QString &symbolName)
{
    // One icon per symbol for the whole run: a drawing is read once, and each
    // size and colour it is drawn in is kept in the pixmap cache.
    static QHash<QString, QIcon> cache;
    if (const auto it = cache.constFind(symbolName); it != cache.cend())
        return *it;
    QIcon icon;
    const QString own = resourcePath(symbolName);
    const QString theme = themeNames().value(symbolName);
    if (QFile::exists(own))
        icon = ownIcon(own);
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
