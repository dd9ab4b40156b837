#include "model/AppState.h"
#include "model/NotificationNames.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/TestHome.h"

#include <QDir>
#include <QJsonDocument>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

class AppStateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        UserDefaults::resetStandard();
        TestHome::reset();
    }
    void TearDown() override { UserDefaults::resetStandard(); }

    UserDefaults &defaults() { return UserDefaults::standard(); }

    // Counts change signals per property.
    static int changes(const QSignalSpy &spy, AppState::Property p)
    {
        int n = 0;
        for (const auto &args : spy)
            n += args.at(0).value<AppState::Property>() == p ? 1 : 0;
        return n;
    }

    int countPosts(const QString &name, const std::function<void()> &action)
    {
        QObject ctx;
        int posts = 0;
        NotificationCenter::instance().addObserver(name, &ctx, [&](const auto &) { ++posts; });
        action();
        return posts;
    }
};

} // namespace

TEST_F(AppStateTest, AnEmptyStoreGivesEveryDefaultAndWritesNothing)
{
    AppState s;
    const QString desktop = TestHome::path() + "/Desktop";
    EXPECT_EQ(s.defaultFormat(), ImageFormat::png);
    EXPECT_EQ(s.saveDirectory(), desktop);
    EXPECT_DOUBLE_EQ(s.jpegQuality(), 0.9);
    EXPECT_TRUE(s.copyToClipboard());
    EXPECT_TRUE(s.playSound());
    EXPECT_TRUE(s.showFloatingPreview());
    EXPECT_FALSE(s.simpleMenuMode());
    EXPECT_FALSE(s.showCaptureFlash());
    EXPECT_FALSE(s.includeCursor());
    EXPECT_FALSE(s.iCloudSyncEnabled());
    EXPECT_EQ(s.floatingPreviewDurationSec(), 7);
    EXPECT_EQ(s.countdownSeconds(), 5);
    EXPECT_EQ(s.maxFileSizeKB(), 0);
    EXPECT_EQ(s.doubleTapIntervalMS(), 350);
    EXPECT_FALSE(s.externalEditorPath());
    EXPECT_FALSE(s.preferredLanguage());
    EXPECT_EQ(s.savedPaths(), QStringList{desktop});
    EXPECT_EQ(s.captureMode(), CaptureMode::region);
    EXPECT_EQ(s.currentTool(), AnnotationTool::arrow);
    EXPECT_EQ(s.nextNumber(), 1);
    EXPECT_TRUE(defaults().dictionaryRepresentation().isEmpty());
}

TEST_F(AppStateTest, StoredValuesAndTheirFallbacksAreReadAtConstruction)
{
    QDir().mkpath(TestHome::path() + "/Pictures");
    QFile(TestHome::path() + "/afile").open(QIODevice::WriteOnly);
    defaults().setBool("copyToClipboard", false);
    defaults().setString("defaultFormat", "gif");
    defaults().setString("saveDirectory", "  ~/Pictures \n");
    defaults().setInteger("floatingPreviewDurationSec", 100);
    defaults().setString("externalEditorPath", "");
    defaults().setString("preferredLanguage", "");
    defaults().setData("savedPaths", "[\"/a\",\"/b\",\"/a\"]");
    {
        AppState s;
        EXPECT_FALSE(s.copyToClipboard());
        EXPECT_EQ(s.defaultFormat(), ImageFormat::png);
        EXPECT_EQ(s.saveDirectory(), "~/Pictures");
        EXPECT_EQ(s.floatingPreviewDurationSec(), 100);
        EXPECT_FALSE(s.externalEditorPath());
        EXPECT_EQ(s.preferredLanguage(), QString(""));
        EXPECT_EQ(s.savedPaths(), (QStringList{"/a", "/b", "/a"}));
    }
    const QString desktop = TestHome::path() + "/Desktop";
    for (const QString &bad : {QString("~/afile"), QString("~/missing"), QString("   ")}) {
        defaults().setString("saveDirectory", bad);
        EXPECT_EQ(AppState().saveDirectory(), desktop) << bad.toStdString();
    }
    for (const QByteArray &bad : {QByteArray("[]"), QByteArray("{"), QByteArray("[1,2]")}) {
        defaults().setData("savedPaths", bad);
        EXPECT_EQ(AppState().savedPaths(), QStringList{desktop}) << bad.toStdString();
    }
}

TEST_F(AppStateTest, ClampedIntegersStoreTheBoundAndObserversSeeTheSettledValue)
{
    defaults().setInteger("floatingPreviewDurationSec", 100);
    AppState s;
    QSignalSpy spy(&s, &AppState::changed);
    s.setFloatingPreviewDurationSec(100); // equal to the stored value, still clamped
    EXPECT_EQ(s.floatingPreviewDurationSec(), 60);
    EXPECT_EQ(defaults().integerForKey("floatingPreviewDurationSec"), 60);
    EXPECT_GE(changes(spy, AppState::Property::floatingPreviewDurationSec), 1);

    s.setFloatingPreviewDurationSec(0);
    s.setCountdownSeconds(0);
    s.setDoubleTapIntervalMS(0);
    EXPECT_EQ(defaults().integerForKey("floatingPreviewDurationSec"), 2);
    EXPECT_EQ(defaults().integerForKey("countdownSeconds"), 1);
    EXPECT_EQ(defaults().integerForKey("doubleTapIntervalMS"), 120);
    s.setCountdownSeconds(31);
    EXPECT_EQ(s.countdownSeconds(), 30);
    s.setDoubleTapIntervalMS(5000);
    EXPECT_EQ(s.doubleTapIntervalMS(), 1000);

    AppState next; // the stored bounds read back as they are, not as defaults
    EXPECT_EQ(next.floatingPreviewDurationSec(), 2);
    EXPECT_EQ(next.countdownSeconds(), 30);
    EXPECT_EQ(next.doubleTapIntervalMS(), 1000);
}

TEST_F(AppStateTest, StoreRulesKeepThePropertyAsAssigned)
{
    AppState s;
    s.setJpegQuality(0);
    EXPECT_EQ(defaults().doubleForKey("jpegQuality"), 0.0);
    s.setMaxFileSizeKB(-5);
    EXPECT_EQ(s.maxFileSizeKB(), -5);
    EXPECT_EQ(defaults().integerForKey("maxFileSizeKB"), 0);
    s.setSaveDirectory(" /tmp/x ");
    EXPECT_EQ(s.saveDirectory(), " /tmp/x ");
    EXPECT_EQ(defaults().stringForKey("saveDirectory"), QString("/tmp/x"));
    s.setExternalEditorPath(std::nullopt);
    EXPECT_EQ(defaults().stringForKey("externalEditorPath"), QString(""));
    s.setPreferredLanguage(QString("de"));
    EXPECT_EQ(defaults().stringArrayForKey("AppleLanguages"), QStringList{"de"});
    s.setPreferredLanguage(std::nullopt);
    EXPECT_FALSE(defaults().contains("preferredLanguage"));
    EXPECT_FALSE(defaults().contains("AppleLanguages"));

    AppState next;
    EXPECT_DOUBLE_EQ(next.jpegQuality(), 0.9);
    EXPECT_FALSE(next.externalEditorPath());
}

TEST_F(AppStateTest, UnchangedAssignmentsWriteButDoNotNotifyObservers)
{
    AppState s;
    QSignalSpy spy(&s, &AppState::changed);
    QSignalSpy writes(&defaults(), &UserDefaults::changed);
    const int menuPosts = countPosts(NotificationNames::menuModeChanged, [&] { s.setSimpleMenuMode(false); });
    EXPECT_EQ(menuPosts, 1);
    EXPECT_EQ(writes.count(), 1);
    EXPECT_EQ(spy.count(), 0);

    // Canonically equivalent texts are equal: no observer is told.
    s.setSaveDirectory(QString::fromUtf8("/tmp/caf\xc3\xa9"));
    spy.clear();
    s.setSaveDirectory(QString::fromUtf8("/tmp/cafe\xcc\x81"));
    EXPECT_EQ(spy.count(), 0);

    // Lists without equality always notify.
    s.setAnnotations(s.annotations());
    EXPECT_EQ(changes(spy, AppState::Property::annotations), 1);
}

TEST_F(AppStateTest, SavedPathsSettleOnTheFirstOccurrenceOfEachPath)
{
    AppState s;
    QSignalSpy spy(&s, &AppState::changed);
    QSignalSpy writes(&defaults(), &UserDefaults::changed);
    int posts = countPosts(NotificationNames::savedPathsChanged, [&] { s.setSavedPaths({"/a", "/b", "/a"}); });
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(s.savedPaths(), (QStringList{"/a", "/b"}));
    EXPECT_EQ(writes.count(), 1);
    EXPECT_EQ(QJsonDocument::fromJson(*defaults().dataForKey("savedPaths")).toVariant().toStringList(),
              (QStringList{"/a", "/b"}));
    EXPECT_GE(changes(spy, AppState::Property::savedPaths), 1);

    spy.clear();
    posts = countPosts(NotificationNames::savedPathsChanged, [&] { s.setSavedPaths({"/a", "/b"}); });
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(spy.count(), 0);

    s.setSavedPaths({"/a", "/a/"});
    EXPECT_EQ(s.savedPaths().size(), 2);

    // Canonically equivalent texts are one path; awkward characters are
    // stored so that they read back as they were.
    const QStringList awkward{QString::fromUtf8("/tmp/caf\xc3\xa9"), "/q\"uote", "/back\\slash", "/tab\there",
                              "/line\nbreak", QString("/bell") + QChar(7), QString::fromUtf8("/Fotos \xf0\x9f\x93\xb7"),
                              QString::fromUtf8("/tmp/cafe\xcc\x81")};
    const QStringList settled = awkward.mid(0, 7);
    s.setSavedPaths(awkward);
    EXPECT_EQ(s.savedPaths(), settled);
    EXPECT_EQ(QJsonDocument::fromJson(*defaults().dataForKey("savedPaths")).toVariant().toStringList(), settled);
    EXPECT_EQ(AppState().savedPaths(), settled);
}

TEST_F(AppStateTest, GenericAccessGoesThroughTheSetter)
{
    AppState s;
    s.setValue(AppState::Property::countdownSeconds, 99);
    EXPECT_EQ(s.value(AppState::Property::countdownSeconds).toLongLong(), 30);
    s.setValue(AppState::Property::defaultFormat, QVariant::fromValue(ImageFormat::webp));
    EXPECT_EQ(defaults().stringForKey("defaultFormat"), QString("webp"));
    s.setValue(AppState::Property::externalEditorPath, QVariant());
    EXPECT_FALSE(s.externalEditorPath());
}
