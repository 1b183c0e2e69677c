#include "platform/mounts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <cstdio>
#include <libmount/libmount.h>
#include <map>
#include <memory>
#include <sys/stat.h>

#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/status.h"

namespace vemlo::fs {

namespace {

// Unsafe bytes written as an escape and two hex digits: udev's "\x20" in a
// label, gvfs's "%20" in a share's name.
std::string decodeHex(std::string_view s, std::string_view escape)
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
        const size_t at = i + escape.size();
        if (s.substr(i, escape.size()) == escape && at + 1 < s.size() && hex(s[at]) >= 0 &&
            hex(s[at + 1]) >= 0) {
            out += char(hex(s[at]) * 16 + hex(s[at + 1]));
            i = at + 1;
        } else {
            out += s[i];
        }
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

namespace {

struct TableFree {
    void operator()(libmnt_table* t) const { mnt_unref_table(t); }
};
struct IterFree {
    void operator()(libmnt_iter* i) const { mnt_free_iter(i); }
};
using Table = std::unique_ptr<libmnt_table, TableFree>;

// The entries of a parsed table; a table that could not be parsed is empty.
std::vector<MountEntry> entriesOf(const Table& table, int parsed)
{
    std::vector<MountEntry> out;
    if (parsed != 0)
        return out;
    const std::unique_ptr<libmnt_iter, IterFree> it(mnt_new_iter(MNT_ITER_FORWARD));
    libmnt_fs* fs = nullptr;
    while (it && mnt_table_next_fs(table.get(), it.get(), &fs) == 0) {
        auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
        MountEntry m;
        m.mountPoint = text(mnt_fs_get_target(fs));
        m.fsType = text(mnt_fs_get_fstype(fs));
        m.source = text(mnt_fs_get_source(fs));
        m.device = mnt_fs_get_devno(fs);
        m.pseudo = mnt_fs_is_pseudofs(fs) == 1;
        m.network = mnt_fs_is_netfs(fs) == 1;
        out.push_back(std::move(m));
    }
    return out;
}

// Lines the parser cannot read are left out.
int skipLine(libmnt_table*, const char*, int) { return 1; }

Table newTable()
{
    Table t(mnt_new_table());
    if (t)
        mnt_table_set_parser_errcb(t.get(), skipLine);
    return t;
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text)
{
    const Table table = newTable();
    std::string copy(text);
    FILE* f = copy.empty() ? nullptr : ::fmemopen(copy.data(), copy.size(), "r");
    if (!table || !f) {
        if (f)
            std::fclose(f);
        return {};
    }
    const int parsed = mnt_table_parse_stream(table.get(), f, "mountinfo");
    std::fclose(f);
    return entriesOf(table, parsed);
}

std::vector<MountEntry> readMountTable(const char* file)
{
    const Table table = newTable();
    return table ? entriesOf(table, mnt_table_parse_file(table.get(), file)) : std::vector<MountEntry>{};
}

bool isUserFileSystem(const MountEntry& m)
{
    // Memory and layered file systems, which the mount library counts among
    // the kernel's, hold user files: /tmp, a container's root.
    static const std::array<std::string_view, 3> filesInMemory = {"tmpfs", "ramfs", "overlay"};
    static const std::array<std::string_view, 7> internalFolders = {
        "/proc", "/sys", "/dev", "/snap", "/var/lib/docker", "/var/lib/containers",
        "/var/lib/snapd"};

    const std::string_view mp = m.mountPoint;
    if (mp.empty() || mp[0] != '/')
        return false;
    if (m.pseudo &&
        std::find(filesInMemory.begin(), filesInMemory.end(), m.fsType) == filesInMemory.end())
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
            l.text = decodeHex(name, "\\x");
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
        if (m.network) {
            out.push_back({m.mountPoint, shareLabel(m), true});
            continue;
        }
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

namespace {

std::string named(std::string_view path, std::string_view server)
{
    while (!path.empty() && path.back() == '/')
        path.remove_suffix(1);
    const std::string_view name = path.substr(path.rfind('/') + 1);
    return name.empty() ? std::string(server) : std::string(name) + " (" + std::string(server) + ")";
}

}  // namespace

std::string shareLabel(const MountEntry& m)
{
    const std::string_view src = m.source;
    if (src.rfind("//", 0) == 0) {  // cifs: //server/share[/path]
        const size_t slash = src.find('/', 2);
        const std::string_view server = src.substr(2, slash == std::string_view::npos ? slash : slash - 2);
        return named(slash == std::string_view::npos ? std::string_view() : src.substr(slash), server);
    }
    // nfs, sshfs: [user@]server:path, an IPv6 server in brackets
    // ("[fe80::1]:/export"), its colons not the one before the path.
    const size_t at = src.find('@');
    const size_t host = at == std::string_view::npos || at > src.find(':') ? 0 : at + 1;
    const size_t close = src.compare(host, 1, "[") == 0 ? src.find(']', host) : host;
    const size_t colon = close == std::string_view::npos ? close : src.find(':', close);
    if (colon == std::string_view::npos)
        return std::string(src);
    std::string_view server = src.substr(host, colon - host);
    if (close != host)  // the brackets only mark the address off
        server = server.substr(1, server.size() - 2);
    return named(src.substr(colon + 1), server);
}

namespace {

// The keys of a gvfs folder's name, "type:key=value,...", values decoded;
// the type under "".
std::map<std::string_view, std::string> gvfsKeys(std::string_view folder)
{
    std::map<std::string_view, std::string> keys;
    const size_t colon = folder.find(':');
    if (colon == std::string_view::npos)
        return keys;
    keys[""] = std::string(folder.substr(0, colon));
    std::string_view rest = folder.substr(colon + 1);
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        const std::string_view pair = rest.substr(0, comma);
        const size_t eq = pair.find('=');
        if (eq != std::string_view::npos)
            keys[pair.substr(0, eq)] = decodeHex(pair.substr(eq + 1), "%");
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return keys;
}

bool sameHostName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

}  // namespace

std::string gvfsShareLabel(std::string_view folder)
{
    std::map<std::string_view, std::string> keys = gvfsKeys(folder);
    if (keys.empty())
        return std::string(folder);
    const std::string server = !keys["server"].empty() ? keys["server"] : keys["host"];
    if (server.empty())
        return std::string(folder);
    if (!keys["share"].empty())
        return keys["share"] + " (" + server + ")";
    return named(keys["prefix"], server);
}

std::vector<Volume> gvfsShares(const std::vector<MountEntry>& table)
{
    std::vector<Volume> out;
    for (const MountEntry& m : table) {
        if (m.fsType != "fuse.gvfsd-fuse")
            continue;
        // The daemon answers this from its own list, not from the network.
        const DirHandle d(opendir(m.mountPoint.c_str()));
        while (const dirent* e = d ? readdir(d.get()) : nullptr) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                out.push_back({m.mountPoint + "/" + name, gvfsShareLabel(name), true});
        }
    }
    return out;
}

std::string gvfsLocalPath(const std::vector<MountEntry>& table, const RemoteLocation& at)
{
    // gvfs names a share by its type and keys: smb://nas/photos/a is
    // smb-share:server=nas,share=photos, then /a inside it.
    const std::string_view scheme = at.scheme;
    const std::string type = scheme == "smb"    ? "smb-share"
                             : scheme == "davs" ? "dav"
                             : scheme == "ssh"  ? "sftp"
                                                : std::string(scheme);
    for (const Volume& share : gvfsShares(table)) {
        std::map<std::string_view, std::string> keys = gvfsKeys(lastPart(share.mountPoint));
        const std::string& host = keys.count("server") ? keys["server"] : keys["host"];
        if (keys[""] != type || !sameHostName(host, at.host) ||
            (!keys["user"].empty() && !at.user.empty() && keys["user"] != at.user) ||
            (!keys["port"].empty() && !at.port.empty() && keys["port"] != at.port) ||
            (type == "dav" && (keys["ssl"] == "true") != (scheme == "davs")))
            continue;
        std::string_view rest = at.path;
        if (type == "smb-share") {  // the share is the path's first part
            PathComponents parts(rest);
            const std::string_view name = parts.next();
            if (!sameHostName(name, keys["share"]))
                continue;
            rest = rest.substr(size_t(name.data() + name.size() - rest.data()));
        }
        std::string_view prefix = keys["prefix"];
        while (!prefix.empty() && prefix.back() == '/')
            prefix.remove_suffix(1);
        if (!prefix.empty()) {
            if (!isWithin(rest, prefix))
                continue;
            rest.remove_prefix(prefix.size());
        }
        return rest.empty() || rest == "/" ? share.mountPoint : share.mountPoint + std::string(rest);
    }
    return {};
}

std::vector<Volume> currentVolumes()
{
    const std::vector<MountEntry> table = readMountTable();
    std::vector<MountEntry> mounts = userMounts(table);
    // Files bound over files (a container's /etc/hosts) are no folders to
    // open. A share is not asked: its server may be slow or gone.
    std::erase_if(mounts, [](const MountEntry& m) {
        struct stat st;
        return !m.network && (stat(m.mountPoint.c_str(), &st) != 0 || !S_ISDIR(st.st_mode));
    });
    std::vector<Volume> out = labelVolumes(mounts);
    for (Volume& v : gvfsShares(table))
        out.push_back(std::move(v));
    std::sort(out.begin(), out.end(),
              [](const Volume& a, const Volume& b) { return a.mountPoint < b.mountPoint; });
    return out;
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
