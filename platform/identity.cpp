#include "platform/identity.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/sysmacros.h>
#include <sys/statfs.h>
#include <unistd.h>

#include "platform/dosattrib.h"
#include "platform/handles.h"

namespace vemlo::fs {

bool stableInodes(int fd)
{
    struct statfs sf;
    return ::fstatfs(fd, &sf) != 0 || sf.f_type != fstype::kFuse;
}

Status lookAtEntry(int dirfd, const char* name, struct stat& st, uint64_t& birth, bool fresh,
                   bool fromLookup)
{
    struct statx sx;
    const int flags = AT_SYMLINK_NOFOLLOW |
                      (fresh ? AT_STATX_FORCE_SYNC : fromLookup ? AT_STATX_DONT_SYNC : 0) |
                      (name[0] == '\0' ? AT_EMPTY_PATH : 0);
    if (::statx(dirfd, name, flags, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return Status::fromErrno();
    st = {};
    st.st_dev = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    st.st_ino = sx.stx_ino;
    st.st_mode = sx.stx_mode;
    st.st_nlink = sx.stx_nlink;
    st.st_uid = sx.stx_uid;
    st.st_gid = sx.stx_gid;
    st.st_size = off_t(sx.stx_size);
    st.st_mtim = {sx.stx_mtime.tv_sec, long(sx.stx_mtime.tv_nsec)};
    st.st_ctim = {sx.stx_ctime.tv_sec, long(sx.stx_ctime.tv_nsec)};
    birth = (sx.stx_mask & STATX_BTIME)
                ? uint64_t(sx.stx_btime.tv_sec) * 1000000000u + sx.stx_btime.tv_nsec
                : 0;
    return {};
}

uint64_t entryKey(const struct stat& st, uint64_t birth, bool stable)
{
    // FNV-1a over the fields that tell the entry.
    uint64_t h = 0xcbf29ce484222325ull;
    auto mix = [&h](uint64_t v) {
        for (int i = 0; i < 8; ++i, v >>= 8)
            h = (h ^ (v & 0xff)) * 0x100000001b3ull;
    };
    if (stable) {
        mix(uint64_t(st.st_ino));
        mix(birth);
        return h;
    }
    mix(uint64_t(st.st_mode & S_IFMT));
    mix(uint64_t(st.st_size));
    mix(uint64_t(st.st_mtim.tv_sec));
    mix(uint64_t(st.st_mtim.tv_nsec));
    return h;
}

FolderIdentity identifyFolder(const std::string& path)
{
    FolderIdentity id;
    id.path = path;
    const FileDescriptor fd(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0)
        return id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.stable = stableInodes(fd.get());
    id.known = true;
    return id;
}

Status reopenFolder(const FolderIdentity& identity, int& fd)
{
    fd = -1;
    if (!identity.known)
        return Status{ESTALE};
    auto gone = [](int err) { return err == ENOENT || err == ENOTDIR || err == ESTALE; };
    FileDescriptor opened(::open(identity.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!opened.valid())
        return gone(errno) ? Status{ESTALE} : Status::fromErrno();
    // Asked of the server on a share: its cache may still hold a folder
    // moved away since.
    struct stat st;
    uint64_t birth = 0;
    if (const Status looked = lookAtEntry(opened.get(), "", st, birth, true); !looked)
        return gone(looked.err) ? Status{ESTALE} : looked;
    if (st.st_dev != identity.device || (identity.stable && st.st_ino != identity.inode))
        return Status{ESTALE};
    fd = opened.release();
    return {};
}

namespace {

// Opens the folder at path and hands it to sync (fsync, syncfs). A folder
// that may be written but not read gives no descriptor to sync: then
// everything is written. File systems that cannot (EINVAL, ENOSYS) count as
// done.
Status syncThrough(const std::string& path, int (*sync)(int))
{
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid() && errno == EACCES) {
        ::sync();
        return {};
    }
    if (!fd.valid())
        return Status::fromErrno();
    if (sync(fd.get()) != 0 && errno != EINVAL && errno != EROFS && errno != ENOSYS)
        return Status::fromErrno();
    return {};
}

}  // namespace

Status syncFolder(const std::string& path) { return syncThrough(path, ::fsync); }

Status syncFileSystemOf(const std::string& path) { return syncThrough(path, ::syncfs); }

}  // namespace vemlo::fs
