#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QMetaObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QVariant>
#include <optional>

class QTimer;
class WriteRetry;

// Keeps a readable copy of the user's preferences in settings.json in the
// program's data folder. After start(), every change to the preference
// store rewrites the file half a second after the last change (a write that
// failed is made again a few seconds later); at start,
// any mirrored preference missing from the store is filled in from the
// file. The same document is the export and import format:
//
//   { "exportedAt" : "...Z", "values" : { key : value, ... }, "version" : 1 }
//
// with bytes written as {"__data__": Base64}. Lives on the main thread.
class SettingsPersistence : public QObject
{
    Q_OBJECT
public:
    static SettingsPersistence &shared();

    // A mirror kept in the given file (shared() uses the data folder's
    // settings.json). The folder is created here; a failure is ignored.
    explicit SettingsPersistence(const QString &filePath, QObject *parent = nullptr);
    ~SettingsPersistence() override;

    static QString defaultFilePath();
    // A larger settings.json is not read (it is kept aside like an unreadable
    // one), nor is a larger document imported.
    // Nor is a larger settings.json ever written.
    static constexpr qint64 maxDocumentBytes = 16 * 1024 * 1024;
    // How many of the files kept aside stay; older ones are removed.
    static constexpr int keptAside = 3;
    // An import or restore leaves this much of each file's limit (the
    // preference store's and this mirror's) free, so that the changes made
    // after it can still be written.
    static constexpr qint64 roomForChanges = 1024 * 1024;
    QString fileURL() const { return m_fileURL; }

    // Restores from the file, then watches the preference store.
    void start();
    // Stops watching and drops a pending rewrite or retry (tests, between
    // cases).
    void stop();
    // Fills keys missing from the store from the file; existing values win,
    // and a value the store cannot take, or one that would take either file
    // past its limit (less roomForChanges), is skipped (logged).
    void restoreFromFile();
    // Rewrites the file half a second from now, once for a burst of changes.
    void scheduleWrite();
    // Writes the file now from the current preferences. False when the
    // file could not be written (the previous file then stays as it was,
    // and the write is tried again shortly).
    // The document written (or meant to be) is put in *document if given.
    bool writeSettingsFile(QByteArray *document = nullptr);
    // The document of the current preferences, as the file holds it.
    QByteArray settingsDocument() const;
    // Stores every mirrored value of a settings document, overwriting the
    // current ones, posts "VornaHotKeysChanged" and "VornaSavedPathsChanged",
    // and rewrites the file. Returns the number of values stored, or nothing
    // when the bytes are not a settings document. A value that cannot be
    // stored (a JSON null, for one, or one nested deeper than the preference
    // store takes) is skipped, logged and not counted; the current value
    // stays. So is one that would take the preference store's file or this
    // mirror past its limit less roomForChanges: what was imported before
    // it stays, and both files can still be written.
    std::optional<int> importSettings(const QByteArray &bytes);

    static const QSet<QString> &mirroredKeys();
    static bool isMirrored(const QString &key);

    // The JSON form of one stored value; nothing for values the document
    // cannot hold (dates, non-finite numbers, or such values nested inside).
    static std::optional<QJsonValue> encodeValue(const QVariant &value);
    // The value a document member stands for; nothing when it cannot be
    // stored (a null anywhere in it, or a non-finite number).
    static std::optional<QVariant> decodeValue(const QJsonValue &value);

private:
    void setFileAside(const QString &why);
    // Stores the mirrored members of values (only those the store lacks,
    // when onlyMissing) that can be kept and leave both files within their
    // limits less roomForChanges. Returns how many were stored.
    int storeWithinLimits(const QJsonObject &values, bool onlyMissing);

    QString m_fileURL;
    QMetaObject::Connection m_observer;
    QTimer *m_writeWorkItem = nullptr;
    WriteRetry *m_retry;
};
