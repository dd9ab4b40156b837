#include "model/AppState.h"

#include "model/NotificationNames.h"
#include "model/VornaError.h"
#include "platform/AppPaths.h"
#include "platform/DesktopEntry.h"
#include "platform/FileOps.h"
#include "platform/FoundationJson.h"
#include "platform/Localized.h"
#include "platform/LoginItem.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QProcess>
#include <QUuid>
#include <QtConcurrent>
#include <QJsonArray>
#include <QJsonDocument>
#include <cmath>

namespace {

// Texts compare as Unicode text: canonically equivalent forms are equal.
bool sameText(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

bool sameOptionalText(const std::optional<QString> &a, const std::optional<QString> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || sameText(*a, *b);
}

bool sameTextList(const QStringList &a, const QStringList &b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (!sameText(a[i], b[i]))
            return false;
    return true;
}

QString trimmedPath(const QString &s)
{
    return s.trimmed();
}

QStringList desktopList()
{
    return {AppState::defaultSaveDirectory()};
}

std::optional<QStringList> decodeStringArray(const QByteArray &data)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &err);
    if (err.error != QJsonParseError::NoError || !doc.isArray())
        return std::nullopt;
    QStringList out;
    for (const QJsonValue &v : doc.array()) {
        if (!v.isString())
            return std::nullopt;
        out.append(v.toString());
    }
    return out;
}

// A compact JSON array of the texts, written in one pass: a list of
// folders can hold hundreds of thousands.
QByteArray compactJsonArray(const QStringList &texts)
{
    QByteArray out;
    out.reserve(2 + texts.size() * 40);
    out.append('[');
    for (const QString &text : texts) {
        if (out.size() > 1)
            out.append(',');
        const QByteArray utf8 = text.toUtf8();
        const bool plain = std::none_of(utf8.begin(), utf8.end(), [](char c) {
            return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
        });
        if (plain) {
            out.append('"');
            out.append(utf8);
            out.append('"');
        } else {
            out.append(FoundationJson::quote(text, false));
        }
    }
    out.append(']');
    return out;
}

} // namespace

QString AppState::defaultSaveDirectory()
{
    const QString desktop = AppPaths::desktopDir();
    if (!desktop.isEmpty())
        return desktop;
    return AppPaths::home() + "/Desktop";
}

AppState::AppState(QObject *parent) : QObject(parent)
{
    // A history item whose image cannot be decoded is never shown blank.
    NotificationCenter::instance().addObserver(
        NotificationNames::historyItemDropped, this, [this](const NotificationCenter::Notification &n) {
            const QUuid id = n.userInfo.value(QStringLiteral("id")).toUuid();
            QList<HistoryItem> kept = m_history;
            if (kept.removeIf([&](const HistoryItem &item) { return item.id == id; }) > 0)
                setHistory(kept);
        });

    UserDefaults &d = defaults();

    m_currentColor = QColor(255, 59, 48); // the system red

    m_defaultFormat = ImageFormats::fromRawValue(d.stringForKey("defaultFormat").value_or(QString()))
                          .value_or(ImageFormat::png);

    m_saveDirectory = defaultSaveDirectory();
    if (const auto stored = d.stringForKey("saveDirectory")) {
        const QString trimmed = trimmedPath(*stored);
        if (!trimmed.isEmpty()) {
            const QFileInfo fi(AppPaths::expandTilde(trimmed));
            if (fi.exists() && fi.isDir())
                m_saveDirectory = trimmed;
        }
    }

    const double q = d.doubleForKey("jpegQuality");
    m_jpegQuality = q == 0.0 ? 0.9 : q;

    m_copyToClipboard = d.contains("copyToClipboard") ? d.boolForKey("copyToClipboard") : true;
    m_playSound = d.contains("playSound") ? d.boolForKey("playSound") : true;
    m_showFloatingPreview = d.contains("showFloatingPreview") ? d.boolForKey("showFloatingPreview") : true;
    m_simpleMenuMode = d.boolForKey("simpleMenuMode");

    const qint64 preview = d.integerForKey("floatingPreviewDurationSec");
    m_floatingPreviewDurationSec = preview == 0 ? 7 : preview;
    m_showCaptureFlash = d.boolForKey("showCaptureFlash");

    const auto editor = d.stringForKey("externalEditorPath");
    if (editor && !editor->isEmpty())
        m_externalEditorPath = *editor;

    m_includeCursor = d.boolForKey("includeCursor");
    const qint64 countdown = d.integerForKey("countdownSeconds");
    m_countdownSeconds = countdown == 0 ? 5 : countdown;
    m_iCloudSyncEnabled = d.boolForKey("iCloudSyncEnabled");
    m_maxFileSizeKB = d.integerForKey("maxFileSizeKB");
    const qint64 interval = d.integerForKey("doubleTapIntervalMS");
    m_doubleTapIntervalMS = interval == 0 ? 350 : interval;
    m_preferredLanguage = d.stringForKey("preferredLanguage");

    m_savedPaths = desktopList();
    if (const auto data = d.dataForKey("savedPaths")) {
        const auto list = decodeStringArray(*data);
        if (list && !list->isEmpty())
            m_savedPaths = *list;
    }

    // A settings import stores the list behind our back and posts this;
    // every view of the list reads it from here, so take the stored one
    // (as stored: an empty list stays empty while the program runs).
    NotificationCenter::instance().addObserver(
        NotificationNames::savedPathsChanged, this, [this](const NotificationCenter::Notification &) {
            if (m_postingSavedPaths)
                return;
            const auto data = defaults().dataForKey("savedPaths");
            const auto stored = data ? decodeStringArray(*data) : std::nullopt;
            if (!stored || sameTextList(*stored, m_savedPaths))
                return;
            m_savedPaths = *stored;
            announce(Property::savedPaths);
        });
}

AppState::~AppState() = default;

UserDefaults &AppState::defaults() const
{
    return UserDefaults::standard();
}

void AppState::announce(Property p)
{
    emit changed(p);
}

// ---- editor and capture state (memory only) ----

void AppState::setCapturedImage(const ImageHandle &v)
{
    if (v == m_capturedImage)
        return;
    m_capturedImage = v;
    announce(Property::capturedImage);
}

void AppState::setIsCapturing(bool v)
{
    if (v == m_isCapturing)
        return;
    m_isCapturing = v;
    announce(Property::isCapturing);
}

void AppState::setCaptureMode(CaptureMode v)
{
    if (v == m_captureMode)
        return;
    m_captureMode = v;
    announce(Property::captureMode);
}

void AppState::setIsEditorOpen(bool v)
{
    if (v == m_isEditorOpen)
        return;
    m_isEditorOpen = v;
    announce(Property::isEditorOpen);
}

void AppState::setAnnotations(const QList<Annotation> &v)
{
    m_annotations = v;
    announce(Property::annotations);
}

void AppState::setCurrentTool(AnnotationTool v)
{
    if (v == m_currentTool)
        return;
    m_currentTool = v;
    announce(Property::currentTool);
}

void AppState::setCurrentColor(const QColor &v)
{
    if (v == m_currentColor)
        return;
    m_currentColor = v;
    announce(Property::currentColor);
}

void AppState::setCurrentLineWidth(double v)
{
    if (v == m_currentLineWidth)
        return;
    m_currentLineWidth = v;
    announce(Property::currentLineWidth);
}

void AppState::setCurrentFontSize(double v)
{
    if (v == m_currentFontSize)
        return;
    m_currentFontSize = v;
    announce(Property::currentFontSize);
}

void AppState::setNextNumber(qint64 v)
{
    if (v == m_nextNumber)
        return;
    m_nextNumber = v;
    announce(Property::nextNumber);
}

void AppState::setUndoStack(const QList<EditorUndoStep> &v)
{
    m_undoStack = v;
    announce(Property::undoStack);
}

void AppState::setRedoStack(const QList<EditorUndoStep> &v)
{
    m_redoStack = v;
    announce(Property::redoStack);
}

// ---- preferences ----

void AppState::setDefaultFormat(ImageFormat v)
{
    const bool changed = v != m_defaultFormat;
    m_defaultFormat = v;
    defaults().setString("defaultFormat", ImageFormats::rawValue(v));
    if (changed)
        announce(Property::defaultFormat);
}

void AppState::setSaveDirectory(const QString &v)
{
    const bool changed = !sameText(v, m_saveDirectory);
    if (changed)
        m_saveDirectory = v;
    defaults().setString("saveDirectory", trimmedPath(v));
    if (changed)
        announce(Property::saveDirectory);
}

void AppState::setJpegQuality(double v)
{
    const bool changed = !(v == m_jpegQuality); // NaN never equals
    m_jpegQuality = v;
    defaults().setDouble("jpegQuality", v);
    if (changed)
        announce(Property::jpegQuality);
}

#define VORNA_BOOL_PREFERENCE(setter, member, key)                                                        \
    void AppState::setter(bool v)                                                                          \
    {                                                                                                      \
        const bool changed = v != member;                                                                  \
        member = v;                                                                                        \
        defaults().setBool(QStringLiteral(#key), v);                                                       \
        if (changed)                                                                                       \
            announce(Property::key);                                                                       \
    }

VORNA_BOOL_PREFERENCE(setCopyToClipboard, m_copyToClipboard, copyToClipboard)
VORNA_BOOL_PREFERENCE(setPlaySound, m_playSound, playSound)
VORNA_BOOL_PREFERENCE(setShowFloatingPreview, m_showFloatingPreview, showFloatingPreview)
VORNA_BOOL_PREFERENCE(setShowCaptureFlash, m_showCaptureFlash, showCaptureFlash)
VORNA_BOOL_PREFERENCE(setIncludeCursor, m_includeCursor, includeCursor)
VORNA_BOOL_PREFERENCE(setICloudSyncEnabled, m_iCloudSyncEnabled, iCloudSyncEnabled)

#undef VORNA_BOOL_PREFERENCE

void AppState::setSimpleMenuMode(bool v)
{
    const bool changed = v != m_simpleMenuMode;
    m_simpleMenuMode = v;
    defaults().setBool("simpleMenuMode", v);
    NotificationCenter::instance().post(NotificationNames::menuModeChanged);
    if (changed)
        announce(Property::simpleMenuMode);
}

// Stores the clamped value; an out-of-range value is assigned again, clamped,
// so it is never written and observers see the settled value.
void AppState::storeClamped(Property p, qint64 &field, PreferenceRange range, const char *key)
{
    const qint64 clamped = range.clamp(field);
    if (clamped != field) {
        field = clamped;
        defaults().setInteger(QString::fromLatin1(key), clamped);
        announce(p);
        return;
    }
    defaults().setInteger(QString::fromLatin1(key), clamped);
}

void AppState::setFloatingPreviewDurationSec(qint64 v)
{
    const bool changed = v != m_floatingPreviewDurationSec;
    m_floatingPreviewDurationSec = v;
    storeClamped(Property::floatingPreviewDurationSec, m_floatingPreviewDurationSec,
                 PreferenceRanges::floatingPreviewDurationSec, "floatingPreviewDurationSec");
    if (changed)
        announce(Property::floatingPreviewDurationSec);
}

void AppState::setCountdownSeconds(qint64 v)
{
    const bool changed = v != m_countdownSeconds;
    m_countdownSeconds = v;
    storeClamped(Property::countdownSeconds, m_countdownSeconds, PreferenceRanges::countdownSeconds, "countdownSeconds");
    if (changed)
        announce(Property::countdownSeconds);
}

void AppState::setDoubleTapIntervalMS(qint64 v)
{
    const bool changed = v != m_doubleTapIntervalMS;
    m_doubleTapIntervalMS = v;
    storeClamped(Property::doubleTapIntervalMS, m_doubleTapIntervalMS, PreferenceRanges::doubleTapIntervalMS,
                 "doubleTapIntervalMS");
    if (changed)
        announce(Property::doubleTapIntervalMS);
}

void AppState::setExternalEditorPath(const std::optional<QString> &v)
{
    const bool changed = !sameOptionalText(v, m_externalEditorPath);
    if (changed)
        m_externalEditorPath = v;
    defaults().setString("externalEditorPath", v.value_or(QString()));
    if (changed)
        announce(Property::externalEditorPath);
}

std::optional<QString> AppState::externalEditorName() const
{
    if (!m_externalEditorPath)
        return std::nullopt;
    const QString path = *m_externalEditorPath;
    const QFileInfo fi(path);
    if (path.endsWith(QLatin1String(".desktop")) && fi.isFile()) {
        // The desktop-file rules, not an INI reader: "Paint, Draw" is one
        // name and escapes such as \s are resolved.
        if (const auto entry = DesktopEntry::read(path)) {
            const QString name = entry->value(QStringLiteral("Name"));
            if (!name.isEmpty())
                return name;
        }
    }
    return fi.completeBaseName().isEmpty() ? fi.fileName() : fi.completeBaseName();
}

void AppState::setMaxFileSizeKB(qint64 v)
{
    const bool changed = v != m_maxFileSizeKB;
    m_maxFileSizeKB = v;
    defaults().setInteger("maxFileSizeKB", std::max<qint64>(v, 0));
    if (changed)
        announce(Property::maxFileSizeKB);
}

void AppState::setPreferredLanguage(const std::optional<QString> &v)
{
    const bool changed = !sameOptionalText(v, m_preferredLanguage);
    if (changed)
        m_preferredLanguage = v;
    if (v) {
        defaults().setString("preferredLanguage", *v);
        defaults().setObject("AppleLanguages", QVariantList{*v});
    } else {
        defaults().removeObject("preferredLanguage");
        defaults().removeObject("AppleLanguages");
    }
    if (changed)
        announce(Property::preferredLanguage);
}

void AppState::setSavedPaths(const QStringList &v)
{
    const bool changed = !sameTextList(v, m_savedPaths);
    if (changed)
        m_savedPaths = v;

    // Keep the first occurrence of each path, in place. Paths are compared
    // in one canonical form, so that a long list takes one pass.
    QStringList unique;
    unique.reserve(m_savedPaths.size());
    QSet<QString> seen;
    seen.reserve(m_savedPaths.size());
    for (const QString &p : std::as_const(m_savedPaths)) {
        const qsizetype before = seen.size();
        seen.insert(p.normalized(QString::NormalizationForm_C));
        if (seen.size() != before)
            unique.append(p);
    }
    const bool deduplicated = unique.size() != m_savedPaths.size();
    if (deduplicated)
        m_savedPaths = unique;

    defaults().setData("savedPaths", compactJsonArray(m_savedPaths));
    // Our own observer need not read back what was just stored.
    m_postingSavedPaths = true;
    NotificationCenter::instance().post(NotificationNames::savedPathsChanged);
    m_postingSavedPaths = false;
    if (changed || deduplicated)
        announce(Property::savedPaths);
}

// ---- layers and history ----

void AppState::setHiddenLayers(const QSet<AnnotationTool> &v)
{
    if (v == m_hiddenLayers)
        return;
    m_hiddenLayers = v;
    announce(Property::hiddenLayers);
}

void AppState::setHistory(const QList<HistoryItem> &v)
{
    m_history = v;
    announce(Property::history);
}

// ---- editor actions ----

void AppState::pushUndo()
{
    QList<EditorUndoStep> stack = m_undoStack;
    stack.append(EditorUndoStep{m_capturedImage, m_annotations});
    setUndoStack(stack);
    setRedoStack({});
}

void AppState::replaceImage(const ImageHandle &image)
{
    pushUndo();
    setCapturedImage(image);
    setAnnotations({});
}

void AppState::undo()
{
    if (m_undoStack.isEmpty())
        return;
    QList<EditorUndoStep> undoStack = m_undoStack;
    const EditorUndoStep step = undoStack.takeLast();
    setUndoStack(undoStack);
    QList<EditorUndoStep> redoStack = m_redoStack;
    redoStack.append(EditorUndoStep{m_capturedImage, m_annotations});
    setRedoStack(redoStack);
    setCapturedImage(step.image);
    setAnnotations(step.annotations);
}

void AppState::redo()
{
    if (m_redoStack.isEmpty())
        return;
    QList<EditorUndoStep> redoStack = m_redoStack;
    const EditorUndoStep step = redoStack.takeLast();
    setRedoStack(redoStack);
    QList<EditorUndoStep> undoStack = m_undoStack;
    undoStack.append(EditorUndoStep{m_capturedImage, m_annotations});
    setUndoStack(undoStack);
    setCapturedImage(step.image);
    setAnnotations(step.annotations);
}

void AppState::clearAnnotations()
{
    pushUndo();
    setAnnotations({});
    setNextNumber(1);
}

void AppState::openEditor(const ImageHandle &image)
{
    ++m_editorRequest;
    setCapturedImage(image);
    setAnnotations({});
    setUndoStack({});
    setRedoStack({});
    setNextNumber(1);
    setIsEditorOpen(true);
    NotificationCenter::instance().post(NotificationNames::openEditor);
}

namespace {

// Writes the image as a PNG in the temporary folder; the path, or nothing.
// Decodes and encodes the whole image: not for the UI thread.
std::optional<QString> writeTemporaryPng(const ImageHandle &image)
{
    const QImage pixels = image.image();
    if (pixels.isNull())
        return std::nullopt;
    const QString path = AppPaths::tempDir() + QStringLiteral("/Vorna-")
                         + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".png");
    QString error;
    const bool written = FileOps::writeAtomicallyFrom(
        path,
        [&pixels](QIODevice &out, QString *reason) {
            QImageWriter writer(&out, "png");
            if (writer.write(pixels))
                return true;
            // A failed write to the file gets the system's reason.
            if (writer.error() != QImageWriter::DeviceError)
                *reason = writer.errorString();
            return false;
        },
        &error);
    if (!written) {
        // An editor would only get part of a picture (a full disk).
        vlog(QStringLiteral("[Vorna] openInExternalEditor: cannot write ") + error);
        return std::nullopt;
    }
    return path;
}

// How the external editor is started: its program and arguments come from
// a desktop file's Exec line, or it is an executable that gets the file.
struct ExternalEditor
{
    QString path;
    std::optional<DesktopEntry> entry;
};

// The configured external editor when it can be started; nothing when none
// is set, it is missing or its desktop file is unusable (logged).
std::optional<ExternalEditor> usableExternalEditor(const std::optional<QString> &configured)
{
    if (!configured)
        return std::nullopt;
    const QString editor = AppPaths::expandTilde(*configured);
    if (editor.isEmpty() || !QFileInfo::exists(editor))
        return std::nullopt;
    ExternalEditor result{editor, std::nullopt};
    if (editor.endsWith(QLatin1String(".desktop")) && QFileInfo(editor).isFile()) {
        result.entry = DesktopEntry::read(editor);
        if (!result.entry) {
            vlog(QStringLiteral("[Vorna] openInExternalEditor: cannot read ") + editor);
            return std::nullopt;
        }
        if (!result.entry->commandForFiles({QStringLiteral("/")})) {
            vlog(QStringLiteral("[Vorna] openInExternalEditor: no usable Exec line in ") + editor);
            return std::nullopt;
        }
    }
    return result;
}

// The saved file to hand over, when it is there.
QString existingFile(const std::optional<QString> &filePath)
{
    if (filePath && !filePath->isEmpty() && QFileInfo(*filePath).isFile())
        return *filePath;
    return QString();
}

// Starts the editor on the document; whether the process started.
bool startExternalEditor(const ExternalEditor &editor, const QString &document)
{
    QStringList command;
    QString workingDirectory;
    if (editor.entry) {
        workingDirectory = editor.entry->value(QStringLiteral("Path"));
        command = editor.entry->commandForFiles({document}).value_or(QStringList());
        if (command.isEmpty())
            return false;
    } else {
        command = {editor.path, document};
    }
    const QString program = command.takeFirst();
    const bool started = QProcess::startDetached(program, command, workingDirectory);
    if (!started)
        vlog(QStringLiteral("[Vorna] openInExternalEditor: could not start ") + program);
    return started;
}

} // namespace

bool AppState::openInExternalEditor(const ImageHandle &image, const std::optional<QString> &filePath)
{
    // The editor's command is read before anything is written.
    const auto editor = usableExternalEditor(m_externalEditorPath);
    if (!editor)
        return false;
    QString document = existingFile(filePath);
    if (document.isEmpty()) {
        const auto written = writeTemporaryPng(image);
        if (!written)
            return false;
        document = *written;
    }
    return startExternalEditor(*editor, document);
}

void AppState::openInEditor(const ImageHandle &image, const std::optional<QString> &filePath)
{
    const quint64 request = ++m_editorRequest;
    if (const auto editor = usableExternalEditor(m_externalEditorPath)) {
        const QString document = existingFile(filePath);
        if (!document.isEmpty()) {
            if (startExternalEditor(*editor, document))
                return;
        } else if (!image.isNull()) {
            QtConcurrent::run([image] { return writeTemporaryPng(image); })
                .then(this, [this, editor = *editor, image, request](const std::optional<QString> &written) {
                    if (!written || !startExternalEditor(editor, *written))
                        openEditorWhenDecoded(image, request);
                });
            return;
        }
    }
    openEditorWhenDecoded(image, request);
}

void AppState::openEditorWhenDecoded(const ImageHandle &image, quint64 request)
{
    if (request != m_editorRequest)
        return;
    if (image.isNull() || image.isDecoded()) {
        openEditor(image);
        return;
    }
    QtConcurrent::run([image] { return !image.image().isNull(); }).then(this, [this, image, request](bool decoded) {
        if (request != m_editorRequest)
            return;
        if (decoded)
            openEditor(image);
        else
            presentErrorAlert(VornaError::exportFailed(localized("the capture could not be read")),
                              localized("Could not open this image"));
    });
}

// ---- per-mode shortcuts ----

namespace {
QString hotKeyKey(CaptureShortcut mode)
{
    return QStringLiteral("hotkey.") + CaptureShortcuts::rawValue(mode);
}
QString doubleTapKey(CaptureShortcut mode)
{
    return QStringLiteral("doubleTapTarget.") + CaptureShortcuts::rawValue(mode);
}
const QString kLegacyDoubleTapKey = QStringLiteral("doubleTapFullscreen");
} // namespace

HotKeyBinding AppState::hotKeyBinding(CaptureShortcut mode)
{
    if (const auto data = UserDefaults::standard().dataForKey(hotKeyKey(mode))) {
        if (const auto binding = HotKeyBinding::fromJson(*data))
            return *binding;
    }
    return HotKeyBinding::defaultBinding(mode);
}

void AppState::setHotKeyBinding(const HotKeyBinding &binding, CaptureShortcut mode)
{
    UserDefaults::standard().setData(hotKeyKey(mode), binding.toJson());
    NotificationCenter::instance().post(NotificationNames::hotKeysChanged);
}

std::optional<CaptureShortcut> AppState::doubleTapTarget(CaptureShortcut mode)
{
    UserDefaults &d = UserDefaults::standard();
    if (const auto text = d.stringForKey(doubleTapKey(mode))) {
        if (text->isEmpty())
            return std::nullopt;
        return CaptureShortcuts::fromRawValue(*text);
    }
    if (mode != CaptureShortcut::fullscreen)
        return std::nullopt;
    if (d.contains(kLegacyDoubleTapKey))
        return d.boolForKey(kLegacyDoubleTapKey) ? std::optional(CaptureShortcut::window) : std::nullopt;
    return CaptureShortcut::window;
}

void AppState::setDoubleTapTarget(std::optional<CaptureShortcut> target, CaptureShortcut mode)
{
    UserDefaults &d = UserDefaults::standard();
    d.setString(doubleTapKey(mode), target ? CaptureShortcuts::rawValue(*target) : QString());
    if (mode == CaptureShortcut::fullscreen)
        d.removeObject(kLegacyDoubleTapKey);
}

// ---- launch at login ----

bool AppState::launchAtLogin()
{
    return LoginItem::isEnabled();
}

bool AppState::setLaunchAtLogin(bool enabled)
{
    const bool isOn = LoginItem::isEnabled();
    if (enabled == isOn)
        return true;
    QString error;
    const bool ok = enabled ? LoginItem::enable(&error) : LoginItem::disable(&error);
    if (ok)
        return true;
    vlog(QStringLiteral("Vorna launchAtLogin toggle failed: ") + error);
    return false;
}

// ---- generic access ----

namespace {
QVariant optionalText(const std::optional<QString> &v)
{
    return v ? QVariant(*v) : QVariant();
}
std::optional<QString> toOptionalText(const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return std::nullopt;
    return v.toString();
}
} // namespace

QVariant AppState::value(Property p) const
{
    switch (p) {
    case Property::capturedImage: return QVariant::fromValue(m_capturedImage);
    case Property::isCapturing: return m_isCapturing;
    case Property::captureMode: return QVariant::fromValue(m_captureMode);
    case Property::isEditorOpen: return m_isEditorOpen;
    case Property::annotations: return QVariant::fromValue(m_annotations);
    case Property::currentTool: return QVariant::fromValue(m_currentTool);
    case Property::currentColor: return m_currentColor;
    case Property::currentLineWidth: return m_currentLineWidth;
    case Property::currentFontSize: return m_currentFontSize;
    case Property::nextNumber: return QVariant::fromValue(m_nextNumber);
    case Property::undoStack: return QVariant::fromValue(m_undoStack);
    case Property::redoStack: return QVariant::fromValue(m_redoStack);
    case Property::defaultFormat: return QVariant::fromValue(m_defaultFormat);
    case Property::saveDirectory: return m_saveDirectory;
    case Property::jpegQuality: return m_jpegQuality;
    case Property::copyToClipboard: return m_copyToClipboard;
    case Property::playSound: return m_playSound;
    case Property::showFloatingPreview: return m_showFloatingPreview;
    case Property::simpleMenuMode: return m_simpleMenuMode;
    case Property::floatingPreviewDurationSec: return QVariant::fromValue(m_floatingPreviewDurationSec);
    case Property::showCaptureFlash: return m_showCaptureFlash;
    case Property::externalEditorPath: return optionalText(m_externalEditorPath);
    case Property::includeCursor: return m_includeCursor;
    case Property::countdownSeconds: return QVariant::fromValue(m_countdownSeconds);
    case Property::iCloudSyncEnabled: return m_iCloudSyncEnabled;
    case Property::maxFileSizeKB: return QVariant::fromValue(m_maxFileSizeKB);
    case Property::doubleTapIntervalMS: return QVariant::fromValue(m_doubleTapIntervalMS);
    case Property::preferredLanguage: return optionalText(m_preferredLanguage);
    case Property::savedPaths: return m_savedPaths;
    case Property::hiddenLayers: return QVariant::fromValue(m_hiddenLayers);
    case Property::history: return QVariant::fromValue(m_history);
    }
    return QVariant();
}

void AppState::setValue(Property p, const QVariant &v)
{
    switch (p) {
    case Property::isCapturing: setIsCapturing(v.toBool()); break;
    case Property::captureMode: setCaptureMode(v.value<CaptureMode>()); break;
    case Property::isEditorOpen: setIsEditorOpen(v.toBool()); break;
    case Property::currentTool: setCurrentTool(v.value<AnnotationTool>()); break;
    case Property::currentColor: setCurrentColor(v.value<QColor>()); break;
    case Property::currentLineWidth: setCurrentLineWidth(v.toDouble()); break;
    case Property::currentFontSize: setCurrentFontSize(v.toDouble()); break;
    case Property::nextNumber: setNextNumber(v.toLongLong()); break;
    case Property::defaultFormat: setDefaultFormat(v.value<ImageFormat>()); break;
    case Property::saveDirectory: setSaveDirectory(v.toString()); break;
    case Property::jpegQuality: setJpegQuality(v.toDouble()); break;
    case Property::copyToClipboard: setCopyToClipboard(v.toBool()); break;
    case Property::playSound: setPlaySound(v.toBool()); break;
    case Property::showFloatingPreview: setShowFloatingPreview(v.toBool()); break;
    case Property::simpleMenuMode: setSimpleMenuMode(v.toBool()); break;
    case Property::floatingPreviewDurationSec: setFloatingPreviewDurationSec(v.toLongLong()); break;
    case Property::showCaptureFlash: setShowCaptureFlash(v.toBool()); break;
    case Property::externalEditorPath: setExternalEditorPath(toOptionalText(v)); break;
    case Property::includeCursor: setIncludeCursor(v.toBool()); break;
    case Property::countdownSeconds: setCountdownSeconds(v.toLongLong()); break;
    case Property::iCloudSyncEnabled: setICloudSyncEnabled(v.toBool()); break;
    case Property::maxFileSizeKB: setMaxFileSizeKB(v.toLongLong()); break;
    case Property::doubleTapIntervalMS: setDoubleTapIntervalMS(v.toLongLong()); break;
    case Property::preferredLanguage: setPreferredLanguage(toOptionalText(v)); break;
    case Property::savedPaths: setSavedPaths(v.toStringList()); break;
    case Property::capturedImage: setCapturedImage(v.value<ImageHandle>()); break;
    case Property::annotations: setAnnotations(v.value<QList<Annotation>>()); break;
    case Property::undoStack: setUndoStack(v.value<QList<EditorUndoStep>>()); break;
    case Property::redoStack: setRedoStack(v.value<QList<EditorUndoStep>>()); break;
    case Property::hiddenLayers: setHiddenLayers(v.value<QSet<AnnotationTool>>()); break;
    case Property::history: setHistory(v.value<QList<HistoryItem>>()); break;
    }
}
