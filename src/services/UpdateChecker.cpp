#include "services/UpdateChecker.h"

#include "platform/AlertPresenter.h"
#include "platform/Localized.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <memory>

namespace {

const QString kAutomaticKey = QStringLiteral("updates.automatic");
const QString kSkippedKey = QStringLiteral("updates.skippedVersion");
const QString kLastCheckedKey = QStringLiteral("updates.lastChecked");
constexpr qint64 kAutomaticIntervalSeconds = 82800; // 23 hours

UpdateChecker::UrlOpener g_opener;

// An optional sign, then decimal digits only, within the 64-bit range.
std::optional<qint64> integerComponent(const QString &text)
{
    qsizetype i = 0;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    if (i == text.size())
        return std::nullopt;
    for (qsizetype j = i; j < text.size(); ++j)
        if (text.at(j) < QLatin1Char('0') || text.at(j) > QLatin1Char('9'))
            return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

} // namespace

namespace {
UpdateChecker *g_sharedChecker = nullptr;
}

UpdateChecker &UpdateChecker::shared()
{
    // Lives until the process ends (or a test starts afresh).
    if (!g_sharedChecker)
        g_sharedChecker = new UpdateChecker;
    return *g_sharedChecker;
}

void UpdateChecker::resetShared()
{
    delete g_sharedChecker;
    g_sharedChecker = nullptr;
}

UpdateChecker::UpdateChecker(QObject *parent) : QObject(parent), m_feedUrl(defaultFeedUrl())
{
    const QVariant stored = UserDefaults::standard().object(kLastCheckedKey);
    if (stored.typeId() == QMetaType::QDateTime && stored.toDateTime().isValid())
        m_lastCheckedAt = stored.toDateTime();
}

UpdateChecker::~UpdateChecker() = default;

QUrl UpdateChecker::defaultFeedUrl()
{
    // VORNA_UPDATE_FEED_URL points the checker at another feed (a mirror, or
    // a local server when the program runs under test).
    const QString overridden = qEnvironmentVariable("VORNA_UPDATE_FEED_URL");
    if (!overridden.isEmpty())
        return QUrl(overridden);
    return QUrl(QStringLiteral("https://updates.vorna.org/apps/vorna/appcast.json"));
}

bool UpdateChecker::automaticChecksEnabled() const
{
    const QVariant stored = UserDefaults::standard().object(kAutomaticKey);
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    return true;
}

bool UpdateChecker::isCheckDue(const std::optional<QDateTime> &lastCheckedAt, const QDateTime &now)
{
    if (!lastCheckedAt || !lastCheckedAt->isValid())
        return true;
    return lastCheckedAt->msecsTo(now) >= kAutomaticIntervalSeconds * 1000;
}

void UpdateChecker::checkForUpdates(bool silent, std::function<void()> done)
{
    const QUrl url = m_feedUrl;
    if (url.isEmpty() || !url.isValid() || url.isRelative()) {
        if (!silent)
            setLastError(localized("Update feed URL not configured."));
        if (done)
            done();
        return;
    }
    setChecking(true);
    setLastError(std::nullopt);

    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setTransferTimeout(15000);
    QNetworkReply *reply = m_network->get(request);
    // The feed is one small object; a body beyond the limit is cut off
    // rather than held in memory whole.
    auto tooLarge = std::make_shared<bool>(false);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply, tooLarge](qint64 received, qint64) {
        if (received > maxFeedBytes && !*tooLarge) {
            *tooLarge = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, silent, done, tooLarge] {
        reply->deleteLater();
        if (*tooLarge || reply->bytesAvailable() > maxFeedBytes) {
            vlog(QStringLiteral("[Vorna] update: the feed is larger than %1 bytes; not read").arg(maxFeedBytes));
            if (!silent)
                setLastError(localized("The update information could not be read because it is too large."));
            setChecking(false);
            if (done)
                done();
            return;
        }
        // An HTTP error status still brings a body, which is decoded like
        // any other; only a missing response is a transport failure.
        const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
        if (reply->error() != QNetworkReply::NoError && !answered) {
            if (!silent) {
                const bool timedOut = reply->error() == QNetworkReply::OperationCanceledError
                                      || reply->error() == QNetworkReply::TimeoutError;
                setLastError(timedOut ? localized("The request timed out.") : reply->errorString());
            }
            setChecking(false);
        } else {
            QString error;
            const std::optional<AppcastEntry> entry = AppcastEntry::decode(reply->readAll(), &error);
            if (!entry) {
                if (!silent)
                    setLastError(error);
                setChecking(false);
            } else {
                setLatest(*entry);
                const QDateTime now = QDateTime::currentDateTimeUtc();
                setLastCheckedAt(now);
                UserDefaults::standard().setObject(kLastCheckedKey, now);
                setChecking(false);
            }
        }
        if (done)
            done();
    });
}

bool UpdateChecker::isUpdateAvailable() const
{
    if (!m_latest)
        return false;
    if (compareVersions(m_latest->version, currentAppVersion()) != 1)
        return false;
    const std::optional<QString> skipped = UserDefaults::standard().stringForKey(kSkippedKey);
    return !skipped || *skipped != m_latest->version;
}

void UpdateChecker::skipThisVersion()
{
    if (!m_latest)
        return;
    UserDefaults::standard().setString(kSkippedKey, m_latest->version);
    emit changed();
}

void UpdateChecker::openDownload()
{
    if (!m_latest)
        return;
    const QUrl url(m_latest->downloadURL, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return;
    // The feed comes from the network: only a web address is handed to the
    // desktop, never a local file, a program or another scheme handler.
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        vlog(QStringLiteral("[Vorna] update: download link is not http or https, not opened: ") + m_latest->downloadURL);
        return;
    }
    if (g_opener)
        g_opener(url);
    else
        QDesktopServices::openUrl(url);
}

void UpdateChecker::showUpdateResult(bool silent)
{
    // The alert is a window of its own and comes to the front by itself.
    AlertPresenter::Alert alert;
    alert.style = AlertPresenter::Style::informational;
    if (m_latest && isUpdateAvailable()) {
        alert.title = localized("Vorna %1 is available").arg(m_latest->version);
        alert.informativeText = localized("You're running version %1.").arg(currentAppVersion());
        if (m_latest->notes && !m_latest->notes->isEmpty())
            alert.informativeText += QStringLiteral("\n\n") + *m_latest->notes;
        alert.buttons = {localized("Download"), localized("Skip This Version"), localized("Later")};
        const int choice = AlertPresenter::current().present(alert);
        if (choice == 0)
            openDownload();
        else if (choice == 1)
            skipThisVersion();
        return;
    }
    if (silent)
        return;
    if (m_lastError) {
        alert.style = AlertPresenter::Style::warning;
        alert.title = localized("Couldn't check for updates");
        alert.informativeText = *m_lastError;
    } else {
        alert.title = localized("You're up to date");
        alert.informativeText = localized("Vorna %1 is the latest version.").arg(currentAppVersion());
    }
    alert.buttons = {localized("OK")};
    AlertPresenter::current().present(alert);
}

QString UpdateChecker::currentAppVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QStringLiteral("0") : version;
}

int UpdateChecker::compareVersions(const QString &a, const QString &b)
{
    const QStringList left = a.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const QStringList right = b.split(QLatin1Char('.'), Qt::SkipEmptyParts);
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const QString x = i < left.size() ? left.at(i) : QStringLiteral("0");
        const QString y = i < right.size() ? right.at(i) : QStringLiteral("0");
        const std::optional<qint64> nx = integerComponent(x);
        const std::optional<qint64> ny = integerComponent(y);
        if (nx && ny) {
            if (*nx != *ny)
                return *nx < *ny ? -1 : 1;
            continue;
        }
        const int c = QString::compare(x, y, Qt::CaseSensitive);
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    return 0;
}

void UpdateChecker::setUrlOpener(UrlOpener opener)
{
    g_opener = std::move(opener);
}

void UpdateChecker::setChecking(bool value)
{
    if (m_isChecking == value)
        return;
    m_isChecking = value;
    emit changed();
}

void UpdateChecker::setLatest(const AppcastEntry &entry)
{
    m_latest = entry;
    emit changed();
}

void UpdateChecker::setLastCheckedAt(const QDateTime &date)
{
    m_lastCheckedAt = date;
    emit changed();
}

void UpdateChecker::setLastError(const std::optional<QString> &error)
{
    if (m_lastError == error)
        return;
    m_lastError = error;
    emit changed();
}
