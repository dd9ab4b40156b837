#pragma once

#include "platform/SentryEvent.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

// A crash report as CrashHandler writes it, read back at the next start.
struct CrashReport
{
    int signal = 0;
    int code = 0;
    quint64 address = 0;
    quint64 pc = 0;
    qint64 seconds = 0;
    qint64 nanoseconds = 0;
    qint64 pid = 0;
    qint64 tid = 0;
    QList<quint64> frames; // innermost first
    QJsonObject context;

    static std::optional<CrashReport> parse(const QByteArray &bytes, QString *error = nullptr);

    // The fatal event for this crash: the context's members (release,
    // environment, contexts, user, server name, breadcrumbs) plus the signal
    // as an unhandled exception with its stack.
    SentryEvent toEvent(const QString &eventId) const;
};
