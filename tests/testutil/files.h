// Shared pieces of the test programs that need no window: real files in
// temporary folders, a scratch file system, an unprivileged child.
#pragma once

#include <QTemporaryDir>
#include <QString>

#include <functional>
#include <string>
#include <vector>

namespace vemlo::test {

// A temporary folder removed with everything in it, also names that are not
// valid UTF-8 and read-only folders (which QTemporaryDir leaves behind).
class TempDir {
public:
    TempDir() = default;
    ~TempDir();
    std::string path() const { return dir_.path().toStdString(); }
    QString qpath() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// Removes path and everything below it, whatever the names and modes.
void removeTree(const std::string& path);

// Files: write bytes to path (creating it), read them back.
void writeFile(const std::string& path, const std::string& bytes = "x");
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);
// Names in folder, sorted, "." and ".." left out; bytes exact.
std::vector<std::string> listNames(const std::string& folder);
// The process's current directory, and path with links resolved ("" when
// it cannot be read).
std::string currentDir();
std::string canonicalPath(const std::string& path);

// A small file system of its own in an image file, mounted on a temporary
// folder and unmounted again at the end: ext2 (loop) for full disks and
// read-only file systems, ext4 (loop) for a power cut, NTFS (ntfs-3g) and FAT
// (loop, vfat) for the attribute bits, exFAT through FUSE (exfat-fuse on a
// loop device: neither a rename without replacing nor hard links, names
// compared without case). Mounting needs root; usable() is false (say why
// with skipReason()) when the mount could not be made.
class ScratchFs {
public:
    enum class Kind { Ext2, Ntfs, Fat, ExfatFuse, Ext4 };
    explicit ScratchFs(int kibibytes = 8192, Kind kind = Kind::Ext2);
    ~ScratchFs();
    ScratchFs(const ScratchFs&) = delete;
    ScratchFs& operator=(const ScratchFs&) = delete;
    bool usable() const { return mounted_; }
    const char* skipReason() const;
    // The mount point.
    std::string path() const { return dir_.path() + "/mnt"; }
    // Fills the file system until fewer than leftBytes are free.
    void fillUntil(long long leftBytes);
    // Bytes a new file may still take.
    long long freeBytes() const;
    // ext4: stops the file system as a power cut does (what its journal had
    // not written is lost), then mounts it again; true when done.
    bool cutPower();
    // Remounts read-only (true) or writable (false).
    bool setReadOnly(bool readOnly);

private:
    TempDir dir_;
    Kind kind_;
    bool mounted_ = false;
    std::string loopDevice_;  // the one set up for exfat-fuse, freed at the end
};

// A folder mounted again on a new folder on (a bind mount: the same file
// system there), undone when the object goes. Needs root.
class BindMount {
public:
    BindMount(const std::string& from, const std::string& on);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    bool mounted() const { return mounted_; }

private:
    std::string on_;
    bool mounted_ = false;
};

// Runs body in a child process, as uid and gid 65534 when this process is
// root (so that permissions apply), and returns its exit status; -1 when the
// child could not be started or did not exit normally. A TempDir is mode 0700:
// open it up (chmod 0755) for what the child is to reach.
int runUnprivileged(const std::function<int()>& body);

// Runs argv (found on PATH), its output thrown away; its exit status, 127
// when it could not be started.
int runCommand(const std::vector<std::string>& argv);

// Entries made in root, in list order: a path ending in "/" makes a folder,
// any other a file holding its own last name, so that contents can be
// followed through moves and renames.
void makeEntries(const std::string& root, const std::vector<std::string>& paths);
// What is at path: "file:<bytes>", "folder:<name>=<what>;...", "link:<target>"
// or "" for nothing; links are not followed.
std::string describe(const std::string& path);
// Every path below root, relative, folders ending in "/", sorted.
std::vector<std::string> tree(const std::string& root);
std::vector<std::string> sorted(std::vector<std::string> v);
// The permission bits of path (not following a link), and the text of its
// extended attribute name ("<none>" when it has none).
unsigned modeOf(const std::string& path);
std::string xattrOf(const std::string& path, const char* name);
// An attribute record's bytes as a test writes them, and back: "0x22" (the
// hex text with its NUL), "hex:0000..." (any other bytes).
std::string recordText(const std::string& bytes);
std::string recordBytes(const std::string& text);
// The attribute record of path as a test writes it: "0x22" (the hex text
// with its NUL), "hex:0000..." (any other bytes), "<none>".
std::string recordOf(const std::string& path);
// Writes a record in that form, or "old:38" (earlier versions' record); ""
// writes nothing. False when the file system refused.
bool setRecord(const std::string& path, const std::string& record);

// The files this process holds open: "descriptor -> target" for each.
std::vector<std::string> openFiles();

}  // namespace vemlo::test
