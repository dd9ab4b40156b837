#include "platform/DesktopEntry.h"

#include <gtest/gtest.h>

TEST(DesktopEntry, ExecLineRoundTripsAwkwardProgramPaths)
{
    for (const QString &path : {QString("/usr/bin/vorna"), QString("/opt/My Apps/vorna"),
                               QString("/home/u/a \"quoted\" $HOME `x` 100% back\\slash/vorna")}) {
        SCOPED_TRACE(path.toStdString());
        const QString line = "[Desktop Entry]\nExec="
                             + DesktopEntry::escapeValue(DesktopEntry::quoteExecArgument(path)) + "\n";
        const auto entry = DesktopEntry::parse(line);
        ASSERT_TRUE(entry);
        EXPECT_EQ(entry->commandForFiles({}), QStringList{path});
    }
}

TEST(DesktopEntry, FieldCodesBecomeArguments)
{
    const auto entry = DesktopEntry::parse("[Desktop Entry]\nName=Viewer\nExec=view --all %F --urls %U\n");
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->commandForFiles({"/a b.png", "/c.png"}),
              (QStringList{"view", "--all", "/a b.png", "/c.png", "--urls", "file:///a%20b.png", "file:///c.png"}));

    // Without a file code the file is appended; without an Exec line there is no command.
    EXPECT_EQ(DesktopEntry::parse("[Desktop Entry]\nExec=view --new-window\n")->commandForFiles({"/x.png"}),
              (QStringList{"view", "--new-window", "/x.png"}));
    EXPECT_FALSE(DesktopEntry::parse("[Desktop Entry]\nName=Nothing\n")->commandForFiles({"/x.png"}));
    EXPECT_FALSE(DesktopEntry::parse("[Other]\nExec=view\n"));
    // Only [Desktop Entry] counts, and an escaped value keeps its backslash.
    const auto two = DesktopEntry::parse("[Desktop Action x]\nExec=other\n[Desktop Entry]\nExec=\"a\\\\\\\\b\" %f\n");
    ASSERT_TRUE(two);
    EXPECT_EQ(two->commandForFiles({"/x.png"}), (QStringList{"a\\b", "/x.png"}));
}
