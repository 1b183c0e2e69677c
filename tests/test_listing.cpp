// The folder listing on real files: every column, the names that are easy to
// get wrong, and what the table shows when a folder cannot be read.
#include <QRegularExpression>
#include <QTest>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <span>

#include "app/core/importrows.h"
#include "common/errtext.h"
#include "import/core/listrows.h"
#include "platform/handles.h"
#include "platform/listing.h"
#include "platform/lookpolicy.h"
#include "testutil/files.h"
#include "testutil/share.h"

using namespace vemlo;
using namespace vemlo::test;

namespace {

struct Listed {
    std::string path, name, ext, size, modified, created, attrib;
    bool operator==(const Listed&) const = default;
};

std::map<std::string, Listed> listByName(const std::string& folder, const std::string& working)
{
    RowStore rows;
    fs::ListingGaps gaps;
    const fs::Status st = listRows(folder, working, rows, gaps);
    if (!st || !gaps.empty())
        qFatal("listing failed: %d", st.err);
    std::map<std::string, Listed> out;
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto r = rows[i];
        Listed l{std::string(r.cell(0)), std::string(r.cell(1)), std::string(r.cell(2)),
                 std::string(r.cell(3)), std::string(r.cell(4)), std::string(r.cell(5)),
                 std::string(r.cell(6))};
        out[l.name] = l;
    }
    return out;
}

void setModified(const std::string& path, time_t when)
{
    const struct timespec times[2] = {{when, 0}, {when, 0}};
    utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

}  // namespace

class ListingTest : public QObject {
    Q_OBJECT
private slots:
    void columnsOfRealEntries()
    {
        TempDir tmp;
        const std::string d = tmp.path();
        writeFile(d + "/a.txt", "hello");
        writeFile(d + "/abc");
        writeFile(d + "/a.b");
        writeFile(d + "/甲");
        writeFile(d + "/x");
        writeFile(d + "/.profile");
        writeFile(d + "/photo.2024.jpg");
        writeFile(d + "/archive.tar.gz");
        writeFile(d + "/ends.");
        writeFile(d + "/Makefile");
        writeFile(d + "/\xff\xfe-raw.bin", "12");
        writeFile(d + "/readonly.txt");
        chmod((d + "/readonly.txt").c_str(), 0444);
        mkdir((d + "/sub.dir").c_str(), 0755);
        symlink("a.txt", (d + "/link.lnk").c_str());
        symlink("/nonexistent/target", (d + "/dangling").c_str());
        setModified(d + "/a.txt", 1714953600);  // 2024-05-06 00:00 UTC

        const auto rows = listByName(d, d);
        QCOMPARE(rows.size(), size_t(15));  // only "." and ".." are left out
        for (const char* shortName : {"abc", "a.b", "甲", "x"})
            QVERIFY2(rows.count(shortName), shortName);

        const Listed& a = rows.at("a.txt");
        QCOMPARE(a.path, d + "/a.txt");
        QCOMPARE(a.ext, std::string("txt"));
        QCOMPARE(a.size, std::string("5"));
        QCOMPARE(a.modified, std::string("2024/05/06"));
        QCOMPARE(a.attrib, std::string("128"));
        const QRegularExpression date(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}$"));
        QVERIFY(date.match(QString::fromStdString(a.created)).hasMatch());

        QCOMPARE(rows.at("photo.2024.jpg").ext, std::string("jpg"));
        QCOMPARE(rows.at("archive.tar.gz").ext, std::string("gz"));
        QCOMPARE(rows.at("ends.").ext, std::string(""));
        QCOMPARE(rows.at("Makefile").ext, std::string(""));
        QCOMPARE(rows.at(".profile").ext, std::string("profile"));
        QCOMPARE(rows.at(".profile").attrib, std::string("2"));

        const Listed& raw = rows.at("\xff\xfe-raw.bin");  // bytes kept exactly
        QCOMPARE(raw.path, d + "/\xff\xfe-raw.bin");
        QCOMPARE(raw.size, std::string("2"));

        QCOMPARE(rows.at("readonly.txt").attrib, std::string("1"));
        QCOMPARE(rows.at("sub.dir").size, std::string("0"));
        QCOMPARE(rows.at("sub.dir").attrib, std::string("16"));
        QCOMPARE(rows.at("sub.dir").ext, std::string("dir"));
        QCOMPARE(rows.at("link.lnk").attrib, std::string("1024"));  // the link, not a.txt
        QCOMPARE(rows.at("link.lnk").size, std::string("5"));         // length of "a.txt"
        QCOMPARE(rows.at("dangling").attrib, std::string("1024"));
    }

    void storedBitsAndLargeSizes()
    {
        TempDir tmp;
        const std::string d = tmp.path();
        const std::string big = d + "/big.bin";
        {
            fs::FileDescriptor fd(::open(big.c_str(), O_WRONLY | O_CREAT, 0644));
            QVERIFY(fd.valid());
            QCOMPARE(ftruncate(fd.get(), 3LL << 30), 0);  // sparse: takes no disk space
        }
        // Every form of the record, and the one of earlier versions; a
        // newer record wins over an older one.
        struct Record {
            const char* name;
            const char* record;
            const char* shown;
        };
        // Longer than the listing's first read takes in.
        const std::string longRecord = "hex:3078323200000300030000000f00000022000000" + std::string(1200, 'a');
        const Record records[] = {
            {"archived.txt", "old:32", "32"},
            {"system.txt", "0x6", "6"},
            {"not-indexed.txt", "hex:3078323032300000", "8224"},  // hex text, NUL, padding
            {"samba.txt", "hex:00000500050000001100000026000000754aaa2da486dd01", "38"},
            {"v3.txt", "hex:3078323000000300030000000f000000202000000000000000000000000000000000000000000000000000000000000000000000", "8224"},
            {"v1.txt", "hex:000001000100000002000000", "2"},
            {"both.txt", "0x20", "32"},
            {"crowded.txt", "0x4", "4"},
            {"garbled.txt", "hex:0102", "128"},
            {"long.txt", longRecord.c_str(), "34"},
            {"folder", "old:32", "48"},
            {"hidden-folder", "0x12", "18"},
        };
        for (const Record& r : records) {
            const std::string path = d + "/" + r.name;
            if (std::strstr(r.name, "folder"))
                QCOMPARE(::mkdir(path.c_str(), 0755), 0);
            else
                writeFile(path);
            QVERIFY(setRecord(path, r.record));
        }
        QVERIFY(setRecord(d + "/both.txt", "old:4"));
        // More names than the listing's first look takes in.
        for (int i = 0; i < 40; ++i)
            QCOMPARE(setxattr((d + "/crowded.txt").c_str(), ("user.other-attribute-" + std::to_string(i)).c_str(), "x", 1, 0), 0);

        const auto rows = listByName(d, d);
        QCOMPARE(rows.at("big.bin").size, std::string("3221225472"));
        for (const Record& r : records)
            QCOMPARE(rows.at(r.name).attrib, std::string(r.shown));
    }

    // Mount points of a file system without user attributes (sshfs) among a
    // folder's entries: listed again and again, every other entry keeps its
    // bits, and a mount point is what its own file system says; the tree's
    // reading of subfolders the same.
    void mountPointsAmongEntries()
    {
        TempDir remote, tmp;
        SshfsMount share(remote.path());
        VEMLO_REQUIRE_SHARE(share);
        const std::string d = tmp.path();
        std::map<std::string, std::string> expected;  // by name
        std::vector<std::string> visibleFolders;
        for (int i = 0; i < 200; ++i) {
            const std::string name = "f" + std::to_string(i);
            writeFile(d + "/" + name);
            QVERIFY(setRecord(d + "/" + name, "0x22"));
            expected[name] = "34";
        }
        for (int i = 0; i < 45; ++i) {
            const std::string name = (i < 40 ? "h" : "v") + std::to_string(i);
            QCOMPARE(::mkdir((d + "/" + name).c_str(), 0755), 0);
            QVERIFY(i >= 40 || setRecord(d + "/" + name, "0x12"));
            expected[name] = i < 40 ? "18" : "16";
            if (i >= 40)
                visibleFolders.push_back(name);
        }
        BindMount a(share.path(), d + "/a_share"), m(share.path(), d + "/m_share");
        QVERIFY(a.mounted() && m.mounted());
        expected["a_share"] = expected["m_share"] = "16";
        visibleFolders.insert(visibleFolders.end(), {"a_share", "m_share"});
        std::sort(visibleFolders.begin(), visibleFolders.end(), fs::nameLess);

        for (int round = 0; round < 4; ++round) {
            std::map<std::string, std::string> shown;
            for (const auto& [name, row] : listByName(d, d))
                shown[name] = row.attrib;
            int wrong = 0;
            for (const auto& [name, attrib] : expected)
                wrong += shown[name] != attrib;
            qInfo("listing %d: %d of %zu entries wrong", round + 1, wrong, expected.size());
            QCOMPARE(shown, expected);
        }
        const std::string before = currentDir();
        QCOMPARE(::chdir(d.c_str()), 0);
        std::vector<std::string> subfolders;
        const fs::Status read = fs::readSubfolders(subfolders);
        QCOMPARE(::chdir(before.c_str()), 0);
        QVERIFY(read.ok());
        QCOMPARE(subfolders, visibleFolders);
    }

    // Samba's record in every form found: read, and its attribute replaced
    // with the rest of the record kept (the hex text rewritten, the binary
    // part moved to its new alignment).
    void dosAttribRecords_data()
    {
        QTest::addColumn<QString>("record");
        QTest::addColumn<int>("attrib");  // -1: not a record
        QTest::addColumn<QString>("rewritten");  // with 0x2021
        const QString v3tail = "0f00000002000000" + QString(72, '0');
        QTest::newRow("hex text") << "0x22" << 0x22 << "0x2021";
        QTest::newRow("hex text without its NUL") << "hex:307832" << 2 << "0x2021";
        QTest::newRow("hex text, NUL padding") << "hex:3078323032300000" << 0x2020 << "0x2021";
        // A versioned record gets its hex text filled, for the programs that
        // read only the text.
        QTest::newRow("Samba 4.17: v5, no hex text")
            << "hex:00000500050000001100000006000000754aaa2da486dd01" << 6
            << "hex:3078323032310000050005001100000021200000754aaa2da486dd01";
        QTest::newRow("v3 after a hex text that grows")
            << "hex:3078320003000300" + v3tail << 2
            << "hex:307832303231000003000300" + v3tail.left(8) + "21200000" + v3tail.mid(16);
        QTest::newRow("v1") << "hex:000001000100000002000000" << 2
                            << "hex:30783230323100000100010021200000";
        QTest::newRow("v2: flags first") << "hex:0000020002000000ffffffff04000000" << 4
                                          << "hex:307832303231000002000200ffffffff21200000";
        QTest::newRow("v3 with a long tail kept")
            << "hex:3078323200000300030000000f00000022000000" + QString(1200, 'a') << 0x22
            << "hex:307832303231000003000300" "0f00000021200000" + QString(1200, 'a');
        QTest::newRow("cut before the attribute") << "hex:00000500050000001100" << -1 << "0x2021";
        QTest::newRow("unknown version") << "hex:00000900090000001100000006000000" << -1 << "0x2021";
        QTest::newRow("level differs from version") << "hex:00000500040000001100000006000000" << -1 << "0x2021";
        QTest::newRow("not hex") << "0xzz" << -1 << "0x2021";
        QTest::newRow("empty") << "hex:" << -1 << "0x2021";
    }

    void dosAttribRecords()
    {
        QFETCH(QString, record);
        QFETCH(int, attrib);
        QFETCH(QString, rewritten);
        const std::string bytes = recordBytes(record.toStdString());
        uint32_t value = 0;
        QCOMPARE(fs::parseDosAttrib(bytes, value), attrib >= 0);
        if (attrib >= 0)
            QCOMPARE(int(value), attrib);
        const std::string out = fs::withDosAttrib(bytes, 0x2021);
        QCOMPARE(QString::fromStdString(recordText(out)), rewritten);
        QVERIFY(fs::parseDosAttrib(out, value));
        QCOMPARE(value, 0x2021u);
    }

    void largeFolderListsEveryEntryOnce()
    {
        // Enough entries to be sorted by two threads and looked at by the
        // listing's threads in several batches: every one is listed once,
        // with its own size and attribute, the rows in name order across
        // the batches, capitals or not.
        TempDir tmp;
        const std::string d = tmp.path();
        constexpr int kCount = 20000;
        for (int i = 0; i < kCount; ++i) {
            const std::string path = d + (i % 3 ? "/f" : "/F") + std::to_string(i);
            if (i % 1000 == 999) {
                QCOMPARE(::mkdir(path.c_str(), 0755), 0);
                continue;
            }
            writeFile(path, std::string(size_t(i % 7), 'x'));
            if (i % 10 == 3)
                QVERIFY(setRecord(path, i % 20 == 3 ? "0x2" : "old:2"));
        }
        RowStore rows;
        fs::ListingGaps gaps;
        QVERIFY(listRows(d, d, rows, gaps).ok());
        QVERIFY(gaps.empty());
        QCOMPARE(rows.size(), size_t(kCount + 1));
        std::vector<char> seen(kCount, 0);
        for (size_t r = 1; r < rows.size(); ++r) {
            if (r > 1)
                QVERIFY(fs::nameLess(rows[r - 1].cell(1), rows[r].cell(1)));
            const int i = std::stoi(std::string(rows[r].cell(1).substr(1)));
            QVERIFY(!seen[size_t(i)]);
            seen[size_t(i)] = 1;
            const bool folder = i % 1000 == 999;
            QCOMPARE(rows[r].cell(3), folder ? std::string_view("0") : std::to_string(i % 7));
            const std::string attrib = folder ? "16" : i % 10 == 3 ? "2" : "128";
            QCOMPARE(rows[r].cell(6), std::string_view(attrib));
        }
    }

    // The look's plan by file system; on FUSE, the attributes taken as the
    // name's lookup brought them only where the sshfs command line has every
    // name looked up afresh.
    void lookPlanByFileSystem_data()
    {
        QTest::addColumn<qlonglong>("fsType");
        QTest::addColumn<bool>("twoCores");
        QTest::addColumn<QString>("command");  // the FUSE server's
        QTest::addColumn<QString>("plan");     // threads x entries a take, flags
        const qlonglong ext4 = 0xEF53, fuse = fs::fstype::kFuse;
        QTest::newRow("local disk") << ext4 << true << "" << "2x16";
        QTest::newRow("one core") << ext4 << false << "" << "1x16";
        QTest::newRow("NFS") << qlonglong(fs::fstype::kNfs) << true << "" << "16x1";
        QTest::newRow("sshfs, every cache off") << fuse << true << "sshfs -o attr_timeout=0,entry_timeout=0 h: /m"
                                                << "16x16 as looked up, or alone";
        QTest::newRow("sshfs, -oentry_timeout=0.0") << fuse << true << "sshfs -oentry_timeout=0.0 h: /m"
                                                    << "16x16 as looked up, or alone";
        QTest::newRow("sshfs's default: a second") << fuse << true << "sshfs h: /m" << "16x16, or alone";
        QTest::newRow("names kept longer than attributes")
            << fuse << true << "sshfs -o entry_timeout=60,attr_timeout=0 h: /m" << "16x16, or alone";
        QTest::newRow("the last one counts")
            << fuse << true << "sshfs -o entry_timeout=0 -o entry_timeout=1 h: /m" << "16x16, or alone";
        QTest::newRow("not a time") << fuse << true << "sshfs -o entry_timeout=0s h: /m" << "16x16, or alone";
    }

    void lookPlanByFileSystem()
    {
        QFETCH(qlonglong, fsType);
        QFETCH(bool, twoCores);
        QFETCH(QString, command);
        QFETCH(QString, plan);
        std::vector<std::string> argv;
        for (const QString& arg : command.split(' ', Qt::SkipEmptyParts))
            argv.push_back(arg.toStdString());
        const fs::LookPlan p = fs::lookPlanFor(long(fsType), twoCores, fs::looksUpEveryName(argv));
        const bool asLookedUp = p.statxFlags == (AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC);
        QVERIFY(asLookedUp || p.statxFlags == AT_SYMLINK_NOFOLLOW);
        QCOMPARE(QString("%1x%2").arg(p.threads).arg(p.chunk) + (asLookedUp ? " as looked up" : "") +
                     (p.mayGoAlone ? ", or alone" : ""),
                 plan);
    }

    // The batches of a listing on made-up times: sized by how long the last
    // one took; on FUSE a few entries looked at alone tell whether one thread
    // or the pool goes faster, and the other way is tried again later.
    void lookBatches_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("fuse");
        // From an entry on, the microseconds an entry takes by the pool and
        // alone: {from, pool, alone, from, ...}.
        QTest::addColumn<std::vector<double>>("speeds");
        // Each batch's size, p by the pool or a alone; *n: n batches alike.
        QTest::addColumn<QString>("batches");
        QTest::newRow("fast calls: doubled up to 8,192") << 20000 << false << std::vector<double>{0, 2, 2}
                                                         << "256p 512p 1024p 2048p 4096p 8192p 3872p";
        QTest::newRow("slow calls: never under 256, alone only on FUSE")
            << 1000 << false << std::vector<double>{0, 1000, 1} << "256p*3 232p";
        QTest::newRow("calls grown slower: halved")
            << 30000 << false << std::vector<double>{0, 2, 2, 8000, 60, 60}
            << "256p 512p 1024p 2048p 4096p 8192p*2 4096p 1584p";
        QTest::newRow("FUSE, first look: alone, the pool tried every second")
            << 8000 << true << std::vector<double>{0, 400, 300}
            << "256p 16a 256a*13 256p 256a*12 256p 256a*3 48a";
        QTest::newRow("FUSE, ties go to one thread") << 1000 << true << std::vector<double>{0, 400, 430}
                                                     << "256p 16a 256a*2 216a";
        QTest::newRow("FUSE, looked at again: the pool, one thread tried every 4 s")
            << 100000 << true << std::vector<double>{0, 50, 300}
            << "256p 16a 512p 1024p*78 16a 1024p*18 896p";
        QTest::newRow("FUSE, a folder part seen: alone, then the pool")
            << 8000 << true << std::vector<double>{0, 400, 300, 3000, 50, 300}
            << "256p 16a 256a*13 256p 512p 1024p*3 560p";
    }

    void lookBatches()
    {
        QFETCH(int, count);
        QFETCH(bool, fuse);
        QFETCH(std::vector<double>, speeds);
        QFETCH(QString, batches);
        fs::LookBatches policy(size_t(count), fuse);
        auto now = fs::LookClock::time_point{} + std::chrono::hours(1);
        QStringList seen, shown;
        for (fs::LookBatch b = policy.first(); b.size > 0;) {
            size_t at = 0;
            while (at + 3 < speeds.size() && speeds[at + 3] <= double(b.first))
                at += 3;
            const auto ns = int64_t(double(b.size) * speeds[at + (b.alone ? 2 : 1)] * 1000);
            seen << QString::number(b.size) + (b.alone ? "a" : "p");
            now += std::chrono::nanoseconds(ns);
            b = policy.next(ns, now);
        }
        for (qsizetype i = 0, n = 1; i < seen.size(); i += n) {  // n alike as "size*n"
            for (n = 1; i + n < seen.size() && seen[i + n] == seen[i]; ++n) {}
            shown << (n > 1 ? seen[i] + "*" + QString::number(n) : seen[i]);
        }
        QCOMPARE(shown.join(' '), batches);
    }

    // On a share the entries are looked at by one thread or by the pool,
    // whichever goes faster at the time; either way a first look (no name
    // seen yet) and a second give the rows of the server's own folder.
    void shareListingMatchesTheServersFolder()
    {
        TempDir served;
        const std::string s = served.path();
        for (int i = 0; i < 1500; ++i) {
            const std::string p = s + "/n" + std::to_string(i) + (i % 3 ? ".txt" : ".jpg");
            i % 100 == 99 ? void(::mkdir(p.c_str(), 0755)) : writeFile(p, std::string(size_t(i % 7), 'x'));
            setModified(p, 1714953600 + time_t(i) * 86400);
        }
        auto shown = [](const std::string& folder) {
            std::vector<Listed> out;
            for (const auto& [name, row] : listByName(folder, folder))
                out.push_back({"", name, row.ext, row.size, row.modified, "", row.attrib});
            return out;
        };
        const std::vector<Listed> local = shown(s);
        SshfsMount share(s, "dir_cache=no,attr_timeout=0,entry_timeout=0,negative_timeout=0");
        VEMLO_REQUIRE_SHARE(share);
        QVERIFY(local.size() == 1500 && shown(share.path()) == local && shown(share.path()) == local);
        QVERIFY(share.unmount());
    }

    // A second listing shows what changed on the server since the first
    // (written there directly, not through the mount), although the entries'
    // data the kernel holds from the first listing would answer at once: with
    // every cache off, and where the kernel keeps the names a minute but their
    // attributes not at all.
    void shareListingShowsChangesOnTheServer_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("changes");  // rows of the table below that apply
        QTest::newRow("every cache off")
            << "dir_cache=no,attr_timeout=0,entry_timeout=0,negative_timeout=0" << 4;
        // A kept name whose entry became a folder reads as an I/O error until
        // the kernel looks it up again.
        QTest::newRow("names kept longer than attributes")
            << "dir_cache=no,attr_timeout=0,entry_timeout=60,negative_timeout=0" << 3;
    }

    void shareListingShowsChangesOnTheServer()
    {
        QFETCH(QString, options);
        QFETCH(int, changes);
        TempDir served;
        const std::string s = served.path();
        struct Row {
            const char* name;
            void (*change)(const std::string& path);
            Listed shown;  // size, modified and attrib are compared
        };
        const Row rows[] = {
            {"grown",
             [](const std::string& p) {
                 writeFile(p, std::string(5000, 'x'));
                 setModified(p, 1714953600);
             },
             {"", "", "", "5000", "2024/05/06", "", "128"}},
            {"time set", [](const std::string& p) { setModified(p, 1000000000); },
             {"", "", "", "1", "2001/09/09", "", "128"}},
            {"read-only", [](const std::string& p) { ::chmod(p.c_str(), 0444); },
             {"", "", "", "1", "2024/05/06", "", "1"}},
            {"now a folder",
             [](const std::string& p) {
                 ::unlink(p.c_str());
                 ::mkdir(p.c_str(), 0755);
                 setModified(p, 1714953600);
             },
             {"", "", "", "0", "2024/05/06", "", "16"}},
        };
        const auto applied = std::span(rows).first(size_t(changes));
        for (const Row& r : applied) {
            writeFile(s + "/" + r.name);
            setModified(s + "/" + r.name, 1714953600);  // 2024-05-06 00:00 UTC
        }
        SshfsMount share(s, options.toStdString());
        VEMLO_REQUIRE_SHARE(share);
        const auto before = listByName(share.path(), share.path());
        for (const Row& r : applied) {
            QCOMPARE(before.at(r.name).size, std::string("1"));
            QCOMPARE(before.at(r.name).attrib, std::string("128"));
            r.change(s + "/" + r.name);
        }
        const auto after = listByName(share.path(), share.path());
        for (const Row& r : applied) {
            const Listed& l = after.at(r.name);
            QVERIFY2(l.size == r.shown.size && l.modified == r.shown.modified &&
                         l.attrib == r.shown.attrib,
                     (std::string(r.name) + ": " + l.size + " " + l.modified + " " + l.attrib).c_str());
        }
        QVERIFY(share.unmount());
    }

    void stopEndsTheListingAfterTheEntryInHand_data()
    {
        QTest::addColumn<int>("stopAt");
        QTest::newRow("the first batch") << 100;
        QTest::newRow("a middle batch") << 6000;
        QTest::newRow("a later batch") << 9500;
    }

    void stopEndsTheListingAfterTheEntryInHand()
    {
        QFETCH(int, stopAt);
        TempDir tmp;
        for (int i = 0; i < 12000; ++i)
            writeFile(tmp.path() + "/f" + std::to_string(i));
        fs::ListingGaps gaps;
        int seen = 0;
        const fs::Status st = fs::listFolder(
            tmp.path(),
            [&](const fs::EntryInfo&) {
                if (++seen == stopAt)
                    gaps.stopped = true;
            },
            gaps);
        QVERIFY(st.ok());
        QVERIFY(gaps.stopped);
        QCOMPARE(seen, stopAt);
    }

    // A stop asked while the names are still being read and sorted: nothing
    // is handed on, and the listing says it was stopped.
    void stopWhileNamesAreRead()
    {
        class StopAtFirstLook : public Progress {
        public:
            StopAtFirstLook() { setStride(1); }

        protected:
            bool look(int64_t, std::string_view) override { return false; }
        } stop;
        TempDir tmp;
        for (int i = 0; i < 3000; ++i)
            writeFile(tmp.path() + "/f" + std::to_string(i));
        fs::ListingGaps gaps;
        int seen = 0;
        QVERIFY(fs::listFolder(tmp.path(), [&](const fs::EntryInfo&) { ++seen; }, gaps, &stop)
                    .ok());
        QVERIFY(gaps.stopped);
        QCOMPARE(seen, 0);
    }

    void rootFolderGivesDoubleSlash()
    {
        QCOMPARE(folderOfPattern("//*"), std::string("//"));
        QCOMPARE(folderOfPattern("/home/a/*"), std::string("/home/a/"));
        RowStore rows;
        fs::ListingGaps gaps;
        QVERIFY(listRows("//", "/", rows, gaps).ok());
        QVERIFY(rows.size() > 1);
        for (size_t i = 1; i < rows.size(); ++i)
            QCOMPARE(std::string(rows[i].cell(0)), "//" + std::string(rows[i].cell(1)));
    }

    void dateTextFollowsLocalTime()
    {
        DateText text;
        QCOMPARE(text.separator(), '/');
        // TZ=UTC for this program: the last second of a day and the first of the next.
        QCOMPARE(text(1714953599), std::string_view("2024/05/05"));
        QCOMPARE(text(1714953600), std::string_view("2024/05/06"));
        QCOMPARE(text(1714953599), std::string_view("2024/05/05"));
    }

    void listedByName()
    {
        // Letters compare as capitals ("_" after them), equal names by bytes.
        const std::vector<std::string> ordered = {
            ".hidden", "10.jpg", "9.jpg", "ab", "abc", "alpha", "a_b", "Beta",
            "Read.me", "read.me", "Zeta", "中文", "\xff\xfe"};
        TempDir tmp;
        const std::string d = tmp.path();
        for (auto it = ordered.rbegin(); it != ordered.rend(); ++it)
            writeFile(d + "/" + *it);
        RowStore rows;
        fs::ListingGaps gaps;
        QVERIFY(listRows(d, d, rows, gaps).ok());
        std::vector<std::string> names;
        for (size_t r = 1; r < rows.size(); ++r)
            names.emplace_back(rows.cell(r, 1));
        QCOMPARE(names, ordered);
    }

    void createdFallsBackToChangeTime_data()
    {
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<qint64>("birthSec");
        QTest::addColumn<uint>("birthNsec");
        QTest::addColumn<qint64>("expected");
        const qint64 ctime = 1714953600;
        QTest::newRow("birth time") << true << qint64(1600000000) << 0u << qint64(1600000000);
        QTest::newRow("no birth time") << false << qint64(1600000000) << 0u << ctime;
        QTest::newRow("birth time 0") << true << qint64(0) << 0u << ctime;
        QTest::newRow("in the epoch's first second") << true << qint64(0) << 5u << qint64(0);
    }

    void createdFallsBackToChangeTime()
    {
        QFETCH(bool, recorded);
        QFETCH(qint64, birthSec);
        QFETCH(uint, birthNsec);
        QFETCH(qint64, expected);
        struct statx sx {};
        sx.stx_mask = STATX_BASIC_STATS | (recorded ? STATX_BTIME : 0);
        sx.stx_btime = {birthSec, birthNsec, 0};
        sx.stx_ctime = {1714953600, 0, 0};
        QCOMPARE(qint64(fs::createdSeconds(sx)), expected);
    }

    void storedBitsBeyondPathMax_data()
    {
        QTest::addColumn<int>("route");
        QTest::newRow("getxattrat") << int(fs::XattrRoute::Syscall);
        QTest::newRow("/proc/self/fd") << int(fs::XattrRoute::ProcPath);
    }

    void storedBitsBeyondPathMax()
    {
        QFETCH(int, route);
        // A folder path under PATH_MAX whose entries' paths pass it.
        TempDir tmp;
        std::string d = tmp.path();
        const std::string part(250, 'p');
        while (d.size() + 1 + part.size() < PATH_MAX)
            QVERIFY(::mkdir((d += "/" + part).c_str(), 0755) == 0);
        const fs::FileDescriptor dir(::open(d.c_str(), O_RDONLY | O_DIRECTORY));
        QVERIFY(dir.valid());
        const std::string file(250, 'f'), folder(250, 'd');
        {
            const fs::FileDescriptor f(::openat(dir.get(), file.c_str(), O_WRONLY | O_CREAT, 0644));
            QVERIFY(::mkdirat(dir.get(), folder.c_str(), 0755) == 0);
            const fs::FileDescriptor sub(::openat(dir.get(), folder.c_str(), O_RDONLY | O_DIRECTORY));
            QVERIFY(f.valid() && sub.valid());
            QCOMPARE(::fsetxattr(f.get(), fs::kDosAttribXattr, "0x20", 5, 0), 0);
            QCOMPARE(::fsetxattr(sub.get(), fs::kDosAttribXattr, "0x16", 5, 0), 0);
        }
        QVERIFY((d + "/" + file).size() >= PATH_MAX);

        char buf[16];
        size_t n = 0;
        auto read = [&](const std::string& name) {
            return fs::xattrAt(dir.get(), name.c_str(), fs::kDosAttribXattr, buf, sizeof buf, n,
                               fs::XattrRoute(route)).err;
        };
        const int err = read(file);
        if (err == ENOSYS)
            QSKIP("the kernel has no getxattrat (Linux 6.13 and later)");
        QCOMPARE(err, 0);
        QCOMPARE(std::string(buf, n), std::string("0x20", 5));
        QCOMPARE(read(folder), 0);
        QCOMPARE(std::string(buf, n), std::string("0x16", 5));
        QCOMPARE(read("missing"), ENOENT);

        const auto rows = listByName(d, d);  // the listing's own route
        QCOMPARE(rows.at(file).attrib, std::string("32"));
        QCOMPARE(rows.at(file).path, d + "/" + file);
        QCOMPARE(rows.at(folder).attrib, std::string("22"));
    }

    void unsearchableFolderSaysWhatItCouldNotRead()
    {
        // Mode 666: the names can be read, the entries cannot be looked at.
        // Root passes every check, so the listing runs as an unprivileged user.
        TempDir tmp;
        const std::string box = tmp.path() + "/box";
        QVERIFY(::chmod(tmp.path().c_str(), 0755) == 0);
        QVERIFY(::mkdir(box.c_str(), 0755) == 0);
        for (const char* n : {"/a.txt", "/b.txt", "/c"})
            writeFile(box + n);
        QVERIFY(::chmod(box.c_str(), 0666) == 0);

        const int failed = runUnprivileged([&] {
            RowStore rows;
            fs::ListingGaps gaps;
            if (!listRows(box, box, rows, gaps).ok() || rows.size() != 1 ||
                gaps.unreadableCount() != 3 || gaps.unreadable.front().first != EACCES ||
                gaps.readError != 0)
                return 1;
            const QString expected = QStringLiteral("文件夹“%1”中有 3 个条目无法读取，未列出：权限不足")
                                         .arg(QString::fromStdString(box));
            return listingGapsText(QString::fromStdString(box), gaps) == expected ? 0 : 2;
        });
        QCOMPARE(failed, 0);
    }

    void gapsAreToldInOneText_data()
    {
        QTest::addColumn<std::vector<int>>("unreadable");
        QTest::addColumn<int>("readError");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing missing") << std::vector<int>{} << 0 << QString();
        QTest::newRow("two reasons")
            << std::vector<int>{EACCES, EIO, EACCES} << 0
            << QStringLiteral("文件夹“/d”中有 3 个条目无法读取，未列出：权限不足 2 个，%1 1 个")
                   .arg(QString::fromStdString(reasonText(EIO)));
        QTest::newRow("both")
            << std::vector<int>{EACCES} << int(EIO)
            << QStringLiteral("文件夹“/d”中有 1 个条目无法读取，未列出：权限不足\n"
                              "读取文件夹“/d”时出错，列表不完整：%1")
                   .arg(QString::fromStdString(reasonText(EIO)));
    }

    void gapsAreToldInOneText()
    {
        QFETCH(std::vector<int>, unreadable);
        QFETCH(int, readError);
        QFETCH(QString, text);
        fs::ListingGaps gaps;
        for (int err : unreadable)
            gaps.add(err);
        gaps.readError = readError;
        QCOMPARE(gaps.empty(), text.isEmpty());
        QCOMPARE(listingGapsText(QStringLiteral("/d"), gaps), text);
    }

};

QTEST_GUILESS_MAIN(ListingTest)
#include "test_listing.moc"
