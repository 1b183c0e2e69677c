// The result of a file-system call: the errno value of the failure, 0 for
// success. What it means in words is for the windows to say.
#pragma once

namespace vemlo::fs {

struct Status {
    int err = 0;  // errno of the failed call, 0 when it succeeded
    bool ok() const { return err == 0; }
    explicit operator bool() const { return ok(); }
    // The errno of the call that just failed (EIO should it be 0).
    static Status fromErrno();
};

}  // namespace vemlo::fs
