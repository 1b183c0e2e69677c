// How a handler runs a command: one call that shows the busy cursor, hands
// the pass to a ProgressGate and comes back with what the pass returned and
// whether the user stopped it.
#pragma once

#include <QString>

#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "common/messages.h"
#include "common/progressgate.h"

namespace vemlo {

// What a command's pass returned (std::monostate for a pass that returns
// nothing), and whether it was stopped (取消, or the main window closing).
template <class T>
struct Ran {
    T value;
    bool stopped = false;
};

// Nothing to do on the window's thread after the pass.
struct NoApply {
    template <class T>
    void operator()(T&, bool) const
    {
    }
};

// Runs pass(Progress*) as a command: the busy cursor shows, and a
// ProgressGate, whose dialog says doing ("正在整理…"), runs the pass on its
// worker with itself as the pass's watcher (see ProgressGate::run for what
// the pass may touch). Then apply(value, stopped) runs on the window's
// thread while the busy cursor still shows: the place to put the results
// into the table or the widgets. A failure the pass throws is thrown here.
// apply runs while the command is still running: a dialog that has shown
// still shows, and the InputBlocker still drops input to every other window,
// so apply puts results in place and asks the user nothing; boxes belong
// after runCommand returns. A close of the main window during apply ends
// the run only once runCommand has returned.
template <class Pass, class Apply = NoApply>
auto runCommand(const QString& doing, Pass&& pass, Apply&& apply = {})
{
    using Result = std::invoke_result_t<Pass&, Progress*>;
    using Value = std::conditional_t<std::is_void_v<Result>, std::monostate, Result>;
    BusyCursor busy;
    ProgressGate gate(doing);
    const std::unique_ptr<Progress> wrapped = gate.wrappedWatcher();
    Progress* const progress = wrapped ? wrapped.get() : &gate;
    Ran<Value> ran{gate.run([&]() -> Value {
        if constexpr (std::is_void_v<Result>) {
            pass(progress);
            return {};
        } else {
            return pass(progress);
        }
    })};
    ran.stopped = progress->stopped();
    apply(ran.value, ran.stopped);
    return ran;
}

}  // namespace vemlo
