#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Hands links, files and programs to the desktop: URLs go to their default
// handler (xdg-open), files are shown in the file manager, programs are
// started detached. Tests install their
// own workspace to see what would have been opened.
class Workspace
{
public:
    virtual ~Workspace() = default;

    // Opens the URL with its default application; false when nothing could.
    virtual bool openUrl(const QUrl &url) = 0;
    // Starts a program detached from this process, never through a shell;
    // false when it could not be started.
    virtual bool launch(const QString &program, const QStringList &arguments) = 0;
    // Shows the file selected in the file manager (FileManagerReveal); when
    // no file manager takes the request, opens the file's folder with
    // openUrl() of the workspace current at that time. Returns at once.
    virtual void revealFile(const QString &path);

    static Workspace &current();
    // Installs a workspace (nullptr restores the default). Not owned.
    static void setCurrent(Workspace *workspace);
};
