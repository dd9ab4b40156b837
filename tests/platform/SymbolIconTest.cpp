#include <QApplication>
#include <QImage>
#include <QPalette>
#include <gtest/gtest.h>

#include "platform/SymbolIcon.h"

namespace {

// The brightest and darkest lightness among the opaque pixels of an icon.
std::pair<int, int> inkRange(const QIcon &icon, QIcon::Mode mode)
{
    const QImage image = icon.pixmap(QSize(32, 32), 1.0, mode).toImage().convertToFormat(QImage::Format_ARGB32);
    int lightest = -1, darkest = 256;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 200)
                continue;
            lightest = std::max(lightest, c.lightness());
            darkest = std::min(darkest, c.lightness());
        }
    return {lightest, darkest};
}

class PaletteGuard
{
public:
    PaletteGuard() : m_saved(QApplication::palette()) {}
    ~PaletteGuard() { QApplication::setPalette(m_saved); }

private:
    QPalette m_saved;
};

} // namespace

// Our drawings take the palette's text colour, so they stay legible when the
// desktop uses a dark palette, and turn to the highlighted-text colour on a
// selected row.
TEST(SymbolIconTest, DrawingsFollowThePaletteTextColour)
{
    PaletteGuard guard;
    const QIcon gear = SymbolIcon::make(QStringLiteral("gearshape"));
    ASSERT_FALSE(gear.isNull());

    QPalette light;
    light.setColor(QPalette::WindowText, QColor(20, 20, 20));
    light.setColor(QPalette::HighlightedText, QColor(250, 250, 250));
    QApplication::setPalette(light);
    EXPECT_LT(inkRange(gear, QIcon::Normal).first, 60);
    EXPECT_GT(inkRange(gear, QIcon::Selected).second, 200);

    QPalette dark;
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    QApplication::setPalette(dark);
    EXPECT_GT(inkRange(gear, QIcon::Normal).second, 200);

    // Accent colours of a drawing are kept: the region symbol's red dot.
    const QImage region =
        SymbolIcon::make(QStringLiteral("rectangle.dashed.badge.record")).pixmap(32, 32).toImage();
    bool red = false;
    for (int y = 0; y < region.height() && !red; ++y)
        for (int x = 0; x < region.width() && !red; ++x) {
            const QColor c = region.pixelColor(x, y);
            red = c.alpha() > 200 && c.red() > 180 && c.green() < 80;
        }
    EXPECT_TRUE(red);
}

// Every symbol the windows and menus name has a picture even on a desktop
// without an icon theme, whichever window asked first: the editor's and the
// settings window's drawings are found before either window ever opened.
TEST(SymbolIconTest, WindowSymbolsNeedNoIconTheme)
{
    const QString theme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("no-such-theme"));
    for (const char *name : {"cursorarrow", "eye.slash", "lock.shield", "keyboard", "info.circle",
                             "questionmark.circle", "ladybug", "arrow.triangle.2.circlepath", "power",
                             "square.on.square.intersection.dashed", "photo.badge.plus", "sparkles", "lightbulb",
                             "play.circle", "play.fill", "paintpalette", "desktopcomputer", "doc", "ruler", "shadow",
                             "plus", "magnifyingglass"}) {
        const QIcon icon = SymbolIcon::make(QString::fromLatin1(name));
        EXPECT_FALSE(icon.isNull()) << name;
        EXPECT_GT(inkRange(icon, QIcon::Normal).first, -1) << name << " draws nothing";
    }
    QIcon::setThemeName(theme);
}
