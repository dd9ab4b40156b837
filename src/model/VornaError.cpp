#include "model/VornaError.h"

#include "platform/AlertPresenter.h"
#include "platform/Localized.h"

VornaError::VornaError(Kind kind, QString reason, QStringList items)
    : m_kind(kind), m_reason(std::move(reason)), m_items(std::move(items))
{
}

VornaError VornaError::captureFailed(const QString &reason) { return VornaError(Kind::captureFailed, reason, {}); }
VornaError VornaError::exportFailed(const QString &reason) { return VornaError(Kind::exportFailed, reason, {}); }
VornaError VornaError::hotkeyRegistrationFailed(const QStringList &items)
{
    return VornaError(Kind::hotkeyRegistrationFailed, QString(), items);
}
VornaError VornaError::permissionDenied() { return VornaError(Kind::permissionDenied, QString(), {}); }

QString VornaError::errorDescription() const
{
    // The argument is substituted after the lookup; a "%" in it is not read
    // as a placeholder.
    switch (m_kind) {
    case Kind::captureFailed:
        return localized("Capture failed: %1").arg(m_reason);
    case Kind::exportFailed:
        return localized("Export failed: %1").arg(m_reason);
    case Kind::hotkeyRegistrationFailed:
        return localized("Some hotkeys could not be registered (already in use): %1").arg(m_items.join(", "));
    case Kind::permissionDenied:
        return localized("Screen Recording permission is required. Enable Vorna in System Settings "
                         "\u2192 Privacy & Security \u2192 Screen Recording.");
    }
    return QString();
}

QString ErrorReport::description() const
{
    if (const auto *e = std::get_if<VornaError>(&error))
        return e->errorDescription();
    return std::get<QString>(error);
}

void presentErrorAlert(const ErrorReport &error, const QString &title)
{
    AlertPresenter::Alert alert;
    alert.style = AlertPresenter::Style::warning;
    alert.title = title;
    alert.informativeText = error.description();
    alert.buttons = {localized("OK")};
    AlertPresenter::current().present(alert);
}

void presentInfoAlert(const QString &message, const QString &title, int style)
{
    AlertPresenter::Alert alert;
    alert.style = static_cast<AlertPresenter::Style>(style);
    alert.title = title;
    alert.informativeText = message;
    alert.buttons = {localized("OK")};
    AlertPresenter::current().present(alert);
}
