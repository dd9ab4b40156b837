#include "app/OpenArguments.h"

#include <QDir>
#include <QRegularExpression>
#include <QStringDecoder>
#include <cstring>

namespace {

// Options of the toolkit that take the next argument as their value.
bool isToolkitOptionWithValue(const char *arg)
{
    static const char *const names[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                        "qwindowgeometry", "qwindowicon", "qwindowtitle", "session",
                                        "display", "geometry", "title", "name", "style", "stylesheet"};
    const char *name = arg + 1;
    if (*name == '-')
        ++name;
    for (const char *n : names)
        if (std::strcmp(name, n) == 0)
            return true;
    return false;
}

bool hasControlCharacters(const QString &text)
{
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u <= 0x9f))
            return true;
    }
    return false;
}

} // namespace

QList<QByteArray> OpenArguments::fromCommandLine(int argc, char **argv, bool skipToolkitOptions)
{
    QList<QByteArray> out;
    bool onlyOperands = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (!arg)
            continue;
        if (!onlyOperands && arg[0] == '-' && arg[1] != '\0') {
            if (std::strcmp(arg, "--") == 0)
                onlyOperands = true;
            else if (skipToolkitOptions && isToolkitOptionWithValue(arg) && i + 1 < argc)
                ++i;
            continue;
        }
        out.append(QByteArray(arg));
    }
    return out;
}

std::optional<QUrl> OpenArguments::urlForArgument(const QByteArray &argument, const QString &workingDirectory,
                                                  QString *problem)
{
    auto reject = [problem](const QString &why) -> std::optional<QUrl> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    if (argument.isEmpty())
        return reject(QStringLiteral("an empty argument"));
    if (argument.size() > maxArgumentBytes)
        return reject(QStringLiteral("an overlong argument (%1 bytes)").arg(argument.size()));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(argument);
    if (decoder.hasError() || argument.contains('\0'))
        return reject(QStringLiteral("an argument that is not UTF-8 text"));
    if (hasControlCharacters(text))
        return reject(QStringLiteral("an argument with control characters"));

    // "scheme:..." is a link; a one-letter scheme is too likely a file name.
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.\\-]+:"));
    if (scheme.match(text).hasMatch()) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid())
            return reject(QStringLiteral("an argument that is not a valid link"));
        return url;
    }
    QString path = text;
    if (QDir::isRelativePath(path)) {
        if (!QDir::isAbsolutePath(workingDirectory))
            return reject(QStringLiteral("a relative path without a working folder"));
        path = QDir(workingDirectory).absoluteFilePath(path);
    }
    return QUrl::fromLocalFile(QDir::cleanPath(path));
}
