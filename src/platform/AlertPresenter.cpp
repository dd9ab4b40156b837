#include "platform/AlertPresenter.h"

#include <QMessageBox>
#include <QPushButton>

namespace {

class MessageBoxPresenter : public AlertPresenter
{
public:
    int present(const Alert &alert) override
    {
        QMessageBox box;
        switch (alert.style) {
        case Style::warning: box.setIcon(QMessageBox::Warning); break;
        case Style::informational: box.setIcon(QMessageBox::Information); break;
        case Style::critical: box.setIcon(QMessageBox::Critical); break;
        }
        box.setTextFormat(Qt::PlainText);
        box.setWindowTitle(QStringLiteral("Vorna"));
        box.setText(alert.title);
        box.setInformativeText(alert.informativeText);
        QList<QPushButton *> buttons;
        for (const QString &title : alert.buttons)
            buttons.append(box.addButton(title, QMessageBox::AcceptRole));
        if (!buttons.isEmpty())
            box.setDefaultButton(buttons.first());
        box.exec();
        const int index = static_cast<int>(buttons.indexOf(static_cast<QPushButton *>(box.clickedButton())));
        return index < 0 ? 0 : index;
    }
};

AlertPresenter *g_override = nullptr;

} // namespace

AlertPresenter &AlertPresenter::current()
{
    static MessageBoxPresenter fallback;
    return g_override ? *g_override : fallback;
}

void AlertPresenter::setCurrent(AlertPresenter *presenter)
{
    g_override = presenter;
}
