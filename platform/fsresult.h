// Results of file-system calls: an errno value (0 for success) carried back to
// the caller, and the Chinese wording of the common reasons.
#pragma once

#include <dirent.h>
#include <memory>
#include <string>

namespace vemlo::fs {

struct Status {
    int err = 0;  // errno of the failed call, 0 when it succeeded
    bool ok() const { return err == 0; }
    explicit operator bool() const { return ok(); }
    static Status fromErrno();
};

// A short reason in Chinese for an errno value met while listing, moving,
// renaming, changing attributes or saving: 目标已存在, 权限不足, 文件系统为只读,
// ... or the system's own text for the rare rest.
std::string reasonText(int err);

// RAII for a plain file descriptor.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    FileDescriptor& operator=(FileDescriptor&& o) noexcept;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

// RAII for a folder listing handle.
struct DirCloser {
    void operator()(DIR* d) const { ::closedir(d); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace vemlo::fs
