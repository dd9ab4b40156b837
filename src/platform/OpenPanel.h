#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// An open panel that works on its own: show() returns at once and the
// completion runs on the main thread with the chosen file, or with nothing
// when the panel was cancelled. The default panel is a non-modal
// QFileDialog for one existing file or folder; tests install their own.
class OpenPanel
{
public:
    struct Request
    {
        QStringList mimeTypeFilters; // allowed types, e.g. "application/json"
        // With several types: the name of a first filter, chosen when the
        // panel opens, that shows files of every allowed type. Empty: the
        // panel starts on the first type's own filter.
        QString allTypesName;
        bool chooseDirectories = false; // one folder instead of one file (new folders allowed)
        QString prompt;                 // the accept button's text; empty keeps the default
        QString name;                   // which panel it is, for the folder it remembers (PanelFolders)
        QString directory;              // where it opens when it remembers none
    };
    using Completion = std::function<void(std::optional<QString> path)>;

    virtual ~OpenPanel() = default;
    // Opens the panel in the folder the request names.
    virtual void begin(const Request &request, Completion completion) = 0;

    // Opens the current panel in the folder last chosen in it during this
    // run, or else in the request's directory.
    static void show(Request request, Completion completion);

    // The filters a panel for one file offers, in order: the all-types
    // filter (when the request names one), then one for each type. Aliases
    // of one type, and types whose filters read the same, give one entry.
    static QStringList nameFilters(const Request &request);

    static OpenPanel &current();
    // Installs a panel (nullptr restores the default). Not owned.
    static void setCurrent(OpenPanel *panel);
};
