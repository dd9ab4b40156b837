#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Hands links, files and programs to the desktop: URLs go to their default
// handler (xdg-open), programs are started detached. Tests install their
// own workspace to see what would have been opened. (Files are shown in the
// file manager by FileManagerReveal, which opens their folder through here
// when no file manager takes them.)
class Workspace
{
public:
    virtual ~Workspace() = default;

    // Opens the URL with its default application; false when nothing could.
    virtual bool openUrl(const QUrl &url) = 0;
    // Starts a program detached from this process, never through a shell;
    // false when it could not be started.
    virtual bool launch(const QString &program, const QStringList &arguments) = 0;

    static Workspace &current();
    // Installs a workspace (nullptr restores the default). Not owned.
    static void setCurrent(Workspace *workspace);
};
