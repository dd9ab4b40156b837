#include "platform/SavePanel.h"

#include "platform/PanelFolders.h"

#include <QFileDialog>

namespace {

class FileDialogSavePanel : public SavePanel
{
public:
    void begin(const Request &request, Completion completion) override
    {
        auto *dialog = new QFileDialog();
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setFileMode(QFileDialog::AnyFile);
        dialog->setMimeTypeFilters(request.mimeTypeFilters);
        dialog->setDefaultSuffix(request.defaultSuffix);
        dialog->setOption(QFileDialog::ReadOnly, !request.canCreateDirectories);
        dialog->setDirectory(PanelFolders::nearestExisting(request.directory));
        dialog->selectFile(request.suggestedName);
        dialog->setModal(false);
        QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, completion](int result) {
            const QStringList files = dialog->selectedFiles();
            if (result == QDialog::Accepted && !files.isEmpty() && !files.first().isEmpty())
                completion(files.first());
            else
                completion(std::nullopt);
        });
        dialog->show();
    }
};

SavePanel *g_current = nullptr;

} // namespace

SavePanel &SavePanel::current()
{
    static FileDialogSavePanel fallback;
    return g_current ? *g_current : fallback;
}

void SavePanel::show(Request request, Completion completion)
{
    request.directory = PanelFolders::startFolder(request.name, request.directory);
    current().begin(request, PanelFolders::remembering(request.name, false, std::move(completion)));
}

void SavePanel::setCurrent(SavePanel *panel)
{
    g_current = panel;
}
