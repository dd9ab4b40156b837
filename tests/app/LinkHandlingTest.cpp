// Links and command-line arguments: which capture a link asks for, what is
// logged for the links that ask for none, and which arguments become links.
#include "app/AppDelegate.h"
#include "app/OpenArguments.h"
#include "model/CaptureMode.h"
#include "model/NotificationNames.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"

#include <QDir>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <optional>

namespace {

enum class Outcome { capture, unhandledHost, unknownMode, nothing };

struct LinkCase
{
    const char *link;
    Outcome outcome;
    std::optional<CaptureMode> mode = std::nullopt;
};

void PrintTo(const LinkCase &c, std::ostream *os)
{
    std::string name = std::string(c.link).substr(0, 48);
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    *os << name;
}

class LinkTable : public testing::TestWithParam<LinkCase>
{
};

TEST_P(LinkTable, HandlesLinkAsExpected)
{
    const LinkCase c = GetParam();
    AppDelegate delegate;
    QList<CaptureMode> requested;
    int otherPosts = 0;
    NotificationCenter::instance().addObserver(NotificationNames::initCapture, &delegate,
                                               [&](const NotificationCenter::Notification &n) {
                                                   requested.append(n.userInfo.value("mode").value<CaptureMode>());
                                                   EXPECT_EQ(n.userInfo.size(), 1);
                                                   EXPECT_EQ(n.userInfo.value("mode").metaType(),
                                                             QMetaType::fromType<CaptureMode>());
                                               });
    QObject::connect(&NotificationCenter::instance(), &NotificationCenter::posted, &delegate,
                     [&](const QString &name) { otherPosts += name != NotificationNames::initCapture; });
    LogCapture log;

    const QUrl url(QString::fromUtf8(c.link));
    delegate.handleURL(url);

    const QString text = url.toString(QUrl::FullyEncoded);
    switch (c.outcome) {
    case Outcome::capture:
        ASSERT_EQ(requested.size(), 1);
        EXPECT_EQ(requested.first(), *c.mode);
        EXPECT_FALSE(log.contains("url: unknown capture mode"));
        break;
    case Outcome::unhandledHost:
        EXPECT_TRUE(requested.isEmpty());
        EXPECT_TRUE(log.lines().contains("[Vorna] url: unhandled host: " + text)) << log.lines().join('\n').toStdString();
        break;
    case Outcome::unknownMode:
        EXPECT_TRUE(requested.isEmpty());
        EXPECT_TRUE(log.lines().contains("[Vorna] url: unknown capture mode: " + text))
            << log.lines().join('\n').toStdString();
        break;
    case Outcome::nothing:
        EXPECT_TRUE(requested.isEmpty());
        EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('\n').toStdString();
        break;
    }
    EXPECT_EQ(otherPosts, 0);
}

const std::string kLongMode(5000, 'a');
const std::string kLongLink = "vorna://capture?mode=" + kLongMode;

INSTANTIATE_TEST_SUITE_P(
    Links, LinkTable,
    testing::Values(
        LinkCase{"vorna://capture?mode=region", Outcome::capture, CaptureMode::region},
        LinkCase{"vorna://capture?mode=fullscreen", Outcome::capture, CaptureMode::fullscreen},
        LinkCase{"vorna://capture?mode=scrolling", Outcome::capture, CaptureMode::scrolling},
        LinkCase{"VORNA://CAPTURE?mode=Region", Outcome::capture, CaptureMode::region},
        LinkCase{"Vorna://Capture?mode=TIMED", Outcome::capture, CaptureMode::timed},
        LinkCase{"vorna://capture?mode=window&mode=region", Outcome::capture, CaptureMode::window},
        LinkCase{"vorna://capture?source=launcher&mode=window", Outcome::capture, CaptureMode::window},
        LinkCase{"vorna://capture?mode=re%67ion", Outcome::capture, CaptureMode::region},
        LinkCase{"vorna://capture/?mode=timed#later", Outcome::capture, CaptureMode::timed},
        // Only the first "mode" counts, even when it is no mode.
        LinkCase{"vorna://capture?mode=video&mode=region", Outcome::unknownMode},
        LinkCase{"vorna://capture?MODE=region", Outcome::unknownMode},
        LinkCase{"vorna://capture?Mode=region", Outcome::unknownMode},
        LinkCase{"vorna://capture", Outcome::unknownMode},
        LinkCase{"vorna://capture?", Outcome::unknownMode},
        LinkCase{"vorna://capture?mode=", Outcome::unknownMode},
        LinkCase{"vorna://capture?mode", Outcome::unknownMode},
        LinkCase{"vorna://capture?mode=%20region", Outcome::unknownMode},
        LinkCase{"vorna://capture?mode=region%00", Outcome::unknownMode},
        LinkCase{"vorna://capture?mode=%FF%FE", Outcome::unknownMode},
        LinkCase{"vorna://capture?mode=%25d%25s", Outcome::unknownMode},
        LinkCase{kLongLink.c_str(), Outcome::unknownMode},
        LinkCase{"vorna://settings?mode=region", Outcome::unhandledHost},
        LinkCase{"vorna://captures?mode=region", Outcome::unhandledHost},
        LinkCase{"vorna://settings/%25n?x=%25s%25@", Outcome::unhandledHost},
        LinkCase{"https://capture?mode=region", Outcome::nothing},
        LinkCase{"vornax://capture?mode=region", Outcome::nothing},
        LinkCase{"vorna:capture?mode=region", Outcome::nothing},
        LinkCase{"vorna:///capture?mode=region", Outcome::nothing},
        LinkCase{"capture?mode=region", Outcome::nothing},
        LinkCase{"", Outcome::nothing}));

TEST(LinkHandling, SeveralLinksAreHandledInTheOrderGiven)
{
    AppDelegate delegate;
    QList<CaptureMode> requested;
    NotificationCenter::instance().addObserver(NotificationNames::initCapture, &delegate,
                                               [&](const NotificationCenter::Notification &n) {
                                                   requested.append(n.userInfo.value("mode").value<CaptureMode>());
                                               });
    delegate.openURLs({QUrl("vorna://capture?mode=timed"), QUrl("vorna://nowhere"),
                       QUrl("vorna://capture?mode=window"), QUrl("vorna://capture?mode=fullscreen")});
    EXPECT_EQ(requested, (QList<CaptureMode>{CaptureMode::timed, CaptureMode::window, CaptureMode::fullscreen}));
}

// ---- command-line arguments ----

QList<QByteArray> fromCommandLine(std::vector<std::string> args, bool skipToolkitOptions)
{
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    return OpenArguments::fromCommandLine(static_cast<int>(argv.size()), argv.data(), skipToolkitOptions);
}

TEST(OpenArguments, OptionsAreNotLinksOrFiles)
{
    EXPECT_EQ(fromCommandLine({"vorna", "--ui-tests-show-help", "vorna://capture?mode=region", "-", "a.png"}, false),
              (QList<QByteArray>{"vorna://capture?mode=region", "-", "a.png"}));
    // After "--" everything is a file, even names that look like options.
    EXPECT_EQ(fromCommandLine({"vorna", "--", "--odd.png", "b.png"}, false), (QList<QByteArray>{"--odd.png", "b.png"}));
    // A process reading its arguments before the toolkit also skips the
    // values of the toolkit's own options.
    EXPECT_EQ(fromCommandLine({"vorna", "-platform", "offscreen", "--display", ":3", "-reverse", "x.png"}, true),
              (QList<QByteArray>{"x.png"}));
    EXPECT_EQ(fromCommandLine({"vorna", "-platform", "offscreen", "x.png"}, false),
              (QList<QByteArray>{"offscreen", "x.png"}));
    EXPECT_TRUE(fromCommandLine({"vorna"}, true).isEmpty());
}

TEST(OpenArguments, LinksStayLinksAndPathsBecomeFileUrls)
{
    QString problem;
    EXPECT_EQ(OpenArguments::urlForArgument("vorna://capture?mode=region", "/home/u", &problem),
              QUrl("vorna://capture?mode=region"));
    EXPECT_EQ(OpenArguments::urlForArgument("file:///tmp/a%20b.png", "/home/u", &problem),
              QUrl::fromLocalFile("/tmp/a b.png"));
    EXPECT_EQ(OpenArguments::urlForArgument("shots/a.png", "/home/u", &problem),
              QUrl::fromLocalFile("/home/u/shots/a.png"));
    EXPECT_EQ(OpenArguments::urlForArgument("../x/./b.png", "/home/u", &problem), QUrl::fromLocalFile("/home/x/b.png"));
    EXPECT_EQ(OpenArguments::urlForArgument("/abs/c d.png", "", &problem), QUrl::fromLocalFile("/abs/c d.png"));
    // "c:x.png" is a file name, not a link of scheme "c".
    EXPECT_EQ(OpenArguments::urlForArgument("c:x.png", "/w", &problem), QUrl::fromLocalFile("/w/c:x.png"));
    EXPECT_EQ(OpenArguments::urlForArgument(QString::fromUtf8("Bilder/Stra\u00DFe.png").toUtf8(), "/w", &problem),
              QUrl::fromLocalFile(QString::fromUtf8("/w/Bilder/Stra\u00DFe.png")));
}

TEST(OpenArguments, UnusableArgumentsAreRefusedWithAReason)
{
    const QByteArray rejected[] = {
        QByteArray(),
        QByteArray(OpenArguments::maxArgumentBytes + 1, 'a'),
        QByteArray("bad\xff\xfe.png"),
        QByteArray("nul\0byte.png", 12),
        QByteArray("line\nbreak.png"),
        QByteArray("esc\x1b[31m.png"),
        QByteArray("vorna://capture?mode=re gion"),
        QByteArray("relative.png"), // with no working folder to resolve it against
    };
    for (const QByteArray &arg : rejected) {
        QString problem;
        EXPECT_FALSE(OpenArguments::urlForArgument(arg, arg == "relative.png" ? QString() : "/w", &problem))
            << arg.toStdString();
        EXPECT_FALSE(problem.isEmpty());
    }
    QString problem;
    EXPECT_TRUE(OpenArguments::urlForArgument(QByteArray(OpenArguments::maxArgumentBytes - 3, 'a'), "/", &problem));
}

TEST(OpenArguments, DelegateLogsIgnoredArgumentsAndHandlesTheRest)
{
    AppDelegate delegate;
    QList<CaptureMode> requested;
    NotificationCenter::instance().addObserver(NotificationNames::initCapture, &delegate,
                                               [&](const NotificationCenter::Notification &n) {
                                                   requested.append(n.userInfo.value("mode").value<CaptureMode>());
                                               });
    LogCapture log;
    delegate.openArguments({QByteArray("bin\xff"), QByteArray(100000, 'x'), QByteArray("vorna://capture?mode=window")},
                           QDir::rootPath());
    EXPECT_EQ(requested, QList<CaptureMode>{CaptureMode::window});
    EXPECT_TRUE(log.contains("[Vorna] open: ignored an argument that is not UTF-8 text"));
    EXPECT_TRUE(log.contains("[Vorna] open: ignored an overlong argument (100000 bytes)"));
    // Binary content never reaches the log.
    for (const QString &line : log.lines())
        EXPECT_FALSE(line.contains(QChar::ReplacementCharacter)) << line.toStdString();
}

} // namespace
