#include "lockstep.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QThread>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vemlo::test {

namespace {

// The pass's watcher: hands each look on to the gate, then waits for a turn
// of the window's thread. Made on the window's thread.
class Paced : public Progress {
public:
    explicit Paced(ProgressGate& gate)
        : gate_(gate), wakeFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        setStride(1);
        if (wakeFd_ < 0)
            return;
        woken_.emplace(wakeFd_, QSocketNotifier::Read);
        QObject::connect(&*woken_, &QSocketNotifier::activated, [this] { turn(); });
    }
    ~Paced() override
    {
        woken_.reset();
        if (wakeFd_ >= 0)
            ::close(wakeFd_);
    }
    void begin(int64_t total) override { gate_.begin(total); }

protected:
    bool look(int64_t done, std::string_view name) override
    {
        lookOf(gate_, done, name);
        // A pass that runs on the window's thread has no turns to wait for.
        if (wakeFd_ >= 0 && QThread::currentThread() != qApp->thread()) {
            std::unique_lock lock(mutex_);
            const unsigned turn = ++turnsWanted_;
            const uint64_t one = 1;
            (void)!::write(wakeFd_, &one, sizeof one);
            changed_.wait(lock, [&] { return turnsDone_ >= turn; });
        }
        return lookOf(gate_, -1, {});
    }

private:
    // On the window's thread: the look shown, the events let through once,
    // a 取消 or a close passed on.
    void turn()
    {
        uint64_t n = 0;
        (void)!::read(wakeFd_, &n, sizeof n);
        unsigned turns = 0;
        {
            std::lock_guard lock(mutex_);
            turns = turnsWanted_;
        }
        const bool shown = gate_.watch();
        QCoreApplication::processEvents(shown ? QEventLoop::AllEvents
                                              : QEventLoop::ExcludeUserInputEvents);
        gate_.watch();
        {
            std::lock_guard lock(mutex_);
            turnsDone_ = turns;
        }
        changed_.notify_all();
    }

    ProgressGate& gate_;
    const int wakeFd_;
    std::optional<QSocketNotifier> woken_;
    std::mutex mutex_;
    std::condition_variable changed_;
    unsigned turnsWanted_ = 0;  // under mutex_
    unsigned turnsDone_ = 0;
};

}  // namespace

Lockstep::Lockstep()
    : before_(ProgressGate::setWatcherWrap(
          [](ProgressGate& gate) { return std::make_unique<Paced>(gate); }))
{
}

Lockstep::~Lockstep() { ProgressGate::setWatcherWrap(std::move(before_)); }

}  // namespace vemlo::test
