#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// Links and files given on the command line (the desktop file runs
// "vorna %U"), or handed over by a later process.
class OpenArguments
{
public:
    // Arguments longer than this are not links or paths we take.
    static constexpr qsizetype maxArgumentBytes = 8192;

    // The arguments after the program name that are links or files: not
    // options ("-x", "--x"), except that everything after "--" counts. With
    // skipToolkitOptions the values of the toolkit's own options
    // ("-platform NAME", "-display NAME", ...) are left out as well; a
    // process reads these raw before the toolkit has removed its options.
    static QList<QByteArray> fromCommandLine(int argc, char **argv, bool skipToolkitOptions);

    // The URL an argument stands for: a link as written ("scheme:..."), or a
    // file path, made absolute against workingDirectory. Nothing, with the
    // reason in *problem, for an argument that is too long, is not UTF-8
    // text, holds control characters, or is not a valid link or path.
    static std::optional<QUrl> urlForArgument(const QByteArray &argument, const QString &workingDirectory,
                                              QString *problem);
};
