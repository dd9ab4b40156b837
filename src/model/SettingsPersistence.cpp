#include "model/SettingsPersistence.h"

#include "model/NotificationNames.h"
#include "platform/AppPaths.h"
#include "platform/FileOps.h"
#include "platform/FoundationJson.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"
#include "platform/WriteRetry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kWriteDelayMs = 500;

std::optional<QJsonValue> encodeNested(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        return QJsonValue(v.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QJsonValue(v.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = v.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        return QJsonValue(d);
    }
    case QMetaType::QString:
        return QJsonValue(v.toString());
    case QMetaType::QStringList: {
        QJsonArray a;
        for (const QString &s : v.toStringList())
            a.append(s);
        return a;
    }
    case QMetaType::QVariantList: {
        QJsonArray a;
        for (const QVariant &e : v.toList()) {
            const auto j = encodeNested(e);
            if (!j)
                return std::nullopt;
            a.append(*j);
        }
        return a;
    }
    case QMetaType::QVariantMap: {
        QJsonObject o;
        const QVariantMap m = v.toMap();
        for (auto it = m.begin(); it != m.end(); ++it) {
            const auto j = encodeNested(it.value());
            if (!j)
                return std::nullopt;
            o.insert(it.key(), *j);
        }
        return o;
    }
    default:
        // Bytes or dates inside a list or map have no JSON form.
        return std::nullopt;
    }
}

std::optional<QVariant> decodeNested(const QJsonValue &j)
{
    switch (j.type()) {
    case QJsonValue::Bool:
        return QVariant(j.toBool());
    case QJsonValue::Double: {
        const QVariant v = j.toVariant();
        if (v.typeId() == QMetaType::LongLong)
            return QVariant::fromValue<qint64>(v.toLongLong());
        const double d = j.toDouble();
        if (!std::isfinite(d))
            return std::nullopt;
        return QVariant(d);
    }
    case QJsonValue::String:
        return QVariant(j.toString());
    case QJsonValue::Array: {
        QVariantList list;
        for (const QJsonValue &e : j.toArray()) {
            const auto v = decodeNested(e);
            if (!v)
                return std::nullopt;
            list.append(*v);
        }
        return QVariant(list);
    }
    case QJsonValue::Object: {
        QVariantMap map;
        const QJsonObject o = j.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const auto v = decodeNested(it.value());
            if (!v)
                return std::nullopt;
            map.insert(it.key(), *v);
        }
        return QVariant(map);
    }
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return std::nullopt;
}

// The value a document member stands for, when the preference store can
// keep it; otherwise nothing, and a log line says why it was skipped.
std::optional<QVariant> keepableValue(const QString &key, const QJsonValue &member)
{
    const auto value = SettingsPersistence::decodeValue(member);
    if (!value) {
        vlog("[Vorna] settings: skipped an unreadable value for " + key);
        return std::nullopt;
    }
    QString why;
    if (!UserDefaults::canKeep(*value, &why)) {
        vlog("[Vorna] settings: skipped the value for " + key + ": " + why);
        return std::nullopt;
    }
    return value;
}

// The "values" object of a settings document, or nothing.
std::optional<QJsonObject> documentValues(const QByteArray &bytes)
{
    QJsonParseError err{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
    if (err.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonValue values = doc.object().value(QStringLiteral("values"));
    if (!values.isObject())
        return std::nullopt;
    return values.toObject();
}

// The document holding the given encoded values.
QByteArray documentOf(const QJsonObject &values)
{
    QJsonObject root;
    root.insert(QStringLiteral("version"), 1);
    root.insert(QStringLiteral("exportedAt"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    root.insert(QStringLiteral("values"), values);
    return FoundationJson::prettySorted(root);
}

// How many bytes the value under key adds to the document, at most (none
// for a value the document leaves out).
qint64 documentEntrySize(const QString &key, const QVariant &value)
{
    if (!value.isValid())
        return 0;
    const auto encoded = SettingsPersistence::encodeValue(value);
    if (!encoded)
        return 0;
    static const qint64 none = documentOf(QJsonObject()).size();
    QJsonObject alone;
    alone.insert(key, *encoded);
    // Two more for the comma and line break that part it from the next.
    return std::max<qint64>(documentOf(alone).size() - none, 0) + 2;
}

} // namespace

SettingsPersistence &SettingsPersistence::shared()
{
    static SettingsPersistence *instance = [] {
        auto *p = new SettingsPersistence(defaultFilePath());
        if (auto *app = QCoreApplication::instance())
            p->moveToThread(app->thread());
        return p;
    }();
    return *instance;
}

QString SettingsPersistence::defaultFilePath()
{
    return AppPaths::appDataDir() + QStringLiteral("/settings.json");
}

SettingsPersistence::SettingsPersistence(const QString &filePath, QObject *parent)
    : QObject(parent), m_fileURL(filePath), m_retry(new WriteRetry([this] { writeSettingsFile(); }, this))
{
    QDir().mkpath(QFileInfo(m_fileURL).absolutePath());
}

SettingsPersistence::~SettingsPersistence() = default;

const QSet<QString> &SettingsPersistence::mirroredKeys()
{
    static const QSet<QString> keys = {
        QStringLiteral("defaultFormat"),
        QStringLiteral("saveDirectory"),
        QStringLiteral("jpegQuality"),
        QStringLiteral("copyToClipboard"),
        QStringLiteral("playSound"),
        QStringLiteral("showFloatingPreview"),
        QStringLiteral("includeCursor"),
        QStringLiteral("floatingPreviewDurationSec"),
        QStringLiteral("showCaptureFlash"),
        QStringLiteral("externalEditorPath"),
        QStringLiteral("countdownSeconds"),
        QStringLiteral("iCloudSyncEnabled"),
        QStringLiteral("maxFileSizeKB"),
        QStringLiteral("doubleTapIntervalMS"),
        QStringLiteral("doubleTapFullscreen"),
        QStringLiteral("preferredLanguage"),
        QStringLiteral("savedPaths"),
        QStringLiteral("annotationPresets.v1"),
        QStringLiteral("simpleMenuMode"),
    };
    return keys;
}

bool SettingsPersistence::isMirrored(const QString &key)
{
    return mirroredKeys().contains(key) || key.startsWith(QLatin1String("hotkey."))
           || key.startsWith(QLatin1String("doubleTapTarget."));
}

std::optional<QJsonValue> SettingsPersistence::encodeValue(const QVariant &value)
{
    if (value.typeId() == QMetaType::QByteArray) {
        QJsonObject o;
        o.insert(QStringLiteral("__data__"), QString::fromLatin1(value.toByteArray().toBase64()));
        return o;
    }
    return encodeNested(value);
}

std::optional<QVariant> SettingsPersistence::decodeValue(const QJsonValue &value)
{
    if (value.isObject()) {
        const QJsonObject o = value.toObject();
        bool allTexts = true;
        for (auto it = o.begin(); it != o.end(); ++it)
            allTexts = allTexts && it.value().isString();
        if (allTexts && o.contains(QStringLiteral("__data__"))) {
            const auto bytes = QByteArray::fromBase64Encoding(o.value(QStringLiteral("__data__")).toString().toLatin1(),
                                                              QByteArray::AbortOnBase64DecodingErrors);
            if (bytes)
                return QVariant(*bytes);
            // Not Base64 after all: kept as the dictionary it is.
        }
    }
    return decodeNested(value);
}

void SettingsPersistence::start()
{
    restoreFromFile();
    disconnect(m_observer);
    m_observer = connect(&UserDefaults::standard(), &UserDefaults::changed, this, [this] { scheduleWrite(); },
                         Qt::QueuedConnection);
}

void SettingsPersistence::stop()
{
    disconnect(m_observer);
    if (m_writeWorkItem)
        m_writeWorkItem->stop();
    m_retry->reset();
}

void SettingsPersistence::restoreFromFile()
{
    const QFileInfo info(m_fileURL);
    if (!info.exists() && !info.isSymLink())
        return; // nothing mirrored yet
    QByteArray bytes;
    QString error;
    if (!FileOps::readAtMost(m_fileURL, maxDocumentBytes, &bytes, &error)) {
        setFileAside(QStringLiteral("cannot read ") + info.fileName() + QStringLiteral(" (") + error
                     + QStringLiteral(")"));
        return;
    }
    const auto values = documentValues(bytes);
    if (!values) {
        setFileAside(info.fileName() + QStringLiteral(" is not a settings document"));
        return;
    }
    storeWithinLimits(*values, true);
}

int SettingsPersistence::storeWithinLimits(const QJsonObject &values, bool onlyMissing)
{
    UserDefaults &defaults = UserDefaults::standard();
    // Each value is measured by what it adds to either file, so that values
    // which each fit cannot together leave a file that is never written
    // again. The sizes are followed as values are stored, not measured anew.
    const qint64 storeLimit = UserDefaults::maxFileBytes - roomForChanges;
    const qint64 documentLimit = maxDocumentBytes - roomForChanges;
    qint64 storeBytes = -1;
    qint64 documentBytes = -1;
    int stored = 0;
    for (auto it = values.begin(); it != values.end(); ++it) {
        const QString key = it.key();
        if (!isMirrored(key) || (onlyMissing && defaults.contains(key)))
            continue;
        const auto value = keepableValue(key, it.value());
        if (!value)
            continue;
        if (storeBytes < 0) {
            storeBytes = defaults.fileSize();
            documentBytes = settingsDocument().size();
        }
        const QVariant current = defaults.object(key);
        const qint64 storeAfter = storeBytes + UserDefaults::entrySize(key, *value)
                                  - (current.isValid() ? UserDefaults::entrySize(key, current) : 0);
        const qint64 documentAfter =
            documentBytes + documentEntrySize(key, *value) - documentEntrySize(key, current);
        // A value that makes a file no larger is always taken.
        const bool storeFits = storeAfter <= storeLimit || storeAfter <= storeBytes;
        const bool documentFits = documentAfter <= documentLimit || documentAfter <= documentBytes;
        if (!storeFits || !documentFits) {
            vlog(QStringLiteral("[Vorna] settings: skipped the value for %1: with it the %2 would take %3 bytes, "
                                "more than the %4 that leave room for later changes")
                     .arg(key, storeFits ? QStringLiteral("settings mirror") : QStringLiteral("preferences"))
                     .arg(storeFits ? documentAfter : storeAfter)
                     .arg(storeFits ? documentLimit : storeLimit));
            continue;
        }
        defaults.setObject(key, *value);
        storeBytes = storeAfter;
        documentBytes = documentAfter;
        ++stored;
    }
    return stored;
}

void SettingsPersistence::setFileAside(const QString &why)
{
    // The next write would replace it: keep what the user had, under a free name.
    const QString aside = FileOps::asideName(m_fileURL);
    const bool kept = QFile::rename(m_fileURL, aside);
    if (kept)
        vlog(QStringLiteral("[Vorna] settings: ") + why + QStringLiteral("; kept it aside as ") + aside);
    else
        vlog(QStringLiteral("[Vorna] settings: ") + why + QStringLiteral("; could not keep it aside as ") + aside);
    // The one just kept stays, whatever the dates of the others.
    FileOps::pruneAside(m_fileURL, keptAside, kept ? aside : QString());
}

void SettingsPersistence::scheduleWrite()
{
    if (!m_writeWorkItem) {
        m_writeWorkItem = new QTimer(this);
        m_writeWorkItem->setSingleShot(true);
        m_writeWorkItem->setInterval(kWriteDelayMs);
        connect(m_writeWorkItem, &QTimer::timeout, this, [this] { writeSettingsFile(); });
    }
    m_writeWorkItem->start();
}

QByteArray SettingsPersistence::settingsDocument() const
{
    QJsonObject values;
    const QVariantMap all = UserDefaults::standard().dictionaryRepresentation();
    for (auto it = all.begin(); it != all.end(); ++it) {
        if (!isMirrored(it.key()))
            continue;
        if (const auto j = encodeValue(it.value()))
            values.insert(it.key(), *j);
    }
    return documentOf(values);
}

bool SettingsPersistence::writeSettingsFile(QByteArray *document)
{
    const QByteArray bytes = settingsDocument();
    if (document)
        *document = bytes;
    if (bytes.size() > maxDocumentBytes) {
        // The next launch would refuse it: the previous file stays.
        vlog(QStringLiteral("[Vorna] settings: not written: the document takes %1 bytes, more than the %2 it may have")
                 .arg(bytes.size())
                 .arg(maxDocumentBytes));
        return false;
    }
    // The data folder may have been removed while the program runs.
    QDir().mkpath(QFileInfo(m_fileURL).absolutePath());
    QString error;
    if (!FileOps::writeAtomically(m_fileURL, bytes, &error)) {
        // A full disk: the file is written again shortly, from the
        // preferences as they are then.
        m_retry->failed(QStringLiteral("[Vorna] settings: cannot write ") + error
                        + QStringLiteral("; trying again shortly"));
        return false;
    }
    m_retry->reset();
    return true;
}

std::optional<int> SettingsPersistence::importSettings(const QByteArray &bytes)
{
    if (bytes.size() > maxDocumentBytes) {
        vlog(QStringLiteral("[Vorna] settings: not imported: the document is larger than %1 bytes").arg(maxDocumentBytes));
        return std::nullopt;
    }
    const auto values = documentValues(bytes);
    if (!values)
        return std::nullopt;
    const int count = storeWithinLimits(*values, false);
    auto &center = NotificationCenter::instance();
    center.post(NotificationNames::hotKeysChanged);
    center.post(NotificationNames::savedPathsChanged);
    writeSettingsFile();
    return count;
}
