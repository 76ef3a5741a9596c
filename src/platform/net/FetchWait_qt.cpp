// The calling thread's wait on Qt: a nested event loop that the worker's wakes and a deadline
// timer end; without an application object (no event loop) a plain condition variable.
#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "platform/net/FetchWait.h"

namespace {
// The loop's own results; anything else ended it from outside (the application quitting).
constexpr int kWoken = 0x5741;
constexpr int kDeadline = 0x5742;
}  // namespace

struct CFetchWait::Impl {
    std::optional<QEventLoop> loop;
    std::optional<QTimer> deadlineTimer;
    std::atomic<bool> bWoken{false};
    std::atomic<bool> bPosted{false};  // a wake is on its way through the event queue
    std::mutex mutex;
    std::condition_variable cv;

    EWoke WaitWithoutLoop(std::optional<std::chrono::steady_clock::time_point> deadline) {
        std::unique_lock lock(mutex);
        const auto woken = [this] { return bWoken.load(); };
        if (deadline) {
            cv.wait_until(lock, *deadline, woken);
        } else {
            cv.wait(lock, woken);
        }
        return bWoken.exchange(false) ? EWoke::Woken : EWoke::Deadline;
    }
};

CFetchWait::CFetchWait() : m_impl(std::make_unique<Impl>()) {
    if (!QCoreApplication::instance()) return;
    Impl& w = *m_impl;
    w.loop.emplace();
    w.deadlineTimer.emplace();
    w.deadlineTimer->setSingleShot(true);
    w.deadlineTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(&*w.deadlineTimer, &QTimer::timeout, &*w.loop,
                     [&w] { w.loop->exit(kDeadline); });
}

CFetchWait::~CFetchWait() = default;

CFetchWait::EWoke CFetchWait::Wait(std::optional<std::chrono::steady_clock::time_point> deadline) {
    Impl& w = *m_impl;
    if (!w.loop) return w.WaitWithoutLoop(deadline);
    // A wake that arrived while the loop did not run (its event ran in another loop) counts.
    if (w.bWoken.exchange(false)) return EWoke::Woken;
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            *deadline - std::chrono::steady_clock::now());
        w.deadlineTimer->start(
            std::max<std::chrono::milliseconds>(left, std::chrono::milliseconds(0)));
    }
    const int result = w.loop->exec();
    w.deadlineTimer->stop();
    if (result == kWoken) w.bWoken = false;
    return result == kWoken ? EWoke::Woken : result == kDeadline ? EWoke::Deadline : EWoke::Quit;
}

void CFetchWait::Wake() {
    Impl& w = *m_impl;
    if (!w.loop) {
        {
            std::lock_guard lock(w.mutex);
            w.bWoken = true;
        }
        w.cv.notify_all();
        return;
    }
    w.bWoken = true;
    // One event in the queue at a time, however often the worker wakes.
    if (w.bPosted.exchange(true)) return;
    QMetaObject::invokeMethod(
        &*w.loop,
        [&w] {
            w.bPosted = false;
            w.loop->exit(kWoken);
        },
        Qt::QueuedConnection);
}

void CFetchWait::ShowBySystem(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}
