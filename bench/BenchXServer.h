#pragma once

// A private Xvfb for benchmarks that need a real screen: started on a free
// display (the server picks it with -displayfd), DISPLAY pointed at it, and
// ended with the benchmark however the benchmark ends.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace BenchXServer {

inline pid_t &serverPid()
{
    static pid_t pid = -1;
    return pid;
}

inline void stop()
{
    pid_t &pid = serverPid();
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
}

// screen is Xvfb's screen description, for example "2880x1800x24".
inline bool start(const char *screen)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    const pid_t pid = ::fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        ::dup2(fds[1], 3);
        if (fds[1] != 3)
            ::close(fds[1]);
        std::freopen("/dev/null", "w", stderr);
        ::execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen, "-nolisten", "tcp",
                 static_cast<char *>(nullptr));
        _exit(127);
    }
    ::close(fds[1]);
    serverPid() = pid;
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty()) {
        stop();
        return false;
    }
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
}

} // namespace BenchXServer
