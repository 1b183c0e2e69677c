#include "import/core/foldertree.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/listing.h"
#include "platform/mounts.h"

namespace vemlo {

namespace {

// getcwd without a length limit of our own.
int currentDirectory(std::string& out)
{
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd)
        return errno ? errno : ENOENT;
    out = cwd;
    std::free(cwd);
    return 0;
}

std::string join(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

}  // namespace

std::string folderErrorText(int err)
{
    switch (err) {
    case ENOENT:
        return "File not found";
    case ENOTDIR:
    case ENAMETOOLONG:
        return "Invalid filename";
    case EACCES:
    case EPERM:
        return "File access denied";
    default:
        return "I/O error " + std::to_string(err);
    }
}

fs::Status readSubfolders(std::vector<std::string>& names)
{
    names.clear();
    const fs::DirHandle dir(::opendir("."));
    if (!dir)
        return fs::Status::fromErrno();
    DIR* const d = dir.get();
    const int fd = ::dirfd(d);
    bool xattrsWork = true;
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d);
        if (!e) {
            err = errno;
            break;
        }
        if (e->d_name[0] == '.')
            continue;
        unsigned char type = e->d_type;
        struct stat st;
        if (type == DT_UNKNOWN && ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        bool folder = type == DT_DIR;
        if (type == DT_LNK)  // a link to a folder is shown; links keep no stored bits
            folder = ::fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        else if (folder && xattrsWork) {
            uint32_t stored = 0;
            const int xerr = fs::storedBitsAt(fd, e->d_name, stored);
            if (xerr == ENOTSUP)
                xattrsWork = false;  // no user xattrs on this file system
            else if (xerr == 0 && (stored & (fs::AttrHidden | fs::AttrSystem)))
                folder = false;  // hidden or system by its stored attribute
        }
        if (folder)
            names.emplace_back(e->d_name);
    }
    if (err) {
        names.clear();
        return fs::Status{err};
    }
    std::sort(names.begin(), names.end(), fs::nameLess);
    return {};
}

FolderTree::FolderTree(std::vector<std::string> mountPoints) : mountPoints_(std::move(mountPoints))
{
    // A start-up folder removed before the run: the tree and the current
    // directory go to the root together.
    if (currentDirectory(folder_) != 0 && ::chdir("/") == 0)
        folder_ = "/";
    if (folder_.empty())
        folder_ = "/";
    mount_ = fs::mountContaining(mountPoints_, folder_);
    readSubfolders(subfolders_);
    lastFolder_[mount_] = folder_;
}

std::vector<FolderEntry> FolderTree::entries() const
{
    std::vector<FolderEntry> out;
    out.reserve(subfolders_.size() + 8);
    out.push_back({mount_, mount_, 0, true, folder_ == mount_});
    if (folder_ != mount_) {
        std::string path = mount_;
        size_t pos = mount_ == "/" ? 1 : mount_.size() + 1;
        while (pos <= folder_.size()) {
            size_t end = folder_.find('/', pos);
            if (end == std::string::npos)
                end = folder_.size();
            if (end > pos) {
                const std::string name = folder_.substr(pos, end - pos);
                path = join(path, name);
                out.push_back({path, name, int(out.size()), true, path == folder_});
            }
            pos = end + 1;
        }
    }
    const int depth = int(out.size());
    for (const std::string& name : subfolders_)
        out.push_back({join(folder_, name), name, depth, false, false});
    return out;
}

fs::Status FolderTree::enter(const std::string& path, bool& changed)
{
    changed = false;
    if (path == folder_)
        return {};
    const fs::FileDescriptor previous(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (::chdir(path.c_str()) != 0)
        return fs::Status::fromErrno();
    auto restore = [&](int err) {
        if (!(previous.valid() && ::fchdir(previous.get()) == 0))
            (void)::chdir(folder_.c_str());
        return fs::Status{err};
    };
    std::string cwd;
    if (const int err = currentDirectory(cwd))
        return restore(err);
    std::vector<std::string> subfolders;
    if (const fs::Status s = readSubfolders(subfolders); !s)
        return restore(s.err);
    if (cwd == folder_)  // a link back to the folder the tree is on
        return {};
    folder_ = std::move(cwd);
    subfolders_ = std::move(subfolders);
    changed = true;
    return {};
}

void FolderTree::settleOn(const std::string& mountPoint)
{
    // A link may lead off the mount whose root the tree shows.
    mount_ = fs::isWithin(folder_, mountPoint) ? mountPoint
                                               : fs::mountContaining(mountPoints_, folder_);
    lastFolder_[mount_] = folder_;
}

fs::Status FolderTree::open(const std::string& path, bool& changed)
{
    const fs::Status s = enter(path, changed);
    if (changed)
        settleOn(mount_);
    return s;
}

fs::Status FolderTree::setDrive(const std::string& mountPoint, bool& changed)
{
    changed = false;
    if (mountPoint.empty() || mountPoint == mount_)
        return {};
    const auto last = lastFolder_.find(mountPoint);
    const bool remembered = last != lastFolder_.end();
    const fs::Status s = enter(remembered ? last->second : mountPoint, changed);
    if (!s) {
        // A remembered folder that is gone must not bar the way to its mount:
        // the next choice of the mount opens the mount point.
        if (remembered)
            lastFolder_.erase(mountPoint);
        return s;
    }
    settleOn(mountPoint);
    return s;
}

}  // namespace vemlo
