#pragma once

#include <QString>
#include <QStringList>
#include <variant>

// The failures this program reports itself, each with a user-readable,
// localized description.
class VornaError
{
public:
    enum class Kind { captureFailed, exportFailed, hotkeyRegistrationFailed, permissionDenied };

    static VornaError captureFailed(const QString &reason);
    static VornaError exportFailed(const QString &reason);
    static VornaError hotkeyRegistrationFailed(const QStringList &items);
    static VornaError permissionDenied();

    Kind kind() const { return m_kind; }
    // The reason of captureFailed and exportFailed.
    QString reason() const { return m_reason; }
    // The shortcuts of hotkeyRegistrationFailed.
    QStringList items() const { return m_items; }

    // Looked up in the current language at each call.
    QString errorDescription() const;

private:
    VornaError(Kind kind, QString reason, QStringList items);
    Kind m_kind;
    QString m_reason;
    QStringList m_items;
};

// Anything that can go wrong in an operation that reports to the user: one
// of our own errors, or a failure described by the system (a file error).
struct ErrorReport
{
    std::variant<VornaError, QString> error;
    ErrorReport(const VornaError &e) : error(e) {}
    ErrorReport(const QString &systemDescription) : error(systemDescription) {}
    QString description() const;
};

// A warning alert with the caller's (already localized) title, the error's
// description and one "OK" button. Main thread only.
void presentErrorAlert(const ErrorReport &error, const QString &title);
// An alert of the given style with a title, a message and one "OK" button.
void presentInfoAlert(const QString &message, const QString &title, int style = 1);
