#include "import/core/foldertree.h"

#include <cerrno>

#include "platform/fileops.h"
#include "platform/listing.h"
#include "platform/mounts.h"
#include "platform/paths.h"

namespace vemlo {

FolderTree::FolderTree(std::vector<std::string> mountPoints) : mountPoints_(std::move(mountPoints))
{
    // A start-up folder removed before the run: the tree and the current
    // directory go to the root together.
    if (!fs::currentDirectory(folder_) && fs::changeDirectory("/"))
        folder_ = "/";
    if (folder_.empty())
        folder_ = "/";
    mount_ = fs::mountContaining(mountPoints_, folder_);
    lastFolder_[mount_] = folder_;
}

TreeStep FolderTree::loadSubfolders(Progress* progress)
{
    if (subfoldersLoaded_)
        return {};
    const fs::Status read = fs::readSubfolders(subfolders_, progress);
    subfoldersLoaded_ = read.err != ECANCELED;
    return {read};
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
                path = fs::childPath(path, name);
                out.push_back({path, name, int(out.size()), true, path == folder_});
            }
            pos = end + 1;
        }
    }
    const int depth = int(out.size());
    for (const std::string& name : subfolders_)
        out.push_back({fs::childPath(folder_, name), name, depth, false, false});
    return out;
}

TreeStep FolderTree::enter(const std::string& path, Progress* progress)
{
    if (path == folder_)
        return {};
    const fs::FileDescriptor previous = fs::holdCurrentDirectory();
    if (const fs::Status s = fs::changeDirectory(path); !s)
        return {s};
    auto restore = [&](fs::Status failure) {
        if (!fs::returnTo(previous))
            (void)fs::changeDirectory(folder_);
        return TreeStep{failure};
    };
    std::string cwd;
    if (const fs::Status s = fs::currentDirectory(cwd); !s)
        return restore(s);
    std::vector<std::string> subfolders;
    if (const fs::Status s = fs::readSubfolders(subfolders, progress); !s)
        return restore(s);
    if (cwd == folder_)  // a link back to the folder the tree is on
        return {};
    folder_ = std::move(cwd);
    subfolders_ = std::move(subfolders);
    subfoldersLoaded_ = true;
    return {{}, true};
}

void FolderTree::settleOn(const std::string& mountPoint)
{
    // A link may lead off the mount whose root the tree shows.
    mount_ = fs::isWithin(folder_, mountPoint) ? mountPoint
                                               : fs::mountContaining(mountPoints_, folder_);
    lastFolder_[mount_] = folder_;
}

TreeStep FolderTree::open(const std::string& path, Progress* progress)
{
    const TreeStep step = enter(path, progress);
    if (step.changed)
        settleOn(mount_);
    return step;
}

TreeStep FolderTree::openFolder(const std::string& path, Progress* progress)
{
    TreeStep step = enter(path, progress);
    if (!step.ok())
        return step;
    // What the drive chooser offers now: a share or a stick mounted since
    // start-up, and the shares the desktop mounted, count as well.
    mountPoints_.clear();
    for (const fs::Volume& v : fs::currentVolumes())
        mountPoints_.push_back(v.mountPoint);
    const std::string mount = fs::mountContaining(mountPoints_, folder_);
    step.changed = step.changed || mount != mount_;
    mount_ = mount;
    lastFolder_[mount_] = folder_;
    return step;
}

TreeStep FolderTree::setDrive(const std::string& mountPoint, Progress* progress)
{
    if (mountPoint.empty() || mountPoint == mount_)
        return {};
    const auto last = lastFolder_.find(mountPoint);
    const bool remembered = last != lastFolder_.end();
    const TreeStep step = enter(remembered ? last->second : mountPoint, progress);
    if (!step.ok()) {
        // A remembered folder that is gone must not bar the way to its mount:
        // the next choice of the mount opens the mount point.
        if (remembered && step.status.err != ECANCELED)
            lastFolder_.erase(mountPoint);
        return step;
    }
    settleOn(mountPoint);
    return step;
}

}  // namespace vemlo
