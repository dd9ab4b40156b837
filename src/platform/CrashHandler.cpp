#include "platform/CrashHandler.h"

#include <QFile>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <elf.h>
#include <execinfo.h>
#include <fcntl.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/uio.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr int kMaxFrames = 128;
constexpr size_t kAltStackSize = 256 * 1024;
constexpr int kMaxModules = 1024;
constexpr int kMaxProgramHeaders = 64;
constexpr size_t kMaxNoteBytes = 4096;

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
// The program's own file and program headers: the loader's list names the
// executable with an empty string and may not map its ELF header readably.
char g_exePath[4096];
const ElfW(Phdr) *g_exePhdr = nullptr;
int g_exePhnum = 0;

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

// Copies memory of this process without faulting on an unmapped address:
// the kernel reports EFAULT instead. Async-signal-safe (one system call).
bool safeRead(void *to, const void *from, size_t n)
{
    iovec local{to, n};
    iovec remote{const_cast<void *>(from), n};
    return ::process_vm_readv(::getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(n);
}

// The GNU build id in a module's notes, written as hex; false when it has none.
bool writeBuildId(Out &out, ElfW(Addr) bias, const ElfW(Phdr) *phdrs, int phnum)
{
    alignas(8) unsigned char notes[kMaxNoteBytes];
    for (int i = 0; i < phnum; ++i) {
        if (phdrs[i].p_type != PT_NOTE)
            continue;
        const size_t size = phdrs[i].p_memsz < sizeof notes ? phdrs[i].p_memsz : sizeof notes;
        if (!safeRead(notes, reinterpret_cast<const void *>(bias + phdrs[i].p_vaddr), size))
            continue;
        size_t at = 0;
        while (at + sizeof(ElfW(Nhdr)) <= size) {
            ElfW(Nhdr) note;
            std::memcpy(&note, notes + at, sizeof note);
            const size_t name = at + sizeof note;
            const size_t desc = name + ((note.n_namesz + 3u) & ~3u);
            const size_t next = desc + ((note.n_descsz + 3u) & ~3u);
            if (desc > size || desc + note.n_descsz > size || next <= at)
                break;
            if (note.n_type == NT_GNU_BUILD_ID && note.n_namesz == 4 && std::memcmp(notes + name, "GNU", 4) == 0
                && note.n_descsz > 0 && note.n_descsz <= 64) {
                char hex[128];
                for (size_t b = 0; b < note.n_descsz; ++b) {
                    hex[2 * b] = "0123456789abcdef"[notes[desc + b] >> 4];
                    hex[2 * b + 1] = "0123456789abcdef"[notes[desc + b] & 0xf];
                }
                out.raw(hex, 2 * note.n_descsz);
                return true;
            }
            at = next;
        }
    }
    return false;
}

// "module <start> <size> <build id or -> <path>": where one loaded file
// lies in memory, so the frames can be matched with its debug symbols.
void writeModule(Out &out, ElfW(Addr) bias, const ElfW(Phdr) *phdrs, int phnum, const char *path)
{
    ElfW(Addr) low = ~ElfW(Addr)(0), high = 0;
    for (int i = 0; i < phnum; ++i) {
        if (phdrs[i].p_type != PT_LOAD)
            continue;
        const ElfW(Addr) start = phdrs[i].p_vaddr & ~ElfW(Addr)(0xfff);
        low = start < low ? start : low;
        high = phdrs[i].p_vaddr + phdrs[i].p_memsz > high ? phdrs[i].p_vaddr + phdrs[i].p_memsz : high;
    }
    if (high <= low)
        return;
    out.str("module ");
    out.hex(bias + low);
    out.str(" ");
    out.hex(high - low);
    out.str(" ");
    if (!writeBuildId(out, bias, phdrs, phnum))
        out.str("-");
    out.str(" ");
    // One line per module whatever the path holds.
    char clean[4096];
    size_t n = 0;
    for (; n < sizeof clean && path[n]; ++n)
        clean[n] = (path[n] == '\n' || path[n] == '\r') ? '?' : path[n];
    out.raw(clean, n);
    out.str("\n");
}

// The loaded modules, from the loader's own list: no locks, no allocation.
// The list is walked only while the loader says it is consistent (a crash
// inside the loader writes no modules); each module's headers and notes are
// read only through safeRead, so a module mapped unusually cannot fault here.
void writeModules(Out &out)
{
    if (_r_debug.r_state != r_debug::RT_CONSISTENT)
        return;
    int count = 0;
    for (const link_map *m = _r_debug.r_map; m && count < kMaxModules; m = m->l_next, ++count) {
        const char *name = m->l_name;
        if (count == 0 || !name || !*name) {
            if (count == 0 && g_exePhdr && g_exePath[0]) {
                // The executable's bias: where its PT_PHDR says the headers
                // should be against where they are.
                ElfW(Addr) bias = m->l_addr;
                for (int i = 0; i < g_exePhnum; ++i)
                    if (g_exePhdr[i].p_type == PT_PHDR)
                        bias = reinterpret_cast<ElfW(Addr)>(g_exePhdr) - g_exePhdr[i].p_vaddr;
                writeModule(out, bias, g_exePhdr, g_exePhnum, g_exePath);
            }
            continue;
        }
        if (name[0] != '/')
            continue; // the kernel's vDSO has no file
        ElfW(Ehdr) header;
        if (!safeRead(&header, reinterpret_cast<const void *>(m->l_addr), sizeof header)
            || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_phentsize != sizeof(ElfW(Phdr)))
            continue;
        ElfW(Phdr) phdrs[kMaxProgramHeaders];
        const int phnum = header.e_phnum < kMaxProgramHeaders ? header.e_phnum : kMaxProgramHeaders;
        if (!safeRead(phdrs, reinterpret_cast<const void *>(m->l_addr + header.e_phoff), sizeof(ElfW(Phdr)) * phnum))
            continue;
        writeModule(out, m->l_addr, phdrs, phnum, name);
    }
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
    writeModules(out);
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

    // What the handler needs to describe the executable.
    const ssize_t exeLength = ::readlink("/proc/self/exe", g_exePath, sizeof g_exePath - 1);
    g_exePath[exeLength > 0 ? exeLength : 0] = '\0';
    g_exePhdr = reinterpret_cast<const ElfW(Phdr) *>(::getauxval(AT_PHDR));
    g_exePhnum = static_cast<int>(::getauxval(AT_PHNUM));
    if (g_exePhnum > kMaxProgramHeaders)
        g_exePhnum = kMaxProgramHeaders;

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
