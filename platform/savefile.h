// Saving a file so that it appears under its name only when complete, and a
// private scratch folder for the files another library makes on the way.
#pragma once

#include <optional>
#include <string>

#include "platform/handles.h"
#include "platform/status.h"

namespace vemlo::fs {

// A file being made in a folder. Where the file system can, it has no name
// at all until place() gives it one (O_TMPFILE), so that nothing is left
// behind when the process dies half-way; elsewhere it has a hidden temporary
// name, removed again unless the file is placed. Its mode is 0666 less the
// umask, as for any new file.
class NewFile {
public:
    NewFile() = default;
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    Status create(const std::string& folder);
    int fd() const { return fd_ ? fd_->get() : -1; }
    // A path under which other code may open the file to write it.
    const std::string& writePath() const { return writePath_; }
    // True when the file has a temporary name.
    bool hasTemporaryName() const { return !tempPath_.empty(); }
    // Whether fd() may be read while other code writes the file through
    // writePath(): not on a FUSE file system, which may serve every open of
    // one file through one stream (gvfs does: a read between two writes
    // makes the next write fail).
    bool readableWhileWritten() const;

    // Writes the file's data through to the disk.
    Status sync();
    // Gives the file its name in the folder. An existing entry of that name
    // makes it fail (EEXIST) unless replace is set; then an existing file
    // (never a folder: EISDIR) is replaced, and stays as it was until the
    // new one stands in its place.
    Status place(const std::string& name, bool replace);
    // Closes every other descriptor of this process that refers to the
    // file: those a library that wrote it through writePath() left open.
    void closeOtherDescriptors() const;

private:
    Status linkAs(const std::string& path) const;
    std::string folder_;
    std::optional<FileDescriptor> fd_;
    std::string writePath_;
    std::string tempPath_;  // the named fallback's name, until placed
};

// Test hook: false makes NewFile use a temporary name even where the file
// system could do without. Returns the setting before.
bool setUnnamedFilesAllowed(bool allowed);

// A private folder made in $TMPDIR (or /tmp) for scratch files. When it is
// destroyed, descriptors this process still holds on files in it are
// closed, whatever is left in it is removed, and the folder goes too.
class ScratchFolder {
public:
    ScratchFolder() = default;
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    Status create();
    const std::string& path() const { return path_; }
    // The folder it was made in.
    static std::string parent();

private:
    std::string path_;
};

}  // namespace vemlo::fs
