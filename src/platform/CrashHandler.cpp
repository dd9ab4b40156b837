#include "platform/CrashHandler.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 128;
constexpr size_t kAltStackSize = 256 * 1024;

struct Context
{
    size_t size;
    char bytes[1];
};

// Everything the handler reads is prepared here while it is not installed
// (the folder) or swapped in atomically (the context).
char g_folder[4096];
std::atomic<Context *> g_context{nullptr};
std::vector<Context *> g_retired;
struct sigaction g_previous[NSIG];
bool g_installed = false;
std::atomic<int> g_handling{0};
void *g_altStack = nullptr;

// ---- async-signal-safe writing ----

struct Out
{
    int fd;
    bool ok = true;
    void raw(const char *p, size_t n)
    {
        while (ok && n > 0) {
            const ssize_t w = ::write(fd, p, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                ok = false;
                return;
            }
            p += w;
            n -= static_cast<size_t>(w);
        }
    }
    void str(const char *s) { raw(s, std::strlen(s)); }
    void dec(long long v)
    {
        char buf[24];
        char *e = buf + sizeof buf;
        char *p = e;
        const bool neg = v < 0;
        unsigned long long u = neg ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        do {
            *--p = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u);
        if (neg)
            *--p = '-';
        raw(p, static_cast<size_t>(e - p));
    }
    void hex(unsigned long long u)
    {
        char buf[20];
        char *e = buf + sizeof buf;
        char *p = e;
        do {
            *--p = "0123456789abcdef"[u & 0xf];
            u >>= 4;
        } while (u);
        *--p = 'x';
        *--p = '0';
        raw(p, static_cast<size_t>(e - p));
    }
};

// Appends text to a fixed buffer, without allocating.
void append(char *buf, size_t cap, const char *text)
{
    const size_t len = std::strlen(buf);
    size_t i = 0;
    while (text[i] && len + i + 1 < cap) {
        buf[len + i] = text[i];
        ++i;
    }
    buf[len + i] = '\0';
}

void appendNumber(char *buf, size_t cap, long long v)
{
    char digits[24];
    char *e = digits + sizeof digits - 1;
    *e = '\0';
    char *p = e;
    unsigned long long u = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u);
    if (v < 0)
        *--p = '-';
    append(buf, cap, p);
}

unsigned long long programCounter(void *uc)
{
    if (!uc)
        return 0;
    [[maybe_unused]] auto *ctx = static_cast<ucontext_t *>(uc);
#if defined(__x86_64__)
    return static_cast<unsigned long long>(ctx->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
    return static_cast<unsigned long long>(ctx->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
    return static_cast<unsigned long long>(ctx->uc_mcontext.pc);
#else
    return 0;
#endif
}

void writeReport(int sig, siginfo_t *info, void *uc)
{
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    const pid_t pid = ::getpid();

    char finalPath[sizeof g_folder + 64];
    finalPath[0] = '\0';
    append(finalPath, sizeof finalPath, g_folder);
    append(finalPath, sizeof finalPath, "/");
    appendNumber(finalPath, sizeof finalPath, pid);
    append(finalPath, sizeof finalPath, "-");
    appendNumber(finalPath, sizeof finalPath, now.tv_sec);
    char tmpPath[sizeof finalPath + 8];
    tmpPath[0] = '\0';
    append(tmpPath, sizeof tmpPath, finalPath);
    append(tmpPath, sizeof tmpPath, ".tmp");
    append(finalPath, sizeof finalPath, CrashHandler::reportSuffix);

    const int fd = ::open(tmpPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    Out out{fd};
    out.str("vorna-crash 1\nsignal ");
    out.dec(sig);
    out.str("\ncode ");
    out.dec(info ? info->si_code : 0);
    out.str("\naddress ");
    out.hex(info ? reinterpret_cast<unsigned long long>(info->si_addr) : 0);
    out.str("\npc ");
    out.hex(programCounter(uc));
    out.str("\ntime ");
    out.dec(now.tv_sec);
    out.str(" ");
    out.dec(now.tv_nsec);
    out.str("\npid ");
    out.dec(pid);
    out.str("\ntid ");
    out.dec(static_cast<long long>(::syscall(SYS_gettid)));
    out.str("\n");

    void *frames[kMaxFrames];
    const int count = ::backtrace(frames, kMaxFrames);
    for (int i = 0; i < count; ++i) {
        out.str("frame ");
        out.hex(reinterpret_cast<unsigned long long>(frames[i]));
        out.str("\n");
    }
    out.str("context\n");
    if (const Context *ctx = g_context.load(std::memory_order_acquire))
        out.raw(ctx->bytes, ctx->size);
    ::fsync(fd);
    ::close(fd);
    if (out.ok)
        ::rename(tmpPath, finalPath);
    else
        ::unlink(tmpPath);
}

void onFatalSignal(int sig, siginfo_t *info, void *uc)
{
    const int savedErrno = errno;
    if (g_handling.exchange(1) == 0) {
        writeReport(sig, info, uc);
    } else {
        // Another thread is already writing its report; the process ends
        // when that thread re-raises its signal.
        for (;;)
            ::pause();
    }
    // Put the previous disposition back and raise again: the signal is
    // blocked while we run, so it is delivered as soon as we return and ends
    // the process the way it would have ended without us.
    ::sigaction(sig, &g_previous[sig], nullptr);
    ::raise(sig);
    errno = savedErrno;
}

} // namespace

bool CrashHandler::install(const QString &folder)
{
    uninstall();
    const QByteArray path = QFile::encodeName(folder);
    if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof g_folder - 1)
        return false;
    std::memcpy(g_folder, path.constData(), static_cast<size_t>(path.size()));
    g_folder[path.size()] = '\0';

    // The first call of backtrace() loads the unwinder, which allocates; do
    // it now, not inside the handler.
    void *warm[4];
    ::backtrace(warm, 4);

    if (!g_altStack) {
        g_altStack = std::malloc(kAltStackSize);
        if (g_altStack) {
            stack_t ss = {};
            ss.ss_sp = g_altStack;
            ss.ss_size = kAltStackSize;
            ss.ss_flags = 0;
            ::sigaltstack(&ss, nullptr);
        }
    }

    g_handling.store(0);
    struct sigaction sa = {};
    sa.sa_sigaction = onFatalSignal;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals)
        sigaddset(&sa.sa_mask, sig);
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (int sig : kSignals)
        ::sigaction(sig, &sa, &g_previous[sig]);
    g_installed = true;
    return true;
}

void CrashHandler::uninstall()
{
    if (!g_installed)
        return;
    for (int sig : kSignals)
        ::sigaction(sig, &g_previous[sig], nullptr);
    g_installed = false;
    for (Context *c : g_retired)
        std::free(c);
    g_retired.clear();
}

bool CrashHandler::isInstalled()
{
    return g_installed;
}

void CrashHandler::setContext(const QByteArray &context)
{
    auto *fresh = static_cast<Context *>(std::malloc(sizeof(Context) + static_cast<size_t>(context.size())));
    if (!fresh)
        return;
    fresh->size = static_cast<size_t>(context.size());
    std::memcpy(fresh->bytes, context.constData(), fresh->size);
    // A handler running on another thread may still read the old text, so
    // it is freed only once the handlers are gone.
    if (Context *old = g_context.exchange(fresh, std::memory_order_acq_rel)) {
        if (g_installed)
            g_retired.push_back(old);
        else
            std::free(old);
    }
}
