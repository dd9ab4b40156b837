#pragma once

#include "platform/AlertPresenter.h"

#include <QList>

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
        return answer;
    }

    QList<Alert> alerts;
    int answer = 0;
};
