#include "platform/attrib.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>


namespace vemlo::fs {

namespace {

constexpr uint32_t kStoredBits = AttrHidden | AttrSystem | AttrArchive;

#ifndef SYS_fchmodat2
#define SYS_fchmodat2 452  // the same number on every architecture
#endif

// chmod that acts on the entry itself, never on what a link points to. The
// kernel's fchmodat2 does it in one call; without it, the C library's way
// through /proc.
Status chmodNoFollow(const std::string& path, mode_t mode)
{
    static std::atomic<bool> useFchmodat2{true};
    if (useFchmodat2) {
        if (::syscall(SYS_fchmodat2, AT_FDCWD, path.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0)
            return {};
        // Old kernels say ENOSYS, some sandboxes EPERM for calls they do not know.
        if (errno != ENOSYS && errno != EPERM)
            return Status::fromErrno();
    }
    if (::fchmodat(AT_FDCWD, path.c_str(), mode, AT_SYMLINK_NOFOLLOW) != 0)
        return Status::fromErrno();
    useFchmodat2 = false;  // it refused what the other way allows
    return {};
}

// Writes the stored bits (or removes the attribute when there are none).
Status storeBits(const std::string& path, uint32_t bits)
{
    if (bits == 0) {
        if (::lremovexattr(path.c_str(), kAttribXattr) == 0 || errno == ENODATA ||
            errno == ENOTSUP)
            return {};  // nothing stored, or nothing can be stored here
        return Status::fromErrno();
    }
    char text[12];
    const auto end = std::to_chars(text, text + sizeof text, bits).ptr;
    if (::lsetxattr(path.c_str(), kAttribXattr, text, size_t(end - text), 0) != 0)
        return Status::fromErrno();
    return {};
}

// Remembers that removed write bits left the file with mode left. A file
// system without user attributes remembers nothing: clearing read-only then
// gives the owner write permission only.
Status rememberWriteBits(const std::string& path, mode_t removed, mode_t left)
{
    char text[32];
    char* p = std::to_chars(text, text + sizeof text, unsigned(removed), 8).ptr;
    *p++ = ' ';
    p = std::to_chars(p, text + sizeof text, unsigned(left), 8).ptr;
    if (::lsetxattr(path.c_str(), kWriteBitsXattr, text, size_t(p - text), 0) != 0 &&
        errno != ENOTSUP)
        return Status::fromErrno();
    return {};
}

// The write bits removed from the file at path when read-only left it with
// mode, or 0. found tells whether anything is remembered at all.
mode_t rememberedWriteBits(const std::string& path, mode_t mode, bool& found)
{
    char text[32];
    const ssize_t n = ::lgetxattr(path.c_str(), kWriteBitsXattr, text, sizeof text);
    found = n >= 0;
    if (n <= 0)
        return 0;
    unsigned removed = 0, left = 0;
    const char* end = text + n;
    auto r = std::from_chars(text, end, removed, 8);
    if (r.ec != std::errc() || r.ptr == end || *r.ptr != ' ')
        return 0;
    r = std::from_chars(r.ptr + 1, end, left, 8);
    if (r.ec != std::errc() || r.ptr != end || (removed & ~0222u) || left != mode)
        return 0;  // not ours, or the mode was changed since
    return mode_t(removed);
}

Status forgetWriteBits(const std::string& path)
{
    if (::lremovexattr(path.c_str(), kWriteBitsXattr) == 0 || errno == ENODATA)
        return {};
    return Status::fromErrno();
}

bool mayChangeMode(const struct stat& st)
{
    static const uid_t euid = ::geteuid();
    return euid == 0 || st.st_uid == euid;
}

}  // namespace

Status setAttributes(const std::string& path, uint32_t value)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return Status::fromErrno();
    if (S_ISLNK(st.st_mode))
        return Status{ELOOP};

    const bool isFolder = S_ISDIR(st.st_mode);
    const bool keepsXattrs = S_ISREG(st.st_mode) || isFolder;
    uint32_t bits = value & kStoredBits;
    if (isFolder && (value & AttrReadOnly))
        bits |= AttrReadOnly;  // a folder's read-only is the stored flag alone
    if (bits && !keepsXattrs)
        return Status{ENOTSUP};  // user attributes exist on files and folders only

    const mode_t oldMode = st.st_mode & 07777;
    mode_t newMode = oldMode;
    bool remember = false, forget = false;
    if (!isFolder) {
        if (value & AttrReadOnly) {
            newMode = oldMode & ~mode_t(0222);
            remember = keepsXattrs && newMode != oldMode;  // already read-only: keep the memory
        } else if (!(oldMode & S_IWUSR)) {
            bool found = false;
            newMode = oldMode | S_IWUSR |
                      (keepsXattrs ? rememberedWriteBits(path, oldMode, found) : mode_t(0));
            forget = found;
        }
    }
    // Checked first so that a refused mode change leaves the stored bits alone.
    if (newMode != oldMode && !mayChangeMode(st))
        return Status{EPERM};

    mode_t mode = oldMode;
    auto setMode = [&](mode_t m) {
        Status s = chmodNoFollow(path, m);
        if (s)
            mode = m;
        return s;
    };
    auto undo = [&](Status failure) {
        if (mode != oldMode)
            chmodNoFollow(path, oldMode);
        return failure;
    };
    auto writeXattrs = [&]() -> Status {
        if (Status s = storeBits(path, bits); !s)
            return s;
        if (remember)
            return rememberWriteBits(path, oldMode & 0222, newMode);
        if (forget)
            return forgetWriteBits(path);
        return {};
    };

    // Writing the attributes needs write permission: give it first when the
    // entry is to have it anyway.
    if ((newMode & S_IWUSR) && !(mode & S_IWUSR)) {
        if (Status s = setMode(newMode); !s)
            return s;
    }
    if (keepsXattrs) {
        Status s = writeXattrs();
        if (s.err == EACCES && !(mode & S_IWUSR) && mayChangeMode(st)) {
            // A read-only entry that stays read-only: writable for a moment.
            if (Status w = setMode(mode | S_IWUSR); !w)
                return undo(s);
            s = writeXattrs();
        }
        if (!s)
            return undo(s);
    }
    if (mode != newMode)
        return setMode(newMode);
    return {};
}

}  // namespace vemlo::fs
