// The window side of long work: a command hands its pass to a ProgressGate,
// which runs it on a worker thread (runOnWorker) with itself as the pass's
// watcher. The window's thread meanwhile keeps the windows painted, shows
// the command's dialog once the command has taken a moment (CommandDialog),
// and stops the pass when the user asks or the application closes
// (appClosing).
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/commanddialog.h"
#include "common/inputblocker.h"
#include "common/workerrun.h"
#include "platform/progress.h"

namespace vemlo {

class ProgressGate : public Progress {
public:
    // doing names the work in the dialog, e.g. "正在整理…".
    explicit ProgressGate(const QString& doing);
    ~ProgressGate() override;
    ProgressGate(const ProgressGate&) = delete;
    ProgressGate& operator=(const ProgressGate&) = delete;

    // Runs pass on a worker thread and returns what it returns (a failure it
    // throws is thrown here). The pass may touch only what the caller handed
    // it (its own data, snapshots of the table) and the file system, and
    // must take this gate as its watcher; widgets and the table model stay
    // with the window's thread, which waits here. Where no thread can be
    // made, the pass runs on this thread, unwatched by the window.
    template <class Pass>
    auto run(Pass&& pass) -> std::invoke_result_t<Pass&>
    {
        return runOnWorker(std::forward<Pass>(pass),
                           {timing_.firstLookMs, timing_.lookEveryMs, [this] { return watch(); }});
    }

    void begin(int64_t total) override;
    // True once the dialog has been shown for this command.
    bool dialogShown() const { return dialog_.shown(); }
    // One turn of the window's thread: the dialog shown or updated, a 取消
    // or the application's close passed on to the pass. True while the
    // dialog shows (input may then come through). The gate's own wait calls
    // it after each wake-up; whoever turns the event loop meanwhile may too.
    bool watch();

    // The gate of the command that runs now, or nullptr.
    static ProgressGate* running();
    // then runs from the event loop once the command that runs now has
    // unwound: ending the run inside the command would close and delete a
    // window that the command still uses.
    static void afterCommand(std::function<void()> then);

    // How long a command runs before the events are first let through and
    // before the dialog shows, how often the window's thread looks at the
    // pass and how often the dialog's texts change, in milliseconds.
    struct Timing {
        int firstLookMs = 50;  // work this short keeps the events waiting
        int showAfterMs = 300;
        int lookEveryMs = 25;
        int updateEveryMs = 100;
    };
    static Timing setTiming(Timing t);  // returns the earlier timing

    // The watcher that runCommand hands a command's pass: the gate itself,
    // or what the wrap set here makes of it (tests pace the pass with it).
    using WatcherWrap = std::function<std::unique_ptr<Progress>(ProgressGate& gate)>;
    static WatcherWrap setWatcherWrap(WatcherWrap wrap);  // returns the earlier wrap
    std::unique_ptr<Progress> wrappedWatcher();

protected:
    // Called on the worker: publishes the count and the name for the window.
    bool look(int64_t done, std::string_view name) override;

private:
    CommandDialog::Count count();

    const Timing timing_;
    std::atomic<int64_t> total_ = 0;
    std::atomic<bool> cancel_ = false;  // set by the window's thread, read by the pass

    // Shared with the worker, under mutex_.
    std::mutex mutex_;
    int64_t done_ = 0;
    std::string name_;  // the entry last named

    QElapsedTimer sinceLook_;  // worker: since its last look, tunes the stride
    int stride_ = 1;
    CommandDialog dialog_;
    ProgressGate* outer_ = nullptr;
};

}  // namespace vemlo
