// The attribute bits as other programs see them: a Samba server on
// 127.0.0.1 over a temporary folder (smbclient), Java's DosFileAttributes,
// an NTFS image through ntfs-3g and a FAT image where the kernel mounts one.
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <map>
#include <regex>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/attrib.h"
#include "platform/dosattrib.h"
#include "platform/handles.h"
#include "platform/listing.h"
#include "testutil/files.h"
#include "testutil/share.h"

using namespace vemlo;
using namespace vemlo::test;

namespace {

using Ticks = QList<bool>;  // 只读 隐藏 存档 系统文件

uint32_t valueOf(const Ticks& t)
{
    return (t[0] ? fs::AttrReadOnly : 0) | (t[1] ? fs::AttrHidden : 0) |
           (t[2] ? fs::AttrArchive : 0) | (t[3] ? fs::AttrSystem : 0);
}

// The attribute numbers the listing shows for folder's entries.
std::map<std::string, uint32_t> listed(const std::string& folder)
{
    std::map<std::string, uint32_t> out;
    fs::ListingGaps gaps;
    fs::listFolder(folder, [&](const fs::EntryInfo& e) { out[std::string(e.name)] = e.attrib; }, gaps);
    return out;
}

// "attributes: RHA (23)" lines of smbclient's allinfo, in order.
std::vector<int> smbAttributes(const std::string& output)
{
    std::vector<int> out;
    static const std::regex line(R"(attributes: [A-Z]* \(([0-9a-f]+)\))");
    for (auto it = std::sregex_iterator(output.begin(), output.end(), line); it != std::sregex_iterator(); ++it)
        out.push_back(std::stoi((*it)[1].str(), nullptr, 16));
    return out;
}

// Java's letters for each path, one line each.
std::vector<std::string> javaAttributes(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"java", VEMLO_TEST_DIR "/DosAttribs.java"};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string out = commandOutput(argv);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(out.substr(start, nl - start));
    return lines;
}

bool haveJava() { return !QStandardPaths::findExecutable("java").isEmpty(); }

// A program of Debian's wine64 package: on PATH, or where the package puts it.
std::string wineProgram(const char* name, const char* packaged)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found.toStdString();
    return ::access(packaged, X_OK) == 0 ? packaged : "";
}

// The letters Wine's attrib shows for a path, in the order R H S A (empty
// when it shows none; "!" and its output when it did not answer).
std::string wineLetters(const std::string& wine, const std::string& path)
{
    std::string windows = "Z:" + path;
    std::replace(windows.begin(), windows.end(), '/', '\\');
    int status = 0;
    const std::string out = commandOutput({wine, "cmd", "/c", "attrib", windows}, &status);
    const size_t at = out.find(windows);
    if (status != 0 || at == std::string::npos)
        return "!" + out;
    std::string letters;
    for (char c : {'R', 'H', 'S', 'A'})
        if (out.find(c, out.rfind('\n', at) + 1) < at)
            letters += c;
    return letters;
}

}  // namespace

class AttribClientsTest : public QObject {
    Q_OBJECT

    TempDir shared_;
    std::unique_ptr<SambaShare> samba_;
    std::unique_ptr<ScratchFs> ntfs_;
    TempDir winePrefix_;
    std::string wine_, wineserver_;  // empty without Wine

private slots:
    void initTestCase()
    {
        samba_ = std::make_unique<SambaShare>(shared_.path());
        if (!samba_->usable())
            qWarning("%s", samba_->skipReason().c_str());
        startWine();
    }

    void cleanupTestCase()
    {
        samba_.reset();
        ntfs_.reset();
        if (!wineserver_.empty())
            runCommand({wineserver_, "-k"});
    }

    // Bits set by our change, as smbclient and Java read them back.
    void oursSeenByClients_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("before");  // record before the change
        QTest::addColumn<Ticks>("ticks");
        QTest::addColumn<int>("smb");
        QTest::addColumn<QString>("java");
        QTest::addColumn<QString>("wine");  // Wine takes read-only from the mode alone
        QTest::newRow("file, start-up ticks") << false << "" << Ticks{0, 0, 1, 0} << 0x20 << "A" << "A";
        QTest::newRow("file, read-only and hidden") << false << "" << Ticks{1, 1, 0, 0} << 0x3 << "RH" << "RHA";
        QTest::newRow("file, system") << false << "" << Ticks{0, 0, 0, 1} << 0x4 << "S" << "SA";
        QTest::newRow("file, all four") << false << "" << Ticks{1, 1, 1, 1} << 0x27 << "RHSA" << "RHSA";
        QTest::newRow("file, nothing") << false << "0x27" << Ticks{0, 0, 0, 0} << 0x80 << "-" << "A";
        QTest::newRow("folder, hidden") << true << "" << Ticks{0, 1, 0, 0} << 0x12 << "H" << "H";
        QTest::newRow("folder, read-only and archive") << true << "" << Ticks{1, 0, 1, 0} << 0x31 << "RA" << "";
        QTest::newRow("folder, all four") << true << "" << Ticks{1, 1, 1, 1} << 0x37 << "RHSA" << "HS";
        QTest::newRow("folder, nothing") << true << "0x12" << Ticks{0, 0, 0, 0} << 0x10 << "-" << "";
        QTest::newRow("earlier version's record") << false << "old:6" << Ticks{0, 0, 1, 0} << 0x20 << "A" << "A";
        // Samba's own record keeps its form, which Java cannot read; its hex
        // text, filled by the change, is what Wine reads.
        QTest::newRow("file Samba marked")
            << false << "hex:00000500050000001100000006000000754aaa2da486dd01" << Ticks{0, 0, 1, 1} << 0x24
            << "!" << "SA";
    }

    void oursSeenByClients()
    {
        QFETCH(bool, folder);
        QFETCH(QString, before);
        QFETCH(Ticks, ticks);
        QFETCH(int, smb);
        QFETCH(QString, java);
        QFETCH(QString, wine);
        VEMLO_REQUIRE_SHARE(*samba_);
        const std::string name = "e" + std::to_string(std::hash<std::string>()(QTest::currentDataTag()));
        const std::string path = shared_.path() + "/" + name;
        makeEntries(shared_.path(), {folder ? name + "/" : name});
        QVERIFY(setRecord(path, before.toStdString()));

        QCOMPARE(fs::setAttributes(path, valueOf(ticks)).err, 0);
        const std::string out = samba_->client("allinfo " + name);
        QCOMPARE(smbAttributes(out), std::vector<int>{smb});
        QCOMPARE(int(listed(shared_.path()).at(name)), smb == 0x80 ? 128 : smb);
        if (!wine_.empty())
            QCOMPARE(QString::fromStdString(wineLetters(wine_, path)), wine);
        if (!haveJava())
            QSKIP("skipped: no java (package openjdk-17-jre-headless)");
        const auto lines = javaAttributes({path});
        QCOMPARE(lines.size(), size_t(1));
        QCOMPARE(QString::fromStdString(lines[0]).left(java.size()), java);
        qInfo("%s: smbclient %x, java %s, record %s", QTest::currentDataTag(), smb, lines[0].c_str(),
              recordOf(path).c_str());
    }

private:
    // Wine in a prefix of its own, made here once (the slow part), its server
    // kept running between the calls and ended with the test.
    void startWine()
    {
        wine_ = wineProgram("wine64", "/usr/lib/wine/wine64");
        wineserver_ = wineProgram("wineserver", "/usr/lib/wine/wineserver64");
        if (wine_.empty() || wineserver_.empty()) {
            wine_.clear();
            wineserver_.clear();
            qWarning("skipped Wine's view: no wine64 (package wine64)");
            return;
        }
        qputenv("WINEPREFIX", winePrefix_.qpath().toLocal8Bit() + "/prefix");
        qputenv("WINEDEBUG", "-all");
        qunsetenv("DISPLAY");  // no window: cmd only
        QElapsedTimer made;
        made.start();
        int status = 0;
        const std::string out = commandOutput({wine_, "cmd", "/c", "ver"}, &status, 120000);
        if (status != 0) {
            qWarning("skipped Wine's view: Wine did not start: %s", out.c_str());
            wine_.clear();
            return;
        }
        qInfo("Wine's prefix made in %lld ms", made.elapsed());
        // Once the prefix is there: ends by itself 30 s after its last client.
        runCommand({wineserver_, "-p30"});
    }

private slots:
    // Bits set by smbclient or Java, as our listing shows them.
    void clientsSeenByUs_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("command");  // smbclient setmode flags, or "java"
        QTest::addColumn<int>("shown");
        QTest::newRow("file +h") << false << "+h" << 2;
        QTest::newRow("file +r (the record alone)") << false << "+r" << 1;
        QTest::newRow("file +hsa") << false << "+hsa" << 0x26;
        QTest::newRow("file +s then -s") << false << "+s;-s" << 128;
        QTest::newRow("folder +h") << true << "+h" << 0x12;
        QTest::newRow("folder +r") << true << "+r" << 0x11;
        QTest::newRow("folder +hs") << true << "+hs" << 0x16;
        QTest::newRow("file, Java sets hidden and system") << false << "java" << 6;
    }

    void clientsSeenByUs()
    {
        QFETCH(bool, folder);
        QFETCH(QString, command);
        QFETCH(int, shown);
        if (command == "java" && !haveJava())
            QSKIP("skipped: no java (package openjdk-17-jre-headless)");
        if (command != "java")
            VEMLO_REQUIRE_SHARE(*samba_);
        const std::string name = "c" + std::to_string(std::hash<std::string>()(QTest::currentDataTag()));
        const std::string path = shared_.path() + "/" + name;
        makeEntries(shared_.path(), {folder ? name + "/" : name});
        if (command == "java") {
            QCOMPARE(javaAttributes({"set-hs:" + path, path}), std::vector<std::string>{"HS"});
        } else {
            std::string commands;
            for (const QString& flags : command.split(';'))
                commands += "setmode " + name + " " + flags.toStdString() + ";";
            samba_->client(commands);
            QCOMPARE(smbAttributes(samba_->client("allinfo " + name)),
                     std::vector<int>{shown == 128 ? 0x80 : shown});
        }
        QCOMPARE(int(listed(shared_.path()).at(name)), shown);
    }

    // NTFS through ntfs-3g: the file's own attribute, listed exactly as kept;
    // the change replaces the bits a program may set and keeps the others.
    void ntfsRoundTrip_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<int>("before");
        QTest::addColumn<Ticks>("ticks");
        QTest::addColumn<int>("after");
        QTest::newRow("not content-indexed archive, archive ticked") << false << 0x2020 << Ticks{0, 0, 1, 0} << 0x20;
        QTest::newRow("hidden system archive, hidden ticked") << false << 0x26 << Ticks{0, 1, 0, 0} << 0x2;
        QTest::newRow("all four") << false << 0x20 << Ticks{1, 1, 1, 1} << 0x27;
        QTest::newRow("nothing ticked: normal") << false << 0x27 << Ticks{0, 0, 0, 0} << 0x80;
        QTest::newRow("folder keeps its bit") << true << 0x10 << Ticks{1, 1, 1, 1} << 0x37;
        QTest::newRow("folder, nothing ticked") << true << 0x2012 << Ticks{0, 0, 0, 0} << 0x10;
    }

    void ntfsRoundTrip()
    {
        QFETCH(bool, folder);
        QFETCH(int, before);
        QFETCH(Ticks, ticks);
        QFETCH(int, after);
        if (!ntfs_)
            ntfs_ = std::make_unique<ScratchFs>(8192, ScratchFs::Kind::Ntfs);
        const ScratchFs& ntfs = *ntfs_;
        if (!ntfs.usable()) {
            if (QStandardPaths::findExecutable("ntfs-3g").isEmpty() || !pathExists("/dev/fuse"))
                QSKIP("skipped: no ntfs-3g or no /dev/fuse");
            QFAIL(ntfs.skipReason());
        }
        const std::string path = ntfs.path() + "/e";
        removeTree(path);
        makeEntries(ntfs.path(), {folder ? "e/" : "e"});
        // An earlier version's private record, kept by ntfs-3g as a stream.
        QCOMPARE(::lsetxattr(path.c_str(), fs::kOldAttribXattr, "2", 1, 0), 0);
        const uint32_t b = uint32_t(before);
        QCOMPARE(::lsetxattr(path.c_str(), fs::kNtfsAttribXattr, &b, sizeof b, 0), 0);
        QCOMPARE(int(listed(ntfs.path()).at("e")), before);

        QCOMPARE(fs::setAttributes(path, valueOf(ticks)).err, 0);
        uint32_t stored = 0;
        QCOMPARE(::lgetxattr(path.c_str(), fs::kNtfsAttribXattr, &stored, sizeof stored), ssize_t(4));
        QCOMPARE(int(stored), after);
        QCOMPARE(int(listed(ntfs.path()).at("e")), after);
        QCOMPARE(xattrOf(path, fs::kOldAttribXattr), std::string("<none>"));
        QCOMPARE(xattrOf(path, fs::kDosAttribXattr), std::string("<none>"));
    }

    // A kernel-mounted SMB share keeps the whole attribute in
    // user.cifs.dosattrib, as NTFS does in its own: the same rows, through a
    // local file given the share's store. The kernel sends an attribute of 0
    // as "leave it unchanged", so nothing ticked must write normal.
    void cifsRoundTrip_data() { ntfsRoundTrip_data(); }

    void cifsRoundTrip()
    {
        QFETCH(bool, folder);
        QFETCH(int, before);
        QFETCH(Ticks, ticks);
        QFETCH(int, after);
        TempDir tmp;
        const std::string path = tmp.path() + "/e";
        makeEntries(tmp.path(), {folder ? "e/" : "e"});
        const uint32_t b = uint32_t(before);
        QCOMPARE(::lsetxattr(path.c_str(), fs::kCifsAttribXattr, &b, sizeof b, 0), 0);
        struct stat st;
        QCOMPARE(::lstat(path.c_str(), &st), 0);
        const fs::FolderStore cifs{fs::AttribStore::Cifs, st.st_dev};

        QCOMPARE(fs::setAttributes(path, valueOf(ticks), cifs).err, 0);
        uint32_t stored = 0;
        QCOMPARE(::lgetxattr(path.c_str(), fs::kCifsAttribXattr, &stored, sizeof stored), ssize_t(4));
        QCOMPARE(int(stored), after);
        const fs::FileDescriptor dir(::open(tmp.path().c_str(), O_RDONLY | O_DIRECTORY));
        fs::AttribReader reader(dir.get(), cifs);
        QCOMPARE(int(reader.attribOf("e", st.st_mode, st.st_dev)), after);
        QCOMPARE(xattrOf(path, fs::kDosAttribXattr), std::string("<none>"));
    }

    // An NTFS drive mounted in a folder of another file system: the change
    // and the listing take its bits where NTFS keeps them, its neighbours
    // where their own file system does.
    void mountPointTakesItsOwnStore()
    {
        if (!ntfs_)
            ntfs_ = std::make_unique<ScratchFs>(8192, ScratchFs::Kind::Ntfs);
        if (!ntfs_->usable())
            QSKIP("skipped: no NTFS image could be mounted");
        TempDir tmp;
        const std::string d = tmp.path(), drive = d + "/drive";
        writeFile(d + "/a.txt");
        const BindMount mounted(ntfs_->path(), drive);
        QVERIFY(mounted.mounted());

        const fs::FolderStore folder = fs::folderStoreOfPath(d);
        QCOMPARE(int(folder.store), int(fs::AttribStore::Samba));
        for (const char* name : {"/a.txt", "/drive"})
            QCOMPARE(fs::setAttributes(d + name, fs::AttrHidden | fs::AttrSystem, folder).err, 0);
        uint32_t root = 0;
        QCOMPARE(::lgetxattr(drive.c_str(), fs::kNtfsAttribXattr, &root, sizeof root), ssize_t(4));
        QCOMPARE(root & 0x17u, 0x16u);
        QCOMPARE(xattrOf(drive, fs::kDosAttribXattr), std::string("<none>"));
        QCOMPARE(recordOf(d + "/a.txt"), std::string("0x6"));
        const auto rows = listed(d);
        QCOMPARE(rows.at("drive"), root);
        QCOMPARE(int(rows.at("a.txt")), 0x6);

        QCOMPARE(fs::setAttributes(drive, 0, folder).err, 0);
        QCOMPARE(::lgetxattr(drive.c_str(), fs::kNtfsAttribXattr, &root, sizeof root), ssize_t(4));
        QCOMPARE(root & 0x17u, 0x10u);
        QCOMPARE(listed(d).at("drive"), root);
    }

    // FAT: the attribute byte through the kernel's FAT driver.
    void fatRoundTrip()
    {
        ScratchFs fat(8192, ScratchFs::Kind::Fat);
        if (!fat.usable())
            QSKIP(fat.skipReason());
        const std::string file = fat.path() + "/a.txt", folder = fat.path() + "/d";
        writeFile(file);
        QCOMPARE(::mkdir(folder.c_str(), 0755), 0);
        QCOMPARE(fs::setAttributes(file, fs::AttrReadOnly | fs::AttrHidden).err, 0);
        QCOMPARE(fs::setAttributes(folder, fs::AttrSystem | fs::AttrArchive).err, 0);
        auto rows = listed(fat.path());
        QCOMPARE(int(rows.at("a.txt")), 0x3);
        QCOMPARE(int(rows.at("d")), 0x34);
        struct stat st;
        QCOMPARE(::stat(file.c_str(), &st), 0);
        QVERIFY(!(st.st_mode & 0222));  // the driver shows read-only to Linux programs
        QCOMPARE(fs::setAttributes(file, 0).err, 0);
        QCOMPARE(int(listed(fat.path()).at("a.txt")), 128);
    }
};

QTEST_GUILESS_MAIN(AttribClientsTest)
#include "test_attrib_clients.moc"
