#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// A save panel that works on its own: begin() returns at once and the
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
    };
    // The chosen path, or nothing when the panel was cancelled.
    using Completion = std::function<void(std::optional<QString> path)>;

    virtual ~SavePanel() = default;
    virtual void begin(const Request &request, Completion completion) = 0;

    static SavePanel &current();
    // Installs a panel (nullptr restores the default). Not owned.
    static void setCurrent(SavePanel *panel);
};
