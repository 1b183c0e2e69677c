#include "platform/attrib.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/dosattrib.h"
#include "platform/handles.h"

namespace vemlo::fs {

namespace {

constexpr uint32_t kAskedBits = AttrReadOnly | AttrHidden | AttrSystem | AttrArchive;

Status dropOldRecord(const std::string& path)
{
    if (::lremovexattr(path.c_str(), kOldAttribXattr) == 0 || errno == ENODATA ||
        errno == ENOTSUP)
        return {};
    return Status::fromErrno();
}

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

// Writes Samba's record of path with the asked bits, keeping the bits of the
// file system and the record's form, and drops the record of earlier versions.
Status storeRecord(const std::string& path, uint32_t value, bool isFolder)
{
    std::string old;  // read whole, however long, to be kept in its form
    if (Status s = xattrValue(path, kDosAttribXattr, old); !s)
        old.clear();
    uint32_t attrib = 0;
    parseDosAttrib(old, attrib);
    attrib = (attrib & ~(kSettableAttribBits | AttrFolder)) | (value & kAskedBits) |
             (isFolder ? uint32_t(AttrFolder) : 0);
    const std::string record = withDosAttrib(old, attrib);
    if (::lsetxattr(path.c_str(), kDosAttribXattr, record.data(), record.size(), 0) != 0)
        return Status::fromErrno();
    return dropOldRecord(path);
}

// NTFS and cifs: the bits a program may set are replaced, the others kept;
// no bit at all is normal. The earlier versions' record goes first: ntfs-3g
// keeps it as a stream, and removing one marks the file archived.
Status setWholeAttrib(const std::string& path, const char* xattr, uint32_t value)
{
    if (Status s = dropOldRecord(path); !s)
        return s;
    uint32_t attrib = 0;
    const ssize_t n = ::lgetxattr(path.c_str(), xattr, &attrib, sizeof attrib);
    if (n < 0)
        return Status::fromErrno();
    if (n != sizeof attrib)
        return Status{EINVAL};
    attrib = (attrib & ~kSettableAttribBits) | (value & kAskedBits);
    if (attrib == 0)
        attrib = AttrNormal;  // 0 would leave an SMB server's attribute unchanged
    if (::lsetxattr(path.c_str(), xattr, &attrib, sizeof attrib, 0) != 0)
        return Status::fromErrno();
    return {};
}

// FAT: the four bits of the attribute byte replaced, the others kept.
Status setFatAttrib(const std::string& path, uint32_t value)
{
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    uint32_t attrib = 0;
    if (!fd.valid() || ::ioctl(fd.get(), FAT_IOCTL_GET_ATTRIBUTES, &attrib) != 0)
        return Status::fromErrno();
    attrib = (attrib & ~kAskedBits) | (value & kAskedBits);
    if (::ioctl(fd.get(), FAT_IOCTL_SET_ATTRIBUTES, &attrib) != 0)
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
    // Device 0 is no file system's: the entry's own is asked.
    return setAttributes(path, value, FolderStore{AttribStore::Samba, 0});
}

Status setAttributes(const std::string& path, uint32_t value, const FolderStore& folder)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return Status::fromErrno();
    if (S_ISLNK(st.st_mode))
        return Status{ELOOP};
    // An entry on another file system (a mount point, or any entry where the
    // folder is not known) by its own.
    const AttribStore store = st.st_dev == folder.device ? folder.store : attribStoreOfPath(path);
    const bool isFolder = S_ISDIR(st.st_mode);
    const bool keepsXattrs = S_ISREG(st.st_mode) || isFolder;
    switch (store) {
    case AttribStore::Ntfs:
    case AttribStore::Cifs:
        return setWholeAttrib(path, wholeAttribXattr(store), value);
    case AttribStore::Fat:
        return keepsXattrs ? setFatAttrib(path, value) : Status{ENOTSUP};
    case AttribStore::Samba:
    case AttribStore::None:
        break;
    }

    // What only the record can say: all but a file's read-only.
    const bool needsRecord = value & (isFolder ? kAskedBits : kAskedBits & ~AttrReadOnly);
    if (needsRecord && !keepsXattrs)
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
        if (Status s = storeRecord(path, value, isFolder); !s && (s.err != ENOTSUP || needsRecord))
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
