// The window side of long work: a command hands its pass to a ProgressGate,
// which runs it on a worker thread with itself as the pass's watcher. The
// window's thread meanwhile keeps the windows painted, shows a dialog with
// the count, the entry in hand and "取消" once the command has taken a
// moment, and stops the pass when the user asks or the main window closes.
// While the dialog shows, no input reaches the other windows; a close
// request from the window system still does (see InputBlocker).
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>

#include "platform/progress.h"

class QProgressDialog;
class QWidget;

namespace vemlo {

class InputBlocker;

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
        using Result = std::invoke_result_t<Pass&>;
        if constexpr (std::is_void_v<Result>) {
            runOnWorker([&] { pass(); });
        } else {
            std::optional<Result> out;
            runOnWorker([&] { out.emplace(pass()); });
            return std::move(*out);
        }
    }

    void begin(int64_t total) override;
    // True once the dialog has been shown for this command.
    bool dialogShown() const { return shown_; }

    // The gate of the command that runs now, or nullptr.
    static ProgressGate* running();
    // The main window is closing: the running pass stops and every pass
    // started from now on stops at its first look; boxes are no longer shown.
    // then, when given, runs from the event loop once the command that runs
    // now has unwound: ending the run inside the command would close and
    // delete a window that the command still uses.
    static void closeDown(std::function<void()> then = {});
    static bool closingDown();

    // How long a command runs before the events are first let through and
    // before the dialog shows, how often the window's thread looks at the
    // pass and how often the dialog's texts change, in milliseconds.
    // lockstep (for tests): every step of the pass is looked at, and the
    // pass waits at each look until the window's thread has shown it and
    // let the events through once, so that what the window does between two
    // entries does not hang on the speed of the machine.
    struct Timing {
        int firstLookMs = 50;  // work this short keeps the events waiting
        int showAfterMs = 300;
        int lookEveryMs = 25;
        int updateEveryMs = 100;
        bool lockstep = false;
    };
    static Timing setTiming(Timing t);  // returns the earlier timing
    // Undoes closeDown, for tests that go on after a close.
    static void resetClosingDown();

protected:
    // Called on the worker: publishes the count and the name for the window.
    bool look(int64_t done, std::string_view name) override;

private:
    friend class InputBlocker;
    void runOnWorker(const std::function<void()>& pass);
    void wakeWindowThread();
    // One turn of the window's thread: the dialog shown or updated, a 取消
    // or a close passed on to the pass.
    void watch();
    void showDialog();
    void updateDialog();

    QString doing_;
    QString note_;  // a last line for the dialog: why a close was refused
    const Timing timing_;
    std::atomic<int64_t> total_ = 0;
    std::atomic<bool> cancel_ = false;  // set by the window's thread, read by the pass
    int wakeFd_ = -1;  // the worker writes to it to wake the window's thread

    // Shared with the worker, under mutex_.
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t done_ = 0;
    std::string name_;    // the entry last named
    bool finished_ = false;
    unsigned turnsWanted_ = 0;  // lockstep: looks waiting for a turn of the window
    unsigned turnsDone_ = 0;

    QElapsedTimer started_;
    QElapsedTimer sinceLook_;    // worker: since its last look, tunes the stride
    QElapsedTimer sinceUpdate_;  // since the dialog's texts were last set
    int stride_ = 1;
    QPointer<QProgressDialog> dialog_;
    std::unique_ptr<InputBlocker> blocker_;  // while the dialog shows
    bool shown_ = false;
    bool cursorSet_ = false;
    ProgressGate* outer_ = nullptr;
};

// Marks window, while it lives, as the window whose command runs: a window
// deleted on close keeps what its command uses, so the window system's close
// request to it is refused until the command has ended, and the dialog says
// why. Windows that run no command may close meanwhile.
class CommandOwner {
public:
    explicit CommandOwner(QWidget* window);
    ~CommandOwner();
    CommandOwner(const CommandOwner&) = delete;
    CommandOwner& operator=(const CommandOwner&) = delete;

private:
    QPointer<QWidget> window_;
};

// "12,345": a count with its thousands grouped.
QString groupedCount(int64_t n);

}  // namespace vemlo
