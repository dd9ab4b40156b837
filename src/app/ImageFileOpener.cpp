#include "app/ImageFileOpener.h"

#include "platform/ImageFileReader.h"
#include "platform/Log.h"

#include <QMutex>
#include <QPointer>
#include <QTimer>
#include <thread>

// What a reading thread reports back through. The opener unhooks itself
// when it goes; a thread that returns later then reports to nobody.
struct ImageFileOpener::Relay
{
    QMutex mutex;
    ImageFileOpener *opener = nullptr;
};

ImageFileOpener::ImageFileOpener(QObject *parent) : QObject(parent), m_relay(std::make_shared<Relay>())
{
    m_relay->opener = this;
    m_reader = [](const QString &path, const std::function<void()> &opened) {
        return ImageFileReader::read(path, opened);
    };
}

ImageFileOpener::~ImageFileOpener()
{
    QMutexLocker lock(&m_relay->mutex);
    m_relay->opener = nullptr;
}

void ImageFileOpener::open(const QString &path, Completion completion)
{
    Job job;
    job.serial = m_nextSerial++;
    job.path = path;
    job.completion = std::move(completion);
    m_jobs.push_back(std::move(job));
    startWaiting();
}

ImageFileOpener::Job *ImageFileOpener::find(quint64 serial)
{
    for (Job &job : m_jobs)
        if (job.serial == serial)
            return &job;
    return nullptr;
}

void ImageFileOpener::startWaiting()
{
    int reading = 0;
    for (const Job &job : m_jobs)
        reading += job.state == Job::State::reading ? 1 : 0;
    for (Job &job : m_jobs) {
        if (reading >= maxReading)
            break;
        if (job.state != Job::State::waiting)
            continue;
        job.state = Job::State::reading;
        ++reading;
        const quint64 serial = job.serial;
        job.opened = std::make_shared<std::atomic<bool>>(false);
        // A thread of its own, never joined: a stalled open keeps only it.
        std::thread([relay = m_relay, reader = m_reader, path = job.path, serial, opened = job.opened] {
            const QImage image = reader(path, [opened] { opened->store(true); });
            QMutexLocker lock(&relay->mutex);
            if (ImageFileOpener *opener = relay->opener)
                QMetaObject::invokeMethod(
                    opener, [opener, serial, image] { opener->finished(serial, image); }, Qt::QueuedConnection);
        }).detach();
        QTimer::singleShot(m_stallTimeoutMs, this, [this, serial] { giveUp(serial); });
    }
}

void ImageFileOpener::finished(quint64 serial, const QImage &image)
{
    Job *job = find(serial);
    if (!job || job->state != Job::State::reading)
        return; // given up on already
    job->state = Job::State::done;
    job->image = image;
    deliverFinished();
    startWaiting();
}

void ImageFileOpener::giveUp(quint64 serial)
{
    Job *job = find(serial);
    if (!job || job->state != Job::State::reading || job->opened->load())
        return;
    vlog(QStringLiteral("[Vorna] open: gave up on %1: it did not open within %2 s")
             .arg(job->path)
             .arg(m_stallTimeoutMs / 1000.0));
    job->state = Job::State::done;
    job->image = QImage();
    deliverFinished();
    startWaiting();
}

void ImageFileOpener::deliverFinished()
{
    // Hand back from the front only, so a later file never overtakes an earlier one.
    QPointer<ImageFileOpener> alive(this);
    while (!m_jobs.empty() && m_jobs.front().state == Job::State::done) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        job.completion(job.path, job.image);
        if (!alive)
            return;
    }
    if (m_jobs.empty())
        emit idle();
}
