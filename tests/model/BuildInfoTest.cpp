// Build information from the resource the build writes, and its fallback.
#include "model/BuildInfo.h"

#include "support/TestHome.h"

#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString writeFile(const QByteArray &bytes)
{
    const QString path = TestHome::path() + "/BuildInfo.json";
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return path;
}

void setBundleVersions(const QString &version, const QVariant &build)
{
    QCoreApplication::setApplicationVersion(version);
    qApp->setProperty("vornaBuildNumber", build);
}

TEST(BuildInfo, TheBuildWritesAUsableResource)
{
    const BuildInfo &info = BuildInfo::current();
    // Written by the build: the project's version, never the fallback.
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(info.version).hasMatch()) << info.version.toStdString();
    EXPECT_FALSE(info.build.isEmpty());
    EXPECT_NE(info.build, "?");
    EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ$").match(info.buildDate).hasMatch());
    EXPECT_FALSE(info.commit.isEmpty());
    EXPECT_EQ(BuildInfo::load(), info);
    EXPECT_EQ(&BuildInfo::current(), &info);
}

TEST(BuildInfo, ResourceWithAllFiveTextsIsTakenWhole)
{
    const QString path = writeFile(R"({"version":"3.0","build":"120","commit":"0123456789abcdef","buildDate":"2025-02-03","channel":"beta","extra":42})");
    const BuildInfo info = BuildInfo::load(path);
    EXPECT_EQ(info, (BuildInfo{"3.0", "120", "0123456789abcdef", "2025-02-03", "beta"}));
    EXPECT_EQ(BuildInfo::decode(info.toJson()), info);
}

TEST(BuildInfo, AnyFlawGivesTheWholeFallback)
{
    setBundleVersions("2.1", QStringLiteral("57"));
    const BuildInfo fallback{"2.1", "57", "dev", "", "dev"};
    EXPECT_EQ(BuildInfo::fallback(), fallback);
    const QByteArray flawed[] = {
        R"({"version":"3.0","build":"120","commit":"abc","buildDate":"x","channel":7})",
        R"({"version":"3.0","build":"120","commit":"abc","buildDate":"x"})",
        R"({"version":"3.0","build":"120","commit":"abc","buildDate":null,"channel":"beta"})",
        R"(["3.0","120"])",
        "not json at all",
        "",
    };
    for (const QByteArray &bytes : flawed)
        EXPECT_EQ(BuildInfo::load(writeFile(bytes)), fallback) << bytes.toStdString();
    EXPECT_EQ(BuildInfo::load(TestHome::path() + "/missing.json"), fallback);
}

TEST(BuildInfo, FallbackMarksMissingVersionTexts)
{
    setBundleVersions("2.1", QVariant());
    EXPECT_EQ(BuildInfo::fallback(), (BuildInfo{"2.1", "?", "dev", "", "dev"}));
    setBundleVersions("", 57);
    EXPECT_EQ(BuildInfo::fallback(), (BuildInfo{"?", "?", "dev", "", "dev"}));
}

} // namespace
