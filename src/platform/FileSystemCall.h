#pragma once

#include <chrono>
#include <thread>
#include <utility>

// Marks the calling thread as inside one call into the file system (an
// open, a write, a sync, a rename, making a folder) for as long as the
// object lives. Quitting waits for work that makes progress, however long
// an encoding takes, but not for a thread whose call has not returned for
// stuckAfter: a file system that stopped answering (a network folder whose
// server is gone) may never return it. Marks nest (the outermost counts);
// cheap; any thread.
class FileSystemCall
{
public:
    FileSystemCall();
    ~FileSystemCall();
    FileSystemCall(const FileSystemCall &) = delete;
    FileSystemCall &operator=(const FileSystemCall &) = delete;

    // How long a call must have gone without returning to count as stuck.
    static constexpr std::chrono::milliseconds stuckAfter{5000};

    // Runs call() marked; returns what it returns.
    template<typename Call>
    static auto run(Call &&call)
    {
        const FileSystemCall mark;
        return std::forward<Call>(call)();
    }

    // How long thread has been inside its current call; zero when it is in
    // none (or is no thread).
    static std::chrono::milliseconds unreturnedFor(std::thread::id thread);
    // The longest any thread has been inside its current call.
    static std::chrono::milliseconds longestUnreturned();
    // How many threads have been inside their current call for atLeast.
    static int countUnreturnedFor(std::chrono::milliseconds atLeast);
};
