#include "common/progressgate.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "common/appclosing.h"

namespace vemlo {

namespace {

ProgressGate* g_running = nullptr;  // the window's thread only
std::function<void()> g_afterCommand;  // the window's thread only
ProgressGate::Timing g_timing;
ProgressGate::WatcherWrap g_wrap;

// Between two looks the pass should take about this long: often enough for
// the window to see it move, rarely enough that looking costs nothing.
constexpr qint64 kLookNs = 2'000'000;
constexpr int kMaxStride = 1 << 16;

}  // namespace

ProgressGate::ProgressGate(const QString& doing)
    : timing_(g_timing),
      dialog_(doing, timing_.showAfterMs, timing_.updateEveryMs, [this] { return count(); }),
      outer_(g_running)
{
    g_running = this;
    sinceLook_.start();
    setStride(1);
}

ProgressGate::~ProgressGate()
{
    g_running = outer_;
    if (!outer_ && g_afterCommand)
        QTimer::singleShot(0, qApp, std::exchange(g_afterCommand, {}));
}

void ProgressGate::begin(int64_t total)
{
    total_ = total;
    std::lock_guard lock(mutex_);
    done_ = 0;
}

ProgressGate* ProgressGate::running() { return g_running; }
void ProgressGate::afterCommand(std::function<void()> then) { g_afterCommand = std::move(then); }

ProgressGate::Timing ProgressGate::setTiming(Timing t) { return std::exchange(g_timing, t); }

ProgressGate::WatcherWrap ProgressGate::setWatcherWrap(WatcherWrap wrap)
{
    return std::exchange(g_wrap, std::move(wrap));
}

std::unique_ptr<Progress> ProgressGate::wrappedWatcher()
{
    return g_wrap ? g_wrap(*this) : nullptr;
}

CommandDialog::Count ProgressGate::count()
{
    CommandDialog::Count c;
    c.total = total_;
    std::lock_guard lock(mutex_);
    c.done = done_;
    c.name = name_;
    return c;
}

bool ProgressGate::watch()
{
    if (appClosing())
        cancel_ = true;
    const bool shown = dialog_.turn();
    if (appClosing() || dialog_.canceled())
        cancel_ = true;
    return shown;
}

bool ProgressGate::look(int64_t done, std::string_view name)
{
    if (done >= 0) {
        std::lock_guard lock(mutex_);
        done_ = done;
        name_.assign(name);
    }
    // Keep the time between looks near kLookNs whatever an entry costs.
    const qint64 ns = sinceLook_.nsecsElapsed();
    sinceLook_.restart();
    if (ns < kLookNs / 2 && stride_ < kMaxStride)
        stride_ *= 2;
    else if (ns > kLookNs * 2 && stride_ > 1)
        stride_ = std::max(1, stride_ / 4);
    setStride(stride_);
    return !cancel_ && !appClosing();
}

}  // namespace vemlo
