#pragma once

#include <QString>
#include <QStringList>

// Shows modal alerts. The default presenter uses QMessageBox with plain
// text; tests install their own so that no test blocks in a modal loop.
class AlertPresenter
{
public:
    enum class Style { warning = 0, informational = 1, critical = 2 };

    struct Alert
    {
        Style style = Style::warning;
        QString title;            // the alert's message text
        QString informativeText;  // the smaller text below it
        QStringList buttons;      // first button is the default
    };

    virtual ~AlertPresenter() = default;
    // Shows the alert and returns the index of the button that dismissed it.
    virtual int present(const Alert &alert) = 0;

    static AlertPresenter &current();
    // Installs a presenter (nullptr restores the default). Not owned.
    static void setCurrent(AlertPresenter *presenter);
};
