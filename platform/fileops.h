// Moves, renames and folder creation that never replace an existing entry.
#pragma once

#include <string>
#include <sys/stat.h>

#include "platform/fsresult.h"

namespace vemlo::fs {

// Moves or renames from to to. Fails with EEXIST when to exists: never
// replaces anything. Symbolic links are moved as links.
Status moveNoReplace(const std::string& from, const std::string& to);

// True when path names a folder (following links, like a shell's test -d).
bool isDirectory(const std::string& path);

// True when something (anything, a dangling link too) exists at path.
bool exists(const std::string& path);

// True when a and b describe one and the same file-system object.
inline bool sameObject(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Creates path and every missing parent folder. Succeeds when path is a
// folder already.
Status makeDirs(const std::string& path);

}  // namespace vemlo::fs
