#include "settings/SettingsPanels.h"

#include "platform/AppPaths.h"
#include "platform/DesktopEntry.h"
#include "platform/FileManagerReveal.h"
#include "platform/Localized.h"
#include "platform/PanelFolders.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>

namespace SettingsPanels {

namespace {

Chooser g_folderChooser;
Chooser g_applicationChooser;
std::function<void()> g_beep;
std::function<void(const QString &)> g_revealer;

QStringList applicationFolders()
{
    QStringList folders{AppPaths::dataHome() + QStringLiteral("/applications")};
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &dir : dirs.split(u':', Qt::SkipEmptyParts))
        folders.append(QDir::cleanPath(dir) + QStringLiteral("/applications"));
    return folders;
}

bool isTrue(const QString &value)
{
    return value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
}

void showApplicationList(QWidget *parent, Completion done)
{
    auto *dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(localized("Choose App"));
    dialog->resize(380, 440);
    auto *layout = new QVBoxLayout(dialog);
    auto *filter = new QLineEdit(dialog);
    filter->setPlaceholderText(localized("Search"));
    filter->setClearButtonEnabled(true);
    auto *list = new QListWidget(dialog);
    list->setIconSize(QSize(24, 24));
    // Reading every desktop file takes a moment: the list fills in once
    // that is done, away from the main thread.
    auto *watcher = new QFutureWatcher<QList<Application>>(dialog);
    QObject::connect(watcher, &QFutureWatcher<QList<Application>>::finished, list, [watcher, list, filter] {
        for (const Application &app : watcher->result()) {
            auto *item = new QListWidgetItem(QIcon::fromTheme(app.icon), app.name, list);
            item->setData(Qt::UserRole, app.path);
            item->setToolTip(app.path);
            item->setHidden(!app.name.contains(filter->text(), Qt::CaseInsensitive));
        }
    });
    watcher->setFuture(QtConcurrent::run(&installedApplications));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(localized("Use as Editor"));
    buttons->button(QDialogButtonBox::Ok)->setEnabled(false);
    layout->addWidget(filter);
    layout->addWidget(list, 1);
    layout->addWidget(buttons);

    QObject::connect(filter, &QLineEdit::textChanged, list, [list](const QString &text) {
        for (int i = 0; i < list->count(); ++i)
            list->item(i)->setHidden(!list->item(i)->text().contains(text, Qt::CaseInsensitive));
    });
    QObject::connect(list, &QListWidget::currentItemChanged, buttons, [buttons](QListWidgetItem *current) {
        buttons->button(QDialogButtonBox::Ok)->setEnabled(current != nullptr);
    });
    QObject::connect(list, &QListWidget::itemActivated, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(dialog, &QDialog::finished, dialog, [list, done](int result) {
        QListWidgetItem *item = list->currentItem();
        if (result != QDialog::Accepted || !item)
            done(std::nullopt);
        else
            done(item->data(Qt::UserRole).toString());
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
    filter->setFocus();
}

} // namespace

void showFolderPanel(QWidget *parent, Completion done, const FolderPanelOptions &options)
{
    auto *dialog = new QFileDialog(parent, options.title);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    if (!options.acceptLabel.isEmpty())
        dialog->setLabelText(QFileDialog::Accept, options.acceptLabel);
    if (options.stayOnTop)
        dialog->setWindowFlag(Qt::WindowStaysOnTopHint);
    // Every folder panel chooses where captures go: they share the folder
    // last chosen, and start in the home folder.
    const QString name = QStringLiteral("saveFolder");
    dialog->setDirectory(PanelFolders::nearestExisting(PanelFolders::startFolder(name, QDir::homePath())));
    QObject::connect(dialog, &QFileDialog::finished, dialog,
                     [dialog, done = PanelFolders::remembering(name, true, std::move(done))](int result) {
        const QStringList files = dialog->selectedFiles();
        if (result != QDialog::Accepted || files.isEmpty() || files.first().isEmpty())
            done(std::nullopt);
        else
            done(files.first());
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void chooseFolder(QWidget *parent, Completion done)
{
    if (g_folderChooser)
        g_folderChooser(parent, std::move(done));
    else
        showFolderPanel(parent, std::move(done));
}

void chooseApplication(QWidget *parent, Completion done)
{
    if (g_applicationChooser)
        g_applicationChooser(parent, std::move(done));
    else
        showApplicationList(parent, std::move(done));
}

void beep()
{
    if (g_beep)
        g_beep();
    else
        QApplication::beep();
}

void reveal(const QString &path)
{
    if (g_revealer)
        g_revealer(path);
    else
        FileManagerReveal::reveal(path);
}

void setFolderChooser(Chooser chooser)
{
    g_folderChooser = std::move(chooser);
}

void setApplicationChooser(Chooser chooser)
{
    g_applicationChooser = std::move(chooser);
}

void setBeep(std::function<void()> beep)
{
    g_beep = std::move(beep);
}

void setRevealer(std::function<void(const QString &)> revealer)
{
    g_revealer = std::move(revealer);
}

QList<Application> installedApplications()
{
    QList<Application> apps;
    QSet<QString> seenIds;
    for (const QString &folder : applicationFolders()) {
        const QString root = QDir::cleanPath(folder);
        QDirIterator it(root, {QStringLiteral("*.desktop")}, QDir::Files | QDir::Readable,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext()) {
            const QString path = it.next();
            // The desktop id: the path below the folder with "/" as "-".
            const QString id = path.mid(root.size() + 1).replace(u'/', u'-');
            if (seenIds.contains(id))
                continue;
            seenIds.insert(id);
            const auto entry = DesktopEntry::read(path);
            if (!entry || entry->value(QStringLiteral("Type")) != QLatin1String("Application"))
                continue;
            if (isTrue(entry->value(QStringLiteral("NoDisplay"))) || isTrue(entry->value(QStringLiteral("Hidden"))))
                continue;
            // The editor is started without a terminal to run in.
            if (isTrue(entry->value(QStringLiteral("Terminal"))))
                continue;
            if (!entry->commandForFiles({QStringLiteral("/")}))
                continue;
            const QString name = entry->value(QStringLiteral("Name"));
            apps.append({path, name.isEmpty() ? QFileInfo(path).completeBaseName() : name,
                         entry->value(QStringLiteral("Icon"))});
        }
    }
    std::stable_sort(apps.begin(), apps.end(), [](const Application &a, const Application &b) {
        return a.name.compare(b.name, Qt::CaseInsensitive) < 0;
    });
    return apps;
}

} // namespace SettingsPanels
