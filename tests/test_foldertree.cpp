// The mounts the drive chooser offers and the folder tree's walk over real
// folders: what it shows, where it goes, and what a failure leaves behind.
#include <QTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "common/errtext.h"
#include "import/core/foldertree.h"
#include "platform/listing.h"
#include "platform/mounts.h"
#include "testutil/files.h"

using namespace vemlo;
using vemlo::test::canonicalPath;
using vemlo::test::currentDir;
using vemlo::test::TempDir;

namespace {

std::vector<std::string> names(const std::vector<FolderEntry>& entries, bool onPath)
{
    std::vector<std::string> out;
    for (const auto& e : entries)
        if (e.onPath == onPath)
            out.push_back(e.name);
    return out;
}

}  // namespace

class FolderTreeTest : public QObject {
    Q_OBJECT
    std::string startDir_;
private slots:
    void initTestCase() { startDir_ = currentDir(); }
    void cleanup() { QVERIFY(::chdir(startDir_.c_str()) == 0); }

    void userFileSystems_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("mountPoint");
        QTest::addColumn<bool>("kept");
        auto row = [](const char* name, const char* line, const char* mp, bool kept) {
            QTest::newRow(name) << QByteArray(line) << QByteArray(mp) << kept;
        };
        row("root disk", "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw", "/", true);
        row("optional fields",
            "36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 shared:2 - ext3 /dev/root rw",
            "/mnt/parent", true);
        row("blank in mount point", "40 27 8:17 / /mnt/my\\040disk rw - vfat /dev/sdb1 rw",
            "/mnt/my disk", true);
        row("network share", "41 27 0:50 / /mnt/share rw - nfs4 srv:/export rw", "/mnt/share", true);
        row("sshfs share", "51 27 0:51 / /mnt/ssh rw - fuse.sshfs ann@srv:/data rw", "/mnt/ssh", true);
        row("desktop's gvfs", "52 44 0:52 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw",
            "/run/user/1000/gvfs", false);
        row("autofs trigger", "53 27 0:53 / /net rw - autofs systemd-1 rw", "/net", false);
        row("container root", "50 40 0:44 / / rw - overlay overlay rw,lowerdir=/a", "/", true);
        row("scratch memory", "42 27 0:40 / /tmp rw - tmpfs tmpfs rw", "/tmp", true);
        row("desktop-mounted stick", "43 30 8:33 / /run/media/ann/STICK rw - exfat /dev/sdc1 rw",
            "/run/media/ann/STICK", true);
        row("proc", "22 27 0:21 / /proc rw - proc proc rw", "/proc", false);
        row("sysfs", "23 27 0:22 / /sys rw - sysfs sysfs rw", "/sys", false);
        row("cgroup", "32 31 0:29 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu",
            "/sys/fs/cgroup/cpu", false);
        row("cgroup2 elsewhere", "33 27 0:30 / /cg rw - cgroup2 cgroup2 rw", "/cg", false);
        row("devpts", "26 24 0:24 / /dev/pts rw - devpts devpts rw", "/dev/pts", false);
        row("tmpfs under /dev", "25 24 0:23 / /dev/shm rw - tmpfs tmpfs rw", "/dev/shm", false);
        row("tmpfs under /run", "44 27 0:45 / /run/user/1000 rw - tmpfs tmpfs rw",
            "/run/user/1000", false);
        row("portal under /run", "45 44 0:46 / /run/user/1000/doc rw - fuse.portal portal rw",
            "/run/user/1000/doc", false);
        row("container layer",
            "46 27 0:47 / /var/lib/docker/overlay2/ab/merged rw - overlay overlay rw",
            "/var/lib/docker/overlay2/ab/merged", false);
        row("snap", "47 27 7:1 / /snap/core/123 ro - squashfs /dev/loop1 ro", "/snap/core/123",
            false);
        row("image elsewhere", "48 27 7:2 / /opt/app ro - squashfs /dev/loop2 ro", "/opt/app",
            false);
        row("inside a hidden folder", "49 27 0:48 / /home/ann/.cache/x rw - ext4 /dev/sdd1 rw",
            "/home/ann/.cache/x", false);
    }

    void userFileSystems()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, mountPoint);
        QFETCH(bool, kept);
        const auto table = fs::parseMountInfo(line.toStdString());
        QCOMPARE(table.size(), size_t(1));
        QCOMPARE(table[0].mountPoint, mountPoint.toStdString());
        QCOMPARE(fs::isUserFileSystem(table[0]), kept);
    }

    void mountTableInPathOrderOnePerMountPoint()
    {
        const char* text =
            "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
            "60 27 8:1 / /mnt/b rw - ext4 /dev/sdb1 rw\n"
            "61 27 8:2 / /mnt/a rw - ext4 /dev/sdc1 rw\n"
            "garbage line\n"
            "62 61 8:3 / /mnt/a rw - vfat /dev/sdd1 rw\n"  // mounted over the one before
            "63 27 8:4 / /mnt/c rw - ext4 /dev/sde1 rw\n"
            "64 63 0:5 / /mnt/c rw - proc proc rw\n";  // hides /mnt/c
        const auto mounts = fs::userMounts(fs::parseMountInfo(text));
        std::vector<std::string> points;
        for (const auto& m : mounts)
            points.push_back(m.mountPoint);
        QCOMPARE(points, (std::vector<std::string>{"/", "/mnt/a", "/mnt/b"}));
        QCOMPARE(mounts[1].fsType, std::string("vfat"));
        QCOMPARE(mounts[1].device, makedev(8, 3));
    }

    // Shares named as Windows names a mapped drive: share (server).
    void shareLabels_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("label");
        auto row = [](const char* name, const char* type, const char* source, const char* label) {
            QTest::newRow(name) << (QByteArray("41 27 0:50 / /mnt/s rw - ") + type + " " + source + " rw")
                                << QByteArray(label);
        };
        row("cifs", "cifs", "//nas/photos", "photos (nas)");
        row("cifs, a folder of the share", "cifs", "//nas/photos/2024/", "2024 (nas)");
        row("cifs, the server alone", "smb3", "//nas", "nas");
        row("nfs", "nfs", "nas:/export/photos", "photos (nas)");
        row("nfs4 root", "nfs4", "nas:/", "nas");
        row("sshfs with a user", "fuse.sshfs", "ann@srv:/home/ann/docs", "docs (srv)");
        row("sshfs home", "fuse.sshfs", "ann@srv:", "srv");
        row("nfs, IPv6 server", "nfs", "[fe80::1%eth0]:/export/photos", "photos (fe80::1%eth0)");
        row("nfs4, IPv6 server's root", "nfs4", "[2001:db8::7]:/", "2001:db8::7");
        row("sshfs, IPv6 server and a user", "fuse.sshfs", "ann@[::1]:docs", "docs (::1)");
        row("unclosed bracket", "nfs", "[fe80::1:/export", "[fe80::1:/export");
    }

    void shareLabels()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, label);
        const auto table = fs::parseMountInfo(line.toStdString());
        QCOMPARE(table.size(), size_t(1));
        QVERIFY(table[0].network);
        QCOMPARE(fs::labelVolumes(table)[0].label, label.toStdString());
    }

    // The desktop's shares: one per folder of its gvfs mount, names decoded.
    void gvfsShares()
    {
        TempDir dir;
        const std::string gvfs = dir.path() + "/gvfs";
        const std::pair<const char*, const char*> shares[] = {
            {"smb-share:server=nas,share=photos", "photos (nas)"},
            {"smb-share:domain=WORK,server=nas,share=my%20files,user=ann", "my files (nas)"},
            // gio mount smb://127.0.0.1:PORT/share: the port comes first
            {"smb-share:port=44555,server=127.0.0.1,share=share", "share (127.0.0.1)"},
            {"sftp:host=srv,user=ann", "srv"},
            {"ftp:host=ftp.example.org,prefix=%2Fpub%2Fdocs", "docs (ftp.example.org)"},
            {"dav:host=cloud,ssl=true,prefix=%2Fremote.php%2Fwebdav", "webdav (cloud)"},
            {"mtp:host=Phone", "Phone"},
            {"plain", "plain"},
        };
        QVERIFY(::mkdir(gvfs.c_str(), 0755) == 0);
        for (const auto& [folder, label] : shares) {
            QCOMPARE(fs::gvfsShareLabel(folder), std::string(label));
            QVERIFY(::mkdir((gvfs + "/" + folder).c_str(), 0755) == 0);
        }
        const auto table =
            fs::parseMountInfo("52 44 0:52 / " + gvfs + " rw - fuse.gvfsd-fuse gvfsd-fuse rw\n");
        const auto volumes = fs::gvfsShares(table);
        QCOMPARE(volumes.size(), std::size(shares));
        for (const auto& v : volumes)
            QVERIFY(v.network && v.mountPoint.rfind(gvfs + "/", 0) == 0 &&
                    v.label == fs::gvfsShareLabel(v.mountPoint.substr(gvfs.size() + 1)));

        // A dropped URL on a mounted share is reached through its folder.
        const std::pair<fs::RemoteLocation, std::string> urls[] = {
            {{"smb", "NAS", "", "", "/Photos/2024"}, "/smb-share:server=nas,share=photos/2024"},
            {{"smb", "nas", "", "", "/photosx"}, ""},
            {{"smb", "127.0.0.1", "", "44555", "/share"}, "/smb-share:port=44555,server=127.0.0.1,share=share"},
            {{"smb", "127.0.0.1", "", "445", "/share"}, ""},
            {{"sftp", "srv", "ann", "", "/home/ann"}, "/sftp:host=srv,user=ann/home/ann"},
            {{"sftp", "srv", "bob", "", "/"}, ""},
            {{"davs", "cloud", "", "", "/remote.php/webdav/x"}, "/dav:host=cloud,ssl=true,prefix=%2Fremote.php%2Fwebdav/x"},
            {{"davs", "cloud", "", "", "/remote.php/other"}, ""},
            {{"dav", "cloud", "", "", "/remote.php/webdav"}, ""},
        };
        for (const auto& [at, path] : urls)
            QCOMPARE(fs::gvfsLocalPath(table, at), path.empty() ? path : gvfs + path);
    }

    void labelsFromLinks()
    {
        TempDir dir;
        const std::string byLabel = dir.path() + "/by-label";
        QVERIFY(::mkdir(byLabel.c_str(), 0755) == 0);
        test::writeFile(dir.path() + "/node1");
        test::writeFile(dir.path() + "/node2");
        QVERIFY(::symlink("../node1", (byLabel + "/My\\x20Disk").c_str()) == 0);
        QVERIFY(::symlink("../gone", (byLabel + "/Dangling").c_str()) == 0);
        std::vector<fs::MountEntry> mounts(3);
        mounts[0] = {"/mnt/a", "ext4", dir.path() + "/node1", 0};
        mounts[1] = {"/mnt/b", "ext4", dir.path() + "/node2", 0};
        mounts[2] = {"/mnt/c", "nfs4", "srv:/x", 0};
        const auto volumes = fs::labelVolumes(mounts, byLabel);
        QCOMPARE(volumes.size(), size_t(3));
        QCOMPARE(volumes[0].label, std::string("My Disk"));
        QCOMPARE(volumes[1].label, std::string());
        QCOMPARE(volumes[2].label, std::string());
    }

    void mountContaining_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("mount");
        QTest::newRow("below a mount") << QByteArray("/mnt/usb/a/b") << QByteArray("/mnt/usb");
        QTest::newRow("the mount point") << QByteArray("/mnt/usb") << QByteArray("/mnt/usb");
        QTest::newRow("same prefix, other folder") << QByteArray("/mnt/usbx") << QByteArray("/");
        QTest::newRow("root") << QByteArray("/") << QByteArray("/");
        QTest::newRow("nested mounts") << QByteArray("/mnt/usb/in/x") << QByteArray("/mnt/usb/in");
    }

    void mountContaining()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, mount);
        const std::vector<std::string> mounts = {"/", "/mnt/usb", "/mnt/usb/in", "/home"};
        QCOMPARE(fs::mountContaining(mounts, path.toStdString()), mount.toStdString());
        QCOMPARE(fs::mountContaining({"/mnt"}, path.toStdString()),
                 std::string(path.startsWith("/mnt/") ? "/mnt" : "/"));
    }

    void treeShowsPathAndVisibleSubfolders()
    {
        TempDir dir;
        const std::string base = canonicalPath(dir.path());
        const std::string start = base + "/start";
        for (const char* sub : {"/start", "/start/gamma", "/start/alpha", "/start/Beta",
                                "/start/.hidden", "/start/\xff\xfe", "/target", "/start/archived",
                                "/start/hiddenbit", "/start/system", "/start/both"})
            QVERIFY(::mkdir((base + sub).c_str(), 0755) == 0);
        // Folders hidden or system by their stored attribute are left out.
        for (auto [sub, record] : {std::pair{"/start/archived", "0x30"}, {"/start/hiddenbit", "old:2"},
                                   {"/start/system", "0x34"}, {"/start/both", "0x16"}})
            QVERIFY(test::setRecord(base + sub, record));
        test::writeFile(start + "/file.txt");
        QVERIFY(::symlink("../target", (start + "/zlink").c_str()) == 0);
        QVERIFY(::symlink("missing", (start + "/dangling").c_str()) == 0);
        QVERIFY(::chdir(start.c_str()) == 0);

        FolderTree tree({"/", base});  // base stands for a mount
        QCOMPARE(tree.folder(), start);
        QCOMPARE(tree.mount(), base);
        // Nothing below the folder is read until it is asked for.
        QVERIFY(!tree.subfoldersLoaded() && tree.entries().size() == 2);
        QVERIFY(tree.loadSubfolders().ok());
        QCOMPARE(tree.subfolders(),
                 (std::vector<std::string>{"alpha", "archived", "Beta", "gamma", "zlink", "\xff\xfe"}));
        const auto entries = tree.entries();
        QCOMPARE(names(entries, true), (std::vector<std::string>{base, "start"}));
        QCOMPARE(entries[0].path, base);
        QVERIFY(!entries[0].current && entries[1].current);
        QCOMPARE(entries[1].path, start);
        QCOMPARE(entries[2].path, start + "/alpha");
        QCOMPARE(entries[2].depth, 2);

        // On the root mount the tree shows every folder from "/" down.
        FolderTree onRoot({"/"});
        QVERIFY(onRoot.loadSubfolders().ok());
        const auto rootEntries = onRoot.entries();
        QCOMPARE(rootEntries[0].path, std::string("/"));
        QCOMPARE(rootEntries[1].path, "/" + names(rootEntries, true)[1]);
        const auto current = std::find_if(rootEntries.begin(), rootEntries.end(),
                                          [](const FolderEntry& e) { return e.current; });
        QVERIFY(current != rootEntries.end());
        QCOMPARE(current->path, start);
        QCOMPARE(current->name, std::string("start"));
    }

    void openingFolders()
    {
        TempDir dir;
        const std::string base = canonicalPath(dir.path());
        for (const char* sub : {"/a", "/a/b", "/other", "/other/x"})
            QVERIFY(::mkdir((base + sub).c_str(), 0755) == 0);
        QVERIFY(::symlink("../other/x", (base + "/a/tox").c_str()) == 0);
        QVERIFY(::chdir((base + "/a").c_str()) == 0);
        FolderTree tree({"/", base + "/a", base + "/other"});
        QCOMPARE(tree.mount(), base + "/a");

        TreeStep step;
        QVERIFY((step = tree.open(base + "/a")).ok());
        QVERIFY(!step.changed);  // the folder's own entry

        QVERIFY((step = tree.open(base + "/a/b")).ok());
        QVERIFY(step.changed);
        QCOMPARE(tree.folder(), base + "/a/b");
        QCOMPARE(currentDir(), base + "/a/b");
        QVERIFY(tree.subfolders().empty());

        // A link is entered; the tree takes the folder getcwd reads back,
        // on the mount that folder lies on.
        QVERIFY((step = tree.open(base + "/a")).ok() && step.changed);
        QVERIFY((step = tree.open(base + "/a/tox")).ok() && step.changed);
        QCOMPARE(tree.folder(), base + "/other/x");
        QCOMPARE(tree.mount(), base + "/other");
        QCOMPARE(tree.entries()[0].path, base + "/other");
    }

    void folderThatCannotBeEntered_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("text");
        QTest::newRow("removed") << QByteArray("gone") << QStringLiteral("File not found");
        QTest::newRow("a file") << QByteArray("file.txt") << QStringLiteral("Invalid filename");
        QTest::newRow("name too long") << QByteArray(300, 'n') << QStringLiteral("Invalid filename");
        QTest::newRow("link loop") << QByteArray("loop") << QStringLiteral("I/O error 40");
    }

    void folderThatCannotBeEntered()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, text);
        TempDir dir;
        const std::string base = canonicalPath(dir.path());
        test::writeFile(base + "/file.txt");
        QVERIFY(::symlink("loop", (base + "/loop").c_str()) == 0);
        QVERIFY(::mkdir((base + "/sub").c_str(), 0755) == 0);
        QVERIFY(::chdir(base.c_str()) == 0);
        FolderTree tree({"/"});
        const auto before = tree.entries().size();

        TreeStep step;
        const fs::Status s = (step = tree.open(base + "/" + name.toStdString())).status;
        QVERIFY(!s.ok());
        QVERIFY(!step.changed);
        QCOMPARE(QString::fromStdString(folderErrorText(s.err)), text);
        QCOMPARE(tree.folder(), base);
        QCOMPARE(currentDir(), base);
        QCOMPARE(tree.entries().size(), before);
    }

    // A folder the user may not enter: the tree says so and stays.
    void folderWithoutPermission()
    {
        TempDir dir;
        const std::string base = canonicalPath(dir.path());
        QVERIFY(::chmod(base.c_str(), 0755) == 0);
        QVERIFY(::mkdir((base + "/closed").c_str(), 0) == 0);
        const int failed = test::runUnprivileged([&] {
            if (::chdir(base.c_str()) != 0)
                return 1;
            FolderTree tree({"/"});
            const TreeStep step = tree.open(base + "/closed");
            if (step.status.err != EACCES || step.changed)
                return 2;
            if (folderErrorText(step.status.err) != "File access denied")
                return 3;
            return tree.folder() == base && currentDir() == base ? 0 : 4;
        });
        QCOMPARE(failed, 0);
    }

    void setDriveRemembersTheFolderOfEachMount()
    {
        TempDir dir;
        const std::string base = canonicalPath(dir.path());
        const std::string m1 = base + "/m1", m2 = base + "/m2";
        for (const std::string& d : {m1, m1 + "/sub", m2, m2 + "/x"})
            QVERIFY(::mkdir(d.c_str(), 0755) == 0);
        QVERIFY(::chdir((m1 + "/sub").c_str()) == 0);
        FolderTree tree({"/", m1, m2});
        TreeStep step;

        QVERIFY((step = tree.setDrive(m1)).ok());
        QVERIFY(!step.changed);  // the mount it is on

        QVERIFY((step = tree.setDrive(m2)).ok() && step.changed);
        QCOMPARE(tree.folder(), m2);  // nothing open on it yet: its mount point
        QCOMPARE(tree.mount(), m2);
        QVERIFY((step = tree.open(m2 + "/x")).ok() && step.changed);

        QVERIFY((step = tree.setDrive(m1)).ok() && step.changed);
        QCOMPARE(tree.folder(), m1 + "/sub");
        QVERIFY((step = tree.setDrive(m2)).ok() && step.changed);
        QCOMPARE(tree.folder(), m2 + "/x");
        QCOMPARE(currentDir(), m2 + "/x");

        // The folder remembered on m1 is removed: the change fails and the
        // tree stays; the next choice of m1 opens its mount point.
        QVERIFY(::rmdir((m1 + "/sub").c_str()) == 0);
        const fs::Status s = (step = tree.setDrive(m1)).status;
        QCOMPARE(s.err, ENOENT);
        QVERIFY(!step.changed);
        QCOMPARE(tree.folder(), m2 + "/x");
        QCOMPARE(tree.mount(), m2);
        QCOMPARE(currentDir(), m2 + "/x");
        QVERIFY((step = tree.setDrive(m1)).ok() && step.changed);
        QCOMPARE(tree.folder(), m1);
        QCOMPARE(tree.mount(), m1);
    }
};

QTEST_GUILESS_MAIN(FolderTreeTest)
#include "test_foldertree.moc"
