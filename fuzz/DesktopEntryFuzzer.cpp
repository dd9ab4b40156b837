// A desktop entry (the login item's file, the external editor's entry):
// its keys, and the command its Exec line gives for files.
#include "FuzzSupport.h"

#include "platform/DesktopEntry.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzInit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = fuzzBytes(data, size);
    // What DesktopEntry::read hands the parser for a file's bytes.
    const auto entry = DesktopEntry::parse(QString::fromUtf8(bytes), QStringLiteral("/tmp/entry.desktop"));
    if (entry) {
        const QStringList files = {QStringLiteral("/tmp/a picture.png"), QStringLiteral("/tmp/\"b\"$`.png")};
        if (const auto command = entry->commandForFiles(files))
            if (command->isEmpty())
                std::abort(); // a command always names its program
    }
    // A quoted argument splits back to itself (with "%" still doubled for
    // the field codes).
    const QString text = QString::fromUtf8(bytes);
    if (!text.isEmpty()) {
        const auto split = DesktopEntry::splitExec(DesktopEntry::quoteExecArgument(text));
        QString expected = text;
        expected.replace(QStringLiteral("%"), QStringLiteral("%%"));
        if (!split || split->size() != 1 || split->first() != expected)
            std::abort();
    }
    DesktopEntry::splitExec(text);
    return 0;
}
