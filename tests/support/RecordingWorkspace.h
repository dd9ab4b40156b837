#pragma once

#include "platform/Workspace.h"

#include <QList>
#include <QUrl>

// Records what would have been opened instead of opening it. Installed for
// its lifetime.
class RecordingWorkspace : public Workspace
{
public:
    RecordingWorkspace() { Workspace::setCurrent(this); }
    ~RecordingWorkspace() override { Workspace::setCurrent(nullptr); }
    bool openUrl(const QUrl &url) override
    {
        opened.append(url);
        return true;
    }
    bool launch(const QString &, const QStringList &) override { return false; }
    QList<QUrl> opened;
};
