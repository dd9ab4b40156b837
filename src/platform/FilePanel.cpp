#include "platform/FilePanel.h"

#include <QDir>
#include <QFileDialog>
#include <memory>

namespace {

class DialogFilePanel : public FilePanel
{
public:
    void begin(const Request &request, Completion completion) override
    {
        auto *dialog = new QFileDialog(nullptr, request.title);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setFileMode(request.kind == Kind::open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
        dialog->setAcceptMode(request.kind == Kind::open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        if (!request.nameFilters.isEmpty())
            dialog->setNameFilters(request.nameFilters);
        dialog->setDirectory(request.directory.isEmpty() ? QDir::homePath() : request.directory);
        if (!request.proposedName.isEmpty())
            dialog->selectFile(request.proposedName);
        // The completion runs once, whichever way the dialog ends.
        auto done = std::make_shared<Completion>(std::move(completion));
        QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [done](const QString &path) {
            if (*done)
                std::exchange(*done, nullptr)(path);
        });
        QObject::connect(dialog, &QFileDialog::finished, dialog, [done](int) {
            if (*done)
                std::exchange(*done, nullptr)(std::nullopt);
        });
        dialog->open();
    }
};

FilePanel *g_override = nullptr;

} // namespace

FilePanel &FilePanel::current()
{
    static DialogFilePanel fallback;
    return g_override ? *g_override : fallback;
}

void FilePanel::setCurrent(FilePanel *panel)
{
    g_override = panel;
}
