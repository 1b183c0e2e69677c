// The numbered rename, its 撤销, and the attribute change on 10000 entries,
// pressed as the user presses them (new listing included), against bare
// loops of the same system calls followed by the bare listing floor
// (readdir, statx, stored attribute), all in-process; the window's longest
// stall; what the sync before each report costs; the memory of the trail.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <sys/xattr.h>
#include <vector>

#include "app/core/trail.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "benchutil.h"
#include "import/importwindow.h"
#include "platform/attrib.h"
#include "platform/identity.h"
#include "platform/listing.h"

using namespace vemlo::bench;

#ifndef SYS_fchmodat2
#define SYS_fchmodat2 452
#endif

namespace {

constexpr int kEntries = 10000;
constexpr int kRuns = 5;

std::string fileName(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "f%05d.txt", i);
    return name;
}

// Fresh files, listed into the table as "导入" does.
void freshListing(const std::string& dir)
{
    makeFiles(dir, kEntries, fileName);
    Form2->setWorkingFolder(dir);
    Form1->table()->setTableRows(2);
    Form1->ImportDir(dir + "/*");
}

std::vector<std::string> tablePaths()
{
    std::vector<std::string> paths;
    for (int r = 1; r < Form1->table()->tableRows(); ++r)
        paths.emplace_back(Form1->table()->text(r, 0));
    return paths;
}

int countNamed(const std::string& dir, const std::string& prefix)
{
    int n = 0;
    for (int r = 1; r < Form1->table()->tableRows(); ++r)
        n += Form1->table()->text(r, 1).substr(0, prefix.size()) == prefix &&
             Form1->table()->text(r, 0).substr(0, dir.size()) == dir;
    return n;
}

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    vemlo::createForms();
    const std::string dir = scratchFolder("batch");
    std::vector<std::string> paths;

    // Numbered rename.
    Form1->edtrnbase->setText(QStringLiteral("x"));
    auto rename = [] { Form1->btnrn->click(); };
    const double renameMs = medianPressMs(kRuns, rename, [&] { freshListing(dir); });
    if (countNamed(dir, "x ") != kEntries)
        std::printf("rename: only %d of %d entries renamed\n", countNamed(dir, "x "), kEntries);
    const double renameLoopMs = medianMs(
        kRuns,
        [&] {
            std::string to;
            for (size_t i = 0; i < paths.size(); ++i) {
                to = dir + "/x " + std::to_string(i + 1) + ".txt";
                ::renameat2(AT_FDCWD, paths[i].c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
            }
            listFloor(dir);
        },
        [&] {
            freshListing(dir);
            paths = tablePaths();
        });
    printRatio("rename 10000 entries", renameMs, "floor", renameLoopMs);
    freshListing(dir);
    printStall("rename 10000 entries", press(rename, true).longestGapMs);
    // What the rename's sync costs: the fsync of the folder after the loop.
    freshListing(dir);
    paths = tablePaths();
    std::vector<double> syncMs;
    for (int run = 0; run < kRuns; ++run) {
        freshListing(dir);
        paths = tablePaths();
        for (size_t i = 0; i < paths.size(); ++i)
            ::renameat2(AT_FDCWD, paths[i].c_str(), AT_FDCWD,
                        (dir + "/x " + std::to_string(i + 1) + ".txt").c_str(), RENAME_NOREPLACE);
        syncMs.push_back(timeMs([&] { vemlo::fs::syncFolder(dir); }));
    }
    std::sort(syncMs.begin(), syncMs.end());
    std::printf("sync after rename 10000 entries: fsync of the folder %.1f ms\n", syncMs[kRuns / 2]);

    // 撤销 of the rename, pressed from the menu (the question answered 是),
    // against a bare loop of one identity look and one renameat2 per entry
    // back, the fsync of the folder and the listing floor.
    auto undo = [] { Form1->N9->trigger(); };
    auto renamedListing = [&] {
        freshListing(dir);
        press(rename);
    };
    // The two sides take turns, so that a slow moment of the shared disk
    // falls on both.
    std::vector<std::string> renamed;
    for (int i = 0; i < kEntries; ++i)
        renamed.push_back("x " + std::to_string(i + 1) + ".txt");
    int back = kEntries;  // the fewest entries a press took back
    const auto [undoMs, undoLoopMs] = alternatingMediansMs(
        kRuns, {renamedListing, [&] {
                    const double ms = press(undo).ms;
                    back = std::min(back, countNamed(dir, "f"));
                    return ms;
                }},
        {renamedListing, [&] {
             return timeMs([&] {
                 const int at = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
                 struct statx sx;
                 for (size_t i = renamed.size(); i-- > 0;) {
                     ::statx(at, renamed[i].c_str(), AT_SYMLINK_NOFOLLOW,
                             STATX_BASIC_STATS | STATX_BTIME, &sx);
                     ::renameat2(at, renamed[i].c_str(), at, fileName(int(i)).c_str(),
                                 RENAME_NOREPLACE);
                 }
                 ::close(at);
                 vemlo::fs::syncFolder(dir);
                 listFloor(dir);
             });
         }});
    if (back != kEntries)
        std::printf("undo rename: only %d of %d entries back\n", back, kEntries);
    printRatio("undo rename 10000 entries", undoMs, "floor", undoLoopMs);
    renamedListing();
    printStall("undo rename 10000 entries", press(undo, true).longestGapMs);

    // The trail of a million renamed entries: what the process holds more.
    {
        const long before = residentBytes();
        auto trail = std::make_unique<vemlo::BatchTrail>(vemlo::BatchTrail::Kind::Rename);
        const uint32_t folder = trail->folder(dir);
        struct stat st {};
        char oldName[32], newName[32];
        for (int i = 0; i < 1000000; ++i) {
            std::snprintf(oldName, sizeof oldName, "f%07d.txt", i);
            std::snprintf(newName, sizeof newName, "x %d.txt", i + 1);
            st.st_ino = ino_t(i + 100);
            trail->moved(folder, oldName, folder, newName, st, uint64_t(i));
        }
        trail->finish();
        const long after = residentBytes();
        std::printf("memory undo trail 1000000 entries: %.1f bytes per entry (held %.1f), target 100\n",
                    double(after - before) / 1e6, double(trail->bytes()) / 1e6);
    }

    // Attribute change: read-only and hidden on writable files.
    Form1->chk1->setChecked(true);
    Form1->chk2->setChecked(true);
    Form1->chk3->setChecked(false);
    auto attributes = [] { Form1->btnrename->click(); };
    const double attribMs = medianPressMs(kRuns, attributes, [&] { freshListing(dir); });
    int changed = 0;
    for (int r = 1; r < Form1->table()->tableRows(); ++r)
        changed += Form1->table()->text(r, 6) == "3";
    if (changed != kEntries)
        std::printf("attributes: only %d of %d entries changed\n", changed, kEntries);
    const double attribLoopMs = medianMs(
        kRuns,
        [&] {
            // What setting read-only and hidden on a writable file takes:
            // the folder's file system once, then for each file its mode,
            // the record read and written, the earlier versions' record
            // dropped, the write bits it had, the new mode.
            struct stat st;
            struct statfs sf;
            char record[512];
            ::statfs(dir.c_str(), &sf);
            for (const auto& p : paths) {
                ::lstat(p.c_str(), &st);
                ::lgetxattr(p.c_str(), vemlo::fs::kDosAttribXattr, record, sizeof record);
                ::lsetxattr(p.c_str(), vemlo::fs::kDosAttribXattr, "0x3", 4, 0);
                ::lremovexattr(p.c_str(), vemlo::fs::kOldAttribXattr);
                ::lsetxattr(p.c_str(), vemlo::fs::kWriteBitsXattr, "222 444", 7, 0);
                ::syscall(SYS_fchmodat2, AT_FDCWD, p.c_str(), st.st_mode & 07555, AT_SYMLINK_NOFOLLOW);
            }
            listFloor(dir);
        },
        [&] {
            freshListing(dir);
            paths = tablePaths();
        });
    printRatio("attributes 10000 entries", attribMs, "floor", attribLoopMs);
    // What making the changed modes and records durable costs, three ways,
    // each right after the bare loop of the change.
    {
        std::vector<double> fs1, dir1, each;
        auto change = [&] {
            freshListing(dir);
            paths = tablePaths();
            for (const auto& p : paths) {
                ::lsetxattr(p.c_str(), vemlo::fs::kDosAttribXattr, "0x3", 4, 0);
                ::syscall(SYS_fchmodat2, AT_FDCWD, p.c_str(), 0444, AT_SYMLINK_NOFOLLOW);
            }
        };
        for (int run = 0; run < kRuns; ++run) {
            change();
            fs1.push_back(timeMs([&] { vemlo::fs::syncFileSystemOf(dir); }));
            change();
            dir1.push_back(timeMs([&] { vemlo::fs::syncFolder(dir); }));
            change();
            each.push_back(timeMs([&] {
                for (const auto& p : paths) {
                    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
                    ::fsync(fd);
                    ::close(fd);
                }
            }));
        }
        for (auto* v : {&fs1, &dir1, &each})
            std::sort(v->begin(), v->end());
        std::printf("sync after attributes 10000 entries: syncfs %.1f ms, folder fsync %.1f ms, "
                    "fsync of each entry %.1f ms\n",
                    fs1[kRuns / 2], dir1[kRuns / 2], each[kRuns / 2]);
    }
    freshListing(dir);
    printStall("attributes 10000 entries", press(attributes, true).longestGapMs);

    removeTree(dir);
    return 0;
}
