#include "common/workerrun.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace vemlo {

void runOnWorkerVoid(const std::function<void()>& pass, const WorkerTurns& turns)
{
    // The worker wakes the window's thread through a descriptor its event
    // loop watches: a write, which hands over all the worker did before it.
    int wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const auto closeWake = qScopeGuard([&] {
        if (wakeFd >= 0)
            ::close(wakeFd);
    });
    std::optional<QSocketNotifier> woken;
    if (wakeFd >= 0) {
        woken.emplace(wakeFd, QSocketNotifier::Read);
        QObject::connect(&*woken, &QSocketNotifier::activated, [wakeFd] {
            uint64_t n = 0;
            (void)!::read(wakeFd, &n, sizeof n);
        });
    }
    std::mutex mutex;
    std::condition_variable ended;
    bool finished = false;  // under mutex
    std::exception_ptr failed;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                pass();
            } catch (...) {
                failed = std::current_exception();
            }
            {
                std::lock_guard lock(mutex);
                finished = true;
            }
            ended.notify_all();
            const uint64_t one = 1;
            if (wakeFd >= 0)
                (void)!::write(wakeFd, &one, sizeof one);
        });
    } catch (const std::system_error&) {
        // No thread to be had: the pass runs here and the window waits.
        pass();
        return;
    }
    {
        // Short work ends before the events are let through at all.
        std::unique_lock lock(mutex);
        ended.wait_for(lock, std::chrono::milliseconds(turns.firstWaitMs), [&] { return finished; });
    }
    QTimer ticks;  // wakes the wait below for the next turn
    ticks.start(std::max(1, turns.turnEveryMs));
    bool input = false;
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (finished)
                break;
        }
        // Until turn() lets it in, input waits for the pass's end.
        QCoreApplication::processEvents(
            (input ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents) |
            QEventLoop::WaitForMoreEvents);
        input = turns.turn();
    }
    worker.join();
    if (failed)
        std::rethrow_exception(failed);
}

}  // namespace vemlo
