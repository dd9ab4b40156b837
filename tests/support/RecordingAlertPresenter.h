#pragma once

#include "platform/AlertPresenter.h"

#include <QList>
#include <functional>

// Records every alert instead of showing it, and answers with a chosen
// button. Installed for its lifetime.
class RecordingAlertPresenter : public AlertPresenter
{
public:
    RecordingAlertPresenter() { AlertPresenter::setCurrent(this); }
    ~RecordingAlertPresenter() override { AlertPresenter::setCurrent(nullptr); }

    int present(const Alert &alert) override
    {
        alerts.append(alert);
        if (whileOpen)
            whileOpen();
        return answer;
    }

    QList<Alert> alerts;
    int answer = 0;
    // Runs before the alert is answered, as if the user left it open.
    std::function<void()> whileOpen;
};
