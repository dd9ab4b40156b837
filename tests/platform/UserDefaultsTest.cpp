#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "support/NoFreeDescriptors.h"
#include "support/TestHome.h"
#include "support/UnansweredPipe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString storePath()
{
    return TestHome::path() + "/config/Vorna/defaults.json";
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QStringList asideFiles()
{
    return QDir(TestHome::path() + "/config/Vorna").entryList({"defaults.json.unreadable-*"}, QDir::Files);
}

} // namespace

TEST(UserDefaults, EveryValueTypeSurvivesARelaunchWithItsType)
{
    {
        UserDefaults d(storePath());
        d.setBool("b", true);
        d.setInteger("i", -9007199254740993LL); // not representable as a double
        d.setDouble("d", 0.1);
        d.setString("s", QString::fromUtf8("caf\xc3\xa9 / \"q\""));
        d.setData("data", QByteArray("\x00\x01\xff", 3));
        d.setObject("list", QVariantList{QString("a"), qint64(2), true});
        d.setObject("map", QVariantMap{{"k", 1.5}});
        const QDateTime when = QDateTime::fromString("2026-01-02T03:04:05.678Z", Qt::ISODateWithMs);
        d.setObject("date", when);
        ASSERT_TRUE(d.flush());
    }
    UserDefaults d(storePath());
    EXPECT_EQ(d.object("b").typeId(), QMetaType::Bool);
    EXPECT_TRUE(d.boolForKey("b"));
    EXPECT_EQ(d.integerForKey("i"), -9007199254740993LL);
    EXPECT_EQ(d.object("d").typeId(), QMetaType::Double);
    EXPECT_DOUBLE_EQ(d.doubleForKey("d"), 0.1);
    EXPECT_EQ(d.stringForKey("s"), QString::fromUtf8("caf\xc3\xa9 / \"q\""));
    EXPECT_EQ(d.dataForKey("data"), QByteArray("\x00\x01\xff", 3));
    const auto list = d.arrayForKey("list");
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 3);
    EXPECT_EQ(list->at(1).typeId(), QMetaType::LongLong);
    EXPECT_EQ(d.dictionaryForKey("map")->value("k").toDouble(), 1.5);
    EXPECT_EQ(d.object("date").toDateTime(), QDateTime::fromString("2026-01-02T03:04:05.678Z", Qt::ISODateWithMs));
}

TEST(UserDefaults, ReadersConvertLikeAPreferencesDatabase)
{
    UserDefaults d(QString{});
    // Absent keys read as false, 0, 0.0 and nothing.
    EXPECT_FALSE(d.boolForKey("missing"));
    EXPECT_EQ(d.integerForKey("missing"), 0);
    EXPECT_EQ(d.doubleForKey("missing"), 0.0);
    EXPECT_FALSE(d.stringForKey("missing"));
    EXPECT_FALSE(d.dataForKey("missing"));

    d.setString("yes", "YES");
    d.setString("num", "42abc");
    d.setString("plus", " +5 ");
    d.setString("pi", "3.5");
    d.setInteger("seven", 7);
    d.setDouble("half", 2.75);
    d.setBool("t", true);
    EXPECT_TRUE(d.boolForKey("yes"));
    EXPECT_EQ(d.integerForKey("num"), 42);
    EXPECT_EQ(d.integerForKey("plus"), 5);
    EXPECT_DOUBLE_EQ(d.doubleForKey("pi"), 3.5);
    EXPECT_EQ(d.stringForKey("seven"), QString("7"));
    EXPECT_EQ(d.integerForKey("half"), 2);
    EXPECT_EQ(d.integerForKey("t"), 1);
    EXPECT_TRUE(d.boolForKey("seven"));
    // Data is never made from text, and text is not a list.
    EXPECT_FALSE(d.dataForKey("yes"));
    EXPECT_FALSE(d.arrayForKey("yes"));
}

TEST(UserDefaults, EverySetAndRemoveSignalsTheKey)
{
    UserDefaults d(QString{});
    QSignalSpy spy(&d, &UserDefaults::changed);
    d.setBool("a", true);
    d.setBool("a", true); // unchanged value still signals
    d.removeObject("a");
    d.removeObject("never-set");
    ASSERT_EQ(spy.count(), 4);
    EXPECT_EQ(spy.at(0).at(0).toString(), "a");
    EXPECT_EQ(spy.at(3).at(0).toString(), "never-set");
    EXPECT_FALSE(d.contains("a"));
}

TEST(UserDefaults, WritesAreCoalescedAndReachTheFileWithoutAnExplicitFlush)
{
    UserDefaults d(storePath());
    d.setInteger("x", 1);
    d.setInteger("x", 2);
    EXPECT_FALSE(QFile::exists(storePath())) << "the write should wait for the coalescing timer";
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(storePath()); }, 30000));
    UserDefaults reread(storePath());
    EXPECT_EQ(reread.integerForKey("x"), 2);
}

TEST(UserDefaults, AFileThatIsNotJsonIsSetAsideAndNeverOverwritten)
{
    const QByteArray truncated = "{\"version\":1,\"values\":{\"a\":";
    // Valid JSON, but not a preferences file: nothing in it can be read.
    const QByteArray valuesNotAMap = R"({"version":1,"values":[{"type":"bool","value":true}]})";
    for (const QByteArray &garbage : {truncated, valuesNotAMap}) {
        TestHome::reset();
        writeFile(storePath(), garbage);
        LogCapture log;
        {
            UserDefaults d(storePath());
            EXPECT_FALSE(d.contains("a"));
            d.setBool("fresh", true);
            ASSERT_TRUE(d.flush());
        }
        const QStringList aside = asideFiles();
        ASSERT_EQ(aside.size(), 1) << garbage.toStdString();
        QFile kept(TestHome::path() + "/config/Vorna/" + aside.first());
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), garbage);
        EXPECT_TRUE(log.contains("[Vorna] defaults: the preferences file is not readable JSON"));
        EXPECT_TRUE(UserDefaults(storePath()).boolForKey("fresh"));
    }
}

TEST(UserDefaults, AValueOfTheWrongTypeIsSkippedTheRestIsKeptAndTheOriginalCopiedAside)
{
    writeFile(storePath(), R"({"version":1,"values":{
        "good":{"type":"bool","value":true},
        "bad":{"type":"integer","value":true},
        "worse":{"type":"data","value":"not base64 !!"}}})");
    QFile original(storePath());
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    LogCapture log;
    UserDefaults d(storePath());
    EXPECT_TRUE(d.boolForKey("good"));
    EXPECT_FALSE(d.contains("bad"));
    EXPECT_FALSE(d.contains("worse"));
    ASSERT_EQ(asideFiles().size(), 1);
    EXPECT_TRUE(log.contains("skipped unreadable values for bad, worse"));
    // A copy is kept aside; the file itself stays, so a crash before the
    // next save still finds the good values in their place.
    QFile aside(TestHome::path() + "/config/Vorna/" + asideFiles().first());
    ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
    EXPECT_EQ(aside.readAll(), bytes);
    QFile stayed(storePath());
    ASSERT_TRUE(stayed.open(QIODevice::ReadOnly));
    EXPECT_EQ(stayed.readAll(), bytes);
}

// A save that could not even open its file leaves the changes pending for
// the next one.
TEST(UserDefaults, ASaveThatCouldNotOpenTheFileIsMadeByTheNextFlush)
{
    UserDefaults d(storePath());
    d.setBool("kept", true);
    ASSERT_TRUE(QDir().mkpath(storePath())); // a folder in the file's place
    ASSERT_FALSE(d.flush());
    ASSERT_TRUE(QDir().rmdir(storePath()));
    ASSERT_TRUE(d.flush());
    EXPECT_TRUE(UserDefaults(storePath()).boolForKey("kept"));
}

TEST(UserDefaults, AnUnsupportedValueRemovesTheKey)
{
    UserDefaults d(QString{});
    d.setBool("k", true);
    d.setObject("k", QVariant::fromValue(QPoint(1, 2)));
    EXPECT_FALSE(d.contains("k"));
}

namespace {

// Everything kept aside, pipes included.
QStringList everythingAside()
{
    return QDir(TestHome::path() + "/config/Vorna")
        .entryList({"defaults.json.unreadable-*"}, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
}

// A list holding a list ... depth deep, with a text at the bottom.
QVariant nested(int depth)
{
    QVariant v = QString("bottom");
    for (int i = 0; i < depth; ++i)
        v = QVariantList{v};
    return v;
}

// The same depth, the innermost list a list of texts.
QVariant nestedAroundTexts(int depth)
{
    QVariant v = QStringList{"bottom"};
    for (int i = 1; i < depth; ++i)
        v = QVariantList{v};
    return v;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// What each file kept aside holds, sorted.
QStringList asideContents()
{
    QStringList contents;
    for (const QString &name : everythingAside())
        contents.append(QString::fromUtf8(readFile(TestHome::path() + "/config/Vorna/" + name)));
    contents.sort();
    return contents;
}

} // namespace

// A named pipe at the file's place used to hold the store's first use (and
// with it the launch, before any window or log line) until someone wrote
// to it.
TEST(UserDefaults, APipeInTheFilesPlaceIsSetAsideAtOnceAndTheStoreGoesOn)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(storePath()).absolutePath()));
    UnansweredPipe pipe(storePath());
    ASSERT_TRUE(pipe.isValid());
    LogCapture log;
    QElapsedTimer clock;
    clock.start();
    {
        UserDefaults d(storePath());
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_FALSE(pipe.heldSomeone()) << "the load waited on the pipe";
        d.setBool("fresh", true);
        ASSERT_TRUE(d.flush());
    }
    EXPECT_TRUE(log.contains("[Vorna] defaults: the preferences file is not a regular file; kept the file aside as "))
        << log.lines().join('\n').toStdString();
    EXPECT_EQ(everythingAside().size(), 1);
    EXPECT_TRUE(QFileInfo(storePath()).isFile());
    EXPECT_TRUE(UserDefaults(storePath()).boolForKey("fresh"));
}

// A value nested 1000 deep used to be stored and written as a 20 MB file,
// which every later launch refused, losing every preference.
TEST(UserDefaults, NeverWritesAFileItWouldRefuseToRead)
{
    QString why;
    EXPECT_FALSE(UserDefaults::canKeep(nested(1000), &why));
    EXPECT_TRUE(why.contains("nested 1000 deep")) << why.toStdString();
    EXPECT_TRUE(UserDefaults::canKeep(nested(UserDefaults::maxNesting)));
    EXPECT_FALSE(UserDefaults::canKeep(nested(UserDefaults::maxNesting + 1)));
    EXPECT_FALSE(UserDefaults::canKeep(QString(UserDefaults::maxFileBytes, 'x'), &why));
    EXPECT_TRUE(why.contains("more than the 16777216")) << why.toStdString();

    {
        UserDefaults d(storePath());
        d.setObject("deepest", nested(UserDefaults::maxNesting));
        d.setObject("deeper", nested(UserDefaults::maxNesting + 1));
        EXPECT_FALSE(d.contains("deeper"));
        ASSERT_TRUE(d.flush());
        // Each fits, both together do not: the file that was there stays.
        const QString half(UserDefaults::maxFileBytes / 2, 'x');
        ASSERT_TRUE(UserDefaults::canKeep(half));
        d.setString("a", half);
        d.setString("b", half);
        d.setString("c", half);
        LogCapture log;
        EXPECT_FALSE(d.flush());
        EXPECT_TRUE(log.contains("[Vorna] defaults: not written: the preferences take "));
    }
    EXPECT_LE(QFileInfo(storePath()).size(), UserDefaults::maxFileBytes);
    LogCapture log;
    UserDefaults reread(storePath());
    EXPECT_EQ(reread.object("deepest"), nested(UserDefaults::maxNesting));
    EXPECT_FALSE(reread.contains("a"));
    EXPECT_TRUE(everythingAside().isEmpty()) << log.lines().join('\n').toStdString();

    // Nor is a deeper value read from a file made by hand.
    QJsonObject typed{{"type", "string"}, {"value", "bottom"}};
    for (int i = 0; i <= UserDefaults::maxNesting; ++i)
        typed = QJsonObject{{"type", "array"}, {"value", QJsonArray{typed}}};
    const QJsonObject root{{"version", 1},
                           {"values", QJsonObject{{"deeper", typed}, {"kept", QJsonObject{{"type", "bool"}, {"value", true}}}}}};
    writeFile(storePath(), QJsonDocument(root).toJson());
    UserDefaults handMade(storePath());
    EXPECT_FALSE(handMade.contains("deeper"));
    EXPECT_TRUE(handMade.boolForKey("kept"));
}

// Each launch that found the file damaged used to leave one more copy.
TEST(UserDefaults, OnlyTheNewestFilesKeptAsideStay)
{
    const QString folder = TestHome::path() + "/config/Vorna/";
    writeFile(folder + "other.json.unreadable-20000101-000000", "not ours");
    writeFile(folder + "defaults.json.unreadable-20000101-000000\n", "not one of the names");
    for (int i = 0; i < 12; ++i) {
        writeFile(storePath(), "damaged " + QByteArray::number(i));
        UserDefaults d(storePath());
    }
    QStringList kept;
    for (const QString &name : everythingAside()) {
        if (name.endsWith('\n'))
            continue;
        QFile f(folder + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        kept.append(QString::fromUtf8(f.readAll()));
    }
    kept.sort();
    EXPECT_EQ(kept, (QStringList{"damaged 10", "damaged 11", "damaged 9"}));
    EXPECT_TRUE(QFileInfo::exists(folder + "other.json.unreadable-20000101-000000"));
    EXPECT_TRUE(QFileInfo::exists(folder + "defaults.json.unreadable-20000101-000000\n"));
}

// A list of texts is a list like any other: one holding it as deep as the
// store allows is not taken, for the next launch could not read it back and
// would keep the whole file aside.
TEST(UserDefaults, AListOfTextsCountsAsALevelOfNesting)
{
    EXPECT_TRUE(UserDefaults::canKeep(nestedAroundTexts(UserDefaults::maxNesting)));
    EXPECT_FALSE(UserDefaults::canKeep(nestedAroundTexts(UserDefaults::maxNesting + 1)));
    {
        UserDefaults d(storePath());
        d.setObject("deepest", nestedAroundTexts(UserDefaults::maxNesting));
        d.setObject("deeper", nestedAroundTexts(UserDefaults::maxNesting + 1));
        EXPECT_TRUE(d.contains("deepest"));
        EXPECT_FALSE(d.contains("deeper"));
        ASSERT_TRUE(d.flush());
    }
    LogCapture log;
    UserDefaults reread(storePath());
    EXPECT_EQ(reread.object("deepest"), nested(UserDefaults::maxNesting));
    EXPECT_TRUE(everythingAside().isEmpty()) << log.lines().join('\n').toStdString();
}

// A copy set aside at launch used to be removed at once when older copies
// carried later dates in their names (a clock that was set back, copies
// from another machine): the log said it was kept, and it was gone.
TEST(UserDefaults, TheCopyJustSetAsideStaysAndOfTheOthersTheLastSetAside)
{
    const QString folder = TestHome::path() + "/config/Vorna/";
    const QStringList later = {"defaults.json.unreadable-20990101-000000", "defaults.json.unreadable-20990102-000000",
                               "defaults.json.unreadable-20990103-000000"};
    for (const QString &name : later)
        writeFile(folder + name, name.toUtf8());

    writeFile(storePath(), "damaged once");
    LogCapture log;
    { UserDefaults d(storePath()); }
    const QStringList kept = everythingAside();
    ASSERT_EQ(kept.size(), UserDefaults::keptAside) << kept.join(' ').toStdString();
    EXPECT_EQ(asideContents(), (QStringList{"damaged once", later[1], later[2]}));
    // The copy the log names is there.
    QString named;
    for (const QString &name : kept) {
        if (log.contains("kept the file aside as " + folder + name))
            named = name;
    }
    EXPECT_EQ(readFile(folder + named), "damaged once") << log.lines().join('\n').toStdString();

    // Every copy already there was set aside before the next one; a date
    // still to come does not make a copy the last.
    writeFile(storePath(), "damaged twice");
    { UserDefaults d(storePath()); }
    EXPECT_EQ(asideContents(), (QStringList{"damaged once", "damaged twice", later[2]}));

    // With dates that can be true, the latest of the others stay.
    TestHome::reset();
    const QStringList earlier = {"defaults.json.unreadable-20010101-000000", "defaults.json.unreadable-20010102-000000",
                                 "defaults.json.unreadable-20010102-000000-2"};
    for (const QString &name : earlier)
        writeFile(folder + name, name.toUtf8());
    writeFile(storePath(), "damaged");
    { UserDefaults d(storePath()); }
    EXPECT_EQ(asideContents(), (QStringList{"damaged", earlier[1], earlier[2]}));
}

// Preferences that cannot be opened for a passing reason (the program has
// no descriptor left) are good ones: they are not set aside, and the file
// stays as it was.
TEST(UserDefaults, PreferencesThatCannotBeOpenedForNowAreNotSetAside)
{
    {
        UserDefaults d(storePath());
        d.setInteger("countdownSeconds", 9);
        ASSERT_TRUE(d.flush());
    }
    const QByteArray before = readFile(storePath());
    LogCapture log;
    {
        NoFreeDescriptors exhausted;
        ASSERT_TRUE(exhausted.isSet());
        UserDefaults d(storePath());
    }
    EXPECT_TRUE(log.contains("[Vorna] defaults: cannot read " + storePath() + ": Too many open files"))
        << log.lines().join('\n').toStdString();
    EXPECT_TRUE(everythingAside().isEmpty());
    EXPECT_EQ(readFile(storePath()), before);
    EXPECT_EQ(UserDefaults(storePath()).integerForKey("countdownSeconds"), 9);
}
