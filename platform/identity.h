// How a later pass of this run recognises an entry or a folder a batch
// changed, and how a pass puts what it changed on the disk before it says
// so.
#pragma once

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>

#include "platform/status.h"

namespace vemlo::fs {

// Whether the file system holding the folder open as fd numbers its entries
// once and for all. FUSE file systems (sshfs, gvfs) number an entry when
// they first meet it and may number it anew once the kernel has forgotten
// it: there an entry is known by what the server keeps instead.
bool stableInodes(int fd);

// A look at one entry, a link not followed: its lstat, and its birth time
// in nanoseconds (0 where the file system keeps none). With fresh, a
// network file system asks its server instead of answering from its cache;
// with fromLookup, it takes what the lookup of the name brought (where
// lookPlan's statx flags say that this is as new as the server's).
Status lookAtEntry(int dirfd, const char* name, struct stat& st, uint64_t& birth,
                   bool fresh = false, bool fromLookup = false);

// The key an entry is known by: its inode number and birth time where inode
// numbers are stable (a number freed and given to a new entry comes with
// another birth time), else its type, size and modification time (which a
// move or a rename keeps and a replacing entry almost never matches).
uint64_t entryKey(const struct stat& st, uint64_t birth, bool stable);

// A folder as a batch found it: its path and what it was on the disk.
struct FolderIdentity {
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    bool stable = true;  // inode numbers are stable there (stableInodes)
    bool known = false;  // path could be looked at
};

// Looks at the folder path (links followed, as for any path the user gives).
FolderIdentity identifyFolder(const std::string& path);
// Opens the folder for use as the base of the *At calls when it is still the
// one identity describes: the same device, and the same inode where inode
// numbers are stable. Fails with ESTALE when another folder, or nothing, is
// now at its path (a share that is no longer mounted leaves the folder it
// was mounted on, on another device).
Status reopenFolder(const FolderIdentity& identity, int& fd);

// Writes the names of the folder at path (made, moved, removed) through to
// the disk: an fsync of the folder. File systems that cannot (EINVAL) count
// as done.
Status syncFolder(const std::string& path);
// Writes every change on the file system holding path through to the disk:
// for changes spread over many entries, such as modes and attribute records.
Status syncFileSystemOf(const std::string& path);

}  // namespace vemlo::fs
