#include "platform/fileops.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/paths.h"

#ifndef SYS_openat2
#define SYS_openat2 437  // the same number on every architecture
#endif

namespace vemlo::fs {

Status moveNoReplace(const std::string& from, const std::string& to)
{
    return moveNoReplaceAt(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str());
}

Status moveNoReplaceAt(int fromDir, const char* from, int toDir, const char* to)
{
    return NoReplaceMoves().move(fromDir, from, toDir, to);
}

Status NoReplaceMoves::move(int fromDir, const char* from, int toDir, const char* to,
                            EntryKind kind)
{
    if (!flagRefused_) {
        if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
            return {};
        if (errno != EINVAL && errno != ENOSYS)
            return Status::fromErrno();
    }
    // The file system may refuse the flag (EINVAL). A genuine EINVAL, such as
    // a folder moved into itself, fails the same way below; a move that
    // succeeds there shows that the flag was what the file system refused.
    const Status moved = moveNoReplaceFallback(fromDir, from, toDir, to, kind);
    if (moved)
        flagRefused_ = true;
    return moved;
}

namespace {

// A file (or link) moved through a hard link: never made over an existing
// name, and the old name goes only once the new one holds the file. A link
// is linked as a link.
Status moveByLink(int fromDir, const char* from, int toDir, const char* to)
{
    if (::linkat(fromDir, from, toDir, to, 0) != 0)
        return Status::fromErrno();
    if (::unlinkat(fromDir, from, 0) != 0) {
        const Status failed = Status::fromErrno();
        ::unlinkat(toDir, to, 0);
        return failed;
    }
    return {};
}

// A folder: mkdir claims the name (EEXIST when anything, a link too, is
// there), and a plain rename may then replace only that empty folder.
// What a race can still do between the two calls: another process puts
// entries into the placeholder (the rename then fails with ENOTEMPTY and
// the rmdir below leaves the placeholder with what it holds), puts a file
// or link in its place (the rename fails with ENOTDIR), or swaps in an
// empty folder of its own (replaced, but an empty folder holds nothing).
// The source folder either moves whole or stays: nothing is lost.
Status moveByPlaceholder(int fromDir, const char* from, int toDir, const char* to)
{
    if (::mkdirat(toDir, to, 0700) != 0)
        return Status::fromErrno();
    if (::renameat(fromDir, from, toDir, to) == 0)
        return {};
    const Status failed = Status::fromErrno();
    ::unlinkat(toDir, to, AT_REMOVEDIR);  // removes the placeholder only while empty
    return failed;
}

}  // namespace

Status moveNoReplaceFallback(int fromDir, const char* from, int toDir, const char* to,
                             EntryKind kind)
{
    // A kind told by the caller is tried without a look; where the entry has
    // since become the other kind, the call refuses it (a hard link to a
    // folder: EPERM; a file renamed onto the placeholder: EISDIR) and the
    // look decides after all.
    if (kind == EntryKind::File) {
        const Status moved = moveByLink(fromDir, from, toDir, to);
        if (moved.err != EPERM)
            return moved;
    } else if (kind == EntryKind::Folder) {
        const Status moved = moveByPlaceholder(fromDir, from, toDir, to);
        if (moved.err != EISDIR)
            return moved;
    }
    struct stat st;
    if (::fstatat(fromDir, from, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Status::fromErrno();
    return S_ISDIR(st.st_mode) ? moveByPlaceholder(fromDir, from, toDir, to)
                               : moveByLink(fromDir, from, toDir, to);
}

OpenedFolder openFolder(const std::string& path)
{
    OpenedFolder out;
    out.fd = FileDescriptor(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!out.fd.valid())
        out.status = Status::fromErrno();
    return out;
}

OpenedFolder makeFolderBeneath(int base, std::string_view rel)
{
    OpenedFolder out;
    // The usual case, an existing real folder, in one call.
    static std::atomic<bool> hasOpenat2{true};
    if (hasOpenat2) {
        struct open_how how = {};
        how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
        const std::string path(rel);
        const int fd = int(::syscall(SYS_openat2, base, path.c_str(), &how, sizeof how));
        if (fd >= 0) {
            out.fd = FileDescriptor(fd);
            return out;
        }
        if (errno == ENOSYS)
            hasOpenat2 = false;
        // Otherwise a part is missing, is a link or is no folder: the walk
        // below creates what is missing and tells what is wrong.
    }

    auto fail = [&](int err, size_t end) {
        out.failedPart = rel.substr(0, end);
        out.status = Status{err};
        return std::move(out);
    };
    if (!rel.empty() && rel.front() == '/')
        return fail(EINVAL, 1);

    constexpr int kFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    FileDescriptor held;
    int current = base;
    std::string name;
    for (size_t pos = 0; pos < rel.size();) {
        size_t end = rel.find('/', pos);
        if (end == std::string_view::npos)
            end = rel.size();
        name.assign(rel.substr(pos, end - pos));
        pos = end + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..")
            return fail(EINVAL, end);
        int fd = ::openat(current, name.c_str(), kFlags);
        if (fd < 0 && errno == ENOENT) {
            if (::mkdirat(current, name.c_str(), 0777) != 0 && errno != EEXIST)
                return fail(errno, end);
            fd = ::openat(current, name.c_str(), kFlags);
        }
        if (fd < 0) {
            int err = errno;
            struct stat st;
            if ((err == ELOOP || err == ENOTDIR) &&
                ::fstatat(current, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                err = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
            return fail(err, end);
        }
        held = FileDescriptor(fd);
        current = fd;
    }
    if (!held.valid()) {  // rel names base itself
        const int fd = ::openat(base, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return fail(errno, 0);
        held = FileDescriptor(fd);
    }
    out.fd = std::move(held);
    return out;
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

bool sameEntry(const std::string& from, const std::string& to)
{
    if (from == to)
        return true;
    if (lastPart(from) != lastPart(to))
        return false;
    struct stat a, b, pa, pb;
    return ::lstat(from.c_str(), &a) == 0 && ::lstat(to.c_str(), &b) == 0 && sameObject(a, b) &&
           ::stat(parentOf(from).c_str(), &pa) == 0 && ::stat(parentOf(to).c_str(), &pb) == 0 &&
           sameObject(pa, pb);
}

bool insideFolder(const std::string& inner, const std::string& outer)
{
    struct stat folder;
    if (::lstat(outer.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
        return false;
    // The nearest part of inner that exists, then up through its parents.
    std::string p = inner;
    struct stat st;
    while (::stat(p.c_str(), &st) != 0) {
        const size_t slash = p.find_last_of('/');
        if (slash == std::string::npos || slash == 0)
            return false;
        p.resize(slash);
    }
    for (int depth = 0; depth < 4096; ++depth) {
        if (sameObject(st, folder))
            return true;
        p += "/..";
        struct stat parent;
        if (::stat(p.c_str(), &parent) != 0 || sameObject(parent, st))
            return false;  // reached the root
        st = parent;
    }
    return false;
}

bool isRealFolder(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Status currentDirectory(std::string& out)
{
    const CString cwd(::getcwd(nullptr, 0));
    if (!cwd)
        return Status{errno ? errno : ENOENT};
    out = cwd.get();
    return {};
}

Status folderToOpen(const std::string& given, std::string& folder)
{
    if (given.empty())
        return Status{ENOENT};
    std::string path;
    if (given.front() != '/') {
        const CString cwd(::get_current_dir_name());
        if (!cwd)
            return Status{errno ? errno : ENOENT};
        path = cwd.get();
    }
    path = joinPath(path, given);
    std::string out;  // "" for the root
    PathComponents parts(path);
    for (std::string_view part = parts.next(); !part.empty(); part = parts.next()) {
        struct stat st;
        if (part == ".." && lastPart(out) != ".." &&
            (out.empty() || (::lstat(out.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)))) {
            out.resize(out.empty() ? 0 : out.rfind('/'));
            continue;
        }
        out += '/';
        out += part;
    }
    if (out.empty())
        out = "/";
    struct stat st;
    if (::stat(out.c_str(), &st) != 0)
        return Status::fromErrno();
    folder = S_ISDIR(st.st_mode) ? out : parentOf(out);
    return {};
}

Status changeDirectory(const std::string& path)
{
    return ::chdir(path.c_str()) == 0 ? Status{} : Status::fromErrno();
}

FileDescriptor holdCurrentDirectory()
{
    return FileDescriptor(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

Status returnTo(const FileDescriptor& folder)
{
    if (!folder.valid())
        return Status{EBADF};
    return ::fchdir(folder.get()) == 0 ? Status{} : Status::fromErrno();
}

}  // namespace vemlo::fs
