#pragma once

#include <QByteArray>
#include <QString>

// Catches fatal signals (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) and writes
// one report file per crash into a folder, then lets the signal end the
// process as it would have without us. The handler itself only uses
// async-signal-safe calls: everything it needs (folder, context text) is
// prepared beforehand.
//
// A report is a text file named "<pid>-<seconds>.crash" (written as ".tmp"
// and renamed when complete):
//   vorna-crash 1
//   signal <n> / code <n> / address 0x.. / pc 0x.. / time <s> <ns> / pid <n> / tid <n>
//   frame 0x..            (one line per return address, innermost first)
//   module 0x<start> 0x<size> <GNU build id in hex, or -> <path>
//                         (one line per loaded file, read from the loader's
//                         list at the crash without locks or allocation)
//   context
//   <the context bytes, to the end of the file>
class CrashHandler
{
public:
    static constexpr const char *reportSuffix = ".crash";

    // Installs the handlers (and an alternate signal stack for the calling
    // thread, so a stack overflow is caught too). Reports go into folder,
    // which must exist. Installing again replaces the folder.
    static bool install(const QString &folder);
    // Puts the previous handlers back. Safe to call when not installed.
    static void uninstall();
    static bool isInstalled();

    // Text copied verbatim to the end of every report (a JSON object with
    // what the crashing process knew: release, environment, breadcrumbs...).
    static void setContext(const QByteArray &context);
};
