// Mount points of the file systems a user keeps files on: what the import
// window's drive chooser offers, with their volume labels.
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "platform/paths.h"

namespace vemlo::fs {

// One line of /proc/self/mountinfo, escapes (\040 and the like) decoded.
struct MountEntry {
    std::string mountPoint;
    std::string fsType;
    std::string source;
    dev_t device = 0;      // the st_dev of files on this mount
    bool pseudo = false;   // a kernel or runtime file system (proc, cgroup, ...)
    bool network = false;  // reached over the network (nfs, cifs, sshfs, ...)
};

// Parses the text of a mountinfo file; malformed lines are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// Reads a mountinfo file (the process's own by default); empty when it cannot
// be read.
std::vector<MountEntry> readMountTable(const char* file = "/proc/self/mountinfo");

// False for kernel and runtime file systems (proc, sysfs, cgroup, devpts,
// anything under /proc, /sys, /dev, memory file systems under /run), for the
// internals of containers and snaps, and for mount points inside hidden
// folders.
bool isUserFileSystem(const MountEntry& m);

// The user file systems of a mount table in mount-point byte order, one per
// mount point: the one mounted last, which hides those below it.
std::vector<MountEntry> userMounts(const std::vector<MountEntry>& table);

// A mount as the drive chooser shows it.
struct Volume {
    std::string mountPoint;
    std::string label;      // empty when the file system has none
    bool network = false;   // label is then the share's name and server
};

// How a network share is named, as Windows names a mapped drive: "photos
// (nas)" for //nas/photos (cifs), nas:/export/photos (nfs) or
// ann@nas:photos (sshfs); the server alone for its root or home.
std::string shareLabel(const MountEntry& m);

// The name of a share the desktop mounted under gvfs, from the name of its
// folder: "smb-share:server=nas,share=photos" gives "photos (nas)".
std::string gvfsShareLabel(std::string_view folderName);

// The shares the desktop mounted: one per folder in each gvfs mount of table.
std::vector<Volume> gvfsShares(const std::vector<MountEntry>& table);

// Labels of mounts from a folder of links named after labels (udev's
// /dev/disk/by-label, "\x20"-style escapes decoded). A link belongs to a
// mount when it leads to the mount's device node or to its source. Network
// shares are named by shareLabel, without a look at the network.
std::vector<Volume> labelVolumes(const std::vector<MountEntry>& mounts,
                                 const std::string& byLabelFolder = "/dev/disk/by-label");

// A location given by URL that is no local path (smb://nas/photos/2024),
// its parts decoded to bytes.
struct RemoteLocation {
    std::string scheme;  // smb, sftp, ftp, dav, davs, ...
    std::string host;
    std::string user;    // empty when the URL names none
    std::string port;    // empty when the URL names none
    std::string path;    // from "/"
};

// The local path of a remote location on a share the desktop mounted
// through gvfs (one of gvfsShares(table)): the share's folder and the rest
// of the path; empty when no mounted share holds it.
std::string gvfsLocalPath(const std::vector<MountEntry>& table, const RemoteLocation& at);

// The user file systems mounted now, on folders, with their labels, and the
// shares the desktop mounted; in mount-point byte order.
std::vector<Volume> currentVolumes();

// The longest of mountPoints that contains path, compared by whole path
// components; "/" when none does.
std::string mountContaining(const std::vector<std::string>& mountPoints, const std::string& path);

}  // namespace vemlo::fs
