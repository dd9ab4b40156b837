#pragma once

#include <QImage>
#include <QObject>
#include <QString>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

// Decodes opened image files off the main thread and hands each result
// back on the main thread, strictly in the order the files were asked for,
// so that several files opened together enter the history in that order.
//
// A file whose open never returns (a network mount that stopped answering)
// must not hold anything up: every file is read on a thread of its own that
// nobody ever waits for, and a file whose open has not returned after the
// stall time is given up (handed back without an image) so the files after
// it come through. A file that opened takes the time its decoding takes.
// Destroying the opener, as quitting does, waits for nothing.
class ImageFileOpener : public QObject
{
    Q_OBJECT
public:
    using Completion = std::function<void(const QString &path, const QImage &image)>;
    // Reads a file; calls opened once its open has returned.
    using Reader = std::function<QImage(const QString &path, const std::function<void()> &opened)>;

    // How many files are read at the same time; the others wait their turn.
    static constexpr int maxReading = 4;

    explicit ImageFileOpener(QObject *parent = nullptr);
    ~ImageFileOpener() override;

    // Decodes the file; completion gets a null image when nothing loads.
    void open(const QString &path, Completion completion);
    bool isIdle() const { return m_jobs.empty(); }

    // How long a file's open may take before it is given up (10 s by default).
    void setStallTimeoutMs(int ms) { m_stallTimeoutMs = ms; }
    // Replaces the file reader (tests); it runs on the reading threads.
    void setReader(Reader reader) { m_reader = std::move(reader); }

signals:
    // Every file asked for so far has been handed back.
    void idle();

private:
    struct Relay;
    struct Job
    {
        quint64 serial = 0;
        QString path;
        Completion completion;
        enum class State { waiting, reading, done } state = State::waiting;
        QImage image;
        std::shared_ptr<std::atomic<bool>> opened; // set by the reading thread
    };
    void startWaiting();
    void finished(quint64 serial, const QImage &image);
    void giveUp(quint64 serial);
    void deliverFinished();
    Job *find(quint64 serial);

    std::deque<Job> m_jobs;
    std::shared_ptr<Relay> m_relay;
    Reader m_reader;
    quint64 m_nextSerial = 1;
    int m_stallTimeoutMs = 10000;
};
