#include "platform/UiActivity.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <dlfcn.h>

namespace {

std::atomic<bool> g_watching{false};
std::atomic<bool> g_busy{false};

// GLib's main loop, which Qt's event loop runs on where GLib is there, tells
// nothing of its waits; its poll function does the waiting. GLib is already
// in the process then: its functions are looked up, not linked.
struct GPollFD;
using GPollFunc = int (*)(GPollFD *fds, unsigned nfds, int timeout);
GPollFunc g_poll = nullptr;

int pollWatched(GPollFD *fds, unsigned nfds, int timeout)
{
    if (timeout == 0) // a look, not a wait
        return g_poll(fds, nfds, 0);
    g_busy.store(false, std::memory_order_relaxed);
    const int ready = g_poll(fds, nfds, timeout);
    g_busy.store(true, std::memory_order_relaxed);
    return ready;
}

bool watchGlibWaits()
{
    using DefaultContext = void *(*)();
    using GetPoll = GPollFunc (*)(void *);
    using SetPoll = void (*)(void *, GPollFunc);
    const auto defaultContext = reinterpret_cast<DefaultContext>(dlsym(RTLD_DEFAULT, "g_main_context_default"));
    const auto getPoll = reinterpret_cast<GetPoll>(dlsym(RTLD_DEFAULT, "g_main_context_get_poll_func"));
    const auto setPoll = reinterpret_cast<SetPoll>(dlsym(RTLD_DEFAULT, "g_main_context_set_poll_func"));
    if (!defaultContext || !getPoll || !setPoll)
        return false;
    void *context = defaultContext();
    g_poll = getPoll(context);
    if (!g_poll)
        return false;
    setPoll(context, pollWatched);
    return true;
}

} // namespace

void UiActivity::watch()
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    const QCoreApplication *app = QCoreApplication::instance();
    if (!dispatcher || !app || g_watching.exchange(true))
        return;
    g_busy = true;
    // The main thread's GLib loop runs on the default context.
    const bool glib = dispatcher->inherits("QEventDispatcherGlib")
        && QThread::currentThread() == app->thread() && watchGlibWaits();
    if (!glib) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, dispatcher,
                         [] { g_busy.store(false, std::memory_order_relaxed); }, Qt::DirectConnection);
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, dispatcher,
                         [] { g_busy.store(true, std::memory_order_relaxed); }, Qt::DirectConnection);
    }
}

bool UiActivity::busy()
{
    return g_busy.load(std::memory_order_relaxed);
}
