#pragma once

#include "platform/OpenPanel.h"
#include "platform/SavePanel.h"

#include <QList>
#include <QStringList>
#include <utility>

// Stands in for the save and open panels for its lifetime: records each
// request, and completes the latest panel when the test says so.
class ScriptedFilePanels : public SavePanel, public OpenPanel
{
public:
    ScriptedFilePanels()
    {
        SavePanel::setCurrent(this);
        OpenPanel::setCurrent(this);
    }
    ~ScriptedFilePanels() override
    {
        SavePanel::setCurrent(nullptr);
        OpenPanel::setCurrent(nullptr);
    }

    void begin(const SavePanel::Request &request, SavePanel::Completion completion) override
    {
        saveRequests.append(request);
        directories.append(request.directory);
        pending = std::move(completion);
    }
    void begin(const OpenPanel::Request &request, OpenPanel::Completion completion) override
    {
        openRequests.append(request);
        directories.append(request.directory);
        pending = std::move(completion);
    }
    void choose(const std::optional<QString> &path) { std::exchange(pending, nullptr)(path); }

    QList<SavePanel::Request> saveRequests;
    QList<OpenPanel::Request> openRequests;
    // Where each panel opened, save and open panels alike, in order.
    QStringList directories;
    std::function<void(std::optional<QString>)> pending;
};
