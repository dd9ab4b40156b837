#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>
#include <thread>

// A named pipe that hands the same file bytes to every reader that opens
// it, and notes whether the UI thread was stuck while a reader waited.
// Opening the pipe blocks the reader until the bytes come; before serving a
// reader, the server asks the UI thread to run a queued call. When that call
// does not run within a few seconds, the reader is the UI thread itself (or
// something it waits for): uiThreadWaited() becomes true, and the bytes are
// served anyway, so nothing hangs.
class PipedImage
{
public:
    // Creates the pipe at path (its folder must exist). bytes should fit a
    // pipe's buffer (64 KiB).
    PipedImage(const QString &path, const QByteArray &bytes);
    ~PipedImage();
    PipedImage(const PipedImage &) = delete;
    PipedImage &operator=(const PipedImage &) = delete;

    bool isValid() const { return m_valid; }
    QString path() const { return m_path; }
    // How many times the bytes were handed out (a reader that keeps the
    // pipe open after reading them may be counted twice).
    int served() const { return m_served->load(); }
    // How many times a reader was found waiting for the bytes.
    int readersSeen() const { return m_readersSeen->load(); }
    // Whether a reader waited on the UI thread.
    bool uiThreadWaited() const { return m_uiThreadWaited->load(); }

private:
    void serve();

    QString m_path;
    QByteArray m_bytes;
    bool m_valid = false;
    std::atomic<bool> m_stop{false};
    std::shared_ptr<std::atomic<int>> m_readersSeen = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<int>> m_served = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<bool>> m_uiThreadWaited = std::make_shared<std::atomic<bool>>(false);
    std::thread m_server;
};
