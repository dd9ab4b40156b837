#include "platform/DesktopEntry.h"

#include "platform/FileOps.h"
#include "platform/Log.h"

#include <QFile>
#include <QUrl>

namespace {

QString unescapeValue(const QString &raw)
{
    QString out;
    out.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw.at(i);
        if (c != u'\\' || i + 1 >= raw.size()) {
            out.append(c);
            continue;
        }
        const QChar n = raw.at(++i);
        switch (n.unicode()) {
        case 's': out.append(u' '); break;
        case 'n': out.append(u'\n'); break;
        case 't': out.append(u'\t'); break;
        case 'r': out.append(u'\r'); break;
        case '\\': out.append(u'\\'); break;
        default:
            // Not a value escape: keep it for the Exec quoting rules.
            out.append(c);
            out.append(n);
            break;
        }
    }
    return out;
}

bool isFileCode(QChar c)
{
    return c == u'f' || c == u'F' || c == u'u' || c == u'U';
}

} // namespace

std::optional<DesktopEntry> DesktopEntry::read(const QString &path)
{
    if (!QFile::exists(path))
        return std::nullopt;
    QByteArray bytes;
    QString error;
    if (!FileOps::readAtMost(path, maxFileBytes, &bytes, &error)) {
        vlog(QStringLiteral("[Vorna] desktop entry %1 not read: %2").arg(path, error));
        return std::nullopt;
    }
    return parse(QString::fromUtf8(bytes), path);
}

std::optional<DesktopEntry> DesktopEntry::parse(const QString &text, const QString &path)
{
    DesktopEntry entry;
    entry.m_path = path;
    bool inGroup = false;
    bool seenGroup = false;
    const QStringList lines = text.split(u'\n');
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;
        if (trimmed.startsWith(u'[')) {
            inGroup = trimmed == u"[Desktop Entry]";
            seenGroup = seenGroup || inGroup;
            continue;
        }
        if (!inGroup)
            continue;
        const qsizetype eq = line.indexOf(u'=');
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        if (key.contains(u'[')) // localized variants
            continue;
        if (!entry.m_values.contains(key))
            entry.m_values.insert(key, unescapeValue(line.mid(eq + 1).trimmed()));
    }
    if (!seenGroup)
        return std::nullopt;
    return entry;
}

std::optional<QStringList> DesktopEntry::splitExec(const QString &exec)
{
    QStringList args;
    QString current;
    bool inArg = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == u'\\' && i + 1 < exec.size()) {
                const QChar n = exec.at(i + 1);
                if (n == u'"' || n == u'`' || n == u'$' || n == u'\\') {
                    current.append(n);
                    ++i;
                    continue;
                }
            }
            if (c == u'"') {
                quoted = false;
                continue;
            }
            current.append(c);
            continue;
        }
        if (c == u'"') {
            quoted = true;
            inArg = true;
            continue;
        }
        if (c == u' ' || c == u'\t') {
            if (inArg)
                args.append(current);
            current.clear();
            inArg = false;
            continue;
        }
        current.append(c);
        inArg = true;
    }
    if (quoted)
        return std::nullopt;
    if (inArg)
        args.append(current);
    return args;
}

QString DesktopEntry::quoteExecArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`%=");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument) {
        if (reserved.contains(c)) {
            needsQuotes = true;
            break;
        }
    }
    if (!needsQuotes)
        return argument;
    QString out = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out.append(u'\\');
        if (c == u'%')
            out.append(u'%');
        out.append(c);
    }
    out.append(u'"');
    return out;
}

QString DesktopEntry::escapeValue(const QString &value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        switch (c.unicode()) {
        case '\\': out.append(QStringLiteral("\\\\")); break;
        case '\n': out.append(QStringLiteral("\\n")); break;
        case '\t': out.append(QStringLiteral("\\t")); break;
        case '\r': out.append(QStringLiteral("\\r")); break;
        case ' ':
            out.append(i == 0 ? QStringLiteral("\\s") : QStringLiteral(" "));
            break;
        default: out.append(c); break;
        }
    }
    return out;
}

std::optional<QStringList> DesktopEntry::commandForFiles(const QStringList &files) const
{
    const QString exec = value(QStringLiteral("Exec"));
    if (exec.isEmpty())
        return std::nullopt;
    const auto split = splitExec(exec);
    if (!split || split->isEmpty())
        return std::nullopt;

    QStringList urls;
    for (const QString &f : files)
        urls.append(QUrl::fromLocalFile(f).toString(QUrl::FullyEncoded));

    QStringList result;
    bool usedFiles = false;
    for (const QString &arg : *split) {
        // A code standing alone may become several arguments or none.
        if (arg.size() == 2 && arg.at(0) == u'%') {
            const QChar code = arg.at(1);
            if (code == u'F') {
                result.append(files);
                usedFiles = true;
                continue;
            }
            if (code == u'U') {
                result.append(urls);
                usedFiles = true;
                continue;
            }
            if (code == u'i') {
                const QString icon = value(QStringLiteral("Icon"));
                if (!icon.isEmpty())
                    result << QStringLiteral("--icon") << icon;
                continue;
            }
            if (code == u'f' || code == u'u') {
                if (!files.isEmpty())
                    result.append(code == u'f' ? files.first() : urls.first());
                usedFiles = true;
                continue;
            }
        }
        QString expanded;
        bool hadCode = false;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            const QChar c = arg.at(i);
            if (c != u'%' || i + 1 >= arg.size()) {
                expanded.append(c);
                continue;
            }
            const QChar code = arg.at(++i);
            hadCode = true;
            if (code == u'%') {
                expanded.append(u'%');
            } else if (isFileCode(code)) {
                usedFiles = true;
                if (files.isEmpty())
                    continue;
                expanded.append(code.toLower() == u'f' ? files.first() : urls.first());
            } else if (code == u'c') {
                expanded.append(value(QStringLiteral("Name")));
            } else if (code == u'k') {
                expanded.append(m_path);
            } else if (code == u'i') {
                expanded.append(value(QStringLiteral("Icon")));
            }
            // %d %D %n %N %v %m and unknown codes are removed.
        }
        // An argument that was only codes without a value disappears.
        if (expanded.isEmpty() && hadCode)
            continue;
        result.append(expanded);
    }
    if (result.isEmpty() || result.first().isEmpty())
        return std::nullopt;
    if (!usedFiles)
        result.append(files);
    return result;
}
