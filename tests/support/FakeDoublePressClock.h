#pragma once

#include "app/DoublePressClock.h"

#include <QMap>
#include <functional>

// A clock that moves only when the test says so. Scheduled calls run when
// the clock is advanced past their time (or, to imitate a busy main thread,
// later, with runDue()).
class FakeDoublePressClock : public DoublePressClock
{
public:
    qint64 nowMs() const override { return now; }
    quint64 schedule(qint64 delayMs, std::function<void()> fn) override
    {
        const quint64 token = next++;
        calls.insert(token, {now + delayMs, std::move(fn)});
        return token;
    }
    void cancel(quint64 token) override { calls.remove(token); }

    // Moves the clock; with run, the calls that have come due run in time order.
    void advance(qint64 ms, bool run = true)
    {
        now += ms;
        if (run)
            runDue();
    }
    void runDue()
    {
        for (;;) {
            auto due = calls.end();
            for (auto it = calls.begin(); it != calls.end(); ++it)
                if (it->at <= now && (due == calls.end() || it->at < due->at))
                    due = it;
            if (due == calls.end())
                return;
            auto fn = std::move(due->fn);
            calls.erase(due);
            fn();
        }
    }
    int scheduled() const { return static_cast<int>(calls.size()); }

    struct Call
    {
        qint64 at;
        std::function<void()> fn;
    };
    qint64 now = 1000;
    quint64 next = 1;
    QMap<quint64, Call> calls;
};
