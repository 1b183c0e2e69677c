#include "platform/listing.h"

#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vemlo::fs {

namespace {

int64_t seconds(const struct statx_timestamp& t) { return t.tv_sec; }

}  // namespace

uint32_t attribNumber(uint32_t mode, std::string_view name, uint32_t storedBits)
{
    uint32_t bits = storedBits & (AttrHidden | AttrSystem | AttrArchive);
    if (S_ISLNK(mode)) {
        bits |= AttrLink;
    } else if (S_ISDIR(mode)) {
        // A folder's read-only is a stored flag: the folder still takes entries.
        bits |= AttrFolder | (storedBits & AttrReadOnly);
    } else if (!(mode & S_IWUSR)) {
        bits |= AttrReadOnly;
    }
    if (!name.empty() && name.front() == '.')
        bits |= AttrHidden;
    return bits ? bits : uint32_t(AttrNormal);
}

namespace {

// Reads the stored bits of path; n is lgetxattr's result (errno set when < 0).
ssize_t readBits(const char* path, uint32_t& bits)
{
    char buf[32];
    ssize_t n = lgetxattr(path, kAttribXattr, buf, sizeof buf);
    unsigned value = 0;
    if (n > 0 && std::from_chars(buf, buf + n, value).ec == std::errc())
        bits = value & kStoredAttribBits;
    return n;
}

}  // namespace

uint32_t readStoredBits(const char* path)
{
    uint32_t bits = 0;
    readBits(path, bits);
    return bits;
}

Status listFolder(const std::string& folder,
                  const std::function<void(const EntryInfo&)>& sink)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return Status::fromErrno();
    DirHandle dir(fdopendir(fd));
    if (!dir) {
        Status st = Status::fromErrno();
        ::close(fd);
        return st;
    }

    // Full path of the current entry for the xattr look-up; the folder part
    // is written once.
    std::string path = folder;
    if (path.empty() || path.back() != '/')
        path += '/';
    const size_t base = path.size();
    bool xattrsWork = true;

    errno = 0;
    while (struct dirent* d = readdir(dir.get())) {
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        struct statx sx;
        if (statx(fd, name, AT_SYMLINK_NOFOLLOW,
                  STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME,
                  &sx) != 0)
            continue;  // vanished since readdir
        EntryInfo e;
        e.name = name;
        e.isFolder = S_ISDIR(sx.stx_mode);
        e.size = e.isFolder ? 0 : int64_t(sx.stx_size);
        e.modified = seconds(sx.stx_mtime);
        e.created = (sx.stx_mask & STATX_BTIME) ? seconds(sx.stx_btime) : seconds(sx.stx_ctime);
        uint32_t stored = 0;
        if (xattrsWork && !S_ISLNK(sx.stx_mode)) {
            path.resize(base);
            path += name;
            if (readBits(path.c_str(), stored) < 0 && errno == ENOTSUP) {
                xattrsWork = false;  // no user xattrs on this file system
            }
        }
        e.attrib = attribNumber(sx.stx_mode, e.name, stored);
        sink(e);
        errno = 0;
    }
    return Status{};
}

}  // namespace vemlo::fs
