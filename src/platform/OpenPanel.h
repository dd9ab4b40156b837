#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// An open panel that works on its own: begin() returns at once and the
// completion runs on the main thread with the chosen file, or with nothing
// when the panel was cancelled. The default panel is a non-modal
// QFileDialog for one existing file or folder; tests install their own.
class OpenPanel
{
public:
    struct Request
    {
        QStringList mimeTypeFilters; // allowed types, e.g. "application/json"
        bool chooseDirectories = false; // one folder instead of one file (new folders allowed)
        QString prompt;                 // the accept button's text; empty keeps the default
    };
    using Completion = std::function<void(std::optional<QString> path)>;

    virtual ~OpenPanel() = default;
    virtual void begin(const Request &request, Completion completion) = 0;

    static OpenPanel &current();
    // Installs a panel (nullptr restores the default). Not owned.
    static void setCurrent(OpenPanel *panel);
};
