#include "platform/mounts.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/status.h"

namespace vemlo::fs {

namespace {

// mountinfo writes blanks, tabs, newlines and backslashes as \ooo.
std::string decodeOctal(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() &&
            std::all_of(s.begin() + long(i) + 1, s.begin() + long(i) + 4,
                        [](char c) { return c >= '0' && c <= '7'; })) {
            out += char(((s[i + 1] - '0') << 6) | ((s[i + 2] - '0') << 3) | (s[i + 3] - '0'));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// udev writes unsafe bytes of a label as \xHH.
std::string decodeHex(std::string_view s)
{
    auto hex = [](char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x' &&
            hex(s[i + 2]) >= 0 && hex(s[i + 3]) >= 0) {
            out += char(hex(s[i + 2]) * 16 + hex(s[i + 3]));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::vector<std::string_view> fields(std::string_view line)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            out.push_back(line.substr(start, i - start));
    }
    return out;
}

bool hasHiddenComponent(std::string_view path)
{
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '.')
            return true;
    }
    return false;
}

std::string realPath(const std::string& path)
{
    const CString resolved(::realpath(path.c_str(), nullptr));
    return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    std::vector<MountEntry> out;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

        // id parent major:minor root mount-point options [optional...] - type source super
        const auto f = fields(line);
        const auto dash = std::find(f.begin(), f.end(), std::string_view("-"));
        if (f.size() < 6 || dash == f.end() || f.end() - dash < 3 || dash - f.begin() < 6)
            continue;
        const std::string_view devText = f[2];
        const size_t colon = devText.find(':');
        if (colon == std::string_view::npos)
            continue;
        MountEntry m;
        m.mountPoint = decodeOctal(f[4]);
        m.fsType = decodeOctal(dash[1]);
        m.source = decodeOctal(dash[2]);
        unsigned major = 0, minor = 0;
        std::from_chars(devText.data(), devText.data() + colon, major);
        std::from_chars(devText.data() + colon + 1, devText.data() + devText.size(), minor);
        m.device = makedev(major, minor);
        out.push_back(std::move(m));
    }
    return out;
}

std::vector<MountEntry> readMountTable(const char* file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return {};
    std::stringstream ss;
    ss << in.rdbuf();
    return parseMountInfo(ss.str());
}

bool isUserFileSystem(const MountEntry& m)
{
    static const std::array<std::string_view, 26> kernelTypes = {
        "proc",      "sysfs",    "cgroup",      "cgroup2",    "devpts",    "devtmpfs",
        "mqueue",    "securityfs", "debugfs",   "tracefs",    "pstore",    "bpf",
        "configfs",  "fusectl",  "hugetlbfs",   "binfmt_misc", "autofs",   "rpc_pipefs",
        "nsfs",      "efivarfs", "selinuxfs",   "nfsd",       "rootfs",    "fuse.lxcfs",
        "fuse.portal", "fuse.gvfsd-fuse"};
    static const std::array<std::string_view, 7> internalFolders = {
        "/proc", "/sys", "/dev", "/snap", "/var/lib/docker", "/var/lib/containers",
        "/var/lib/snapd"};

    const std::string_view mp = m.mountPoint;
    if (mp.empty() || mp[0] != '/')
        return false;
    if (std::find(kernelTypes.begin(), kernelTypes.end(), m.fsType) != kernelTypes.end())
        return false;
    for (std::string_view folder : internalFolders) {
        if (isWithin(mp, folder))
            return false;
    }
    // Under /run only disks the desktop mounted (/run/media/...) count.
    if (isWithin(mp, "/run") && m.source.rfind("/dev/", 0) != 0)
        return false;
    // Read-only images of packages and live systems, unless they are the root.
    if (m.fsType == "squashfs" && mp != "/")
        return false;
    return !hasHiddenComponent(mp);
}

std::vector<MountEntry> userMounts(const std::vector<MountEntry>& table)
{
    std::map<std::string, MountEntry> last;  // the later mount hides the earlier
    for (const MountEntry& m : table)
        last[m.mountPoint] = m;
    std::vector<MountEntry> out;
    for (auto& [mp, m] : last) {
        if (isUserFileSystem(m))
            out.push_back(std::move(m));
    }
    return out;  // std::map keeps byte order
}

std::vector<Volume> labelVolumes(const std::vector<MountEntry>& mounts,
                                 const std::string& byLabelFolder)
{
    struct Label {
        std::string text;
        std::string target;
        dev_t device = 0;
        bool isDevice = false;
    };
    std::vector<Label> labels;
    if (const DirHandle d(opendir(byLabelFolder.c_str())); d) {
        while (dirent* e = readdir(d.get())) {
            const std::string name = e->d_name;
            if (name == "." || name == "..")
                continue;
            Label l;
            l.text = decodeHex(name);
            const std::string link = byLabelFolder + "/" + name;
            l.target = realPath(link);
            struct stat st;
            if (stat(link.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
                l.device = st.st_rdev;
                l.isDevice = true;
            }
            labels.push_back(std::move(l));
        }
    }
    std::sort(labels.begin(), labels.end(),
              [](const Label& a, const Label& b) { return a.text < b.text; });

    std::vector<Volume> out;
    for (const MountEntry& m : mounts) {
        Volume v{m.mountPoint, {}};
        const std::string source = m.source.rfind("/", 0) == 0 ? realPath(m.source) : std::string();
        for (const Label& l : labels) {
            if ((l.isDevice && l.device == m.device) || (!source.empty() && l.target == source)) {
                v.label = l.text;
                break;
            }
        }
        out.push_back(std::move(v));
    }
    return out;
}

std::vector<Volume> currentVolumes()
{
    std::vector<MountEntry> mounts = userMounts(readMountTable());
    // Files bound over files (a container's /etc/hosts) are no folders to open.
    std::erase_if(mounts, [](const MountEntry& m) {
        struct stat st;
        return stat(m.mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
    });
    return labelVolumes(mounts);
}

std::string mountContaining(const std::vector<std::string>& mountPoints, const std::string& path)
{
    std::string best;
    for (const std::string& mp : mountPoints) {
        if (mp.size() > best.size() && isWithin(path, mp))
            best = mp;
    }
    return best.empty() ? std::string("/") : best;
}

}  // namespace vemlo::fs
