#include "windows/HistoryActions.h"

#include "model/AppState.h"
#include "model/VornaError.h"
#include "output/ClipboardImage.h"
#include "output/HistoryService.h"
#include "output/ImageExporter.h"
#include "platform/FileManagerReveal.h"
#include "platform/FileOps.h"
#include "platform/Localized.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <QtConcurrent>
#include <QFileInfo>
#include <QGuiApplication>

namespace HistoryActions {

void openInEditor(AppState &appState, const HistoryItem &item)
{
    appState.openInEditor(item.image, item.filePath);
}

QImage pixels(const HistoryItem &item, const QString &historyPng)
{
    if (item.image.isNull())
        return {};
    if (item.image.isDecoded())
        return item.image.image();
    QString path = historyPng;
    if (!QFileInfo(path).isFile())
        path = item.image.sourcePath();
    if (path.isEmpty())
        return item.image.image();
    // Never waits on a named pipe or a device in the picture's place.
    QFile file;
    QImage image;
    if (FileOps::openRegularFile(path, file)) {
        QImageReader reader(&file);
        reader.setAutoTransform(false);
        if (!reader.read(&image))
            image = QImage();
    }
    // Deleted meanwhile (the file's bytes went into the image), or not
    // readable: the image decodes what it can, and an entry whose picture
    // is damaged leaves the history.
    if (image.isNull())
        return item.image.image();
    const QSize px = item.image.pixelSize();
    const QSizeF pt = item.image.pointSize();
    if (px.isValid() && pt.width() > 0)
        image.setDevicePixelRatio(px.width() / pt.width());
    return image;
}

namespace {

// Reads the capture's pixels in the background, then runs done with them
// on the main thread.
void withPixels(const HistoryItem &item, std::function<void(const QImage &)> done)
{
    const QString png = HistoryService::shared().imagePath(item.id);
    QtConcurrent::run([item, png] { return pixels(item, png); })
        .then(QCoreApplication::instance(), [done = std::move(done)](const QImage &image) { done(image); });
}

} // namespace

void copyImage(const HistoryItem &item)
{
    withPixels(item, [](const QImage &image) {
        if (!image.isNull())
            ClipboardImage::copy(image);
    });
}

void saveAs(AppState &appState, const HistoryItem &item)
{
    const ImageFormat format = appState.defaultFormat();
    const double quality = appState.jpegQuality();
    const QString folder = appState.saveDirectory();
    withPixels(item, [format, quality, folder](const QImage &image) {
        if (image.isNull()) {
            presentErrorAlert(VornaError::exportFailed(localized("the capture could not be read")),
                              localized("Could not save screenshot"));
            return;
        }
        ImageExporter::presentSavePanel(image, format, quality, folder, [](const ErrorReport &error) {
            presentErrorAlert(error, localized("Could not save screenshot"));
        });
    });
}

bool hasSavedFile(const HistoryItem &item)
{
    return item.filePath && !item.filePath->isEmpty() && QFileInfo(*item.filePath).isFile();
}

void reveal(const HistoryItem &item)
{
    if (!item.filePath || item.filePath->isEmpty())
        return;
    FileManagerReveal::reveal(*item.filePath);
}

void deleteEntry(AppState &appState, const QUuid &id)
{
    HistoryService &service = HistoryService::shared();
    // An export or an editor may still hold the entry: its image keeps the
    // file's pixels for them when the file goes.
    ImageHandle image;
    for (const HistoryItem &item : std::as_const(service.items()))
        if (item.id == id)
            image = item.image;
    service.items().removeIf([&id](const HistoryItem &item) { return item.id == id; });
    service.deleteImageFile(id, image);
    service.persist();
    appState.setHistory(service.items());
}

void clearAll(AppState &appState)
{
    HistoryService::shared().clear();
    appState.setHistory({});
}

} // namespace HistoryActions
