#include "platform/attrib.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <iterator>
#include <algorithm>
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
#include "platform/identity.h"

namespace vemlo::fs {

namespace {

constexpr uint32_t kAskedBits = AttrReadOnly | AttrHidden | AttrSystem | AttrArchive;

// The records an attribute change may touch, by their tag in AttribState.
struct TrackedRecord {
    char tag;
    const char* xattr;  // nullptr: FAT's attribute byte
};
constexpr TrackedRecord kSambaRecords[] = {
    {'D', kDosAttribXattr}, {'O', kOldAttribXattr}, {'W', kWriteBitsXattr}};
constexpr TrackedRecord kNtfsRecords[] = {{'N', kNtfsAttribXattr}, {'O', kOldAttribXattr}};
constexpr TrackedRecord kCifsRecords[] = {{'C', kCifsAttribXattr}, {'O', kOldAttribXattr}};
constexpr TrackedRecord kFatRecords[] = {{'F', nullptr}};

struct Tracked {
    const TrackedRecord* begin_;
    const TrackedRecord* end_;
    const TrackedRecord* begin() const { return begin_; }
    const TrackedRecord* end() const { return end_; }
};
Tracked trackedRecords(AttribStore store)
{
    switch (store) {
    case AttribStore::Ntfs: return {std::begin(kNtfsRecords), std::end(kNtfsRecords)};
    case AttribStore::Cifs: return {std::begin(kCifsRecords), std::end(kCifsRecords)};
    case AttribStore::Fat: return {std::begin(kFatRecords), std::end(kFatRecords)};
    case AttribStore::Samba:
    case AttribStore::None: break;
    }
    return {std::begin(kSambaRecords), std::end(kSambaRecords)};
}

// The record tagged tag in records, or nullptr; its bytes in bytes.
const char* findRecord(std::string_view records, char tag, std::string_view& bytes)
{
    for (size_t i = 0; i + 3 <= records.size();) {
        const size_t n = size_t(uint8_t(records[i + 1])) | size_t(uint8_t(records[i + 2])) << 8;
        if (records[i] == tag) {
            bytes = records.substr(i + 3, n);
            return records.data() + i;
        }
        i += 3 + n;
    }
    return nullptr;
}

// Sets (or, with nullptr, drops) the record tagged tag, the tags kept in order.
void putRecord(std::string& records, char tag, const std::string_view* bytes)
{
    std::string out;
    bool placed = false;
    auto append = [&out](char t, std::string_view b) {
        out += t;
        out += char(b.size() & 0xff);
        out += char(b.size() >> 8);
        out += b;
    };
    for (size_t i = 0; i + 3 <= records.size();) {
        const size_t n = size_t(uint8_t(records[i + 1])) | size_t(uint8_t(records[i + 2])) << 8;
        const char t = records[i];
        if (!placed && bytes && t > tag) {
            append(tag, *bytes);
            placed = true;
        }
        if (t != tag)
            append(t, std::string_view(records).substr(i + 3, n));
        i += 3 + n;
    }
    if (!placed && bytes)
        append(tag, *bytes);
    records = std::move(out);
}
void putRecord(std::string* records, char tag, std::string_view bytes)
{
    if (records)
        putRecord(*records, tag, &bytes);
}
void dropRecord(std::string* records, char tag)
{
    if (records)
        putRecord(*records, tag, nullptr);
}

Status dropOldRecord(const std::string& path, std::string* after = nullptr)
{
    std::string_view old;
    if (after && !findRecord(*after, 'O', old))
        return {};  // the entry's records were just read: it has none to drop
    if (::lremovexattr(path.c_str(), kOldAttribXattr) == 0 || errno == ENODATA ||
        errno == ENOTSUP) {
        dropRecord(after, 'O');
        return {};
    }
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
Status storeRecord(const std::string& path, uint32_t value, bool isFolder, std::string* after)
{
    std::string old;  // read whole, however long, to be kept in its form
    std::string_view known;
    if (after) {  // the entry's records were just read
        if (findRecord(*after, 'D', known))
            old = known;
    } else if (Status s = xattrValue(path, kDosAttribXattr, old); !s) {
        old.clear();
    }
    uint32_t attrib = 0;
    parseDosAttrib(old, attrib);
    attrib = (attrib & ~(kSettableAttribBits | AttrFolder)) | (value & kAskedBits) |
             (isFolder ? uint32_t(AttrFolder) : 0);
    const std::string record = withDosAttrib(old, attrib);
    if (::lsetxattr(path.c_str(), kDosAttribXattr, record.data(), record.size(), 0) != 0)
        return Status::fromErrno();
    putRecord(after, 'D', record);
    return dropOldRecord(path, after);
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
Status rememberWriteBits(const std::string& path, mode_t removed, mode_t left, std::string* after)
{
    char text[32];
    char* p = std::to_chars(text, text + sizeof text, unsigned(removed), 8).ptr;
    *p++ = ' ';
    p = std::to_chars(p, text + sizeof text, unsigned(left), 8).ptr;
    if (::lsetxattr(path.c_str(), kWriteBitsXattr, text, size_t(p - text), 0) == 0)
        putRecord(after, 'W', std::string_view(text, size_t(p - text)));
    else if (errno != ENOTSUP)
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

Status forgetWriteBits(const std::string& path, std::string* after)
{
    if (::lremovexattr(path.c_str(), kWriteBitsXattr) == 0 || errno == ENODATA) {
        dropRecord(after, 'W');
        return {};
    }
    return Status::fromErrno();
}

bool mayChangeMode(const struct stat& st)
{
    static const uid_t euid = ::geteuid();
    return euid == 0 || st.st_uid == euid;
}

// The store where the entry at path, whose lstat is st, keeps its bits: an
// entry on another file system than its folder's (a mount point, or any
// entry where the folder is not known) by its own.
AttribStore storeOfEntry(const std::string& path, const struct stat& st, const FolderStore& folder)
{
    return st.st_dev == folder.device ? folder.store : attribStoreOfPath(path);
}

// The state of the entry at path, whose lstat is st, in store: its mode and
// the records of that store it has.
Status readState(const std::string& path, const struct stat& st, AttribStore store,
                 AttribState& out)
{
    out.mode = st.st_mode & 07777;
    out.records.clear();
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return {};
    if (store == AttribStore::Fat) {
        const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        uint32_t attrib = 0;
        if (!fd.valid() || ::ioctl(fd.get(), FAT_IOCTL_GET_ATTRIBUTES, &attrib) != 0)
            return Status::fromErrno();
        putRecord(&out.records, 'F', std::string_view(reinterpret_cast<const char*>(&attrib), 4));
        return {};
    }
    // One call tells which records there are; most entries have none.
    std::string names(1024, '\0');
    ssize_t n;
    while ((n = ::llistxattr(path.c_str(), names.data(), names.size())) < 0 && errno == ERANGE) {
        const ssize_t need = ::llistxattr(path.c_str(), nullptr, 0);
        names.resize(need > 0 ? size_t(need) : names.size() * 2);
    }
    if (n < 0)
        return errno == ENOTSUP ? Status{} : Status::fromErrno();
    names.resize(size_t(n));
    for (const TrackedRecord& r : trackedRecords(store)) {
        const std::string_view name(r.xattr);
        bool present = false;
        for (size_t i = 0; i < names.size() && !present;) {
            const size_t end = names.find('\0', i);
            present = std::string_view(names).substr(i, end - i) == name;
            i = end == std::string::npos ? names.size() : end + 1;
        }
        std::string value;
        if (!present)
            continue;
        if (Status s = xattrValue(path, r.xattr, value); !s) {
            if (s.err == ENODATA)
                continue;
            return s;
        }
        putRecord(&out.records, r.tag, value);
    }
    return {};
}

uint64_t fingerprint(const AttribState& state)
{
    uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](unsigned char c) { h = (h ^ c) * 0x100000001b3ull; };
    for (int i = 0; i < 4; ++i)
        mix(uint8_t(state.mode >> (8 * i)));
    for (const char c : state.records)
        mix(uint8_t(c));
    return h;
}

Status setAttributesImpl(const std::string& path, uint32_t value, const FolderStore& folder,
                         AttribChange* change)
{
    struct stat st;
    if (change) {
        if (Status s = lookAtEntry(AT_FDCWD, path.c_str(), st, change->birth); !s)
            return s;
    } else if (::lstat(path.c_str(), &st) != 0) {
        return Status::fromErrno();
    }
    if (S_ISLNK(st.st_mode))
        return Status{ELOOP};
    const AttribStore store = storeOfEntry(path, st, folder);
    const bool isFolder = S_ISDIR(st.st_mode);
    const bool keepsXattrs = S_ISREG(st.st_mode) || isFolder;
    if (change) {
        change->entry = st;
        if (Status s = readState(path, st, store, change->before); !s)
            return s;
    }
    // Where the file system decides what it keeps, the state it left is looked at.
    auto readBack = [&](Status set) {
        struct stat now;
        AttribState after;
        if (set && change && ::lstat(path.c_str(), &now) == 0 &&
            readState(path, now, store, after))
            change->after = fingerprint(after);
        return set;
    };
    switch (store) {
    case AttribStore::Ntfs:
    case AttribStore::Cifs:
        return readBack(setWholeAttrib(path, wholeAttribXattr(store), value));
    case AttribStore::Fat:
        return keepsXattrs ? readBack(setFatAttrib(path, value)) : Status{ENOTSUP};
    case AttribStore::Samba:
    case AttribStore::None:
        break;
    }
    // Elsewhere the state left is the one written.
    AttribState after;
    if (change)
        after = change->before;
    std::string* records = change ? &after.records : nullptr;

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
        if (Status s = storeRecord(path, value, isFolder, records);
            !s && (s.err != ENOTSUP || needsRecord))
            return s;
        if (remember)
            return rememberWriteBits(path, oldMode & 0222, newMode, records);
        if (forget)
            return forgetWriteBits(path, records);
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
    if (mode != newMode) {
        if (Status s = setMode(newMode); !s)
            return s;
    }
    if (change) {
        after.mode = mode;
        change->after = fingerprint(after);
    }
    return {};
}

}  // namespace

Status setAttributes(const std::string& path, uint32_t value)
{
    // Device 0 is no file system's: the entry's own is asked.
    return setAttributes(path, value, FolderStore{AttribStore::Samba, 0});
}

Status setAttributes(const std::string& path, uint32_t value, const FolderStore& folder)
{
    return setAttributesImpl(path, value, folder, nullptr);
}

Status setAttributes(const std::string& path, uint32_t value, const FolderStore& folder,
                     AttribChange& change)
{
    return setAttributesImpl(path, value, folder, &change);
}

Status restoreAttributes(const std::string& path, const FolderStore& folder,
                         const AttribChange& change)
{
    // Asked of the server on a share, whose cache may not know of a change.
    struct stat st;
    uint64_t birth = 0;
    if (Status s = lookAtEntry(AT_FDCWD, path.c_str(), st, birth, true); !s)
        return s;
    if (S_ISLNK(st.st_mode))
        return Status{ELOOP};
    const AttribStore store = storeOfEntry(path, st, folder);
    AttribState now;
    if (Status s = readState(path, st, store, now); !s)
        return s;
    if (fingerprint(now) != change.after)
        return Status{ESTALE};
    const AttribState& before = change.before;
    const bool modes = store == AttribStore::Samba || store == AttribStore::None;
    mode_t mode = now.mode;
    // The records need write permission: given for the moment where the
    // entry has none.
    if (modes && before.records != now.records && !(mode & S_IWUSR) && mayChangeMode(st)) {
        if (Status s = chmodNoFollow(path, mode | S_IWUSR); !s)
            return s;
        mode |= S_IWUSR;
    }
    for (const TrackedRecord& r : trackedRecords(store)) {
        std::string_view was, is;
        const bool had = findRecord(before.records, r.tag, was) != nullptr;
        const bool has = findRecord(now.records, r.tag, is) != nullptr;
        if (had == has && was == is)
            continue;
        Status s;
        if (!r.xattr) {
            uint32_t attrib = 0;
            std::memcpy(&attrib, was.data(), std::min<size_t>(was.size(), 4));
            const FileDescriptor fd(
                ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            if (!fd.valid() || ::ioctl(fd.get(), FAT_IOCTL_SET_ATTRIBUTES, &attrib) != 0)
                s = Status::fromErrno();
        } else if (had) {
            if (::lsetxattr(path.c_str(), r.xattr, was.data(), was.size(), 0) != 0)
                s = Status::fromErrno();
        } else if (::lremovexattr(path.c_str(), r.xattr) != 0 && errno != ENODATA) {
            s = Status::fromErrno();
        }
        if (!s) {
            if (mode != now.mode)
                chmodNoFollow(path, now.mode);
            return s;
        }
    }
    if (modes && mode != before.mode)
        return chmodNoFollow(path, before.mode);
    return {};
}

}  // namespace vemlo::fs
