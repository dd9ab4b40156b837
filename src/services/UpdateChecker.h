#pragma once

#include "services/AppcastEntry.h"

#include <QDateTime>
#include <QObject>
#include <QUrl>
#include <functional>
#include <optional>

class QNetworkAccessManager;

// Looks for a newer release in the update feed, remembers the outcome of the
// last check and turns it into an alert. Main thread only.
//
// Preferences: "updates.automatic" (absent or not a bool: on),
// "updates.skippedVersion", "updates.lastChecked" (date of the last
// successful check).
class UpdateChecker : public QObject
{
    Q_OBJECT
public:
    // The process-wide checker, created on first use.
    static UpdateChecker &shared();
    // Drops the shared checker with what it remembers; the next use makes a
    // new one (tests, between cases).
    static void resetShared();

    explicit UpdateChecker(QObject *parent = nullptr);
    ~UpdateChecker() override;

    // The feed address; tests and staging builds point it elsewhere.
    static QUrl defaultFeedUrl();
    QUrl feedUrl() const { return m_feedUrl; }
    void setFeedUrl(const QUrl &url) { m_feedUrl = url; }

    // A feed body beyond this is refused without being read whole.
    static constexpr qint64 maxFeedBytes = 1024 * 1024;

    bool isChecking() const { return m_isChecking; }
    std::optional<AppcastEntry> latest() const { return m_latest; }
    std::optional<QDateTime> lastCheckedAt() const { return m_lastCheckedAt; }
    std::optional<QString> lastError() const { return m_lastError; }

    bool automaticChecksEnabled() const;
    // An automatic check is due when none has succeeded yet or the last one
    // is at least 23 hours (82800 seconds) old.
    static bool isCheckDue(const std::optional<QDateTime> &lastCheckedAt, const QDateTime &now);

    // Fetches the feed without blocking and calls done on the main thread
    // when finished. A silent check never records an error.
    void checkForUpdates(bool silent, std::function<void()> done = {});
    bool isUpdateAvailable() const;
    void skipThisVersion();
    // Opens the latest release's download link in the browser, when it is
    // an http or https address.
    void openDownload();
    // Shows at most one alert for the last check: an update offer, or (only
    // when not silent) the failure or the up-to-date alert.
    void showUpdateResult(bool silent);

    // The running version, "0" when unknown.
    static QString currentAppVersion();
    // -1 when a is older than b, 0 when equal, 1 when a is newer.
    static int compareVersions(const QString &a, const QString &b);

    // How download links are opened (QDesktopServices::openUrl unless
    // replaced; nullptr restores it).
    using UrlOpener = std::function<bool(const QUrl &)>;
    static void setUrlOpener(UrlOpener opener);

signals:
    // Any of the members above, or the skipped version, changed.
    void changed();

private:
    void setChecking(bool value);
    void setLatest(const AppcastEntry &entry);
    void setLastCheckedAt(const QDateTime &date);
    void setLastError(const std::optional<QString> &error);

    QUrl m_feedUrl;
    bool m_isChecking = false;
    std::optional<AppcastEntry> m_latest;
    std::optional<QDateTime> m_lastCheckedAt;
    std::optional<QString> m_lastError;
    QNetworkAccessManager *m_network = nullptr;
};
