#include "platform/handles.h"

#include <cerrno>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vemlo::fs {

Status Status::fromErrno() { return Status{errno ? errno : EIO}; }

FileDescriptor::~FileDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& o) noexcept
{
    if (this != &o) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

FileMapping::~FileMapping()
{
    if (data_)
        ::munmap(data_, size_);
}

Status FileMapping::map(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return Status::fromErrno();
    if (st.st_size == 0)
        return {};
    void* p = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED)
        return Status::fromErrno();
    if (data_)
        ::munmap(data_, size_);
    data_ = p;
    size_ = size_t(st.st_size);
    return {};
}

}  // namespace vemlo::fs
