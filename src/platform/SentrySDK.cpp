#include "platform/SentrySDK.h"

#include "platform/AppPaths.h"
#include "platform/CrashHandler.h"
#include "platform/CrashReport.h"
#include "platform/Log.h"
#include "platform/SentryDsn.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTimer>
#include <QtConcurrent>
#include <memory>
#include <sys/utsname.h>

namespace {

constexpr const char *kSdkName = "vorna.sentry";
constexpr const char *kSdkVersion = "1.0.0";
// At most this many waiting reports are sent per start; the rest wait for
// the next one, so a crash loop cannot flood the server in one go.
constexpr int kMaxReportsPerStart = 30;

struct PendingFile
{
    QString path;
    QByteArray bytes;
    QString readError;
};

QList<PendingFile> readPending(const QString &folder)
{
    QDir dir(folder);
    const QStringList names = dir.entryList({QStringLiteral("*") + QLatin1String(CrashHandler::reportSuffix)},
                                            QDir::Files, QDir::Name);
    QList<PendingFile> out;
    for (const QString &name : names) {
        if (out.size() >= kMaxReportsPerStart)
            break;
        PendingFile f;
        f.path = dir.filePath(name);
        QFile file(f.path);
        // A report beyond the limit is refused by the parser (and set
        // aside); more than that is never read into memory.
        if (file.open(QIODevice::ReadOnly))
            f.bytes = file.read(CrashReport::maxBytes + 1);
        else
            f.readError = file.errorString();
        out.append(f);
    }
    return out;
}

QJsonObject sdkInfo()
{
    return QJsonObject{{QStringLiteral("name"), QLatin1String(kSdkName)},
                       {QStringLiteral("version"), QLatin1String(kSdkVersion)}};
}

class Session : public QObject
{
public:
    Session(const SentryOptions &options, const SentryDsn &dsn, double sampleRate)
        : m_options(options), m_dsn(dsn), m_sampleRate(sampleRate)
    {
    }

    ~Session() override { CrashHandler::uninstall(); }

    const SentryOptions &options() const { return m_options; }
    const QList<SentryBreadcrumb> &breadcrumbs() const { return m_breadcrumbs; }

    void begin()
    {
        const QString folder = SentrySDK::reportsFolder();
        if (!QDir().mkpath(folder) || !QFileInfo(folder).isDir()) {
            vlog(QStringLiteral("[Vorna] sentry: could not create the crash-report folder ") + folder);
        } else {
            renderContext();
            if (CrashHandler::install(folder))
                debug(QStringLiteral("crash handler installed"));
        }
        debug(QStringLiteral("started (environment=%1, sampleRate=%2)")
                  .arg(m_options.environment, QString::number(m_sampleRate)));
        QTimer::singleShot(0, this, [this, folder] { sendPending(folder); });
    }

    void addBreadcrumb(const SentryBreadcrumb &crumb)
    {
        if (m_options.maxBreadcrumbs <= 0)
            return;
        std::optional<SentryBreadcrumb> kept = crumb;
        if (m_options.beforeBreadcrumb)
            kept = m_options.beforeBreadcrumb(crumb);
        if (!kept)
            return;
        m_breadcrumbs.append(*kept);
        while (m_breadcrumbs.size() > m_options.maxBreadcrumbs)
            m_breadcrumbs.removeFirst();
        renderContext();
    }

private:
    void debug(const QString &text) const
    {
        if (m_options.debug)
            vlog(QStringLiteral("[Vorna] sentry: ") + text);
    }

    // What a crash report needs to know about this process, prepared now
    // because the signal handler cannot gather it.
    void renderContext()
    {
        QJsonObject ctx;
        const QString name = QCoreApplication::applicationName();
        const QString version = QCoreApplication::applicationVersion();
        if (!name.isEmpty() && !version.isEmpty())
            ctx.insert(QStringLiteral("release"), name + QLatin1Char('@') + version);
        if (!m_options.environment.isEmpty())
            ctx.insert(QStringLiteral("environment"), m_options.environment);
        ctx.insert(QStringLiteral("server_name"), QSysInfo::machineHostName());
        if (m_options.sendDefaultPii)
            ctx.insert(QStringLiteral("user"), QJsonObject{{QStringLiteral("ip_address"), QStringLiteral("{{auto}}")}});

        QJsonObject os{{QStringLiteral("name"), QStringLiteral("Linux")}};
        struct utsname u = {};
        if (::uname(&u) == 0) {
            os.insert(QStringLiteral("version"), QString::fromLocal8Bit(u.release));
            os.insert(QStringLiteral("kernel_version"), QString::fromLocal8Bit(u.version));
        }
        const QString pretty = QSysInfo::prettyProductName();
        if (!pretty.isEmpty())
            os.insert(QStringLiteral("build"), pretty);
        QJsonObject app;
        if (!name.isEmpty())
            app.insert(QStringLiteral("app_name"), name);
        if (!version.isEmpty())
            app.insert(QStringLiteral("app_version"), version);
        QJsonObject contexts{{QStringLiteral("os"), os},
                             {QStringLiteral("device"),
                              QJsonObject{{QStringLiteral("arch"), QSysInfo::currentCpuArchitecture()}}}};
        if (!app.isEmpty())
            contexts.insert(QStringLiteral("app"), app);
        ctx.insert(QStringLiteral("contexts"), contexts);

        QJsonArray crumbs;
        for (const SentryBreadcrumb &b : m_breadcrumbs)
            crumbs.append(b.toJson());
        if (!crumbs.isEmpty())
            ctx.insert(QStringLiteral("breadcrumbs"), crumbs);
        CrashHandler::setContext(QJsonDocument(ctx).toJson(QJsonDocument::Compact));
    }

    void sendPending(const QString &folder)
    {
        auto *watcher = new QFutureWatcher<QList<PendingFile>>(this);
        connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
            const QList<PendingFile> files = watcher->result();
            watcher->deleteLater();
            for (const PendingFile &f : files)
                process(f);
        });
        watcher->setFuture(QtConcurrent::run(readPending, folder));
    }

    void setAside(const QString &path, const QString &why)
    {
        vlog(QStringLiteral("[Vorna] sentry: crash report %1 is unreadable (%2); set aside")
                 .arg(QFileInfo(path).fileName(), why));
        QFile::rename(path, path + QStringLiteral(".unreadable"));
    }

    void process(const PendingFile &file)
    {
        if (!file.readError.isEmpty()) {
            vlog(QStringLiteral("[Vorna] sentry: could not read crash report %1: %2")
                     .arg(QFileInfo(file.path).fileName(), file.readError));
            return;
        }
        QString error;
        const std::optional<CrashReport> report = CrashReport::parse(file.bytes, &error);
        if (!report) {
            setAside(file.path, error);
            return;
        }
        const QString eventId =
            QString::fromLatin1(QCryptographicHash::hash(file.bytes, QCryptographicHash::Md5).toHex());
        if (!(QRandomGenerator::global()->generateDouble() < m_sampleRate)) {
            debug(QStringLiteral("crash report %1 dropped by the sample rate").arg(eventId));
            QFile::remove(file.path);
            return;
        }
        std::optional<SentryEvent> event = report->toEvent(eventId);
        if (m_options.beforeSend)
            event = m_options.beforeSend(*event);
        if (!event) {
            debug(QStringLiteral("crash report %1 dropped by beforeSend").arg(eventId));
            QFile::remove(file.path);
            return;
        }
        send(file.path, *event);
    }

    static QByteArray envelope(const SentryEvent &event)
    {
        const QByteArray body = QJsonDocument(event.toJson()).toJson(QJsonDocument::Compact);
        const QJsonObject header{{QStringLiteral("event_id"), event.eventId},
                                 {QStringLiteral("sent_at"),
                                  QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                                 {QStringLiteral("sdk"), sdkInfo()}};
        const QJsonObject item{{QStringLiteral("type"), QStringLiteral("event")},
                               {QStringLiteral("length"), body.size()},
                               {QStringLiteral("content_type"), QStringLiteral("application/json")}};
        QByteArray out = QJsonDocument(header).toJson(QJsonDocument::Compact);
        out.append('\n');
        out.append(QJsonDocument(item).toJson(QJsonDocument::Compact));
        out.append('\n');
        out.append(body);
        out.append('\n');
        return out;
    }

    void send(const QString &path, const SentryEvent &event)
    {
        if (!m_network)
            m_network = new QNetworkAccessManager(this);
        QNetworkRequest request(m_dsn.envelopeEndpoint());
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-sentry-envelope"));
        request.setHeader(QNetworkRequest::UserAgentHeader, SentrySDK::clientName());
        request.setRawHeader(QByteArrayLiteral("X-Sentry-Auth"), m_dsn.authHeader(SentrySDK::clientName()));
        request.setTransferTimeout(30000);
        const QString eventId = event.eventId;
        debug(QStringLiteral("sending crash report %1").arg(eventId));
        QNetworkReply *reply = m_network->post(request, envelope(event));
        connect(reply, &QNetworkReply::finished, this, [this, reply, path, eventId] {
            reply->deleteLater();
            const QVariant statusValue = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
            const int status = statusValue.isValid() ? statusValue.toInt() : 0;
            if (status >= 200 && status < 300) {
                debug(QStringLiteral("crash report %1 sent").arg(eventId));
                QFile::remove(path);
            } else if (status >= 400 && status < 500 && status != 429) {
                // The server will never take this one.
                debug(QStringLiteral("crash report %1 refused (HTTP %2); dropped").arg(eventId).arg(status));
                QFile::remove(path);
            } else {
                debug(QStringLiteral("crash report %1 not sent (%2); kept for the next start")
                          .arg(eventId, status ? QStringLiteral("HTTP %1").arg(status) : reply->errorString()));
            }
        });
    }

    SentryOptions m_options;
    SentryDsn m_dsn;
    double m_sampleRate;
    QList<SentryBreadcrumb> m_breadcrumbs;
    QNetworkAccessManager *m_network = nullptr;
};

std::unique_ptr<Session> g_session;

} // namespace

void SentrySDK::start(const std::function<void(SentryOptions &)> &configureOptions)
{
    SentryOptions options;
    if (configureOptions)
        configureOptions(options);
    close();

    QString error;
    const std::optional<SentryDsn> dsn = SentryDsn::parse(options.dsn, &error);
    if (!dsn) {
        vlog(QStringLiteral("[Vorna] sentry: the DSN could not be parsed (") + error
             + QStringLiteral("); crash reporting stays off"));
        return;
    }
    double rate = options.sampleRate;
    if (!(rate >= 0.0 && rate <= 1.0)) {
        vlog(QStringLiteral("[Vorna] sentry: sampleRate %1 is not between 0 and 1; using 1")
                 .arg(QString::number(rate)));
        rate = 1.0;
    }
    g_session = std::make_unique<Session>(options, *dsn, rate);
    g_session->begin();
}

void SentrySDK::close()
{
    g_session.reset();
}

bool SentrySDK::isEnabled()
{
    return g_session != nullptr;
}

std::optional<SentryOptions> SentrySDK::options()
{
    if (!g_session)
        return std::nullopt;
    return g_session->options();
}

void SentrySDK::addBreadcrumb(const SentryBreadcrumb &crumb)
{
    if (g_session)
        g_session->addBreadcrumb(crumb);
}

QList<SentryBreadcrumb> SentrySDK::breadcrumbs()
{
    return g_session ? g_session->breadcrumbs() : QList<SentryBreadcrumb>();
}

QString SentrySDK::reportsFolder()
{
    return AppPaths::appDataDir() + QStringLiteral("/crash-reports");
}

QString SentrySDK::clientName()
{
    return QLatin1String(kSdkName) + QLatin1Char('/') + QLatin1String(kSdkVersion);
}
