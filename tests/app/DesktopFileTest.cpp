// The desktop file the build installs: it claims vorna: links and the
// image types, runs the program with the links as its arguments, and names
// the icon installed beside it.
#include "platform/DesktopEntry.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(DesktopFile, DeclaresTheSchemeAndImageTypesAndPassesUrls)
{
    const QString path =
        QFileInfo(QStringLiteral(VORNA_BINARY_PATH)).dir().filePath(QStringLiteral("generated/" VORNA_APP_ID ".desktop"));
    const auto entry = DesktopEntry::read(path);
    ASSERT_TRUE(entry) << path.toStdString();
    EXPECT_EQ(entry->value("Type"), "Application");
    EXPECT_EQ(entry->value("Name"), "Vorna");
    const QStringList types = entry->value("MimeType").split(';', Qt::SkipEmptyParts);
    for (const char *type : {"x-scheme-handler/vorna", "image/png", "image/jpeg", "image/tiff", "image/webp",
                             "image/heic"})
        EXPECT_TRUE(types.contains(type)) << type;
    EXPECT_EQ(entry->commandForFiles({"/tmp/a b.png", "/tmp/c.png"}),
              (QStringList{"vorna", "file:///tmp/a%20b.png", "file:///tmp/c.png"}));
}

// What `cmake --install` puts under a prefix: the desktop entry, valid,
// naming the application's icon, and that icon in the hicolor theme as a
// scalable picture and at every size menus and panels ask for.
TEST(DesktopFile, TheInstalledTreeHasTheIconInEverySizeAndAValidEntryNamingIt)
{
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(VORNA_CMAKE_COMMAND),
                  {"--install", QStringLiteral(VORNA_BUILD_DIR), "--prefix", prefix.path()});
    ASSERT_TRUE(install.waitForFinished(60000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAll().toStdString();

    const QString desktopFile = prefix.filePath("share/applications/" VORNA_APP_ID ".desktop");
    const auto entry = DesktopEntry::read(desktopFile);
    ASSERT_TRUE(entry) << desktopFile.toStdString();
    EXPECT_EQ(entry->value("Icon"), QStringLiteral(VORNA_APP_ID));

    const QString icons = prefix.filePath("share/icons/hicolor/");
    EXPECT_TRUE(QSvgRenderer(icons + "scalable/apps/" VORNA_APP_ID ".svg").isValid());
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        SCOPED_TRACE(size);
        const QImage png(icons + QStringLiteral("%1x%1/apps/" VORNA_APP_ID ".png").arg(size), "PNG");
        ASSERT_FALSE(png.isNull());
        EXPECT_EQ(png.size(), QSize(size, size));
        EXPECT_EQ(png.pixelColor(size / 2, size / 4).alpha(), 255) << "nothing drawn";
        EXPECT_EQ(png.pixelColor(0, 0).alpha(), 0) << "a square instead of the icon's own shape";
    }

    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed (desktop-file-utils)";
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(validator, {desktopFile});
    ASSERT_TRUE(validate.waitForFinished(30000));
    const QString said = QString::fromUtf8(validate.readAll());
    EXPECT_EQ(validate.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.trimmed().isEmpty()) << "errors, warnings or hints: " << said.toStdString();
}
