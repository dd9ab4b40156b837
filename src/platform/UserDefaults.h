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
    // Nor is a larger one ever written: the previous file then stays.
    static constexpr qint64 maxFileBytes = 16 * 1024 * 1024;
    // How many lists and maps a value may hold one inside the other. A
    // deeper value is neither stored nor read from the file.
    static constexpr int maxNesting = 100;
    // How many of the files kept aside stay; older ones are removed.
    static constexpr int keptAside = 3;

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
    // date, and lists and maps of those, at most maxNesting deep).
    static bool isStorable(const QVariant &value);
    // Whether the value can be stored and read back from the file: storable,
    // and small enough that the file could hold it. Says why not in *why.
    static bool canKeep(const QVariant &value, QString *why = nullptr);
    // How many bytes the file takes with the values held now.
    qint64 fileSize() const;
    // How many bytes the value under key adds to the file, at most: the
    // file with values under n keys takes at most fileSize() of none plus
    // the n entry sizes.
    static qint64 entrySize(const QString &key, const QVariant &value);

signals:
    void changed(const QString &key);

private:
    void load();
    void store(const QString &key, const QVariant &value);
    void scheduleSave();
    // Keeps the file aside under a free name: renamed, or (when kept is
    // given) as a copy of the bytes read from it.
    void setAside(const QString &why, const QByteArray *kept = nullptr);

    QString m_path;
    mutable QMutex m_mutex;
    QVariantMap m_values;
    bool m_dirty = false;
    QTimer *m_saveTimer = nullptr;
    WriteRetry *m_retry;
};
