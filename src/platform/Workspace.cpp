#include "platform/Workspace.h"

#include <QDesktopServices>
#include <QProcess>

namespace {

class DesktopWorkspace : public Workspace
{
public:
    bool openUrl(const QUrl &url) override { return QDesktopServices::openUrl(url); }

    bool launch(const QString &program, const QStringList &arguments) override
    {
        return QProcess::startDetached(program, arguments);
    }
};

Workspace *g_override = nullptr;

} // namespace

Workspace &Workspace::current()
{
    static DesktopWorkspace fallback;
    return g_override ? *g_override : fallback;
}

void Workspace::setCurrent(Workspace *workspace)
{
    g_override = workspace;
}
