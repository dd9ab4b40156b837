#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Open and save panels. A panel is shown without blocking the caller; its
// completion runs later on the main thread with the chosen path, or with
// nothing when the user cancelled. Tests install their own panel.
class FilePanel
{
public:
    enum class Kind { open, save };

    struct Request
    {
        Kind kind = Kind::open;
        QString title;
        QString proposedName;    // save panels: the file name offered
        QString directory;       // where the panel starts; empty: the panel's own choice
        QStringList nameFilters; // for example "JSON (*.json)"
    };

    using Completion = std::function<void(const std::optional<QString> &path)>;

    virtual ~FilePanel() = default;
    virtual void begin(const Request &request, Completion completion) = 0;

    static FilePanel &current();
    // Installs a panel (nullptr restores the default). Not owned.
    static void setCurrent(FilePanel *panel);
};
