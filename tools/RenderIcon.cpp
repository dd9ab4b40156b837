// Renders the application icon, drawn as SVG, into the layout of an icon
// theme: OUTDIR/scalable/apps/NAME.svg and OUTDIR/<n>x<n>/apps/NAME.png for
// every size given. Runs at build time.
//   vorna_render_icon SVG OUTDIR NAME SIZE...
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "vorna_render_icon: %s\n", qPrintable(message));
    return 1;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5)
        return fail(QStringLiteral("usage: vorna_render_icon SVG OUTDIR NAME SIZE..."));
    const QString svgPath = QString::fromLocal8Bit(argv[1]);
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);

    QFile svgFile(svgPath);
    if (!svgFile.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1").arg(svgPath));
    const QByteArray svg = svgFile.readAll();
    QSvgRenderer renderer(svg);
    if (!renderer.isValid())
        return fail(QStringLiteral("%1 is not a valid SVG").arg(svgPath));
    if (!writeFile(QStringLiteral("%1/scalable/apps/%2.svg").arg(outDir, name), svg))
        return fail(QStringLiteral("cannot write the scalable icon into %1").arg(outDir));

    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0 || size > 1024)
            return fail(QStringLiteral("not an icon size: %1").arg(QString::fromLocal8Bit(argv[i])));
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        const QString path = QStringLiteral("%1/%2x%2/apps/%3.png").arg(outDir).arg(size).arg(name);
        QSaveFile file(path);
        if (!QDir().mkpath(QFileInfo(path).absolutePath()) || !file.open(QIODevice::WriteOnly)
            || !image.save(&file, "PNG") || !file.commit())
            return fail(QStringLiteral("cannot write %1").arg(path));
    }
    return 0;
}
