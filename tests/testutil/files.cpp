#include "files.h"
#include "share.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <grp.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vemlo::test {

TempDir::~TempDir() { removeTree(path()); }

void removeTree(const std::string& path)
{
    // Make every folder writable first, then remove bottom-up.
    nftw(
        path.c_str(),
        [](const char* p, const struct stat* st, int type, struct FTW*) {
            if (type == FTW_D)
                chmod(p, st->st_mode | S_IRWXU);
            return 0;
        },
        16, FTW_PHYS);
    nftw(
        path.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { ::remove(p); return 0; },
        16, FTW_DEPTH | FTW_PHYS);
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool pathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..")
                names.push_back(n);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void makeEntries(const std::string& root, const std::vector<std::string>& paths)
{
    for (const std::string& p : paths) {
        if (!p.empty() && p.back() == '/')
            ::mkdir((root + "/" + p).c_str(), 0755);
        else
            writeFile(root + "/" + p, p.substr(p.rfind('/') + 1));
    }
}

std::string describe(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return "";
    if (S_ISLNK(st.st_mode)) {
        char buf[4096];
        const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
        return "link:" + std::string(buf, size_t(std::max<ssize_t>(n, 0)));
    }
    if (!S_ISDIR(st.st_mode))
        return "file:" + readFile(path);
    std::string out = "folder:";
    for (const std::string& n : listNames(path))
        out += n + "=" + describe(path + "/" + n) + ";";
    return out;
}

namespace {

void treeInto(const std::string& root, const std::string& prefix, std::vector<std::string>& out)
{
    for (const std::string& n : listNames(root + "/" + prefix)) {
        const std::string rel = prefix + n;
        struct stat st;
        if (::lstat((root + "/" + rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            out.push_back(rel + "/");
            treeInto(root, rel + "/", out);
        } else {
            out.push_back(rel);
        }
    }
}

}  // namespace

std::vector<std::string> tree(const std::string& root)
{
    std::vector<std::string> out;
    treeInto(root, "", out);
    return sorted(std::move(out));
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

unsigned modeOf(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

std::string xattrOf(const std::string& path, const char* name)
{
    std::string value(4096, '\0');
    const ssize_t n = ::lgetxattr(path.c_str(), name, value.data(), value.size());
    return n < 0 ? std::string("<none>") : value.substr(0, size_t(n));
}

std::string recordText(const std::string& r)
{
    if (r.size() > 1 && r.back() == '\0' && r.find('\0') == r.size() - 1)
        return r.substr(0, r.size() - 1);
    std::string out = "hex:";
    for (unsigned char c : r) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        out += two;
    }
    return out;
}

std::string recordBytes(const std::string& text)
{
    if (text.rfind("hex:", 0) != 0)
        return text + '\0';
    std::string value;
    for (size_t i = 4; i + 1 < text.size(); i += 2)
        value += char(std::stoi(text.substr(i, 2), nullptr, 16));
    return value;
}

std::string recordOf(const std::string& path)
{
    const std::string r = xattrOf(path, "user.DOSATTRIB");
    return r == "<none>" ? r : recordText(r);
}

bool setRecord(const std::string& path, const std::string& record)
{
    if (record.empty())
        return true;
    const bool old = record.rfind("old:", 0) == 0;
    const std::string value = old ? record.substr(4) : recordBytes(record);
    return ::lsetxattr(path.c_str(), old ? "user.vemlo.attrib" : "user.DOSATTRIB", value.data(),
                       value.size(), 0) == 0;
}

std::string currentDir()
{
    char* cwd = ::getcwd(nullptr, 0);
    const std::string out = cwd ? cwd : "";
    std::free(cwd);
    return out;
}

std::string canonicalPath(const std::string& path)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    const std::string out = resolved ? resolved : "";
    std::free(resolved);
    return out;
}

namespace {

// Runs body in a child process: the status it exits with, -1 when none.
int inChild(const std::function<int()>& body)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int runCommand(const std::vector<std::string>& argv)
{
    return inChild([&] {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        ::execvp(args[0], args.data());
        return 127;
    });
}

ScratchFs::ScratchFs(int kibibytes, Kind kind) : kind_(kind)
{
    if (::geteuid() != 0)
        return;
    const std::string image = dir_.path() + "/image";
    ::mkdir(path().c_str(), 0755);
    writeFile(image, "");
    if (::truncate(image.c_str(), off_t(kibibytes) * 1024) != 0)
        return;
    switch (kind) {
    case Kind::Ext2:
    case Kind::Ext4:
        mounted_ = runCommand({kind == Kind::Ext2 ? "mkfs.ext2" : "mkfs.ext4", "-q", "-F", "-m", "0",
                               image}) == 0 &&
                   runCommand({"mount", "-o", "loop", image, path()}) == 0;
        break;
    case Kind::Ntfs:
        mounted_ = runCommand({"mkntfs", "-q", "-F", "-f", image}) == 0 &&
                   runCommand({"ntfs-3g", image, path()}) == 0;
        break;
    case Kind::Fat:
        mounted_ = runCommand({"mkfs.vfat", image}) == 0 &&
                   runCommand({"mount", "-t", "vfat", "-o", "loop", image, path()}) == 0;
        break;
    case Kind::ExfatFuse:
        if (runCommand({"mkfs.exfat", image}) != 0)
            break;
        loopDevice_ = commandOutput({"losetup", "--find", "--show", image});
        loopDevice_.erase(loopDevice_.find_last_not_of('\n') + 1);
        mounted_ = !loopDevice_.empty() &&
                   runCommand({"mount.exfat-fuse", loopDevice_, path()}) == 0;
        break;
    }
}

const char* ScratchFs::skipReason() const
{
    if (::geteuid() != 0)
        return "needs root to mount a scratch file system";
    switch (kind_) {
    case Kind::Ntfs:
        return "skipped: ntfs-3g (package ntfs-3g) could not mount an NTFS image";
    case Kind::Fat:
        return "skipped: no FAT driver (the kernel could not mount a vfat image)";
    case Kind::ExfatFuse:
        return "skipped: exfat-fuse (packages exfat-fuse, exfatprogs) could not mount an image";
    default:
        return "needs loop devices to mount a scratch file system";
    }
}

ScratchFs::~ScratchFs()
{
    if (mounted_)
        runCommand({"umount", "-l", path()});
    if (!loopDevice_.empty())
        runCommand({"losetup", "-d", loopDevice_});
}

long long ScratchFs::freeBytes() const
{
    struct statvfs v;
    if (::statvfs(path().c_str(), &v) != 0)
        return -1;
    return (long long)v.f_bavail * (long long)v.f_frsize;
}

void ScratchFs::fillUntil(long long leftBytes)
{
    const std::string filler = path() + "/.filler";
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0)
        return;
    const std::string block(4096, 'f');
    while (freeBytes() >= leftBytes + (long long)block.size())
        if (::write(fd, block.data(), block.size()) != ssize_t(block.size()))
            break;
    ::fsync(fd);
    ::close(fd);
}

bool ScratchFs::cutPower()
{
    constexpr unsigned long kShutdown = _IOR('X', 125, uint32_t);  // EXT4_IOC_SHUTDOWN
    uint32_t flags = 2;  // EXT4_GOING_FLAGS_NOLOGFLUSH: the journal's last entries are lost
    const int fd = ::open(path().c_str(), O_RDONLY | O_DIRECTORY);
    const bool cut = fd >= 0 && ::ioctl(fd, kShutdown, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return cut && runCommand({"umount", path()}) == 0 &&
           runCommand({"mount", "-o", "loop", dir_.path() + "/image", path()}) == 0;
}

bool ScratchFs::setReadOnly(bool readOnly)
{
    return runCommand({"mount", "-o", readOnly ? "remount,ro" : "remount,rw", path()}) == 0;
}

int runUnprivileged(const std::function<int()>& body)
{
    return inChild([&] {
        constexpr uid_t kNobody = 65534;
        if (::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            return 126;
        return body();
    });
}

std::vector<std::string> openFiles()
{
    std::vector<std::string> out;
    for (const std::string& fd : listNames("/proc/self/fd")) {
        char target[4096];
        const ssize_t n = ::readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target);
        // The listing's own descriptor is gone by now.
        if (n > 0)
            out.push_back(fd + " -> " + std::string(target, size_t(n)));
    }
    return out;
}

BindMount::BindMount(const std::string& from, const std::string& on) : on_(on)
{
    mounted_ = ::mkdir(on.c_str(), 0755) == 0 &&
               ::mount(from.c_str(), on.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

BindMount::~BindMount()
{
    if (mounted_)
        ::umount2(on_.c_str(), MNT_DETACH);
}

}  // namespace vemlo::test
