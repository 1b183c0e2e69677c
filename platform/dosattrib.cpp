#include "platform/dosattrib.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/msdos_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/handles.h"

namespace vemlo::fs {

namespace {

template <class Probe>
AttribStore storeFor(long type, const Probe& keepsNtfsAttrib)
{
    switch (type) {
    case fstype::kMsdos:
    case fstype::kExfat:
        return AttribStore::Fat;
    case fstype::kNtfs:
    case fstype::kNtfs3:
        return AttribStore::Ntfs;
    case fstype::kCifs:
    case fstype::kSmb2:
        return AttribStore::Cifs;
    case fstype::kFuse:
        return keepsNtfsAttrib() ? AttribStore::Ntfs : AttribStore::Samba;
    default:
        return AttribStore::Samba;
    }
}

bool parseHex(std::string_view text, uint32_t& value)
{
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    const auto r = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

std::string hexText(uint32_t value)
{
    char text[16];
    const int n = std::snprintf(text, sizeof text, "0x%x", unsigned(value));
    return std::string(text, size_t(n));
}

uint32_t le32(std::string_view s, size_t at)
{
    const auto* p = reinterpret_cast<const unsigned char*>(s.data() + at);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Where the parts of a versioned record lie: after the hex text and its NUL,
// the version (2-byte aligned) and the union's level repeating it, then the
// version's fields (4-byte aligned), the attribute first in version 1 and
// second (after the flags) in versions 2 to 5.
struct RecordLayout {
    size_t version = 0;  // offset of the version
    size_t info = 0;     // offset of the fields
    size_t attrib = 0;   // offset of the attribute
};

bool layoutOf(std::string_view r, size_t nul, RecordLayout& l)
{
    l.version = (nul + 2) & ~size_t(1);
    if (l.version + 4 > r.size())
        return false;
    const unsigned version = unsigned(uint8_t(r[l.version])) | unsigned(uint8_t(r[l.version + 1])) << 8;
    const unsigned level = unsigned(uint8_t(r[l.version + 2])) | unsigned(uint8_t(r[l.version + 3])) << 8;
    if (version != level || version < 1 || version > 5)
        return false;
    l.info = (l.version + 4 + 3) & ~size_t(3);
    l.attrib = l.info + (version == 1 ? 0 : 4);
    return l.attrib + 4 <= r.size();
}

#ifndef SYS_getxattrat
#define SYS_getxattrat 464  // the same numbers on every architecture
#endif
#ifndef SYS_listxattrat
#define SYS_listxattrat 465
#endif

// The argument block of getxattrat.
struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};

}  // namespace

const char* wholeAttribXattr(AttribStore store)
{
    return store == AttribStore::Ntfs ? kNtfsAttribXattr
           : store == AttribStore::Cifs ? kCifsAttribXattr
                                        : nullptr;
}

AttribStore attribStoreOf(int fd)
{
    struct statfs sf;
    if (::fstatfs(fd, &sf) != 0)
        return AttribStore::Samba;
    return storeFor(long(sf.f_type), [&] {
        uint32_t v;
        return ::fgetxattr(fd, kNtfsAttribXattr, &v, sizeof v) == sizeof v;
    });
}

AttribStore attribStoreOfPath(const std::string& path)
{
    struct statfs sf;
    if (::statfs(path.c_str(), &sf) != 0)
        return AttribStore::Samba;
    return storeFor(long(sf.f_type), [&] {
        uint32_t v;
        return ::lgetxattr(path.c_str(), kNtfsAttribXattr, &v, sizeof v) == sizeof v;
    });
}

FolderStore folderStoreOf(int dirfd)
{
    FolderStore folder{attribStoreOf(dirfd), 0};
    struct stat st;
    if (::fstat(dirfd, &st) == 0)
        folder.device = st.st_dev;
    if (folder.store == AttribStore::Samba && ::fgetxattr(dirfd, kDosAttribXattr, nullptr, 0) < 0 &&
        errno == ENOTSUP)
        folder.store = AttribStore::None;
    return folder;
}

FolderStore folderStoreOfPath(const std::string& path)
{
    FolderStore folder{attribStoreOfPath(path), 0};
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        folder.device = st.st_dev;
    if (folder.store == AttribStore::Samba &&
        ::getxattr(path.c_str(), kDosAttribXattr, nullptr, 0) < 0 && errno == ENOTSUP)
        folder.store = AttribStore::None;
    return folder;
}

namespace {

// The hex text alone: nothing after it but NULs.
bool hexAlone(std::string_view r, size_t nul)
{
    return nul == std::string_view::npos ||
           r.find_first_not_of('\0', nul) == std::string_view::npos;
}

}  // namespace

bool parseDosAttrib(std::string_view r, uint32_t& attrib)
{
    const size_t nul = r.find('\0');
    if (hexAlone(r, nul))
        return parseHex(r.substr(0, nul), attrib);
    RecordLayout l;
    if (!layoutOf(r, nul, l))
        return false;
    attrib = le32(r, l.attrib);
    return true;
}

std::string withDosAttrib(std::string_view r, uint32_t attrib)
{
    uint32_t old = 0;
    const size_t nul = r.find('\0');
    RecordLayout l;
    if (!parseDosAttrib(r, old) || hexAlone(r, nul) || !layoutOf(r, nul, l))
        return hexText(attrib) + '\0';
    // The hex text is filled even where the record had it empty: programs
    // that read only the text (Wine) then see the bits too.
    std::string out = hexText(attrib);
    out += '\0';
    out.resize((out.size() + 1) & ~size_t(1), '\0');
    out.append(r.substr(l.version, 4));
    out.resize((out.size() + 3) & ~size_t(3), '\0');
    const size_t attribAt = out.size() + (l.attrib - l.info);
    out.append(r.substr(l.info));
    for (int i = 0; i < 4; ++i)
        out[attribAt + size_t(i)] = char((attrib >> (8 * i)) & 0xff);
    return out;
}

Status xattrAt(int dirfd, const char* name, const char* attr, char* buf, size_t size, size_t& n,
               XattrRoute route)
{
    // Set once the kernel turned the call down: old kernels say ENOSYS, some
    // sandboxes EPERM for calls they do not know.
    static std::atomic<bool> noSyscall{false};
    ssize_t got = -1;
    if (route == XattrRoute::Syscall || (route == XattrRoute::Auto && !noSyscall)) {
        XattrArgs args{reinterpret_cast<uintptr_t>(buf), uint32_t(size), 0};
        got = attr ? ::syscall(SYS_getxattrat, dirfd, name, AT_SYMLINK_NOFOLLOW, attr, &args,
                               sizeof args)
                   : ::syscall(SYS_listxattrat, dirfd, name, AT_SYMLINK_NOFOLLOW, buf, size);
        if (got < 0 && route == XattrRoute::Auto && (errno == ENOSYS || errno == EPERM))
            noSyscall = true;
    }
    if (route == XattrRoute::ProcPath || (route == XattrRoute::Auto && noSyscall && got < 0)) {
        // "/proc/self/fd/<dirfd>/<name>": short whatever the folder's path is.
        char path[32 + NAME_MAX + 1];
        const int len = std::snprintf(path, sizeof path, "/proc/self/fd/%d/%s", dirfd, name);
        if (len < 0 || size_t(len) >= sizeof path)
            return Status{ENAMETOOLONG};
        got = attr ? ::lgetxattr(path, attr, buf, size) : ::llistxattr(path, buf, size);
    }
    if (got < 0)
        return Status::fromErrno();
    n = size_t(got);
    return {};
}

namespace {

// The whole value through get(buf, size, n), which reads like getxattr: a
// stack buffer first, and where the value is larger, its size asked and the
// value read again (it may have grown in between).
template <class Get>
Status wholeValue(std::string& value, const Get& get)
{
    char buf[512];
    size_t n = 0;
    Status s = get(buf, sizeof buf, n);
    if (s) {
        value.assign(buf, n);
        return s;
    }
    for (int tries = 0; s.err == ERANGE && tries < 8; ++tries) {
        if (s = get(nullptr, 0, n); !s)
            return s;
        value.resize(std::max(n, sizeof buf * 2));
        if (s = get(value.data(), value.size(), n); s) {
            value.resize(n);
            return s;
        }
    }
    return s;
}

}  // namespace

Status xattrValueAt(int dirfd, const char* name, const char* attr, std::string& value,
                    XattrRoute route)
{
    return wholeValue(value, [&](char* buf, size_t size, size_t& n) {
        return xattrAt(dirfd, name, attr, buf, size, n, route);
    });
}

Status xattrValue(const std::string& path, const char* attr, std::string& value)
{
    return wholeValue(value, [&](char* buf, size_t size, size_t& n) {
        const ssize_t got = ::lgetxattr(path.c_str(), attr, buf, size);
        if (got < 0)
            return Status::fromErrno();
        n = size_t(got);
        return Status{};
    });
}

AttribReader::AttribReader(int dirfd, XattrRoute route)
    : AttribReader(dirfd, folderStoreOf(dirfd), route)
{
}

AttribReader::AttribReader(int dirfd, const FolderStore& folder, XattrRoute route)
    : dirfd_(dirfd), route_(route), folder_(folder)
{
}

uint32_t AttribReader::attribOf(const char* name, uint32_t mode, dev_t device)
{
    return read(device == folder_.device ? folder_.store : storeOn(name, device), name, mode);
}

AttribStore AttribReader::storeOn(const char* name, dev_t device)
{
    for (const auto& [dev, store] : others_)
        if (dev == device)
            return store;
    const FileDescriptor fd(::openat(dirfd_, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct statfs sf;
    if (!fd.valid() || ::fstatfs(fd.get(), &sf) != 0)
        return AttribStore::Samba;  // asked again for the next entry on it
    const AttribStore store = storeFor(long(sf.f_type), [&] {
        uint32_t v;
        size_t n = 0;
        return xattrAt(dirfd_, name, kNtfsAttribXattr, reinterpret_cast<char*>(&v), sizeof v, n,
                       route_) && n == sizeof v;
    });
    others_.emplace_back(device, store);
    return store;
}

uint32_t AttribReader::read(AttribStore store, const char* name, uint32_t mode)
{
    uint32_t recorded = 0;
    size_t n = 0;
    switch (store) {
    case AttribStore::Ntfs:
    case AttribStore::Cifs: {
        // Exactly as the file system keeps it; a link stays marked as one.
        uint32_t v = 0;
        if (xattrAt(dirfd_, name, wholeAttribXattr(store), reinterpret_cast<char*>(&v), sizeof v,
                    n, route_) && n == sizeof v)
            return (v ? v : uint32_t(AttrNormal)) | (S_ISLNK(mode) ? uint32_t(AttrLink) : 0);
        break;
    }
    case AttribStore::Fat: {
        if (!S_ISREG(mode) && !S_ISDIR(mode))
            break;
        const FileDescriptor fd(
            ::openat(dirfd_, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        uint32_t v = 0;
        if (fd.valid() && ::ioctl(fd.get(), FAT_IOCTL_GET_ATTRIBUTES, &v) == 0)
            return v ? v : uint32_t(AttrNormal);
        break;
    }
    case AttribStore::Samba: {
        if (S_ISLNK(mode))
            break;  // links keep no user attributes
        // The names first: one call for the many entries without a record.
        // An entry without user attributes (ENOTSUP) has no record; it says
        // nothing about its neighbours.
        char buf[512];
        const Status listed = xattrAt(dirfd_, name, nullptr, buf, sizeof buf, n, route_);
        if (!listed && listed.err != ERANGE)
            break;
        bool record = !listed, old = !listed;  // too many names: ask for both
        for (std::string_view names(buf, listed ? n : 0); !names.empty();) {
            const std::string_view one = names.substr(0, names.find('\0'));
            record |= one == kDosAttribXattr;
            old |= one == kOldAttribXattr;
            names.remove_prefix(std::min(names.size(), one.size() + 1));
        }
        Status got;
        if (record && (got = xattrAt(dirfd_, name, kDosAttribXattr, buf, sizeof buf, n, route_))) {
            parseDosAttrib({buf, n}, recorded);
        } else if (record && got.err == ERANGE) {
            // A record longer than the buffer (other programs write them).
            std::string whole;
            if (xattrValueAt(dirfd_, name, kDosAttribXattr, whole, route_))
                parseDosAttrib(whole, recorded);
        } else if (old && xattrAt(dirfd_, name, kOldAttribXattr, buf, 16, n, route_)) {
            unsigned v = 0;
            if (std::from_chars(buf, buf + n, v).ec == std::errc())
                recorded = v & kStoredAttribBits;
        }
        break;
    }
    case AttribStore::None:
        break;
    }
    return attribNumber(mode, name, recorded);
}

uint32_t attribNumber(uint32_t mode, std::string_view name, uint32_t recorded)
{
    uint32_t bits = recorded & ~uint32_t(AttrFolder | AttrNormal);
    if (S_ISLNK(mode))
        bits |= AttrLink;
    else if (S_ISDIR(mode))
        bits |= AttrFolder;  // a folder's read-only is the recorded flag alone
    else if (!(mode & S_IWUSR))
        bits |= AttrReadOnly;
    if (!name.empty() && name.front() == '.')
        bits |= AttrHidden;
    return bits ? bits : uint32_t(AttrNormal);
}

}  // namespace vemlo::fs
