#pragma once

#include <QFutureWatcher>
#include <QImage>
#include <QObject>
#include <QString>
#include <deque>
#include <functional>
#include <memory>

// Decodes opened image files off the main thread and hands each result
// back on the main thread, strictly in the order the files were asked for,
// so that several files opened together enter the history in that order.
class ImageFileOpener : public QObject
{
    Q_OBJECT
public:
    using Completion = std::function<void(const QString &path, const QImage &image)>;

    explicit ImageFileOpener(QObject *parent = nullptr);
    ~ImageFileOpener() override;

    // Decodes the file; completion gets a null image when nothing loads.
    void open(const QString &path, Completion completion);
    bool isIdle() const { return m_jobs.empty(); }

signals:
    // Every file asked for so far has been handed back.
    void idle();

private:
    struct Job
    {
        QString path;
        Completion completion;
        std::unique_ptr<QFutureWatcher<QImage>> watcher;
    };
    void deliverFinished();

    std::deque<Job> m_jobs;
};
