#include "platform/fileops.h"

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vemlo::fs {

Status moveNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return {};
    if (errno != EINVAL && errno != ENOSYS)
        return Status::fromErrno();

    // The file system refuses the flag. A hard link cannot replace anything,
    // so link then unlink moves a file safely; a folder is refused instead of
    // risking a replacing rename.
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0)
        return Status::fromErrno();
    if (S_ISDIR(st.st_mode))
        return Status{ENOTSUP};
    if (::link(from.c_str(), to.c_str()) != 0)
        return Status::fromErrno();
    if (::unlink(from.c_str()) != 0) {
        Status st2 = Status::fromErrno();
        ::unlink(to.c_str());
        return st2;
    }
    return {};
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

Status makeDirs(const std::string& path)
{
    if (path.empty())
        return Status{ENOENT};
    if (isDirectory(path))
        return {};
    // Create each missing folder from the top down.
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        std::string part = path.substr(0, pos);
        if (part.empty() || part.back() == '/')
            continue;
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
            return Status::fromErrno();
    }
    return isDirectory(path) ? Status{} : Status{ENOTDIR};
}

}  // namespace vemlo::fs
