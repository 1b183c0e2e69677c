// A pass run on a worker thread while the window's thread turns its event
// loop: the pass's value or the failure it throws comes back to the caller,
// and the worker wakes the window's thread once it has ended.
#pragma once

#include <QEventLoop>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace vemlo {

class WorkerRun {
public:
    // How the window's thread waits: the events wait for firstWaitMs (work
    // this short never lets them through); then the events run, and turn()
    // is called after each wake-up, at least every turnEveryMs. turn()
    // returns whether user input may come through in the next wait.
    struct Turns {
        int firstWaitMs = 0;
        int turnEveryMs = 0;
        std::function<bool()> turn;
    };

    // Runs pass on a worker thread and returns what it returns (a failure it
    // throws is thrown here). Where no thread can be made, the pass runs on
    // this thread and the window waits.
    template <class Pass>
    static auto run(Pass&& pass, const Turns& turns) -> std::invoke_result_t<Pass&>
    {
        using Result = std::invoke_result_t<Pass&>;
        if constexpr (std::is_void_v<Result>) {
            runVoid([&] { pass(); }, turns);
        } else {
            std::optional<Result> out;
            runVoid([&] { out.emplace(pass()); }, turns);
            return std::move(*out);
        }
    }

private:
    static void runVoid(const std::function<void()>& pass, const Turns& turns);
};

}  // namespace vemlo
