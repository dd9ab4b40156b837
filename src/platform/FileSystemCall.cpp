#include "platform/FileSystemCall.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

struct Calls
{
    std::mutex mutex;
    std::unordered_map<std::thread::id, Clock::time_point> since;
};

// Never destroyed: threads may still mark calls while the process ends.
Calls &calls()
{
    static Calls *all = new Calls;
    return *all;
}

thread_local int t_depth = 0;

std::chrono::milliseconds elapsedSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

} // namespace

FileSystemCall::FileSystemCall()
{
    if (t_depth++ > 0)
        return;
    const int savedErrno = errno;
    Calls &all = calls();
    {
        const std::lock_guard lock(all.mutex);
        all.since[std::this_thread::get_id()] = Clock::now();
    }
    errno = savedErrno;
}

FileSystemCall::~FileSystemCall()
{
    if (--t_depth > 0)
        return;
    // The call's errno is what the caller reads next.
    const int savedErrno = errno;
    Calls &all = calls();
    {
        const std::lock_guard lock(all.mutex);
        all.since.erase(std::this_thread::get_id());
    }
    errno = savedErrno;
}

std::chrono::milliseconds FileSystemCall::unreturnedFor(std::thread::id thread)
{
    Calls &all = calls();
    const std::lock_guard lock(all.mutex);
    const auto it = all.since.find(thread);
    return it == all.since.end() ? std::chrono::milliseconds(0) : elapsedSince(it->second);
}

std::chrono::milliseconds FileSystemCall::longestUnreturned()
{
    Calls &all = calls();
    const std::lock_guard lock(all.mutex);
    std::chrono::milliseconds longest(0);
    for (const auto &[thread, since] : all.since)
        longest = std::max(longest, elapsedSince(since));
    return longest;
}

int FileSystemCall::countUnreturnedFor(std::chrono::milliseconds atLeast)
{
    Calls &all = calls();
    const std::lock_guard lock(all.mutex);
    return int(std::count_if(all.since.cbegin(), all.since.cend(),
                             [atLeast](const auto &call) { return elapsedSince(call.second) >= atLeast; }));
}
