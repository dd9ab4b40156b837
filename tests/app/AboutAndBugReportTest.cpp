// The About panel's texts and the bug-report mail.
#include "app/AboutPanel.h"
#include "app/AppDelegate.h"
#include "app/BugReport.h"
#include "model/BuildInfo.h"
#include "support/RecordingWorkspace.h"
#include "support/TestHome.h"

#include <QApplication>
#include <QFile>
#include <QLocale>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace {

const QString kDescription = "A state-of-the-art screenshot tool for Linux.\nCapture, annotate, beautify, and share.";

TEST(AboutPanel, CreditsNameChannelCommitAndDate)
{
    const auto fallback = AboutPanel::content(BuildInfo{"2.1", "57", "dev", "", "dev"});
    EXPECT_EQ(fallback.applicationName, "Vorna");
    EXPECT_EQ(fallback.applicationVersion, "2.1");
    EXPECT_EQ(fallback.version, "57");
    EXPECT_EQ(fallback.credits(), kDescription + "\n\ndev \u00B7 dev");
    EXPECT_FALSE(fallback.copyright.isEmpty());

    const auto release = AboutPanel::content(
        BuildInfo{"3.0", "120", "0123456789abcdef0123456789abcdef01234567", "2025-02-03T10:00:00Z", "beta"});
    EXPECT_EQ(release.credits(), kDescription + "\n\nbeta \u00B7 0123456 \u00B7 2025-02-03T10:00:00Z");

    EXPECT_EQ(AboutPanel::content(BuildInfo{"1", "1", "abc", "", "stable"}).buildLine, "stable \u00B7 abc");
    EXPECT_EQ(AboutPanel::content(BuildInfo{"1", "1", "", "2025-01-01", "stable"}).buildLine,
              "stable \u00B7  \u00B7 2025-01-01");
    EXPECT_EQ(AboutPanel::content(BuildInfo{"1", "1", "", "", "stable"}).credits(), kDescription);

    EXPECT_EQ(AboutPanel::prefix("abcdefghij", 7), "abcdefg");
    EXPECT_EQ(AboutPanel::prefix("abc", 7), "abc");
    EXPECT_EQ(AboutPanel::prefix("abc", -1), "");
}

TEST(AboutPanel, ShownWithThisBuildsInformationAndReused)
{
    AppDelegate delegate;
    delegate.showAboutPanel();
    delegate.showAboutPanel();
    QList<AboutPanel *> panels;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *p = qobject_cast<AboutPanel *>(w))
            panels.append(p);
    ASSERT_EQ(panels.size(), 1);
    EXPECT_TRUE(panels[0]->isVisible());
    const auto &shown = panels[0]->shownContent();
    EXPECT_EQ(shown.applicationVersion, BuildInfo::current().version);
    EXPECT_EQ(shown.version, BuildInfo::current().build);
    EXPECT_TRUE(shown.buildLine.startsWith(BuildInfo::current().channel + " \u00B7 "));
}

TEST(BugReport, BodyCarriesTheSystemInformation)
{
    const QString body = BugReport::body("1.2", "34", "Debian GNU/Linux 12", "ThinkPad X1", "de_DE");
    EXPECT_TRUE(body.startsWith("Describe the bug:\n\n\nSteps to reproduce:\n1.\n2.\n3.\n"));
    EXPECT_TRUE(body.contains("\n--- System information ---\nApp: Vorna 1.2 (build 34)\n"));
    EXPECT_TRUE(body.endsWith("\nOS: Debian GNU/Linux 12\nHardware: ThinkPad X1\nLocale: de_DE"));
    const qsizetype from = QString("Describe the bug:\n").size();
    EXPECT_EQ(body.mid(from, body.indexOf("1.2 (build") - from).toUtf8().size(), 112);
}

TEST(BugReport, MailLinkKeepsEveryCharacterOfTheBody)
{
    const QString body = BugReport::body("1.0 & more=yes", "#7", "100% Linux + ?", "Caf\u00E9 \u00B5PC", "en_US");
    const QUrl url = BugReport::mailUrl(body);
    ASSERT_TRUE(url.isValid());
    EXPECT_EQ(url.scheme(), "mailto");
    EXPECT_EQ(url.path(), BugReport::supportAddress());
    const QByteArray encoded = url.toEncoded();
    EXPECT_FALSE(encoded.contains(' '));
    EXPECT_FALSE(encoded.contains('\n'));
    // Read back the way a mail program does.
    const QUrl reread = QUrl::fromEncoded(encoded);
    const QUrlQuery query(reread);
    EXPECT_EQ(query.queryItemValue("subject", QUrl::FullyDecoded), "Vorna bug");
    EXPECT_EQ(query.queryItemValue("body", QUrl::FullyDecoded), body);
    EXPECT_EQ(query.queryItems().size(), 2);
}

TEST(BugReport, HardwareModelFromTheFirmware)
{
    auto model = [](const QByteArray &bytes) {
        const QString path = TestHome::path() + "/product_name";
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        f.close();
        return BugReport::deviceModelIdentifier(path);
    };
    EXPECT_EQ(model("ThinkPad X1 Carbon Gen 9\n"), "ThinkPad X1 Carbon Gen 9");
    EXPECT_EQ(model(QByteArray("Model\0junk", 10)), "Model");
    EXPECT_EQ(model("bad \xff byte"), QString("bad \uFFFD byte"));
    EXPECT_EQ(model(""), "unknown");
    EXPECT_EQ(model("\n"), "unknown");
    EXPECT_EQ(BugReport::deviceModelIdentifier(TestHome::path() + "/none"), "unknown");
}

TEST(BugReport, ReportHandsTheMailLinkToTheDesktop)
{
    RecordingWorkspace workspace;
    AppDelegate delegate;
    delegate.reportBug();
    ASSERT_EQ(workspace.opened.size(), 1);
    const QUrl url = workspace.opened.first();
    EXPECT_EQ(url.scheme(), "mailto");
    const QString body = QUrlQuery(url).queryItemValue("body", QUrl::FullyDecoded);
    // This test process registers no version texts.
    EXPECT_TRUE(body.contains("\nApp: Vorna ? (build ?)\n")) << body.toStdString();
    EXPECT_TRUE(body.contains("\nHardware: " + BugReport::deviceModelIdentifier() + "\n"));
    EXPECT_TRUE(body.endsWith("\nLocale: " + QLocale().name()));
    EXPECT_TRUE(body.contains("\nOS: " + BugReport::operatingSystemVersionString() + "\n"));
}

} // namespace
