#include "platform/Workspace.h"

#include "platform/FileManagerReveal.h"
#include "platform/Log.h"

#include <QDesktopServices>
#include <QFileInfo>
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

void Workspace::revealFile(const QString &path)
{
    FileManagerReveal::showItem(path, [path](bool shown) {
        if (shown)
            return;
        const QString folder = QFileInfo(path).absolutePath();
        if (!Workspace::current().openUrl(QUrl::fromLocalFile(folder)))
            vlog(QStringLiteral("[Vorna] could not show ") + path + QStringLiteral(" in a file manager"));
    });
}

Workspace &Workspace::current()
{
    static DesktopWorkspace fallback;
    return g_override ? *g_override : fallback;
}

void Workspace::setCurrent(Workspace *workspace)
{
    g_override = workspace;
}
