#include "model/AppState.h"

#include "model/NotificationNames.h"
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "platform/LoginItem.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "support/SmallDisk.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent/QtConcurrentRun>
#include <atomic>
#include <gtest/gtest.h>

namespace {

Annotation mark(AnnotationTool tool = AnnotationTool::arrow)
{
    Annotation a;
    a.tool = tool;
    a.points = {QPointF(1, 2), QPointF(30, 40)};
    return a;
}

QList<QUuid> ids(const QList<Annotation> &list)
{
    QList<QUuid> out;
    for (const Annotation &a : list)
        out.append(a.id);
    return out;
}

QList<QList<QUuid>> ids(const QList<EditorUndoStep> &stack)
{
    QList<QList<QUuid>> out;
    for (const auto &step : stack)
        out.append(ids(step.annotations));
    return out;
}

// Counts posts of one notification name.
struct PostCounter
{
    explicit PostCounter(const QString &name)
    {
        QObject::connect(&NotificationCenter::instance(), &NotificationCenter::posted, &context,
                         [this, name](const QString &posted, const QVariantMap &) {
                             if (posted == name)
                                 ++count;
                         });
    }
    QObject context;
    int count = 0;
};

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ExeUser);
}

// A small editor stand-in: writes each argument on its own line to the file
// named by $1's neighbour "args.txt" in its own folder.
QString recordingEditor()
{
    const QString dir = AppPaths::home() + "/editor";
    const QString script = dir + "/record-args.sh";
    writeFile(script,
              "#!/bin/sh\n"
              "out=\"$(dirname \"$0\")/args.tmp\"\n"
              ": > \"$out\"\n"
              "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"$out\"; done\n"
              "mv \"$out\" \"$(dirname \"$0\")/args.txt\"\n",
              true);
    return script;
}

QStringList recordedArguments()
{
    const QString path = AppPaths::home() + "/editor/args.txt";
    if (!QTest::qWaitFor([&] { return QFile::exists(path); }, 5000))
        return {"<editor did not run>"};
    QString text = QString::fromUtf8(readAll(path));
    if (text.endsWith('\n'))
        text.chop(1);
    return text.split('\n');
}

ImageHandle smallImage()
{
    QImage img(8, 6, QImage::Format_ARGB32);
    img.fill(qRgb(0, 128, 255));
    img.setDevicePixelRatio(2.0);
    return ImageHandle(img);
}

QStringList temporaryPngs()
{
    return QDir(AppPaths::tempDir()).entryList({"Vorna-*.png"}, QDir::Files);
}

} // namespace

TEST(AppStateActions, UndoAndRedoWalkTheSnapshots)
{
    AppState state;
    // Nothing to undo or redo: nothing changes, nothing is announced.
    QSignalSpy spy(&state, &AppState::changed);
    state.undo();
    state.redo();
    EXPECT_EQ(spy.count(), 0);

    const Annotation first = mark();
    const Annotation second = mark(AnnotationTool::rectangle);
    state.pushUndo(); // before the first mark: []
    state.setAnnotations({first});
    state.pushUndo(); // [first]
    state.setAnnotations({first, second});

    state.undo();
    EXPECT_EQ(ids(state.annotations()), ids({first}));
    EXPECT_EQ(ids(state.undoStack()), (QList<QList<QUuid>>{{}}));
    EXPECT_EQ(ids(state.redoStack()), (QList<QList<QUuid>>{ids({first, second})}));

    state.undo();
    EXPECT_TRUE(state.annotations().isEmpty());
    EXPECT_TRUE(state.undoStack().isEmpty());
    EXPECT_EQ(state.redoStack().size(), 2);

    state.redo();
    EXPECT_EQ(ids(state.annotations()), ids({first}));
    state.redo();
    EXPECT_EQ(ids(state.annotations()), ids({first, second}));
    EXPECT_TRUE(state.redoStack().isEmpty());
    EXPECT_EQ(ids(state.undoStack()), (QList<QList<QUuid>>{{}, ids({first})}));

    // Undo keeps the redo stack; a new snapshot empties it.
    state.undo();
    EXPECT_EQ(state.redoStack().size(), 1);
    state.pushUndo();
    EXPECT_TRUE(state.redoStack().isEmpty());
}

TEST(AppStateActions, ClearAnnotationsCanBeUndone)
{
    AppState state;
    const Annotation stamp = mark(AnnotationTool::numbering);
    state.setAnnotations({stamp});
    state.setNextNumber(4);
    state.setRedoStack({EditorUndoStep{ImageHandle(), {mark()}}});

    state.clearAnnotations();
    EXPECT_TRUE(state.annotations().isEmpty());
    EXPECT_EQ(state.nextNumber(), 1);
    EXPECT_TRUE(state.redoStack().isEmpty());
    state.undo();
    EXPECT_EQ(ids(state.annotations()), ids({stamp}));

    // Clearing an empty list still records an (empty) snapshot.
    AppState empty;
    empty.clearAnnotations();
    EXPECT_EQ(empty.undoStack().size(), 1);
    EXPECT_TRUE(empty.undoStack().first().annotations.isEmpty());
}

TEST(AppStateActions, OpenEditorStartsAFreshDocumentAndAnnounces)
{
    AppState state;
    state.setAnnotations({mark()});
    state.pushUndo();
    state.setNextNumber(3);
    state.setCurrentTool(AnnotationTool::blur);
    PostCounter opened(NotificationNames::openEditor);

    const ImageHandle image = smallImage();
    state.openEditor(image);
    EXPECT_EQ(state.capturedImage(), image);
    EXPECT_TRUE(state.annotations().isEmpty());
    EXPECT_TRUE(state.undoStack().isEmpty());
    EXPECT_TRUE(state.redoStack().isEmpty());
    EXPECT_EQ(state.nextNumber(), 1);
    EXPECT_TRUE(state.isEditorOpen());
    EXPECT_EQ(state.currentTool(), AnnotationTool::blur);
    EXPECT_EQ(opened.count, 1);

    // Opening again with nothing to reset still announces the editor.
    QSignalSpy spy(&state, &AppState::changed);
    state.openEditor(image);
    EXPECT_EQ(opened.count, 2);
    for (const auto &args : spy)
        EXPECT_NE(args.at(0).value<AppState::Property>(), AppState::Property::isEditorOpen);
}

TEST(AppStateActions, HotKeyBindingsPerMode)
{
    auto &defaults = UserDefaults::standard();
    for (const CaptureShortcut mode : CaptureShortcuts::allCases())
        EXPECT_EQ(AppState::hotKeyBinding(mode), HotKeyBinding::defaultBinding(mode));

    PostCounter changed(NotificationNames::hotKeysChanged);
    AppState::setHotKeyBinding(HotKeyBinding(96, HotKeyBinding::commandModifier), CaptureShortcut::region);
    EXPECT_EQ(changed.count, 1);
    EXPECT_EQ(defaults.dataForKey("hotkey.region"), QByteArray("{\"keyCode\":96,\"carbonModifiers\":256}"));
    EXPECT_EQ(AppState::hotKeyBinding(CaptureShortcut::region), HotKeyBinding(96, 0x100));

    // A cleared shortcut stays cleared; removing the key brings the default back.
    AppState::setHotKeyBinding(HotKeyBinding(), CaptureShortcut::window);
    EXPECT_TRUE(AppState::hotKeyBinding(CaptureShortcut::window).isUnbound());
    defaults.removeObject("hotkey.window");
    EXPECT_EQ(AppState::hotKeyBinding(CaptureShortcut::window), HotKeyBinding(19, 0x1200));

    // Undecodable data reads as the default.
    defaults.setData("hotkey.timed", "{\"keyCode\":-3}");
    EXPECT_EQ(AppState::hotKeyBinding(CaptureShortcut::timed), HotKeyBinding(23, 0x1200));

    // Survives a relaunch.
    defaults.flush();
    UserDefaults::resetStandard();
    EXPECT_EQ(AppState::hotKeyBinding(CaptureShortcut::region), HotKeyBinding(96, 0x100));
}

TEST(AppStateActions, DoubleTapTargetsAndTheOlderFullscreenFlag)
{
    auto &defaults = UserDefaults::standard();
    EXPECT_EQ(AppState::doubleTapTarget(CaptureShortcut::fullscreen), CaptureShortcut::window);
    for (const CaptureShortcut mode : {CaptureShortcut::window, CaptureShortcut::region, CaptureShortcut::scrolling,
                                       CaptureShortcut::timed})
        EXPECT_FALSE(AppState::doubleTapTarget(mode));

    defaults.setBool("doubleTapFullscreen", false);
    EXPECT_FALSE(AppState::doubleTapTarget(CaptureShortcut::fullscreen));
    defaults.setBool("doubleTapFullscreen", true);
    EXPECT_EQ(AppState::doubleTapTarget(CaptureShortcut::fullscreen), CaptureShortcut::window);

    AppState::setDoubleTapTarget(std::nullopt, CaptureShortcut::fullscreen);
    EXPECT_EQ(defaults.stringForKey("doubleTapTarget.fullscreen"), QString(""));
    EXPECT_FALSE(defaults.contains("doubleTapFullscreen"));
    EXPECT_FALSE(AppState::doubleTapTarget(CaptureShortcut::fullscreen));

    AppState::setDoubleTapTarget(CaptureShortcut::scrolling, CaptureShortcut::region);
    EXPECT_EQ(defaults.stringForKey("doubleTapTarget.region"), QString("scrolling"));
    EXPECT_EQ(AppState::doubleTapTarget(CaptureShortcut::region), CaptureShortcut::scrolling);

    // The older flag is only for fullscreen, and only without its own key.
    defaults.setBool("doubleTapFullscreen", true);
    EXPECT_FALSE(AppState::doubleTapTarget(CaptureShortcut::fullscreen));
    AppState::setDoubleTapTarget(CaptureShortcut::timed, CaptureShortcut::window);
    EXPECT_TRUE(defaults.contains("doubleTapFullscreen"));

    defaults.setString("doubleTapTarget.timed", "Region");
    EXPECT_FALSE(AppState::doubleTapTarget(CaptureShortcut::timed));
}

TEST(AppStateActions, LaunchAtLoginWritesAndRemovesTheAutostartFile)
{
    const QString file = AppPaths::configHome() + "/autostart/" VORNA_APP_ID ".desktop";
    EXPECT_FALSE(AppState::launchAtLogin());
    // Turning off what is off does nothing.
    EXPECT_TRUE(AppState::setLaunchAtLogin(false));
    EXPECT_FALSE(QDir(AppPaths::configHome() + "/autostart").exists());

    ASSERT_TRUE(AppState::setLaunchAtLogin(true));
    EXPECT_TRUE(AppState::launchAtLogin());
    const QString text = QString::fromUtf8(readAll(file));
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\nType=Application\n")) << text.toStdString();
    // Its starts are marked as starts at login.
    EXPECT_TRUE(text.contains("\nExec=" + QCoreApplication::applicationFilePath() + " " + LoginItem::launchArgument()
                              + "\n"))
        << text.toStdString();
    EXPECT_TRUE(AppState::setLaunchAtLogin(true));

    // An entry the user switched off in the session settings counts as off.
    writeFile(file, readAll(file) + "Hidden=true\n");
    EXPECT_FALSE(AppState::launchAtLogin());
    EXPECT_TRUE(AppState::setLaunchAtLogin(true));
    EXPECT_TRUE(AppState::launchAtLogin());

    EXPECT_TRUE(AppState::setLaunchAtLogin(false));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_FALSE(AppState::launchAtLogin());
}

TEST(AppStateActions, LaunchAtLoginFailureIsLoggedAndReported)
{
    // A file where the autostart folder should be.
    writeFile(AppPaths::configHome() + "/autostart", "not a folder");
    LogCapture log;
    EXPECT_FALSE(AppState::setLaunchAtLogin(true));
    EXPECT_FALSE(AppState::launchAtLogin());
    EXPECT_TRUE(log.contains("Vorna launchAtLogin toggle failed: Could not create the folder"))
        << log.lines().join('\n').toStdString();
}

// Switching on an entry the user switched off replaces its file. On a full
// disk the switched-off entry stays whole and the switch reports failure.
TEST(AppStateActions, LaunchAtLoginOnAFullDiskKeepsTheEntryThatWasThere)
{
    const QString folder = AppPaths::configHome() + "/autostart";
    SmallDisk disk(folder, 64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error().toStdString();
    ASSERT_TRUE(AppState::setLaunchAtLogin(true));
    const QString file = folder + "/" VORNA_APP_ID ".desktop";
    writeFile(file, readAll(file) + "Hidden=true\n");
    const QByteArray off = readAll(file);
    ASSERT_FALSE(AppState::launchAtLogin());
    ASSERT_TRUE(disk.fill());

    LogCapture log;
    EXPECT_FALSE(AppState::setLaunchAtLogin(true));
    EXPECT_EQ(readAll(file), off);
    EXPECT_FALSE(AppState::launchAtLogin());
    EXPECT_TRUE(log.contains("Vorna launchAtLogin toggle failed: Could not write " + file + ": No space left on device"))
        << log.lines().join('\n').toStdString();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden),
              QStringList({".filler", VORNA_APP_ID ".desktop"}));
}

// A picture cut short by a full temporary folder is not handed to the
// external editor: the call fails, nothing is left behind, and opening
// falls back to the built-in editor.
TEST(AppStateActions, ExternalEditorIsNotGivenAPictureCutShort)
{
    SmallDisk disk(AppPaths::tempDir(), 64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs: " << disk.error().toStdString();
    AppState state;
    state.setExternalEditorPath(recordingEditor());
    QImage pixels(160, 100, QImage::Format_RGB32);
    pixels.fill(qRgb(30, 60, 90));
    const ImageHandle image(pixels);
    ASSERT_TRUE(disk.fill());

    LogCapture log;
    EXPECT_FALSE(state.openInExternalEditor(image));
    EXPECT_TRUE(log.contains("[Vorna] openInExternalEditor: cannot write ")) << log.lines().join('\n').toStdString();
    EXPECT_TRUE(log.contains("No space left on device")) << log.lines().join('\n').toStdString();
    EXPECT_EQ(QDir(AppPaths::tempDir()).entryList(QDir::Files | QDir::Hidden), QStringList(".filler"));

    state.openInEditor(image, std::nullopt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.isEditorOpen(); }, 10000));
    EXPECT_EQ(state.capturedImage().image().size(), QSize(160, 100));
    EXPECT_FALSE(QFile::exists(AppPaths::home() + "/editor/args.txt"));
}

TEST(AppStateActions, ExternalEditorExecutableGetsTheSavedFile)
{
    AppState state;
    const QString saved = AppPaths::home() + "/Desktop/Vorna_2024-05-01_10-00-00.png";
    writeFile(saved, "png bytes");
    state.setExternalEditorPath(recordingEditor());

    EXPECT_TRUE(state.openInExternalEditor(smallImage(), saved));
    EXPECT_EQ(recordedArguments(), QStringList{saved});
    EXPECT_TRUE(temporaryPngs().isEmpty());
}

TEST(AppStateActions, ExternalEditorGetsATemporaryPngWhenTheFileIsGone)
{
    AppState state;
    state.setExternalEditorPath(recordingEditor());

    EXPECT_TRUE(state.openInExternalEditor(smallImage(), QString(AppPaths::home() + "/gone.png")));
    const QStringList args = recordedArguments();
    ASSERT_EQ(args.size(), 1);
    const QFileInfo png(args.first());
    EXPECT_EQ(png.absolutePath(), QFileInfo(AppPaths::tempDir()).absoluteFilePath());
    EXPECT_TRUE(QRegularExpression("^Vorna-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.png$")
                    .match(png.fileName())
                    .hasMatch())
        << png.fileName().toStdString();
    const QImage written(png.absoluteFilePath());
    ASSERT_FALSE(written.isNull());
    EXPECT_EQ(written.size(), QSize(8, 6));
    EXPECT_EQ(written.pixel(3, 3), qRgb(0, 128, 255));
}

TEST(AppStateActions, ExternalEditorDesktopFileFillsInTheExecLine)
{
    AppState state;
    const QString script = recordingEditor();
    const QString desktop = AppPaths::dataHome() + "/applications/paint.desktop";
    writeFile(desktop, ("[Desktop Action New]\nExec=/bin/false\n\n"
                        "[Desktop Entry]\nType=Application\nName=Paint Tool\nName[de]=Malen\nIcon=paint\n"
                        "Exec=\"" + script + "\" --name %c %i \"two words\" --file=%f %U 100%% %d\n")
                           .toUtf8());
    state.setExternalEditorPath(desktop);
    const QString saved = AppPaths::home() + "/Desktop/my shot;$(rm).png";
    writeFile(saved, "png bytes");

    EXPECT_TRUE(state.openInExternalEditor(smallImage(), saved));
    EXPECT_EQ(recordedArguments(), (QStringList{"--name", "Paint Tool", "--icon", "paint", "two words",
                                                "--file=" + saved, QUrl::fromLocalFile(saved).toString(QUrl::FullyEncoded), "100%"}));
}

TEST(AppStateActions, ExternalEditorFailuresReturnFalse)
{
    AppState state;
    // No editor: nothing is written.
    EXPECT_FALSE(state.openInExternalEditor(smallImage()));
    EXPECT_TRUE(temporaryPngs().isEmpty());

    // An editor that no longer exists.
    state.setExternalEditorPath(AppPaths::home() + "/gone.desktop");
    EXPECT_FALSE(state.openInExternalEditor(smallImage()));

    // A file that cannot be started is reported as a failure, not a launch.
    const QString notProgram = AppPaths::home() + "/notes.txt";
    writeFile(notProgram, "just text");
    state.setExternalEditorPath(notProgram);
    EXPECT_FALSE(state.openInExternalEditor(smallImage()));

    const QString desktop = AppPaths::home() + "/missing.desktop";
    writeFile(desktop, "[Desktop Entry]\nType=Application\nName=Missing\nExec=/no/such/program %f\n");
    state.setExternalEditorPath(desktop);
    EXPECT_FALSE(state.openInExternalEditor(smallImage()));

    writeFile(desktop, "[Desktop Entry]\nType=Application\nName=Broken\nExec=\"/bin/true %f\n");
    EXPECT_FALSE(state.openInExternalEditor(smallImage()));

    // An image without pixels cannot be handed over.
    state.setExternalEditorPath(recordingEditor());
    EXPECT_FALSE(state.openInExternalEditor(ImageHandle()));
}

namespace {

// Where the pixels of an image were freed: the image wraps a buffer of
// ours whose clean-up records the thread that ran it.
struct FreedOn
{
    std::atomic<QThread *> thread{nullptr};
    std::unique_ptr<uchar[]> pixels;
};

ImageHandle trackedImage(int width, int height, FreedOn *freed)
{
    freed->pixels.reset(new uchar[size_t(width) * size_t(height) * 4]); // never written: no pages touched
    const QImage img(
        freed->pixels.get(), width, height, width * 4, QImage::Format_RGB32,
        [](void *info) { static_cast<FreedOn *>(info)->thread = QThread::currentThread(); }, freed);
    return ImageHandle(img);
}

} // namespace

TEST(AppStateActions, HugeImagesLeftBehindAreFreedOffTheUiThread)
{
    // A long capture and its beautified copy in the undo steps: opening the
    // editor on a new capture drops them, and the UI thread must not spend
    // the time it takes to give that much memory back.
    AppState state;
    FreedOn huge, small;
    state.openEditor(trackedImage(2880, 20000, &huge));
    state.replaceImage(trackedImage(64, 64, &small)); // the long one goes to the undo steps
    state.openEditor(smallImage());
    EXPECT_EQ(small.thread.load(), QThread::currentThread()); // small ones go at once
    QThreadPool::globalInstance()->waitForDone();
    ASSERT_NE(huge.thread.load(), nullptr);
    EXPECT_NE(huge.thread.load(), QThread::currentThread());

    // Off the UI thread the last holder frees them itself.
    FreedOn elsewhere;
    QThread *worker = nullptr;
    QtConcurrent::run([&] {
        worker = QThread::currentThread();
        ImageHandle h = trackedImage(2880, 20000, &elsewhere);
    }).waitForFinished();
    EXPECT_EQ(elsewhere.thread.load(), worker);
}
