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
    // One file loaded in the crashed process.
    struct Module
    {
        quint64 address = 0; // where its first segment began
        quint64 size = 0;
        QByteArray buildId;  // GNU build id as lower-case hex; empty when it had none
        QString path;
    };

    // Limits of what a report may hold; a report beyond them is refused whole.
    static constexpr qsizetype maxBytes = 4 * 1024 * 1024;
    static constexpr qsizetype maxFrames = 1024;
    static constexpr qsizetype maxModules = 4096;

    int signal = 0;
    int code = 0;
    quint64 address = 0;
    quint64 pc = 0;
    qint64 seconds = 0;
    qint64 nanoseconds = 0;
    qint64 pid = 0;
    qint64 tid = 0;
    QList<quint64> frames; // innermost first
    QList<Module> modules;
    QJsonObject context;

    static std::optional<CrashReport> parse(const QByteArray &bytes, QString *error = nullptr);

    // The fatal event for this crash: the context's members (release,
    // environment, contexts, user, server name, breadcrumbs) plus the signal
    // as an unhandled exception with its stack, and the loaded modules as
    // "debug_meta" images (code_file, code_id, debug_id, image_addr,
    // image_size) so the server can resolve the stack.
    SentryEvent toEvent(const QString &eventId) const;

    // The debug id of a GNU build id: its first 16 bytes as a GUID whose
    // first three fields are little-endian. Empty for an empty build id.
    static QString debugIdFromBuildId(const QByteArray &hexBuildId);
};
