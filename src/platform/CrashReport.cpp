#include "platform/CrashReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <csignal>

namespace {

struct SignalName
{
    int number;
    const char *name;
    const char *description;
};

constexpr SignalName kNames[] = {
    {SIGSEGV, "SIGSEGV", "Segmentation fault"},
    {SIGBUS, "SIGBUS", "Bus error"},
    {SIGILL, "SIGILL", "Illegal instruction"},
    {SIGFPE, "SIGFPE", "Floating-point exception"},
    {SIGABRT, "SIGABRT", "Aborted"},
};

const SignalName *signalName(int number)
{
    for (const SignalName &s : kNames)
        if (s.number == number)
            return &s;
    return nullptr;
}

bool readNumber(const QByteArray &text, qint64 *out)
{
    bool ok = false;
    *out = text.toLongLong(&ok, 10);
    return ok;
}

bool readHex(const QByteArray &text, quint64 *out)
{
    if (!text.startsWith("0x"))
        return false;
    bool ok = false;
    *out = text.mid(2).toULongLong(&ok, 16);
    return ok;
}

bool isLowerHex(const QByteArray &text)
{
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// "0x<start> 0x<size> <build id or -> <path>"
bool readModule(const QByteArray &value, CrashReport::Module *out)
{
    const QList<QByteArray> parts = value.split(' ');
    if (parts.size() < 4)
        return false;
    if (!readHex(parts[0], &out->address) || !readHex(parts[1], &out->size))
        return false;
    if (parts[2] != "-") {
        if (parts[2].isEmpty() || parts[2].size() % 2 != 0 || parts[2].size() > 128 || !isLowerHex(parts[2]))
            return false;
        out->buildId = parts[2];
    }
    const qsizetype pathStart = parts[0].size() + parts[1].size() + parts[2].size() + 3;
    out->path = QString::fromUtf8(value.mid(pathStart));
    return !out->path.isEmpty();
}

QString hexText(quint64 v)
{
    return QStringLiteral("0x") + QString::number(v, 16);
}

} // namespace

std::optional<CrashReport> CrashReport::parse(const QByteArray &bytes, QString *error)
{
    auto fail = [error](const QString &why) -> std::optional<CrashReport> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (bytes.size() > maxBytes)
        return fail(QStringLiteral("the report is larger than %1 bytes").arg(maxBytes));
    CrashReport report;
    qsizetype pos = 0;
    bool headerSeen = false, signalSeen = false, contextSeen = false;
    while (pos < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', pos);
        if (end < 0)
            break;
        const QByteArray line = bytes.mid(pos, end - pos);
        pos = end + 1;
        if (!headerSeen) {
            if (line != "vorna-crash 1")
                return fail(QStringLiteral("not a crash report"));
            headerSeen = true;
            continue;
        }
        if (line == "context") {
            contextSeen = true;
            break;
        }
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = line.left(space);
        const QByteArray value = space < 0 ? QByteArray() : line.mid(space + 1);
        bool ok = true;
        qint64 n = 0;
        if (key == "signal") {
            ok = readNumber(value, &n);
            report.signal = static_cast<int>(n);
            signalSeen = ok;
        } else if (key == "code") {
            ok = readNumber(value, &n);
            report.code = static_cast<int>(n);
        } else if (key == "address") {
            ok = readHex(value, &report.address);
        } else if (key == "pc") {
            ok = readHex(value, &report.pc);
        } else if (key == "time") {
            const QList<QByteArray> parts = value.split(' ');
            ok = parts.size() == 2 && readNumber(parts[0], &report.seconds) && readNumber(parts[1], &report.nanoseconds);
        } else if (key == "pid") {
            ok = readNumber(value, &report.pid);
        } else if (key == "tid") {
            ok = readNumber(value, &report.tid);
        } else if (key == "frame") {
            quint64 addr = 0;
            ok = readHex(value, &addr);
            report.frames.append(addr);
            if (report.frames.size() > maxFrames)
                return fail(QStringLiteral("more than %1 frames").arg(maxFrames));
        } else if (key == "module") {
            Module module;
            ok = readModule(value, &module);
            report.modules.append(module);
            if (report.modules.size() > maxModules)
                return fail(QStringLiteral("more than %1 modules").arg(maxModules));
        }
        // Unknown keys are skipped, so later writers may add lines.
        if (!ok)
            return fail(QStringLiteral("bad \"%1\" line").arg(QString::fromLatin1(key)));
    }
    if (!headerSeen)
        return fail(QStringLiteral("not a crash report"));
    if (!signalSeen)
        return fail(QStringLiteral("no signal recorded"));
    if (!contextSeen)
        return fail(QStringLiteral("the report is incomplete"));
    const QByteArray context = bytes.mid(pos);
    if (!context.trimmed().isEmpty()) {
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(context, &err);
        if (err.error != QJsonParseError::NoError || !doc.isObject())
            return fail(QStringLiteral("the context is not a JSON object"));
        report.context = doc.object();
    }
    return report;
}

SentryEvent CrashReport::toEvent(const QString &eventId) const
{
    QJsonObject json;
    for (auto it = context.begin(); it != context.end(); ++it) {
        if (it.key() == QLatin1String("breadcrumbs")) {
            const QJsonArray crumbs = it.value().toArray();
            if (!crumbs.isEmpty())
                json.insert(QStringLiteral("breadcrumbs"), QJsonObject{{QStringLiteral("values"), crumbs}});
        } else {
            json.insert(it.key(), it.value());
        }
    }
    json.insert(QStringLiteral("event_id"), eventId);
    json.insert(QStringLiteral("timestamp"), static_cast<double>(seconds) + static_cast<double>(nanoseconds) / 1e9);
    json.insert(QStringLiteral("platform"), QStringLiteral("native"));
    json.insert(QStringLiteral("level"), QStringLiteral("fatal"));

    // The first frames belong to the signal handler; the crash itself is at
    // the interrupted program counter when it is known.
    qsizetype first = 0;
    if (pc != 0) {
        const qsizetype at = frames.indexOf(pc);
        if (at >= 0)
            first = at;
    }
    QJsonArray frameList;
    for (qsizetype i = frames.size() - 1; i >= first; --i) // oldest first
        frameList.append(QJsonObject{{QStringLiteral("instruction_addr"), hexText(frames.at(i))}});
    if (pc != 0 && (first == 0 && !frames.contains(pc)))
        frameList.append(QJsonObject{{QStringLiteral("instruction_addr"), hexText(pc)}});

    const SignalName *name = signalName(signal);
    const QString type = name ? QString::fromLatin1(name->name) : QStringLiteral("signal %1").arg(signal);
    QString value = name ? QString::fromLatin1(name->description) : QStringLiteral("Fatal signal %1").arg(signal);
    if (signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE)
        value += QStringLiteral(" at ") + hexText(address);

    QJsonObject signalMeta{{QStringLiteral("number"), signal}, {QStringLiteral("code"), code}};
    if (name)
        signalMeta.insert(QStringLiteral("name"), QString::fromLatin1(name->name));
    QJsonObject exception{
        {QStringLiteral("type"), type},
        {QStringLiteral("value"), value},
        {QStringLiteral("thread_id"), tid},
        {QStringLiteral("mechanism"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("signalhandler")},
                     {QStringLiteral("handled"), false},
                     {QStringLiteral("meta"), QJsonObject{{QStringLiteral("signal"), signalMeta}}}}},
    };
    if (!frameList.isEmpty())
        exception.insert(QStringLiteral("stacktrace"), QJsonObject{{QStringLiteral("frames"), frameList}});
    json.insert(QStringLiteral("exception"), QJsonObject{{QStringLiteral("values"), QJsonArray{exception}}});

    if (!modules.isEmpty()) {
        QJsonArray images;
        for (const Module &m : modules) {
            QJsonObject image{
                {QStringLiteral("type"), QStringLiteral("elf")},
                {QStringLiteral("code_file"), m.path},
                {QStringLiteral("image_addr"), hexText(m.address)},
                {QStringLiteral("image_size"), static_cast<qint64>(m.size)},
            };
            if (!m.buildId.isEmpty()) {
                image.insert(QStringLiteral("code_id"), QString::fromLatin1(m.buildId));
                image.insert(QStringLiteral("debug_id"), debugIdFromBuildId(m.buildId));
            }
            images.append(image);
        }
        json.insert(QStringLiteral("debug_meta"), QJsonObject{{QStringLiteral("images"), images}});
    }
    return SentryEvent::fromJson(json);
}

QString CrashReport::debugIdFromBuildId(const QByteArray &hexBuildId)
{
    QByteArray id = QByteArray::fromHex(hexBuildId).left(16);
    if (id.isEmpty())
        return QString();
    id.append(QByteArray(16 - id.size(), '\0'));
    std::reverse(id.begin(), id.begin() + 4);
    std::reverse(id.begin() + 4, id.begin() + 6);
    std::reverse(id.begin() + 6, id.begin() + 8);
    const QByteArray hex = id.toHex();
    return QString::fromLatin1(hex.left(8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' + hex.mid(16, 4) + '-'
                               + hex.mid(20));
}
