// A pass run on a worker thread while the window's thread turns its event
// loop: the pass's value or the failure it throws comes back to the caller,
// and the worker wakes the window's thread once it has ended.
#pragma once

#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace vemlo {

// How the window's thread waits for the worker: the events wait for
// firstWaitMs (work this short never lets them through); then the events
// run, and turn() is called after each wake-up, at least every turnEveryMs.
// turn() returns whether user input may come through in the next wait.
struct WorkerTurns {
    int firstWaitMs = 0;
    int turnEveryMs = 0;
    std::function<bool()> turn;
};

void runOnWorkerVoid(const std::function<void()>& pass, const WorkerTurns& turns);

// Runs pass on a worker thread and returns what it returns (a failure it
// throws is thrown here). Where no thread can be made, the pass runs on this
// thread and the window waits.
template <class Pass>
auto runOnWorker(Pass&& pass, const WorkerTurns& turns) -> std::invoke_result_t<Pass&>
{
    using Result = std::invoke_result_t<Pass&>;
    if constexpr (std::is_void_v<Result>) {
        runOnWorkerVoid([&] { pass(); }, turns);
    } else {
        std::optional<Result> out;
        runOnWorkerVoid([&] { out.emplace(pass()); }, turns);
        return std::move(*out);
    }
}

}  // namespace vemlo
