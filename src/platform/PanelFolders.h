#pragma once

#include <QString>
#include <functional>
#include <optional>

// Where each of the program's file panels opens: in the folder last chosen
// in that panel during this run, else in the folder its caller gives. The
// folders are kept in memory only, never stored. A panel is known by a
// name of its caller's choosing; one without a name remembers nothing.
class PanelFolders
{
public:
    using Completion = std::function<void(std::optional<QString> path)>;

    // The folder the panel called name opens in.
    static QString startFolder(const QString &name, const QString &fallback);
    // The completion, after noting where a choice was made in the panel:
    // the folder of a chosen file, or a chosen folder itself.
    static Completion remembering(const QString &name, bool choosesFolders, Completion completion);
    // Forgets every panel's folder.
    static void forgetAll();

    // The folder itself when it exists, else its nearest existing parent,
    // else the home folder: a dialog shown a missing folder shows nothing.
    static QString nearestExisting(const QString &folder);
};
