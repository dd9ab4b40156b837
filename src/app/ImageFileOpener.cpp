#include "app/ImageFileOpener.h"

#include "platform/ImageFileReader.h"

#include <QtConcurrent>

ImageFileOpener::ImageFileOpener(QObject *parent) : QObject(parent)
{
}

ImageFileOpener::~ImageFileOpener()
{
    for (Job &job : m_jobs) {
        job.watcher->disconnect();
        job.watcher->waitForFinished();
    }
}

void ImageFileOpener::open(const QString &path, Completion completion)
{
    Job job{path, std::move(completion), std::make_unique<QFutureWatcher<QImage>>()};
    connect(job.watcher.get(), &QFutureWatcherBase::finished, this, &ImageFileOpener::deliverFinished);
    job.watcher->setFuture(QtConcurrent::run([path] { return ImageFileReader::read(path); }));
    m_jobs.push_back(std::move(job));
}

void ImageFileOpener::deliverFinished()
{
    // Hand back from the front only, so a later file never overtakes an earlier one.
    while (!m_jobs.empty() && m_jobs.front().watcher->isFinished()) {
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        const QImage image = job.watcher->result();
        // The watcher may be the sender of the signal being handled.
        job.watcher.release()->deleteLater();
        job.completion(job.path, image);
    }
    if (m_jobs.empty())
        emit idle();
}
