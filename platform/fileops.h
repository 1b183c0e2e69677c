// Moves, renames and folder creation that never replace an existing entry,
// and the questions about entries that the commands ask of the disk.
#pragma once

#include <string>
#include <string_view>
#include <sys/stat.h>

#include "platform/handles.h"
#include "platform/status.h"

namespace vemlo::fs {

// Moves or renames from to to. Fails with EEXIST when to exists: never
// replaces anything. Symbolic links are moved as links. A to that is from
// spelled in another case, on a file system that ignores case, gives from
// that spelling.
Status moveNoReplace(const std::string& from, const std::string& to);

// The same with from taken relative to the folder descriptor fromDir and to
// relative to toDir (AT_FDCWD: the current folder). Only the last component
// of each is looked up by the move itself.
Status moveNoReplaceAt(int fromDir, const char* from, int toDir, const char* to);

// What the caller already knows of the entry it moves (from a listing):
// spares the fallback its look at the entry. A guess that has gone stale is
// found out by the calls themselves and costs a look, never a replace.
enum class EntryKind { Unknown, File, Folder };

// How moveNoReplaceAt moves where the file system refuses RENAME_NOREPLACE
// (NFS, many FUSE file systems): a file through a hard link, a folder by
// claiming the target name with an empty folder first; where hard links are
// refused too (exFAT through FUSE), a file after a look at the target name
// (the window this leaves is told in fileops.cpp). Fails with EEXIST,
// changing nothing, when anything is at to.
Status moveNoReplaceFallback(int fromDir, const char* from, int toDir, const char* to,
                             EntryKind kind = EntryKind::Unknown);

// The moves of one pass over many entries of one folder: once the file
// system has refused RENAME_NOREPLACE, the later moves go straight to the
// fallback instead of asking again (on a share every refusal is a round
// trip), and once hard links were refused, to the look before the rename.
// Where to is taken by the entry at from itself under another spelling (a
// case-only rename on a file system that ignores case), its name is changed
// all the same.
class NoReplaceMoves {
public:
    Status move(int fromDir, const char* from, int toDir, const char* to,
                EntryKind kind = EntryKind::Unknown);

private:
    Status moveOnce(int fromDir, const char* from, int toDir, const char* to, EntryKind kind);
    Status respell(int fromDir, const char* from, int toDir, const char* to, EntryKind kind);
    bool flagRefused_ = false;
    bool linksRefused_ = false;
};

// A folder opened for use as the base of the *At calls, or why it could not
// be opened.
struct OpenedFolder {
    FileDescriptor fd;  // valid when status is ok
    Status status;
    // makeFolderBeneath's failures: the part of rel up to the component that
    // failed.
    std::string_view failedPart;
    explicit operator bool() const { return status.ok(); }
};

// Opens the folder path; links in path are followed, as for any path the
// user gives.
OpenedFolder openFolder(const std::string& path);

// Opens the folder rel beneath the folder base, creating every missing
// component, without following a symbolic link anywhere on the way: the
// result is a real folder inside base. Fails with ELOOP when a component is
// a link, ENOTDIR when it is something else than a folder, EINVAL for an
// absolute rel or a ".." component.
OpenedFolder makeFolderBeneath(int base, std::string_view rel);

// True when path names a folder (following links, like a shell's test -d).
bool isDirectory(const std::string& path);

// True when something (anything, a dangling link too) exists at path.
bool exists(const std::string& path);

// The folder to open for a path the user gave (a command-line argument, a
// dropped entry), its links not resolved: made absolute against the current
// folder as the shell names it ($PWD where it still names it), "." and
// empty components dropped, and ".." dropped with the component before it
// where that is no link (after a link, ".." leads elsewhere and stays).
// Anything that is no folder gives the folder it lies in. Fails when
// nothing is at the path or it cannot be looked at.
Status folderToOpen(const std::string& given, std::string& folder);

// True when a and b describe one and the same file-system object.
inline bool sameObject(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when from and to name one and the same entry: the same path, or the
// same name in the same folder reached by another spelling of the folder.
// Two hard links under different names are different entries.
bool sameEntry(const std::string& from, const std::string& to);

// True when outer is a folder (not a link) and inner, or its nearest existing
// parent, is outer or lies below it on disk.
bool insideFolder(const std::string& inner, const std::string& outer);

// True when path is a folder and not a link to one.
bool isRealFolder(const std::string& path);

// Creates path and every missing parent folder. Succeeds when path is a
// folder already.
Status makeDirs(const std::string& path);

// The process's current directory, whatever its length.
Status currentDirectory(std::string& out);

// Makes path the process's current directory.
Status changeDirectory(const std::string& path);

// A handle on the current directory, to come back to it with returnTo.
FileDescriptor holdCurrentDirectory();
Status returnTo(const FileDescriptor& folder);

}  // namespace vemlo::fs
