// The desktop file the build installs: it claims vorna: links and the
// image types, and runs the program with the links as its arguments.
#include "platform/DesktopEntry.h"

#include <QDir>
#include <QFileInfo>
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
