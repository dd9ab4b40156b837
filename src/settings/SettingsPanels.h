#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

// What the settings window asks of the desktop: a folder panel, a chooser of
// installed applications, the error beep and "show this file in the file
// manager". Each goes through a function that tests replace, so no test
// opens a dialog, beeps or starts a file manager.
namespace SettingsPanels {

// The chosen path, or nothing when the user cancelled.
using Completion = std::function<void(std::optional<QString>)>;
using Chooser = std::function<void(QWidget *parent, Completion done)>;

// A free-standing folder panel (folders only, new folders allowed); returns
// at once, the completion runs on the main thread.
void chooseFolder(QWidget *parent, Completion done);
// How showFolderPanel dresses its dialog.
struct FolderPanelOptions
{
    QString title;
    QString acceptLabel; // empty: the dialog's own
    bool stayOnTop = false;
};
// The real folder dialog behind chooseFolder, never replaced by a test
// double (callers with their own double use it as their real panel); returns
// at once, the completion runs on the main thread.
void showFolderPanel(QWidget *parent, Completion done, const FolderPanelOptions &options = {});
// A free-standing list of the installed applications, with the prompt
// "Use as Editor"; completes with the chosen application's desktop file.
void chooseApplication(QWidget *parent, Completion done);
// The error beep for input that cannot be used.
void beep();
// Shows the file selected in the file manager (its folder when the file
// manager cannot select it). The file need not exist yet.
void reveal(const QString &path);

// Test doubles; an empty function restores the real one.
void setFolderChooser(Chooser chooser);
void setApplicationChooser(Chooser chooser);
void setBeep(std::function<void()> beep);
void setRevealer(std::function<void(const QString &)> revealer);

// One installed application: its desktop file and the name it shows.
struct Application
{
    QString path;
    QString name;
    QString icon;
};
// The applications of $XDG_DATA_HOME/applications and each of
// $XDG_DATA_DIRS/applications (the first file of a desktop id wins), that
// are shown in menus and can be started: Type=Application with an Exec line,
// neither NoDisplay nor Hidden, and not run in a terminal. Sorted by name,
// ignoring case. Only reads files: safe on any thread.
QList<Application> installedApplications();

} // namespace SettingsPanels
