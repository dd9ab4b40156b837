#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Hands links and programs to the desktop: URLs go to their default
// handler (xdg-open), programs are started detached. Tests install their
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

    static Workspace &current();
    // Installs a workspace (nullptr restores the default). Not owned.
    static void setCurrent(Workspace *workspace);
};
