// The folder tree behind the import window: a chosen mount, the current
// folder (always the process's current directory) and its subfolders.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/progress.h"
#include "platform/status.h"

namespace vemlo {

// One line of the tree.
struct FolderEntry {
    std::string path;       // absolute; opened by these exact bytes
    std::string name;       // the mount point for the root, else the folder's name
    int depth = 0;          // 0 for the root
    bool onPath = false;    // the root, the folders down to the current one, and it
    bool current = false;   // the current folder
};

// What a step of the tree did: whether it failed, and whether the current
// folder changed.
struct TreeStep {
    fs::Status status;
    bool changed = false;
    bool ok() const { return status.ok(); }
};

class FolderTree {
public:
    // Starts at the process's current directory (the root when it has none),
    // on the one of mountPoints that contains it. Its subfolders are read
    // when they are first asked for (loadSubfolders).
    explicit FolderTree(std::vector<std::string> mountPoints);

    const std::string& mount() const { return mount_; }
    const std::string& folder() const { return folder_; }
    const std::vector<std::string>& subfolders() const { return subfolders_; }

    // The root of the mount, one entry per folder down to the current one,
    // then the current folder's subfolders (none until they are read).
    std::vector<FolderEntry> entries() const;

    // Reads the start-up folder's subfolders, once: a tree that is never
    // shown reads none. A folder that cannot be read shows none; a stop asked
    // through progress fails it with ECANCELED and leaves them to be read.
    TreeStep loadSubfolders(Progress* progress = nullptr);
    bool subfoldersLoaded() const { return subfoldersLoaded_; }

    // Makes path the current folder: chdir, then the folder is what getcwd
    // reads back. Not changed when path is the current folder already. On
    // failure nothing changes and the process's current directory is the one
    // it was before. A stop asked through progress while the subfolders are
    // read fails it with ECANCELED.
    TreeStep open(const std::string& path, Progress* progress = nullptr);

    // Opens a folder given from outside the tree (the command line, a drop)
    // as open does, on the mount mounted now that holds it.
    TreeStep openFolder(const std::string& path, Progress* progress = nullptr);

    // Moves to another mount: the folder last open on it during this run, or
    // its mount point. The mount the tree is on changes nothing.
    TreeStep setDrive(const std::string& mountPoint, Progress* progress = nullptr);

private:
    // chdir, getcwd and the new subfolders; the mount is left to the caller.
    TreeStep enter(const std::string& path, Progress* progress);
    // Puts the tree on mountPoint, or on the mount of its folder when that
    // lies elsewhere, and remembers the folder for that mount.
    void settleOn(const std::string& mountPoint);

    std::vector<std::string> mountPoints_;
    std::string mount_;
    std::string folder_;
    std::vector<std::string> subfolders_;
    bool subfoldersLoaded_ = false;
    std::map<std::string, std::string> lastFolder_;  // by mount point
};

}  // namespace vemlo
