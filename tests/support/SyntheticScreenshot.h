#pragma once

// A picture that looks like a desktop screenshot at two pixels per point:
// a gradient wallpaper, a menu bar, two windows with flat panels, lines of
// anti-aliased text, buttons, soft shadows and a dock. Shared by the
// encoder tests and the export benchmark. Needs a QGuiApplication (fonts).

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

inline QImage makeSyntheticScreenshot(int width = 2880, int height = 1800)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.setDevicePixelRatio(1.0);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    // Wallpaper: a diagonal gradient with a soft glow.
    QLinearGradient wall(0, 0, width, height);
    wall.setColorAt(0.0, QColor(32, 58, 120));
    wall.setColorAt(0.5, QColor(120, 64, 150));
    wall.setColorAt(1.0, QColor(236, 130, 90));
    p.fillRect(image.rect(), wall);
    QRadialGradient glow(width * 0.75, height * 0.3, width * 0.35);
    glow.setColorAt(0.0, QColor(255, 255, 255, 90));
    glow.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.fillRect(image.rect(), glow);

    const double u = width / 1440.0; // one point
    QFont ui(QStringLiteral("DejaVu Sans"));
    ui.setPixelSize(int(13 * u));
    QFont mono(QStringLiteral("DejaVu Sans Mono"));
    mono.setPixelSize(int(12 * u));

    // Menu bar.
    p.fillRect(QRectF(0, 0, width, 24 * u), QColor(236, 236, 236));
    p.setFont(ui);
    p.setPen(QColor(20, 20, 20));
    const char *menus[] = {"Vorna", "File", "Edit", "View", "Window", "Help"};
    double mx = 16 * u;
    for (const char *m : menus) {
        p.drawText(QPointF(mx, 17 * u), QString::fromLatin1(m));
        mx += (QString::fromLatin1(m).size() * 8 + 22) * u;
    }
    p.drawText(QPointF(width - 160 * u, 17 * u), QStringLiteral("Tue 3 Mar  14:05"));

    auto window = [&](QRectF r, const QString &title) {
        // Shadow: a few soft, translucent rounded rectangles.
        for (int i = 12; i >= 1; --i) {
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0, 0, 0, 6));
            p.drawRoundedRect(r.adjusted(-i * u, -i * u + 6 * u, i * u, i * u + 6 * u), 12 * u, 12 * u);
        }
        QPainterPath clip;
        clip.addRoundedRect(r, 10 * u, 10 * u);
        p.save();
        p.setClipPath(clip);
        p.fillRect(r, QColor(255, 255, 255));
        p.fillRect(QRectF(r.left(), r.top(), r.width(), 28 * u), QColor(232, 232, 232));
        const QColor lights[] = {QColor(255, 95, 87), QColor(254, 188, 46), QColor(40, 200, 64)};
        for (int i = 0; i < 3; ++i) {
            p.setBrush(lights[i]);
            p.drawEllipse(QPointF(r.left() + (14 + 20 * i) * u, r.top() + 14 * u), 6 * u, 6 * u);
        }
        p.setPen(QColor(60, 60, 60));
        p.setFont(ui);
        p.drawText(QRectF(r.left(), r.top(), r.width(), 28 * u), Qt::AlignCenter, title);
        p.restore();
    };

    // An editor window: sidebar with items, code lines.
    const QRectF editor(80 * u, 70 * u, 860 * u, 620 * u);
    window(editor, QStringLiteral("ImageExporter.cpp"));
    p.fillRect(QRectF(editor.left(), editor.top() + 28 * u, 200 * u, editor.height() - 28 * u), QColor(246, 246, 248));
    p.setFont(ui);
    for (int i = 0; i < 24; ++i) {
        const double y = editor.top() + (50 + i * 22) * u;
        if (i == 5)
            p.fillRect(QRectF(editor.left() + 8 * u, y - 15 * u, 184 * u, 22 * u), QColor(0, 122, 255));
        p.setPen(i == 5 ? QColor(255, 255, 255) : QColor(40, 40, 40));
        p.drawText(QPointF(editor.left() + 20 * u, y), QStringLiteral("Source file %1.cpp").arg(i + 1));
    }
    p.setFont(mono);
    const QString code[] = {
        QStringLiteral("QByteArray ImageExporter::encode(const QImage &image, ImageFormat format, double q)"),
        QStringLiteral("{"),
        QStringLiteral("    if (image.isNull())"),
        QStringLiteral("        throw VornaError::exportFailed(localized(\"could not read image data\"));"),
        QStringLiteral("    switch (format) {"),
        QStringLiteral("    case ImageFormat::png: return PngEncoder::encode(image);"),
        QStringLiteral("    case ImageFormat::jpeg: return JpegEncoder::encode(image, q);"),
        QStringLiteral("    }"),
        QStringLiteral("}"),
        QString(),
    };
    const QColor syntax[] = {QColor(30, 30, 30), QColor(155, 35, 147), QColor(28, 0, 207), QColor(100, 56, 32)};
    for (int i = 0; i < 26; ++i) {
        const double y = editor.top() + (52 + i * 21) * u;
        p.setPen(QColor(150, 150, 150));
        p.drawText(QPointF(editor.left() + 212 * u, y), QString::number(i + 1).rightJustified(3));
        p.setPen(syntax[i % 4]);
        p.drawText(QPointF(editor.left() + 250 * u, y), code[i % 10]);
    }

    // A settings window: grouped panels, controls, a colour swatch row.
    const QRectF settings(700 * u, 300 * u, 620 * u, 460 * u);
    window(settings, QStringLiteral("Settings"));
    p.fillRect(QRectF(settings.left(), settings.top() + 28 * u, settings.width(), settings.height() - 28 * u),
               QColor(240, 240, 242));
    p.setFont(ui);
    for (int g = 0; g < 3; ++g) {
        const QRectF box(settings.left() + 20 * u, settings.top() + (50 + g * 130) * u, settings.width() - 40 * u, 110 * u);
        p.setPen(QColor(220, 220, 224));
        p.setBrush(QColor(255, 255, 255));
        p.drawRoundedRect(box, 8 * u, 8 * u);
        for (int row = 0; row < 3; ++row) {
            const double y = box.top() + (24 + row * 32) * u;
            p.setPen(QColor(30, 30, 30));
            p.drawText(QPointF(box.left() + 16 * u, y + 4 * u), QStringLiteral("Preference number %1").arg(g * 3 + row + 1));
            p.setPen(Qt::NoPen);
            p.setBrush((row + g) % 2 ? QColor(52, 199, 89) : QColor(200, 200, 204));
            p.drawRoundedRect(QRectF(box.right() - 60 * u, y - 10 * u, 40 * u, 22 * u), 11 * u, 11 * u);
            p.setBrush(QColor(255, 255, 255));
            p.drawEllipse(QPointF(box.right() - ((row + g) % 2 ? 31 : 49) * u, y + 1 * u), 9 * u, 9 * u);
        }
    }

    // Dock with icons.
    const QRectF dock(width / 2.0 - 300 * u, height - 80 * u, 600 * u, 68 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 90));
    p.drawRoundedRect(dock, 16 * u, 16 * u);
    for (int i = 0; i < 10; ++i) {
        QLinearGradient icon(0, dock.top(), 0, dock.bottom());
        icon.setColorAt(0, QColor::fromHsv((i * 36) % 360, 180, 250));
        icon.setColorAt(1, QColor::fromHsv((i * 36 + 20) % 360, 220, 180));
        p.setBrush(icon);
        p.drawRoundedRect(QRectF(dock.left() + (12 + i * 58) * u, dock.top() + 8 * u, 52 * u, 52 * u), 12 * u, 12 * u);
    }
    p.end();
    return image;
}
