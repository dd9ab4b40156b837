#include "platform/OpenPanel.h"

#include "platform/PanelFolders.h"

#include <QFileDialog>
#include <QMimeDatabase>

namespace {

class FileDialogOpenPanel : public OpenPanel
{
public:
    void begin(const Request &request, Completion completion) override
    {
        auto *dialog = new QFileDialog();
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setAcceptMode(QFileDialog::AcceptOpen);
        if (request.chooseDirectories) {
            dialog->setFileMode(QFileDialog::Directory);
            dialog->setOption(QFileDialog::ShowDirsOnly, true);
        } else {
            dialog->setFileMode(QFileDialog::ExistingFile);
            const QStringList filters = nameFilters(request);
            dialog->setNameFilters(filters);
            if (!filters.isEmpty())
                dialog->selectNameFilter(filters.first());
        }
        if (!request.prompt.isEmpty())
            dialog->setLabelText(QFileDialog::Accept, request.prompt);
        dialog->setDirectory(PanelFolders::nearestExisting(request.directory));
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

OpenPanel *g_current = nullptr;

} // namespace

QStringList OpenPanel::nameFilters(const Request &request)
{
    const QMimeDatabase mimeTypes;
    QStringList patterns; // every type's patterns, each once
    QStringList perType;
    for (const QString &name : request.mimeTypeFilters) {
        const QMimeType type = mimeTypes.mimeTypeForName(name);
        if (!type.isValid())
            continue;
        for (const QString &pattern : type.globPatterns()) {
            if (!patterns.contains(pattern))
                patterns.append(pattern);
        }
        const QString filter = type.filterString();
        if (!filter.isEmpty() && !perType.contains(filter))
            perType.append(filter);
    }
    QStringList filters;
    if (!request.allTypesName.isEmpty() && perType.size() > 1)
        filters.append(QStringLiteral("%1 (%2)").arg(request.allTypesName, patterns.join(QLatin1Char(' '))));
    filters.append(perType);
    return filters;
}

OpenPanel &OpenPanel::current()
{
    static FileDialogOpenPanel fallback;
    return g_current ? *g_current : fallback;
}

void OpenPanel::show(Request request, Completion completion)
{
    request.directory = PanelFolders::startFolder(request.name, request.directory);
    current().begin(request,
                    PanelFolders::remembering(request.name, request.chooseDirectories, std::move(completion)));
}

void OpenPanel::setCurrent(OpenPanel *panel)
{
    g_current = panel;
}
