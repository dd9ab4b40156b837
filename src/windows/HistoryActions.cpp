#include "windows/HistoryActions.h"

#include "model/AppState.h"
#include "model/VornaError.h"
#include "output/HistoryService.h"
#include "output/ImageExporter.h"
#include "platform/Localized.h"
#include "platform/Workspace.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>

namespace HistoryActions {

void openInEditor(AppState &appState, const HistoryItem &item)
{
    if (!appState.openInExternalEditor(item.image, item.filePath))
        appState.openEditor(item.image);
}

void copyImage(const HistoryItem &item)
{
    const QImage image = item.image.image();
    if (image.isNull())
        return;
    QGuiApplication::clipboard()->setImage(image);
}

void saveAs(AppState &appState, const HistoryItem &item)
{
    ImageExporter::presentSavePanel(item.image.image(), appState.defaultFormat(), appState.jpegQuality(),
                                    [](const ErrorReport &error) {
                                        presentErrorAlert(error, localized("Could not save screenshot"));
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
    Workspace::current().revealFile(*item.filePath);
}

void deleteEntry(AppState &appState, const QUuid &id)
{
    HistoryService &service = HistoryService::shared();
    service.items().removeIf([&id](const HistoryItem &item) { return item.id == id; });
    service.deleteImageFile(id);
    service.persist();
    appState.setHistory(service.items());
}

void clearAll(AppState &appState)
{
    HistoryService::shared().clear();
    appState.setHistory({});
}

} // namespace HistoryActions
