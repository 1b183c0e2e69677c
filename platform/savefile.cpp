#include "platform/savefile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <csignal>
#include <functional>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "platform/dosattrib.h"
#include "platform/fileops.h"

namespace vemlo::fs {

namespace {

std::atomic<bool> unnamedAllowed{true};

constexpr const char* kTempPrefix = "/.vemlo-save-";

// The process's umask, read without changing it ("Umask:" in
// /proc/self/status); 077 when it cannot be read.
mode_t currentUmask()
{
    mode_t mask = 077;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned value = 0;
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = mode_t(value) & 0777;
                break;
            }
        std::fclose(f);
    }
    return mask;
}

// A new empty file under a hidden name of its own in folder; its mode is
// 0666 less the umask, as for any new file, where the file system keeps
// modes (a share mounted through gvfs keeps none and refuses the change).
Status makeTemporaryFile(const std::string& folder, std::string& path, FileDescriptor& fd)
{
    path = folder + kTempPrefix + "XXXXXX";
    fd = FileDescriptor(::mkostemp(path.data(), O_CLOEXEC));
    if (!fd.valid())
        return Status::fromErrno();
    if (::fchmod(fd.get(), 0666 & ~currentUmask()) != 0 && errno != EOPNOTSUPP &&
        errno != ENOSYS) {
        const Status failed = Status::fromErrno();
        ::unlink(path.c_str());
        return failed;
    }
    return {};
}

// Calls f for every descriptor this process has open, but the one that
// lists them.
void forEachDescriptor(const std::function<void(int)>& f)
{
    DirHandle d(::opendir("/proc/self/fd"));
    if (!d)
        return;
    const int own = ::dirfd(d.get());
    while (dirent* e = ::readdir(d.get())) {
        char* end = nullptr;
        const long n = std::strtol(e->d_name, &end, 10);
        if (e->d_name[0] == '.' || *end != '\0' || n == own || n < 0 || n > INT_MAX)
            continue;
        f(int(n));
    }
}

// Puts temp in the place of target, which the user agreed to replace. One
// rename does it: the earlier file stays under the name until the new one
// stands there, and a folder of that name makes it fail (EISDIR).
Status replaceWith(const std::string& temp, const std::string& target)
{
    if (::renameat(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str()) == 0)
        return {};
    return Status::fromErrno();
}

// Best effort: the folder's new entry reaches the disk.
void syncFolder(const std::string& folder)
{
    FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid())
        ::fsync(dir.get());
}

}  // namespace

bool setUnnamedFilesAllowed(bool allowed) { return unnamedAllowed.exchange(allowed); }

// ---- NewFile

NewFile::~NewFile()
{
    if (fd_)
        closeOtherDescriptors();
    if (!tempPath_.empty())
        ::unlink(tempPath_.c_str());
}

Status NewFile::create(const std::string& folder)
{
    folder_ = folder;
    if (unnamedAllowed) {
        FileDescriptor fd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (fd.valid()) {
            // Others reach a file without a name through /proc only.
            const std::string path = "/proc/self/fd/" + std::to_string(fd.get());
            if (::access(path.c_str(), W_OK) == 0) {
                fd_.emplace(std::move(fd));
                writePath_ = path;
                return {};
            }
        } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            return Status::fromErrno();
        }
    }
    // A hidden name of its own instead.
    FileDescriptor fd;
    if (Status s = makeTemporaryFile(folder, tempPath_, fd); !s) {
        tempPath_.clear();
        return s;
    }
    fd_.emplace(std::move(fd));
    writePath_ = tempPath_;
    return {};
}

bool NewFile::readableWhileWritten() const
{
    struct statfs sf;
    return ::fstatfs(fd(), &sf) == 0 && long(sf.f_type) != fstype::kFuse;
}

Status NewFile::sync() { return ::fsync(fd()) == 0 ? Status{} : Status::fromErrno(); }

Status NewFile::linkAs(const std::string& path) const
{
    if (::linkat(AT_FDCWD, writePath_.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0)
        return {};
    return Status::fromErrno();
}

Status NewFile::place(const std::string& name, bool replace)
{
    const std::string target = folder_ + "/" + name;
    Status s;
    if (!tempPath_.empty()) {
        s = replace ? replaceWith(tempPath_, target) : moveNoReplace(tempPath_, target);
        if (s)
            tempPath_.clear();
    } else if (struct stat st; !replace || ::lstat(target.c_str(), &st) != 0) {
        // linkat never replaces anything: an entry made meanwhile fails it.
        s = linkAs(target);
    } else if (S_ISDIR(st.st_mode)) {
        s = Status{EISDIR};
    } else {
        // A name first, then the rename onto the earlier file. The name is
        // taken by an empty file and freed for the link at once; linkat
        // never replaces, so should another take it meanwhile, the save
        // fails and nothing is harmed.
        std::string temp;
        FileDescriptor placeholder;
        s = makeTemporaryFile(folder_, temp, placeholder);
        if (s) {
            ::unlink(temp.c_str());
            s = linkAs(temp);
        }
        if (s) {
            s = replaceWith(temp, target);
            if (!s)
                ::unlink(temp.c_str());
        }
    }
    if (s)
        syncFolder(folder_);
    return s;
}

void NewFile::closeOtherDescriptors() const
{
    struct stat own;
    if (::fstat(fd(), &own) != 0)
        return;
    // Each descriptor is looked at through its /proc link rather than by
    // fstat: the descriptors of other threads (an event loop's, say) are
    // only read about, never used, until one proves to be this file's.
    forEachDescriptor([&](int fd) {
        char path[32];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
        struct stat st;
        if (fd != this->fd() && ::stat(path, &st) == 0 && sameObject(st, own))
            ::close(fd);
    });
}

// ---- ScratchFolder

std::string ScratchFolder::parent()
{
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

Status ScratchFolder::create()
{
    // Remove the folders left by runs of processes that are gone. Files in
    // them are deleted as soon as made, but a run killed between the making
    // and the deleting leaves one behind: those go first.
    const std::string base = parent();
    if (DirHandle d{::opendir(base.c_str())}) {
        while (dirent* e = ::readdir(d.get())) {
            unsigned long pid = 0;
            int end = 0;
            if (std::sscanf(e->d_name, "vemlo-%lu-%*6[A-Za-z0-9]%n", &pid, &end) == 1 &&
                e->d_name[end] == '\0' && end > 0 && pid != (unsigned long)::getpid() && pid <= INT_MAX &&
                ::kill(pid_t(pid), 0) != 0 && errno == ESRCH) {
                const int stale = ::openat(::dirfd(d.get()), e->d_name,
                                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (DirHandle inside{stale >= 0 ? ::fdopendir(stale) : nullptr}) {
                    while (dirent* f = ::readdir(inside.get()))
                        if (std::string_view(f->d_name) != "." && std::string_view(f->d_name) != "..")
                            ::unlinkat(::dirfd(inside.get()), f->d_name, 0);
                } else if (stale >= 0) {
                    ::close(stale);
                }
                ::unlinkat(::dirfd(d.get()), e->d_name, AT_REMOVEDIR);
            }
        }
    }
    std::string path = base + "/vemlo-" + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(path.data()))
        return Status::fromErrno();
    path_ = path;
    return {};
}

ScratchFolder::~ScratchFolder()
{
    if (path_.empty())
        return;
    // Files in it are deleted as soon as made, but a library that gave up
    // half-way may still hold them open, and with them their disk space.
    const std::string inside = path_ + "/";
    forEachDescriptor([&](int fd) {
        char target[PATH_MAX];
        const std::string link = "/proc/self/fd/" + std::to_string(fd);
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target);
        if (n > 0 && std::string_view(target, size_t(n)).starts_with(inside))
            ::close(fd);
    });
    if (DirHandle d{::opendir(path_.c_str())}) {
        while (dirent* e = ::readdir(d.get()))
            if (std::string_view(e->d_name) != "." && std::string_view(e->d_name) != "..")
                ::unlinkat(::dirfd(d.get()), e->d_name, 0);
    }
    ::rmdir(path_.c_str());
}

}  // namespace vemlo::fs
