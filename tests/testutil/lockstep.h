// Every command's pass in step with the window, while a Lockstep lives:
// each step of the pass is looked at, and the pass waits at each look until
// the window's thread has shown it and let the events through once, so that
// what the window does between two entries does not hang on the speed of
// the machine.
#pragma once

#include "common/progressgate.h"

namespace vemlo::test {

class Lockstep {
public:
    Lockstep();
    ~Lockstep();
    Lockstep(const Lockstep&) = delete;
    Lockstep& operator=(const Lockstep&) = delete;

private:
    ProgressGate::WatcherWrap before_;
};

}  // namespace vemlo::test
