#include "platform/UserDefaults.h"

#include "platform/AppPaths.h"
#include "platform/FileOps.h"
#include "platform/Log.h"
#include "platform/WriteRetry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <algorithm>
#include <memory>

namespace {

std::unique_ptr<UserDefaults> g_standard;
QMutex g_standardMutex;

// Each stored value is {"type": ..., "value": ...} so that reading the file
// gives back exactly the type that was written.
QJsonValue encodeTyped(const QVariant &v)
{
    QJsonObject o;
    switch (v.typeId()) {
    case QMetaType::Bool:
        o["type"] = "bool";
        o["value"] = v.toBool();
        break;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        o["type"] = "integer";
        o["value"] = QString::number(v.toLongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        o["type"] = "double";
        o["value"] = v.toDouble();
        break;
    case QMetaType::QString:
        o["type"] = "string";
        o["value"] = v.toString();
        break;
    case QMetaType::QByteArray:
        o["type"] = "data";
        o["value"] = QString::fromLatin1(v.toByteArray().toBase64());
        break;
    case QMetaType::QDateTime:
        o["type"] = "date";
        o["value"] = v.toDateTime().toUTC().toString(Qt::ISODateWithMs);
        break;
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        QJsonArray a;
        for (const QVariant &e : v.toList())
            a.append(encodeTyped(e));
        o["type"] = "array";
        o["value"] = a;
        break;
    }
    case QMetaType::QVariantMap: {
        QJsonObject m;
        const QVariantMap map = v.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            m[it.key()] = encodeTyped(it.value());
        o["type"] = "dictionary";
        o["value"] = m;
        break;
    }
    default:
        return QJsonValue();
    }
    return o;
}

// depth: how many lists and maps hold this value.
bool decodeTyped(const QJsonValue &j, QVariant *out, int depth = 0)
{
    if (!j.isObject())
        return false;
    const QJsonObject o = j.toObject();
    const QString type = o.value("type").toString();
    const QJsonValue val = o.value("value");
    if (type == "bool" && val.isBool()) {
        *out = val.toBool();
    } else if (type == "integer" && val.isString()) {
        bool ok = false;
        const qint64 n = val.toString().toLongLong(&ok);
        if (!ok)
            return false;
        *out = QVariant::fromValue<qint64>(n);
    } else if (type == "double" && val.isDouble()) {
        *out = val.toDouble();
    } else if (type == "string" && val.isString()) {
        *out = val.toString();
    } else if (type == "data" && val.isString()) {
        const auto r = QByteArray::fromBase64Encoding(val.toString().toLatin1(),
                                                      QByteArray::AbortOnBase64DecodingErrors);
        if (!r)
            return false;
        *out = *r;
    } else if (type == "date" && val.isString()) {
        const QDateTime d = QDateTime::fromString(val.toString(), Qt::ISODateWithMs);
        if (!d.isValid())
            return false;
        *out = d;
    } else if (type == "array" && val.isArray()) {
        if (depth >= UserDefaults::maxNesting)
            return false;
        QVariantList list;
        for (const QJsonValue &e : val.toArray()) {
            QVariant v;
            if (!decodeTyped(e, &v, depth + 1))
                return false;
            list.append(v);
        }
        *out = list;
    } else if (type == "dictionary" && val.isObject()) {
        if (depth >= UserDefaults::maxNesting)
            return false;
        QVariantMap map;
        const QJsonObject m = val.toObject();
        for (auto it = m.begin(); it != m.end(); ++it) {
            QVariant v;
            if (!decodeTyped(it.value(), &v, depth + 1))
                return false;
            map.insert(it.key(), v);
        }
        *out = map;
    } else {
        return false;
    }
    return true;
}

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

int nesting(const QVariant &value);

// One more than the deepest of the values, or -1 when one cannot be stored.
template <typename Values>
int nestingAround(const Values &values)
{
    int deepest = 0;
    for (const QVariant &e : values) {
        const int n = nesting(e);
        if (n < 0)
            return -1;
        deepest = std::max(deepest, n);
    }
    return deepest + 1;
}

// How many lists and maps the value holds one inside the other (0 for a
// plain value), or -1 when it holds a kind that cannot be stored.
int nesting(const QVariant &value)
{
    if (isNumber(value))
        return 0;
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QDateTime:
        return 0;
    case QMetaType::QStringList:
        return 1;
    case QMetaType::QVariantList:
        return nestingAround(value.toList());
    case QMetaType::QVariantMap:
        return nestingAround(value.toMap());
    default:
        return -1;
    }
}

QByteArray fileBytes(const QJsonObject &values)
{
    QJsonObject root;
    root["version"] = 1;
    root["values"] = values;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QVariant normalized(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QVariant::fromValue<qint64>(v.toLongLong());
    case QMetaType::Float:
        return QVariant(v.toDouble());
    case QMetaType::QStringList: {
        QVariantList l;
        for (const QString &s : v.toStringList())
            l.append(s);
        return l;
    }
    case QMetaType::QVariantList: {
        QVariantList l;
        for (const QVariant &e : v.toList())
            l.append(normalized(e));
        return l;
    }
    case QMetaType::QVariantMap: {
        QVariantMap m;
        const QVariantMap src = v.toMap();
        for (auto it = src.begin(); it != src.end(); ++it)
            m.insert(it.key(), normalized(it.value()));
        return m;
    }
    default:
        return v;
    }
}

} // namespace

UserDefaults &UserDefaults::standard()
{
    QMutexLocker lock(&g_standardMutex);
    if (!g_standard) {
        g_standard = std::make_unique<UserDefaults>(defaultFilePath());
        if (auto *app = QCoreApplication::instance()) {
            g_standard->moveToThread(app->thread());
            QObject::connect(app, &QCoreApplication::aboutToQuit, g_standard.get(), [] {
                if (g_standard)
                    g_standard->flush();
            });
        }
    }
    return *g_standard;
}

void UserDefaults::resetStandard()
{
    QMutexLocker lock(&g_standardMutex);
    if (g_standard)
        g_standard->flush();
    g_standard.reset();
}

QString UserDefaults::defaultFilePath()
{
    return AppPaths::appConfigDir() + "/defaults.json";
}

UserDefaults::UserDefaults(const QString &filePath, QObject *parent)
    : QObject(parent), m_path(filePath), m_retry(new WriteRetry([this] { flush(); }, this))
{
    load();
}

UserDefaults::~UserDefaults()
{
    flush();
}

void UserDefaults::setAside(const QString &why, const QByteArray *kept)
{
    // A name that is free, so an earlier file kept aside is never replaced.
    const QString aside = FileOps::asideName(m_path);
    bool ok;
    if (kept)
        ok = FileOps::writeAtomically(aside, *kept);
    else
        ok = QFile::rename(m_path, aside);
    if (ok)
        vlog("[Vorna] defaults: " + why + "; kept the file aside as " + aside);
    else
        vlog("[Vorna] defaults: " + why + "; could not keep the file aside as " + aside);
    // A file that keeps turning out unreadable must not fill the disk with
    // copies; the one just kept stays, whatever the dates of the others.
    FileOps::pruneAside(m_path, keptAside, ok ? aside : QString());
}

void UserDefaults::load()
{
    if (m_path.isEmpty())
        return;
    const QFileInfo info(m_path);
    if (!info.exists())
        return;
    {
        // Never waits: a named pipe or a device in the file's place is
        // refused at once, and kept aside like a damaged file.
        QFile f;
        QString error;
        if (!FileOps::openRegularFile(m_path, f, &error)) {
            if (!info.isFile())
                setAside("the preferences file is not a regular file");
            else
                vlog("[Vorna] defaults: cannot read " + m_path + ": " + error);
            return;
        }
    }
    QByteArray bytes;
    QString error;
    if (!FileOps::readAtMost(m_path, maxFileBytes, &bytes, &error)) {
        // Too large to be ours (or unreadable after all): keep it out of
        // the way of the next save.
        setAside("the preferences file cannot be read (" + error + ")");
        return;
    }
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject()
        || !doc.object().value("values").isObject()) {
        // Nothing usable: move the file out of the way so the next save
        // cannot destroy what the user had.
        setAside("the preferences file is not readable JSON");
        return;
    }
    const QJsonObject values = doc.object().value("values").toObject();
    QStringList bad;
    for (auto it = values.begin(); it != values.end(); ++it) {
        QVariant v;
        if (decodeTyped(it.value(), &v))
            m_values.insert(it.key(), v);
        else
            bad.append(it.key());
    }
    if (!bad.isEmpty())
        setAside("skipped unreadable values for " + bad.join(", "), &bytes);
}

QVariant UserDefaults::object(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.value(key);
}

bool UserDefaults::contains(const QString &key) const
{
    QMutexLocker lock(&m_mutex);
    return m_values.contains(key);
}

bool UserDefaults::boolForKey(const QString &key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    if (isNumber(v))
        return v.toDouble() != 0.0;
    if (v.typeId() == QMetaType::QString) {
        const QString s = v.toString().trimmed();
        if (s.compare("yes", Qt::CaseInsensitive) == 0 || s.compare("true", Qt::CaseInsensitive) == 0)
            return true;
        return s.toLongLong() != 0;
    }
    return false;
}

qint64 UserDefaults::integerForKey(const QString &key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1 : 0;
    if (v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        if (!(d == d))
            return 0;
        if (d >= 9.2e18)
            return std::numeric_limits<qint64>::max();
        if (d <= -9.2e18)
            return std::numeric_limits<qint64>::min();
        return static_cast<qint64>(d);
    }
    if (isNumber(v))
        return v.toLongLong();
    if (v.typeId() == QMetaType::QString) {
        // Leading integer of the text, as a scanner would read it.
        const QString s = v.toString().trimmed();
        qsizetype end = 0;
        if (end < s.size() && (s[end] == '-' || s[end] == '+'))
            ++end;
        while (end < s.size() && s[end].isDigit())
            ++end;
        return s.left(end).toLongLong();
    }
    return 0;
}

double UserDefaults::doubleForKey(const QString &key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool() ? 1.0 : 0.0;
    if (isNumber(v))
        return v.toDouble();
    if (v.typeId() == QMetaType::QString) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        return ok ? d : 0.0;
    }
    return 0.0;
}

std::optional<QString> UserDefaults::stringForKey(const QString &key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    if (v.typeId() == QMetaType::Bool)
        return QString(v.toBool() ? "1" : "0");
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 17);
    if (isNumber(v))
        return QString::number(v.toLongLong());
    return std::nullopt;
}

std::optional<QByteArray> UserDefaults::dataForKey(const QString &key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray();
    return std::nullopt;
}

std::optional<QVariantList> UserDefaults::arrayForKey(const QString &key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::QVariantList)
        return v.toList();
    return std::nullopt;
}

std::optional<QStringList> UserDefaults::stringArrayForKey(const QString &key) const
{
    const auto list = arrayForKey(key);
    if (!list)
        return std::nullopt;
    QStringList out;
    for (const QVariant &e : *list) {
        if (e.typeId() != QMetaType::QString)
            return std::nullopt;
        out.append(e.toString());
    }
    return out;
}

std::optional<QVariantMap> UserDefaults::dictionaryForKey(const QString &key) const
{
    const QVariant v = object(key);
    if (v.typeId() == QMetaType::QVariantMap)
        return v.toMap();
    return std::nullopt;
}

bool UserDefaults::isStorable(const QVariant &value)
{
    const int n = nesting(value);
    return n >= 0 && n <= maxNesting;
}

bool UserDefaults::canKeep(const QVariant &value, QString *why)
{
    const int n = nesting(value);
    if (n < 0) {
        if (why)
            *why = QStringLiteral("it holds a kind of value that cannot be stored");
        return false;
    }
    if (n > maxNesting) {
        if (why)
            *why = QStringLiteral("it is nested %1 deep, deeper than the %2 the preferences take").arg(n).arg(maxNesting);
        return false;
    }
    QJsonObject alone;
    alone.insert(QStringLiteral("value"), encodeTyped(normalized(value)));
    const qint64 size = fileBytes(alone).size();
    if (size > maxFileBytes) {
        if (why)
            *why = QStringLiteral("it takes %1 bytes, more than the %2 a preferences file may have")
                       .arg(size)
                       .arg(maxFileBytes);
        return false;
    }
    return true;
}

qint64 UserDefaults::fileSize() const
{
    QJsonObject values;
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_values.begin(); it != m_values.end(); ++it)
            values.insert(it.key(), encodeTyped(it.value()));
    }
    return fileBytes(values).size();
}

qint64 UserDefaults::entrySize(const QString &key, const QVariant &value)
{
    static const qint64 none = fileBytes(QJsonObject()).size();
    QJsonObject alone;
    alone.insert(key, encodeTyped(normalized(value)));
    // One more for the comma that parts it from the next entry.
    return fileBytes(alone).size() - none + 1;
}

void UserDefaults::store(const QString &key, const QVariant &value)
{
    {
        QMutexLocker lock(&m_mutex);
        if (value.isValid())
            m_values.insert(key, value);
        else
            m_values.remove(key);
        m_dirty = true;
    }
    scheduleSave();
    emit changed(key);
}

void UserDefaults::setObject(const QString &key, const QVariant &value)
{
    if (!value.isValid() || !isStorable(value)) {
        removeObject(key);
        return;
    }
    store(key, normalized(value));
}

void UserDefaults::setBool(const QString &key, bool value) { store(key, QVariant(value)); }
void UserDefaults::setInteger(const QString &key, qint64 value) { store(key, QVariant::fromValue<qint64>(value)); }
void UserDefaults::setDouble(const QString &key, double value) { store(key, QVariant(value)); }
void UserDefaults::setString(const QString &key, const QString &value) { store(key, QVariant(value)); }
void UserDefaults::setData(const QString &key, const QByteArray &value) { store(key, QVariant(value)); }
void UserDefaults::removeObject(const QString &key) { store(key, QVariant()); }

QVariantMap UserDefaults::dictionaryRepresentation() const
{
    QMutexLocker lock(&m_mutex);
    return m_values;
}

void UserDefaults::scheduleSave()
{
    if (m_path.isEmpty())
        return;
    // The timer lives on the store's own thread; writes from elsewhere ask
    // that thread to start it.
    QMetaObject::invokeMethod(this, [this] {
        if (!m_saveTimer) {
            m_saveTimer = new QTimer(this);
            m_saveTimer->setSingleShot(true);
            m_saveTimer->setInterval(150);
            connect(m_saveTimer, &QTimer::timeout, this, [this] { flush(); });
        }
        if (!m_saveTimer->isActive())
            m_saveTimer->start();
    }, Qt::AutoConnection);
}

bool UserDefaults::flush()
{
    if (m_path.isEmpty())
        return true;
    QJsonObject values;
    {
        QMutexLocker lock(&m_mutex);
        if (!m_dirty)
            return true;
        for (auto it = m_values.begin(); it != m_values.end(); ++it)
            values.insert(it.key(), encodeTyped(it.value()));
        m_dirty = false;
    }
    const QByteArray bytes = fileBytes(values);
    if (bytes.size() > maxFileBytes) {
        // The next launch would refuse such a file and lose every
        // preference: the previous file stays instead.
        vlog(QStringLiteral("[Vorna] defaults: not written: the preferences take %1 bytes, more than the %2 a "
                            "preferences file may have")
                 .arg(bytes.size())
                 .arg(maxFileBytes));
        return false;
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QString error;
    if (!FileOps::writeAtomically(m_path, bytes, &error)) {
        {
            QMutexLocker lock(&m_mutex);
            m_dirty = true;
        }
        m_retry->failed("[Vorna] defaults: cannot write " + error + "; trying again shortly");
        return false;
    }
    m_retry->reset();
    return true;
}
