#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <thread>

// A regular file whose every open waits until the test lets it through (a
// fanotify permission mark, which needs root: isValid() is false where it
// cannot be set). Before letting an open through, the gate asks the UI
// thread to run a queued call; when that does not run within a few seconds,
// the opener is the UI thread itself (or something it waits for):
// uiThreadWaited() becomes true, and the open goes through anyway, so
// nothing hangs.
class GatedFile
{
public:
    // Writes bytes to path (its folder must exist), then sets the gate.
    GatedFile(const QString &path, const QByteArray &bytes);
    ~GatedFile();
    GatedFile(const GatedFile &) = delete;
    GatedFile &operator=(const GatedFile &) = delete;

    bool isValid() const { return m_fd >= 0; }
    // How many opens the gate let through.
    int opens() const { return m_opens.load(); }
    // How many opens came to the gate (counted as soon as they wait).
    int openersSeen() const { return m_openersSeen.load(); }
    bool uiThreadWaited() const { return m_uiThreadWaited.load(); }
    // While refusing, every open fails at once (with EPERM) instead of
    // waiting, as on a file the program may not open for now.
    void setRefusing(bool refusing) { m_refusing = refusing; }

private:
    void watch();

    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_opens{0};
    std::atomic<int> m_openersSeen{0};
    std::atomic<bool> m_uiThreadWaited{false};
    std::atomic<bool> m_refusing{false};
    std::thread m_watcher;
};
