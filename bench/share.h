// A network share made for the benchmarks: a private sshd on 127.0.0.1 (a
// free port, its own host and user keys in a scratch folder) and the folder
// it serves mounted through sshfs with every cache off, so that each call on
// the mount is a round trip.
#pragma once

#include <string>
#include <sys/types.h>

namespace vemlo::bench {

class Share {
public:
    Share() = default;
    ~Share();
    Share(const Share&) = delete;
    Share& operator=(const Share&) = delete;

    // Starts the server and mounts; empty on success, else why it could not.
    std::string mount(const std::string& scratch);
    // The mounted view of the served folder, and the served folder itself.
    const std::string& mounted() const { return mounted_; }
    const std::string& served() const { return served_; }

private:
    std::string scratch_, served_, mounted_;
    pid_t sshd_ = -1;
    bool isMounted_ = false;
};

}  // namespace vemlo::bench
