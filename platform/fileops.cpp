#include "platform/fileops.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <stdio.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/dosattrib.h"
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

// The last way, where the file system has neither (exFAT through exfat-fuse,
// many cloud drives): look, then rename, as mv -n does. The look is a
// renameat2 with RENAME_NOREPLACE, which such a file system refuses (EINVAL)
// only after the kernel has looked the target name up afresh and found it
// free (a rename's target is never taken from the kernel's cache of names,
// not even on FUSE or NFS, whose cached answers may be stale); it fails with
// EEXIST when the name is taken. The window that remains: an entry that
// another program (or another client of the share) makes at the name
// between the look and the rename, microseconds on a local disk, one round
// trip on a share, is replaced by the plain rename.
Status moveAfterLook(int fromDir, const char* from, int toDir, const char* to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return {};
    if (errno == ENOSYS) {  // no renameat2 at all: a plain look
        struct stat st;
        if (::fstatat(toDir, to, &st, AT_SYMLINK_NOFOLLOW) == 0)
            return Status{EEXIST};
        if (errno != ENOENT)
            return Status::fromErrno();
    } else if (errno != EINVAL) {
        return Status::fromErrno();
    }
    return ::renameat(fromDir, from, toDir, to) == 0 ? Status{} : Status::fromErrno();
}

// What a file system without hard links answers a link.
bool linksRefused(int err) { return err == EPERM || err == EOPNOTSUPP || err == ENOSYS; }

// moveNoReplaceFallback; noLinks: the file system was found to refuse hard
// links (read and set).
Status fallback(int fromDir, const char* from, int toDir, const char* to, EntryKind kind,
                bool* noLinks)
{
    // A kind told by the caller is tried without a look; where the entry has
    // since become the other kind, the call refuses it (a hard link to a
    // folder: EPERM; a file renamed onto the placeholder: EISDIR) and the
    // look decides after all.
    int linkErr = 0;  // what a link tried already answered
    if (kind == EntryKind::File && *noLinks)
        return moveAfterLook(fromDir, from, toDir, to);
    if (kind == EntryKind::File) {
        const Status moved = moveByLink(fromDir, from, toDir, to);
        if (!linksRefused(moved.err))
            return moved;
        linkErr = moved.err;
    } else if (kind == EntryKind::Folder) {
        const Status moved = moveByPlaceholder(fromDir, from, toDir, to);
        if (moved.err != EISDIR)
            return moved;
    }
    struct stat st;
    if (::fstatat(fromDir, from, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Status::fromErrno();
    if (S_ISDIR(st.st_mode))
        return moveByPlaceholder(fromDir, from, toDir, to);
    if (!*noLinks && linkErr == 0) {
        const Status moved = moveByLink(fromDir, from, toDir, to);
        if (!linksRefused(moved.err))
            return moved;
    }
    *noLinks = true;
    return moveAfterLook(fromDir, from, toDir, to);
}

// Whether a file system numbers each spelling of a name on its own: FUSE
// file systems served through libfuse's path interface (exfat-fuse, gvfs)
// give "Photo" and "photo" two inode numbers, as may the network clients.
bool numbersBySpelling(int dir, const char* name)
{
    const FileDescriptor entry(::openat(dir, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct statfs fs;
    if (!entry.valid() || ::fstatfs(entry.get(), &fs) != 0)
        return false;
    switch (long(fs.f_type)) {
    case fstype::kFuse:
    case fstype::kCifs:
    case fstype::kSmb2:
    case fstype::kSmb:
    case fstype::kNfs:
        return true;
    default:
        return false;
    }
}

// Whether the entry at to may be the entry at from under another spelling
// of its name.
bool maySpellSameEntry(int fromDir, const char* from, int toDir, const char* to)
{
    struct stat a, b;
    if (::fstatat(fromDir, from, &a, AT_SYMLINK_NOFOLLOW) != 0 ||
        ::fstatat(toDir, to, &b, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (a.st_dev != b.st_dev || (a.st_mode & S_IFMT) != (b.st_mode & S_IFMT))
        return false;
    if (a.st_ino == b.st_ino)
        return true;  // also two hard links: the respelling then finds the name taken
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && numbersBySpelling(fromDir, from);
}

}  // namespace

Status moveNoReplaceFallback(int fromDir, const char* from, int toDir, const char* to,
                             EntryKind kind)
{
    bool noLinks = false;
    return fallback(fromDir, from, toDir, to, kind, &noLinks);
}

Status NoReplaceMoves::move(int fromDir, const char* from, int toDir, const char* to,
                            EntryKind kind)
{
    const Status moved = moveOnce(fromDir, from, toDir, to, kind);
    // The same name (the entry has it already, or another folder holds it)
    // is not spelled otherwise.
    if (moved.err != EEXIST || lastPart(from) == lastPart(to) ||
        !maySpellSameEntry(fromDir, from, toDir, to))
        return moved;
    return respell(fromDir, from, toDir, to, kind);
}

Status NoReplaceMoves::moveOnce(int fromDir, const char* from, int toDir, const char* to,
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
    const Status moved = fallback(fromDir, from, toDir, to, kind, &linksRefused_);
    if (moved)
        flagRefused_ = true;
    return moved;
}

// The target name is taken (EEXIST) on a file system that compares names
// without case (FAT, exFAT, SMB shares, NTFS mounted for Windows names), where
// "photo 1.jpg" is the entry "Photo 1.jpg" itself. The entry goes to a free
// hidden name beside it and from there to the target, each step without
// replacing: the second step can only succeed where the target name was held
// by the entry itself, so that no identity needs to be trusted; otherwise the
// entry comes back to its name and the move fails with EEXIST, as before. (A
// plain rename between two spellings of one name does nothing on FAT.) Only a
// race that takes the entry's old name while it is away keeps it under the
// hidden name, and the move fails with what that return met.
Status NoReplaceMoves::respell(int fromDir, const char* from, int toDir, const char* to,
                               EntryKind kind)
{
    // The hidden name lies in the entry's own folder.
    std::string aside(from);
    aside.resize(aside.rfind('/') == std::string::npos ? 0 : aside.rfind('/') + 1);
    const size_t stem = aside.size();
    static std::atomic<unsigned> counter{0};
    Status away{EEXIST};
    for (int tries = 0; tries < 8 && away.err == EEXIST; ++tries) {
        aside.resize(stem);
        aside += ".vemlo-rename-" + std::to_string(::getpid()) + '-' + std::to_string(counter++);
        away = moveOnce(fromDir, from, fromDir, aside.c_str(), kind);
    }
    if (!away)
        return Status{EEXIST};  // the name is taken all the same; the entry stays
    const Status moved = moveOnce(fromDir, aside.c_str(), toDir, to, kind);
    if (moved)
        return moved;
    const Status back = moveOnce(fromDir, aside.c_str(), fromDir, from, kind);
    return back ? moved : back;
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
