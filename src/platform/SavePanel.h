#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A save panel that works on its own: show() returns at once and the
// completion runs on the main thread when the user is done. The default
// panel is a non-modal QFileDialog (which asks before replacing an existing
// file); tests install their own.
class SavePanel
{
public:
    struct Request
    {
        QString suggestedName;          // the name field
        QStringList mimeTypeFilters;    // allowed types, e.g. "image/png"
        QString defaultSuffix;          // added to a name typed without one
        bool canCreateDirectories = true;
        QString name;                   // which panel it is, for the folder it remembers (PanelFolders)
        QString directory;              // where it opens when it remembers none
    };
    // The chosen path, or nothing when the panel was cancelled.
    using Completion = std::function<void(std::optional<QString> path)>;

    virtual ~SavePanel() = default;
    // Opens the panel in the folder the request names.
    virtual void begin(const Request &request, Completion completion) = 0;

    // Opens the current panel in the folder last chosen in it during this
    // run, or else in the request's directory.
    static void show(Request request, Completion completion);

    static SavePanel &current();
    // Installs a panel (nullptr restores the default). Not owned.
    static void setCurrent(SavePanel *panel);
};
