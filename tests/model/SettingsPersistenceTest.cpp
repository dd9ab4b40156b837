// The settings mirror: which keys it keeps, the exact document, restore at
// launch, the debounced rewrite, and import.
#include "model/SettingsPersistence.h"

#include "model/NotificationNames.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/SmallDisk.h"
#include "support/TestHome.h"
#include "support/UnansweredPipe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// The document with its time of writing taken out (checked separately).
QByteArray withoutTimestamp(const QByteArray &doc)
{
    QString text = QString::fromUtf8(doc);
    static const QRegularExpression stamp("\"exportedAt\" : \"(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ)\"");
    const auto m = stamp.match(text);
    EXPECT_TRUE(m.hasMatch()) << doc.toStdString();
    if (m.hasMatch()) {
        const QDateTime when = QDateTime::fromString(m.captured(1), Qt::ISODate);
        EXPECT_LT(qAbs(when.secsTo(QDateTime::currentDateTimeUtc())), 60);
    }
    text.replace(stamp, "\"exportedAt\" : \"T\"");
    return text.toUtf8();
}

TEST(SettingsPersistence, MirrorsExactlyThePreferenceKeys)
{
    EXPECT_EQ(SettingsPersistence::mirroredKeys().size(), 19);
    for (const char *key : {"jpegQuality", "annotationPresets.v1", "simpleMenuMode", "doubleTapFullscreen",
                            "hotkey.window", "hotkey.", "doubleTapTarget.region"})
        EXPECT_TRUE(SettingsPersistence::isMirrored(key)) << key;
    for (const char *key : {"AppleLanguages", "updates.skippedVersion", "vorna.uiTests.preselectedSettingsTab",
                            "JpegQuality", "Hotkey.window", "xhotkey.window", "hotkeys"})
        EXPECT_FALSE(SettingsPersistence::isMirrored(key)) << key;
    EXPECT_EQ(SettingsPersistence::shared().fileURL(), AppPaths::appDataDir() + "/settings.json");
}

TEST(SettingsPersistence, DocumentBytes)
{
    UserDefaults &d = UserDefaults::standard();
    d.setDouble("jpegQuality", 0.85);
    d.setInteger("countdownSeconds", 5);
    d.setBool("playSound", false);
    d.setString("saveDirectory", "/home/u/Pictures/Shots");
    d.setObject("savedPaths", QStringList{"~/a", "/b/c"});
    d.setData("hotkey.window", QByteArray("{\"keyCode\":19}"));
    d.setObject("annotationPresets.v1", QVariantMap{{"z", 1}, {"a", QVariantList{true, 2.5}}});
    d.setString("AppleLanguages", "de");             // not mirrored
    d.setObject("iCloudSyncEnabled", QDateTime::currentDateTimeUtc()); // no JSON form
    d.setObject("externalEditorPath", QVariantList{QByteArray("x")}); // bytes nested: no JSON form

    const QByteArray expected = "{\n"
                                "  \"exportedAt\" : \"T\",\n"
                                "  \"values\" : {\n"
                                "    \"annotationPresets.v1\" : {\n"
                                "      \"a\" : [\n"
                                "        true,\n"
                                "        2.5\n"
                                "      ],\n"
                                "      \"z\" : 1\n"
                                "    },\n"
                                "    \"countdownSeconds\" : 5,\n"
                                "    \"hotkey.window\" : {\n"
                                "      \"__data__\" : \"eyJrZXlDb2RlIjoxOX0=\"\n"
                                "    },\n"
                                "    \"jpegQuality\" : 0.85,\n"
                                "    \"playSound\" : false,\n"
                                "    \"saveDirectory\" : \"\\/home\\/u\\/Pictures\\/Shots\",\n"
                                "    \"savedPaths\" : [\n"
                                "      \"~\\/a\",\n"
                                "      \"\\/b\\/c\"\n"
                                "    ]\n"
                                "  },\n"
                                "  \"version\" : 1\n"
                                "}";
    EXPECT_EQ(withoutTimestamp(SettingsPersistence::shared().settingsDocument()).toStdString(),
              expected.toStdString());

    QByteArray written;
    ASSERT_TRUE(SettingsPersistence::shared().writeSettingsFile(&written));
    EXPECT_EQ(readFile(SettingsPersistence::shared().fileURL()), written);
    EXPECT_EQ(withoutTimestamp(written), expected);
}

TEST(SettingsPersistence, RestoreFillsOnlyMissingKeys)
{
    const QString mirror = SettingsPersistence::shared().fileURL();
    writeFile(mirror, R"({"version":1,"values":{
        "jpegQuality":0.5, "countdownSeconds":9, "AppleLanguages":["fr"],
        "hotkey.window":{"__data__":"AAEC"}, "hotkey.region":{"__data__":"%%not base64%%"},
        "playSound":null, "savedPaths":["/a",null], "includeCursor":true}})");
    UserDefaults &d = UserDefaults::standard();
    d.setDouble("jpegQuality", 0.8);
    d.setBool("playSound", true);

    SettingsPersistence::shared().start();

    EXPECT_EQ(d.doubleForKey("jpegQuality"), 0.8); // existing values win
    EXPECT_EQ(d.object("countdownSeconds"), QVariant::fromValue<qint64>(9));
    EXPECT_EQ(d.object("hotkey.window"), QVariant(QByteArray("\x00\x01\x02", 3)));
    EXPECT_EQ(d.object("hotkey.region"), QVariant(QVariantMap{{"__data__", "%%not base64%%"}}));
    EXPECT_TRUE(d.boolForKey("includeCursor"));
    EXPECT_FALSE(d.contains("AppleLanguages"));
    // A null, alone or inside a value, is skipped; the rest of the file still counts.
    EXPECT_TRUE(d.boolForKey("playSound"));
    EXPECT_FALSE(d.contains("savedPaths"));

    // Restoring wrote nothing back.
    EXPECT_TRUE(readFile(mirror).contains("\"playSound\":null"));
}

TEST(SettingsPersistence, RestoreIgnoresFilesThatAreNoDocument)
{
    const QString mirror = SettingsPersistence::shared().fileURL();
    for (const QByteArray &bytes : {QByteArray("[1,2]"), QByteArray("{\"values\":\"x\"}"), QByteArray("{"),
                                    QByteArray("{\"jpegQuality\":0.1}")}) {
        writeFile(mirror, bytes);
        SettingsPersistence::shared().restoreFromFile();
        EXPECT_TRUE(UserDefaults::standard().dictionaryRepresentation().isEmpty()) << bytes.toStdString();
    }
}

TEST(SettingsPersistence, BurstOfChangesIsWrittenOnceHalfASecondLater)
{
    SettingsPersistence &mirror = SettingsPersistence::shared();
    mirror.start();
    UserDefaults &d = UserDefaults::standard();
    d.setInteger("countdownSeconds", 3);
    QTest::qWait(200);
    d.setBool("showCaptureFlash", true);
    d.setString("updates.skippedVersion", "1.0"); // any change reschedules
    QTest::qWait(250);
    EXPECT_FALSE(QFileInfo::exists(mirror.fileURL())) << "written before the burst settled";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(mirror.fileURL()); }, 30000));
    const QByteArray doc = readFile(mirror.fileURL());
    EXPECT_TRUE(doc.contains("\"countdownSeconds\" : 3"));
    EXPECT_TRUE(doc.contains("\"showCaptureFlash\" : true"));
    EXPECT_FALSE(doc.contains("updates"));

    QFile::remove(mirror.fileURL());
    QTest::qWait(700);
    EXPECT_FALSE(QFileInfo::exists(mirror.fileURL())) << "written twice for one burst";
}

TEST(SettingsPersistence, ImportStoresCountsNotifiesAndRewrites)
{
    UserDefaults &d = UserDefaults::standard();
    d.setDouble("jpegQuality", 0.7);
    QStringList posted;
    QObject listening; // ends the connection with the case
    QObject::connect(&NotificationCenter::instance(), &NotificationCenter::posted, &listening,
                     [&](const QString &name) { posted.append(name); });

    const auto count = SettingsPersistence::shared().importSettings(R"({"version":2,"values":{
        "jpegQuality":0.7, "maxFileSizeKB":"lots", "hotkey.timed":{"__data__":"e30="},
        "AppleLanguages":["de"], "updates.automatic":false}})");
    ASSERT_TRUE(count);
    EXPECT_EQ(*count, 3); // equal values count too; other keys do not
    EXPECT_EQ(d.object("maxFileSizeKB"), QVariant("lots")); // stored as it is
    EXPECT_EQ(d.object("hotkey.timed"), QVariant(QByteArray("{}")));
    EXPECT_FALSE(d.contains("AppleLanguages"));
    EXPECT_FALSE(d.contains("updates.automatic"));
    EXPECT_EQ(posted, (QStringList{NotificationNames::hotKeysChanged, NotificationNames::savedPathsChanged}));
    EXPECT_TRUE(readFile(SettingsPersistence::shared().fileURL()).contains("\"maxFileSizeKB\" : \"lots\""));

    posted.clear();
    EXPECT_EQ(SettingsPersistence::shared().importSettings(R"({"values":{}})"), 0);
    EXPECT_EQ(posted.size(), 2);
}

TEST(SettingsPersistence, ImportRefusesWhatIsNoSettingsDocument)
{
    QStringList posted;
    QObject listening; // ends the connection with the case
    QObject::connect(&NotificationCenter::instance(), &NotificationCenter::posted, &listening,
                     [&](const QString &name) { posted.append(name); });
    for (const QByteArray &bytes : {QByteArray("[{\"values\":{}}]"), QByteArray("{\"values\":\"jpegQuality\"}"),
                                    QByteArray("{\"version\":1}"), QByteArray("\xff\xfe{"), QByteArray()})
        EXPECT_FALSE(SettingsPersistence::shared().importSettings(bytes)) << bytes.toStdString();
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(SettingsPersistence::shared().fileURL()));
}

// A null in an imported file used to remove the user's current value.
TEST(SettingsPersistence, ImportedNullsNeverReplaceOrRemoveValues)
{
    UserDefaults &d = UserDefaults::standard();
    d.setDouble("jpegQuality", 0.8);
    d.setObject("savedPaths", QStringList{"/keep"});
    d.setObject("annotationPresets.v1", QVariantList{QVariantMap{{"name", "Red"}}});
    const auto count = SettingsPersistence::shared().importSettings(R"({"values":{
        "jpegQuality":null, "savedPaths":["/new",null], "annotationPresets.v1":[{"name":null}],
        "countdownSeconds":7, "playSound":false}})");
    ASSERT_TRUE(count);
    EXPECT_EQ(*count, 2);
    EXPECT_EQ(d.doubleForKey("jpegQuality"), 0.8);
    EXPECT_EQ(d.stringArrayForKey("savedPaths"), QStringList{"/keep"});
    EXPECT_EQ(d.object("annotationPresets.v1"), QVariant(QVariantList{QVariantMap{{"name", "Red"}}}));
    EXPECT_EQ(d.integerForKey("countdownSeconds"), 7);
    EXPECT_TRUE(d.contains("playSound"));
    EXPECT_FALSE(d.boolForKey("playSound"));
}

TEST(SettingsPersistence, WriteFailureKeepsThePreviousFile)
{
    // A file where the data folder should be: the mirror cannot be written.
    const QString folder = TestHome::path() + "/blocked";
    writeFile(folder, "not a folder");
    SettingsPersistence mirror(folder + "/Vorna/settings.json");
    UserDefaults::standard().setBool("playSound", true);
    EXPECT_FALSE(mirror.writeSettingsFile());
    EXPECT_EQ(readFile(folder), "not a folder");
}

// A change made while the disk is full reaches both files once there is
// room again, within seconds, with no further change and without quitting:
// a crash meanwhile would otherwise lose it.
TEST(SettingsPersistence, WritesThatFailedOnAFullDiskAreMadeOnceThereIsRoom)
{
    SmallDisk config(AppPaths::configHome(), 64 * 1024);
    SmallDisk data(AppPaths::dataHome(), 64 * 1024);
    if (!config.isMounted() || !data.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << (config.isMounted() ? data : config).error().toStdString();
    SettingsPersistence &mirror = SettingsPersistence::shared();
    mirror.start();
    ASSERT_TRUE(config.fill());
    ASSERT_TRUE(data.fill());

    LogCapture log;
    UserDefaults::standard().setInteger("countdownSeconds", 7);
    // Both writes a change brings have been made, and failed.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return log.contains("[Vorna] defaults: cannot write ") && log.contains("[Vorna] settings: cannot write "); },
        30000));
    ASSERT_FALSE(QFileInfo::exists(UserDefaults::defaultFilePath()));
    ASSERT_FALSE(QFileInfo::exists(mirror.fileURL()));

    config.free();
    data.free();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return QFileInfo::exists(UserDefaults::defaultFilePath()) && QFileInfo::exists(mirror.fileURL()); },
        15000));
    EXPECT_EQ(UserDefaults(UserDefaults::defaultFilePath()).integerForKey("countdownSeconds"), 7);
    EXPECT_TRUE(readFile(mirror.fileURL()).contains("\"countdownSeconds\" : 7"));
}

} // namespace

namespace {

// A mirror made by hand: a save folder that exists, and a list nested 1000
// deep (as deep as the JSON reader goes) where a number belongs.
QByteArray mirrorWithADeepValue(const QString &saveFolder)
{
    QByteArray deep = "350";
    for (int i = 0; i < 1000; ++i)
        deep = "[" + deep + "]";
    return R"({"version":1,"values":{"saveDirectory":")" + saveFolder.toUtf8() + R"(","doubleTapIntervalMS":)" + deep
           + R"(,"countdownSeconds":7}})";
}

} // namespace

// The deep list used to be copied into the preferences, which then wrote a
// 20 MB file that every later launch refused: every preference reset and
// the save folder never took effect.
TEST(SettingsPersistence, ARestoredValueTheStoreCannotTakeIsSkippedAndTheOthersLast)
{
    const QString pictures = TestHome::path() + "/Pictures";
    ASSERT_TRUE(QDir().mkpath(pictures));
    writeFile(SettingsPersistence::shared().fileURL(), mirrorWithADeepValue(pictures));
    LogCapture log;
    SettingsPersistence::shared().start();
    UserDefaults &d = UserDefaults::standard();
    EXPECT_EQ(d.stringForKey("saveDirectory"), pictures);
    EXPECT_EQ(d.integerForKey("countdownSeconds"), 7);
    EXPECT_FALSE(d.contains("doubleTapIntervalMS"));
    EXPECT_TRUE(log.contains("[Vorna] settings: skipped the value for doubleTapIntervalMS: it is nested 1000 deep"))
        << log.lines().join('\n').toStdString();
    ASSERT_TRUE(d.flush());
    SettingsPersistence::shared().stop();

    UserDefaults::resetStandard(); // the next launch
    EXPECT_EQ(UserDefaults::standard().stringForKey("saveDirectory"), pictures);
    EXPECT_EQ(UserDefaults::standard().integerForKey("countdownSeconds"), 7);
    EXPECT_FALSE(log.contains("kept the file aside")) << log.lines().join('\n').toStdString();
}

TEST(SettingsPersistence, AnImportedValueTheStoreCannotTakeIsSkippedAndTheCurrentOneStays)
{
    const QString pictures = TestHome::path() + "/Pictures";
    ASSERT_TRUE(QDir().mkpath(pictures));
    UserDefaults::standard().setInteger("doubleTapIntervalMS", 500);
    LogCapture log;
    EXPECT_EQ(SettingsPersistence::shared().importSettings(mirrorWithADeepValue(pictures)), 2);
    EXPECT_TRUE(log.contains("[Vorna] settings: skipped the value for doubleTapIntervalMS: it is nested 1000 deep"));
    ASSERT_TRUE(UserDefaults::standard().flush());
    const QByteArray mirror = readFile(SettingsPersistence::shared().fileURL());
    EXPECT_TRUE(mirror.contains("\"doubleTapIntervalMS\" : 500")) << mirror.left(2000).toStdString();

    UserDefaults::resetStandard(); // the next launch
    UserDefaults &d = UserDefaults::standard();
    EXPECT_EQ(d.stringForKey("saveDirectory"), pictures);
    EXPECT_EQ(d.integerForKey("doubleTapIntervalMS"), 500);
    EXPECT_EQ(d.integerForKey("countdownSeconds"), 7);
    EXPECT_FALSE(log.contains("kept the file aside")) << log.lines().join('\n').toStdString();
}

TEST(SettingsPersistence, APipeInTheMirrorsPlaceIsSetAsideAtOnce)
{
    const QString mirror = SettingsPersistence::shared().fileURL();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(mirror).absolutePath()));
    UnansweredPipe pipe(mirror);
    ASSERT_TRUE(pipe.isValid());
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    SettingsPersistence::shared().restoreFromFile();
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(pipe.heldSomeone()) << "the restore waited on the pipe";
    EXPECT_TRUE(log.contains("[Vorna] settings: cannot read settings.json (not a regular file); kept it aside as "))
        << log.lines().join('\n').toStdString();
    ASSERT_TRUE(SettingsPersistence::shared().writeSettingsFile());
    EXPECT_TRUE(QFileInfo(mirror).isFile());
}

namespace {

const QStringList kModes = {"fullscreen", "window", "region", "scrolling", "timed"};

// A 700 KB settings file: a hot key for each mode, each a list of 70,000
// numbers, and one ordinary preference. Each list alone fits the
// preferences file; together they take more than twice its limit.
QByteArray documentWithLongHotKeys()
{
    QByteArray list = "[0";
    for (int i = 1; i < 70000; ++i)
        list += ",0";
    list += "]";
    QByteArray doc = R"({"version":1,"values":{)";
    for (const QString &mode : kModes)
        doc += "\"hotkey." + mode.toUtf8() + "\":" + list + ",";
    return doc + R"("countdownSeconds":7}})";
}

QString logText(const LogCapture &log)
{
    return log.lines().join('\n');
}

} // namespace

// Such a file used to be imported whole ("Imported 6 setting(s)"); from
// then on neither file was ever written again, and every preference
// changed later was lost.
TEST(SettingsPersistence, AnImportThatWouldOverfillTheFilesKeepsWhatFitsAndBothFilesStayWritable)
{
    UserDefaults &d = UserDefaults::standard();
    LogCapture log;
    const auto count = SettingsPersistence::shared().importSettings(documentWithLongHotKeys());
    ASSERT_TRUE(count);
    QStringList kept;
    for (const QString &mode : kModes) {
        if (d.contains("hotkey." + mode))
            kept.append(mode);
        else
            EXPECT_TRUE(log.contains("[Vorna] settings: skipped the value for hotkey." + mode + ": with it the preferences would take "))
                << mode.toStdString() << "\n" << logText(log).toStdString();
    }
    EXPECT_FALSE(kept.isEmpty());
    EXPECT_LT(kept.size(), kModes.size());
    EXPECT_EQ(*count, kept.size() + 1); // only what was kept counts
    EXPECT_EQ(d.integerForKey("countdownSeconds"), 7);

    // A change made after the import reaches both files.
    d.setBool("playSound", false);
    ASSERT_TRUE(d.flush()) << logText(log).toStdString();
    ASSERT_TRUE(SettingsPersistence::shared().writeSettingsFile()) << logText(log).toStdString();
    EXPECT_TRUE(readFile(SettingsPersistence::shared().fileURL()).contains("\"playSound\" : false"));
    UserDefaults::resetStandard(); // the next launch
    UserDefaults &relaunched = UserDefaults::standard();
    EXPECT_TRUE(relaunched.contains("playSound"));
    EXPECT_FALSE(relaunched.boolForKey("playSound"));
    for (const QString &mode : kept)
        EXPECT_EQ(relaunched.arrayForKey("hotkey." + mode).value_or(QVariantList()).size(), 70000);
}

// Each of two large texts fits; both together did not, and an import of
// the second left neither file writable. A text of slashes fits the
// preferences file but takes twice its size in the mirror, which writes
// "/" as "\/".
TEST(SettingsPersistence, AnImportedValueEitherFileCouldNotHoldBesideTheOthersIsSkipped)
{
    SettingsPersistence &mirror = SettingsPersistence::shared();
    UserDefaults &d = UserDefaults::standard();
    const auto documentWith = [](const char *key, const QByteArray &text) {
        return "{\"values\":{\"" + QByteArray(key) + "\":\"" + text + "\"}}";
    };
    LogCapture log;
    EXPECT_EQ(mirror.importSettings(documentWith("externalEditorPath", QByteArray(9 << 20, '/'))), 0);
    EXPECT_TRUE(log.contains("[Vorna] settings: skipped the value for externalEditorPath: with it the settings mirror would take "))
        << logText(log).toStdString();
    EXPECT_FALSE(d.contains("externalEditorPath"));

    EXPECT_EQ(mirror.importSettings(documentWith("saveDirectory", QByteArray(9 << 20, 'x'))), 1);
    EXPECT_EQ(mirror.importSettings(documentWith("externalEditorPath", QByteArray(15 << 20, 'x'))), 0);
    EXPECT_TRUE(log.contains("[Vorna] settings: skipped the value for externalEditorPath: with it the preferences would take "))
        << logText(log).toStdString();
    EXPECT_FALSE(d.contains("externalEditorPath"));
    EXPECT_EQ(d.stringForKey("saveDirectory").value_or(QString()).size(), 9 << 20);

    d.setInteger("countdownSeconds", 9);
    ASSERT_TRUE(d.flush()) << logText(log).toStdString();
    ASSERT_TRUE(mirror.writeSettingsFile()) << logText(log).toStdString();
    EXPECT_TRUE(readFile(mirror.fileURL()).contains("\"countdownSeconds\" : 9"));
    UserDefaults::resetStandard(); // the next launch
    EXPECT_EQ(UserDefaults::standard().integerForKey("countdownSeconds"), 9);
    EXPECT_EQ(UserDefaults::standard().stringForKey("saveDirectory").value_or(QString()).size(), 9 << 20);
}

// Restoring such a mirror at launch used to leave preferences that were
// never written: no defaults.json at all, and the same at every launch.
TEST(SettingsPersistence, ARestoreThatWouldOverfillThePreferencesKeepsWhatFitsAndTheyAreWritten)
{
    writeFile(SettingsPersistence::shared().fileURL(), documentWithLongHotKeys());
    LogCapture log;
    SettingsPersistence::shared().start();
    UserDefaults &d = UserDefaults::standard();
    QStringList kept;
    for (const QString &mode : kModes) {
        if (d.contains("hotkey." + mode))
            kept.append(mode);
    }
    EXPECT_FALSE(kept.isEmpty());
    EXPECT_LT(kept.size(), kModes.size());
    EXPECT_TRUE(log.contains("[Vorna] settings: skipped the value for hotkey.")) << logText(log).toStdString();
    EXPECT_EQ(d.integerForKey("countdownSeconds"), 7);
    ASSERT_TRUE(d.flush()) << logText(log).toStdString();
    SettingsPersistence::shared().stop();
    ASSERT_TRUE(QFileInfo::exists(UserDefaults::defaultFilePath()));

    UserDefaults::resetStandard(); // the next launch
    UserDefaults &relaunched = UserDefaults::standard();
    EXPECT_EQ(relaunched.integerForKey("countdownSeconds"), 7);
    for (const QString &mode : kept)
        EXPECT_EQ(relaunched.arrayForKey("hotkey." + mode).value_or(QVariantList()).size(), 70000);
    // And the mirror, rewritten from them, stays writable.
    EXPECT_TRUE(SettingsPersistence::shared().writeSettingsFile()) << logText(log).toStdString();
}

// A mirror the next launch would refuse is not written: the previous one
// stays.
TEST(SettingsPersistence, AMirrorOverItsLimitIsNeverWritten)
{
    SettingsPersistence &mirror = SettingsPersistence::shared();
    UserDefaults &d = UserDefaults::standard();
    d.setBool("playSound", false);
    ASSERT_TRUE(mirror.writeSettingsFile());
    const QByteArray before = readFile(mirror.fileURL());
    d.setString("saveDirectory", QString(9 << 20, '/')); // "\/" in the mirror: twice its size
    LogCapture log;
    EXPECT_FALSE(mirror.writeSettingsFile());
    EXPECT_TRUE(log.contains("[Vorna] settings: not written: the document takes ")) << logText(log).toStdString();
    EXPECT_EQ(readFile(mirror.fileURL()), before);
}

// A damaged mirror set aside at launch used to be removed at once when
// older copies carried later dates (a clock that was set back); and copies
// must not pile up at each launch that finds the mirror damaged.
TEST(SettingsPersistence, TheMirrorJustSetAsideStaysAndOfTheOthersTheLastSetAside)
{
    const QString folder = AppPaths::appDataDir() + "/";
    const QStringList later = {"settings.json.unreadable-20990101-000000", "settings.json.unreadable-20990102-000000",
                               "settings.json.unreadable-20990103-000000"};
    for (const QString &name : later)
        writeFile(folder + name, name.toUtf8());
    const auto asideContents = [&folder] {
        QStringList contents;
        for (const QString &name : QDir(folder).entryList({"settings.json.unreadable-*"}, QDir::Files))
            contents.append(QString::fromUtf8(readFile(folder + name)));
        contents.sort();
        return contents;
    };

    writeFile(SettingsPersistence::shared().fileURL(), "damaged once");
    LogCapture log;
    SettingsPersistence::shared().restoreFromFile();
    EXPECT_TRUE(log.contains("[Vorna] settings: settings.json is not a settings document; kept it aside as "))
        << logText(log).toStdString();
    EXPECT_EQ(asideContents(), (QStringList{"damaged once", later[1], later[2]}));

    writeFile(SettingsPersistence::shared().fileURL(), "damaged twice");
    SettingsPersistence::shared().restoreFromFile();
    EXPECT_EQ(asideContents(), (QStringList{"damaged once", "damaged twice", later[2]}));
}
