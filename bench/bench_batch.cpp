// The numbered rename and the attribute change on 10000 entries, pressed as
// the user presses them (new listing included), against bare loops of the
// same system calls followed by the bare listing floor (readdir, statx,
// stored attribute), all in-process; and the window's longest stall.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <sys/xattr.h>
#include <vector>

#include "app/mainwindow.h"
#include "app/startup.h"
#include "benchutil.h"
#include "import/importwindow.h"
#include "platform/attrib.h"
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
    freshListing(dir);
    printStall("attributes 10000 entries", press(attributes, true).longestGapMs);

    removeTree(dir);
    return 0;
}
