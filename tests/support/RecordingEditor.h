#pragma once

#include "support/TestHome.h"

#include <QFile>
#include <QString>

// A stand-in external editor: a script in the test home that records the
// file it was started with.
class RecordingEditor
{
public:
    // Writes the script; false when it cannot.
    bool install() const
    {
        QFile f(script());
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$(dirname \"$0\")/opened.tmp\"\n"
                "mv \"$(dirname \"$0\")/opened.tmp\" \"$(dirname \"$0\")/opened.txt\"\n");
        f.close();
        return f.setPermissions(f.permissions() | QFileDevice::ExeOwner);
    }
    QString script() const { return TestHome::path() + "/editor.sh"; }
    // Whether the editor has been started.
    bool wasStarted() const { return QFile::exists(record()); }
    // The file it was started with; empty until it has been.
    QString openedFile() const
    {
        QFile f(record());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

private:
    QString record() const { return TestHome::path() + "/opened.txt"; }
};
