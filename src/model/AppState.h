#pragma once

#include "model/Annotation.h"
#include "model/AnnotationTool.h"
#include "model/CaptureMode.h"
#include "model/CaptureShortcut.h"
#include "model/HistoryItem.h"
#include "model/HotKeyBinding.h"
#include "model/ImageFormat.h"
#include "model/ImageHandle.h"
#include "model/PreferenceRange.h"

#include <QColor>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QVariant>
#include <optional>

class UserDefaults;

// One step of the editor's undo history: the image being edited and its
// annotations as they were, restored together.
struct EditorUndoStep
{
    ImageHandle image;
    QList<Annotation> annotations;
};
Q_DECLARE_METATYPE(EditorUndoStep)

// The one observable application model: editor state, every preference
// (each backed by a key in UserDefaults::standard()) and the in-memory
// capture history. Lives on the main thread.
//
// Every assignment to a preference writes its key, even when the value is
// unchanged; changed() is emitted only when a value really changes.
class AppState : public QObject
{
    Q_OBJECT
public:
    enum class Property {
        capturedImage,
        isCapturing,
        captureMode,
        isEditorOpen,
        annotations,
        currentTool,
        currentColor,
        currentLineWidth,
        currentFontSize,
        nextNumber,
        undoStack,
        redoStack,
        defaultFormat,
        saveDirectory,
        jpegQuality,
        copyToClipboard,
        playSound,
        showFloatingPreview,
        simpleMenuMode,
        floatingPreviewDurationSec,
        showCaptureFlash,
        externalEditorPath,
        includeCursor,
        countdownSeconds,
        iCloudSyncEnabled,
        maxFileSizeKB,
        doubleTapIntervalMS,
        preferredLanguage,
        savedPaths,
        hiddenLayers,
        history,
    };
    Q_ENUM(Property)

    // Reads every preference from UserDefaults::standard(); writes nothing.
    explicit AppState(QObject *parent = nullptr);
    ~AppState() override;

    // The user's Desktop folder (home + "/Desktop" when none is known).
    static QString defaultSaveDirectory();

    // ---- editor actions ----
    // Records the current image and a copy of the annotations as one undo
    // step and empties the redo stack. Call it before a change.
    void pushUndo();
    // Replaces the edited image (a crop, a beautified frame) as one undo
    // step: records the current image and annotations, installs the new
    // image and empties the annotations. Undo brings both back.
    void replaceImage(const ImageHandle &image);
    // Steps back to the last recorded step (image and annotations); the
    // current ones go to the redo stack. Nothing happens when there is
    // nothing to undo.
    void undo();
    // The mirror image of undo().
    void redo();
    // Records a snapshot, then empties the annotations and restarts numbering.
    void clearAnnotations();
    // Loads an image into the built-in editor (fresh annotations and stacks)
    // and posts "VornaOpenEditor".
    void openEditor(const ImageHandle &image);
    // Opens the image in the user's external editor: the file at filePath
    // when it exists, else a temporary PNG ("Vorna-<UUID>.png" in the
    // temporary folder, left there). The editor is a .desktop file (its Exec
    // line, never through a shell) or an executable. Returns whether the
    // editor process was started; false when no editor is set or it is
    // missing, the image cannot be written, or the program does not start.
    // Callers fall back to openEditor() on false.
    bool openInExternalEditor(const ImageHandle &image, const std::optional<QString> &filePath = std::nullopt);
    // The same rule without the UI thread waiting on pixels: a temporary
    // PNG for the external editor is written in the background, and the
    // built-in editor opens once the image's pixels are in memory (decoded
    // in the background when they were let go). An image that cannot be
    // decoded gets the "Could not open this image" alert and no editor
    // opens. When several requests wait for the built-in editor, the last
    // one made wins.
    void openInEditor(const ImageHandle &image, const std::optional<QString> &filePath = std::nullopt);

    // ---- per-mode shortcuts (read from and written to user defaults at each call) ----
    // The stored binding of a mode ("hotkey." + mode), the default when none
    // or an undecodable one is stored. An explicitly cleared shortcut is the
    // unbound value.
    static HotKeyBinding hotKeyBinding(CaptureShortcut mode);
    // Stores the binding and posts "VornaHotKeysChanged".
    static void setHotKeyBinding(const HotKeyBinding &binding, CaptureShortcut mode);
    // The mode a double press runs instead ("doubleTapTarget." + mode). For
    // fullscreen without its own key, the older "doubleTapFullscreen" flag
    // decides (absent: window).
    static std::optional<CaptureShortcut> doubleTapTarget(CaptureShortcut mode);
    static void setDoubleTapTarget(std::optional<CaptureShortcut> target, CaptureShortcut mode);

    // ---- launch at login ----
    // Whether the program starts at login now.
    static bool launchAtLogin();
    // Turns starting at login on or off. Returns true when the state now
    // matches; a failure is logged ("Vorna launchAtLogin toggle failed: ...")
    // and returns false.
    static bool setLaunchAtLogin(bool enabled);

    // Editor and capture state
    const ImageHandle &capturedImage() const { return m_capturedImage; }
    void setCapturedImage(const ImageHandle &v);
    bool isCapturing() const { return m_isCapturing; }
    void setIsCapturing(bool v);
    CaptureMode captureMode() const { return m_captureMode; }
    void setCaptureMode(CaptureMode v);
    bool isEditorOpen() const { return m_isEditorOpen; }
    void setIsEditorOpen(bool v);
    const QList<Annotation> &annotations() const { return m_annotations; }
    void setAnnotations(const QList<Annotation> &v);
    AnnotationTool currentTool() const { return m_currentTool; }
    void setCurrentTool(AnnotationTool v);
    QColor currentColor() const { return m_currentColor; }
    void setCurrentColor(const QColor &v);
    double currentLineWidth() const { return m_currentLineWidth; }
    void setCurrentLineWidth(double v);
    double currentFontSize() const { return m_currentFontSize; }
    void setCurrentFontSize(double v);
    qint64 nextNumber() const { return m_nextNumber; }
    void setNextNumber(qint64 v);
    const QList<EditorUndoStep> &undoStack() const { return m_undoStack; }
    void setUndoStack(const QList<EditorUndoStep> &v);
    const QList<EditorUndoStep> &redoStack() const { return m_redoStack; }
    void setRedoStack(const QList<EditorUndoStep> &v);

    // Preferences
    ImageFormat defaultFormat() const { return m_defaultFormat; }
    void setDefaultFormat(ImageFormat v);
    QString saveDirectory() const { return m_saveDirectory; }
    void setSaveDirectory(const QString &v);
    double jpegQuality() const { return m_jpegQuality; }
    void setJpegQuality(double v);
    bool copyToClipboard() const { return m_copyToClipboard; }
    void setCopyToClipboard(bool v);
    bool playSound() const { return m_playSound; }
    void setPlaySound(bool v);
    bool showFloatingPreview() const { return m_showFloatingPreview; }
    void setShowFloatingPreview(bool v);
    bool simpleMenuMode() const { return m_simpleMenuMode; }
    void setSimpleMenuMode(bool v);
    qint64 floatingPreviewDurationSec() const { return m_floatingPreviewDurationSec; }
    void setFloatingPreviewDurationSec(qint64 v);
    bool showCaptureFlash() const { return m_showCaptureFlash; }
    void setShowCaptureFlash(bool v);
    std::optional<QString> externalEditorPath() const { return m_externalEditorPath; }
    void setExternalEditorPath(const std::optional<QString> &v);
    // The external editor's name: its desktop file's Name, else the file
    // name without extension; nothing when no editor is set.
    std::optional<QString> externalEditorName() const;
    bool includeCursor() const { return m_includeCursor; }
    void setIncludeCursor(bool v);
    qint64 countdownSeconds() const { return m_countdownSeconds; }
    void setCountdownSeconds(qint64 v);
    bool iCloudSyncEnabled() const { return m_iCloudSyncEnabled; }
    void setICloudSyncEnabled(bool v);
    qint64 maxFileSizeKB() const { return m_maxFileSizeKB; }
    void setMaxFileSizeKB(qint64 v);
    qint64 doubleTapIntervalMS() const { return m_doubleTapIntervalMS; }
    void setDoubleTapIntervalMS(qint64 v);
    std::optional<QString> preferredLanguage() const { return m_preferredLanguage; }
    void setPreferredLanguage(const std::optional<QString> &v);
    QStringList savedPaths() const { return m_savedPaths; }
    void setSavedPaths(const QStringList &v);

    // Editor layers and history
    QSet<AnnotationTool> hiddenLayers() const { return m_hiddenLayers; }
    void setHiddenLayers(const QSet<AnnotationTool> &v);
    const QList<HistoryItem> &history() const { return m_history; }
    void setHistory(const QList<HistoryItem> &v);

    // Generic access by property, for views bound to a property. A write
    // goes through the property's setter. Optional texts travel as an
    // invalid QVariant for "none".
    QVariant value(Property p) const;
    void setValue(Property p, const QVariant &v);

signals:
    // A property's value changed (emitted after the new value is stored).
    void changed(AppState::Property property);

private:
    UserDefaults &defaults() const;
    void announce(Property p);
    void storeClamped(Property p, qint64 &field, PreferenceRange range, const char *key);
    // openEditor() once the pixels are decoded, unless another image was
    // asked for the editor since request.
    void openEditorWhenDecoded(const ImageHandle &image, quint64 request);

    ImageHandle m_capturedImage;
    bool m_isCapturing = false;
    CaptureMode m_captureMode = CaptureMode::region;
    bool m_isEditorOpen = false;
    QList<Annotation> m_annotations;
    AnnotationTool m_currentTool = AnnotationTool::arrow;
    QColor m_currentColor;
    double m_currentLineWidth = 3;
    double m_currentFontSize = 18;
    qint64 m_nextNumber = 1;
    QList<EditorUndoStep> m_undoStack;
    QList<EditorUndoStep> m_redoStack;

    ImageFormat m_defaultFormat = ImageFormat::png;
    QString m_saveDirectory;
    double m_jpegQuality = 0.9;
    bool m_copyToClipboard = true;
    bool m_playSound = true;
    bool m_showFloatingPreview = true;
    bool m_simpleMenuMode = false;
    qint64 m_floatingPreviewDurationSec = 7;
    bool m_showCaptureFlash = false;
    std::optional<QString> m_externalEditorPath;
    bool m_includeCursor = false;
    qint64 m_countdownSeconds = 5;
    bool m_iCloudSyncEnabled = false;
    qint64 m_maxFileSizeKB = 0;
    qint64 m_doubleTapIntervalMS = 350;
    std::optional<QString> m_preferredLanguage;
    QStringList m_savedPaths;
    bool m_postingSavedPaths = false;

    QSet<AnnotationTool> m_hiddenLayers;
    QList<HistoryItem> m_history;
    // Counts the requests for the built-in editor.
    quint64 m_editorRequest = 0;
};

Q_DECLARE_METATYPE(AppState::Property)
