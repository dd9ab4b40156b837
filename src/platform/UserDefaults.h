#pragma once

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariant>
#include <QVariantMap>
#include <optional>

class WriteRetry;

// The program's preference store: typed values under text keys, readers that
// convert the way a preferences database conventionally does, a changed()
// signal on every write, and one JSON file that keeps each value's type.
//
// Values are bool, 64-bit integer, double, text, bytes, list, map or date.
// The file is $XDG_CONFIG_HOME/Vorna/defaults.json, written atomically a
// moment after the last change and at quit; a write that failed (a full
// disk) is tried again a few seconds later, and less often while it keeps
// failing. A file that cannot be read is kept aside under another name,
// never overwritten.
class UserDefaults : public QObject
{
    Q_OBJECT
public:
    // The process-wide store, loaded from the file on first use.
    static UserDefaults &standard();
    // Drops the process-wide store so the next standard() loads it afresh
    // from disk (tests use this to simulate a relaunch).
    static void resetStandard();

    // A store backed by the given file (empty path: memory only).
    explicit UserDefaults(const QString &filePath, QObject *parent = nullptr);
    ~UserDefaults() override;

    QString filePath() const { return m_path; }
    static QString defaultFilePath();
    // A larger file is not read; it is kept aside like an unreadable one.
    static constexpr qint64 maxFileBytes = 16 * 1024 * 1024;

    // The stored value, or an invalid QVariant when the key is absent.
    QVariant object(const QString &key) const;
    bool contains(const QString &key) const;

    // Converting readers. Absent keys give false, 0, 0.0 or nothing.
    bool boolForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;
    double doubleForKey(const QString &key) const;
    std::optional<QString> stringForKey(const QString &key) const;
    std::optional<QByteArray> dataForKey(const QString &key) const;
    std::optional<QVariantList> arrayForKey(const QString &key) const;
    std::optional<QStringList> stringArrayForKey(const QString &key) const;
    std::optional<QVariantMap> dictionaryForKey(const QString &key) const;

    // Writers. setObject takes any of the supported value types; an
    // unsupported or invalid value removes the key.
    void setObject(const QString &key, const QVariant &value);
    void setBool(const QString &key, bool value);
    void setInteger(const QString &key, qint64 value);
    void setDouble(const QString &key, double value);
    void setString(const QString &key, const QString &value);
    void setData(const QString &key, const QByteArray &value);
    void removeObject(const QString &key);

    // Every key and value.
    QVariantMap dictionaryRepresentation() const;

    // Writes pending changes now. Returns false when the file could not be
    // written; the changes stay pending and are tried again shortly.
    bool flush();

    // Whether a value can be stored (bool, integer, double, text, bytes,
    // date, and lists and maps of those).
    static bool isStorable(const QVariant &value);

signals:
    void changed(const QString &key);

private:
    void load();
    void store(const QString &key, const QVariant &value);
    void scheduleSave();
    void setAside(const QString &why, bool keepOriginal);

    QString m_path;
    mutable QMutex m_mutex;
    QVariantMap m_values;
    bool m_dirty = false;
    QTimer *m_saveTimer = nullptr;
    WriteRetry *m_retry;
};
