// The commands on a network share: a private sshd on 127.0.0.1 served
// through sshfs with every cache off, so that each call is a round trip.
// The listing as "导入" makes it, first looks (the kernel's cache of names
// dropped before each side) and looks again, each against a floor of the
// same calls from 16 threads in the same state; the numbered rename as its
// button makes it (the new listing included) against a bare loop of the same
// no-replace moves and the listing's floor; and the longest time the
// window's thread went without a turn of its event loop while a command ran.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <atomic>
#include <memory>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/core/batch.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "benchutil.h"
#include "import/importwindow.h"
#include "platform/handles.h"
#include "platform/listing.h"
#include "testutil/share.h"

using namespace vemlo::bench;

namespace {

constexpr int kListed = 20000;
constexpr int kRenamed = 5000;
// Timed listings of each side: a first look's time varies by a tenth from
// run to run here.
constexpr int kListingRuns = 5;

// Lists dir as the user does: its path in the import window, a click on "导入".
void listInto(const std::string& dir)
{
    Form2->setWorkingFolder(dir);
    Form2->Button1->click();
}

// The floor of a listing on a share: readdir, then statx (taking the
// attributes the name's lookup brought, as on a FUSE mount that looks every
// name up afresh, as this one does) and the stored attribute of every entry
// from 16 threads.
size_t shareListFloor(const std::string& folder)
{
    const vemlo::fs::FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> names;
    DIR* dir = ::fdopendir(::dup(fd.get()));
    while (const dirent* d = ::readdir(dir))
        if (std::string_view(d->d_name) != "." && std::string_view(d->d_name) != "..")
            names.emplace_back(d->d_name);
    ::closedir(dir);
    std::atomic<size_t> next = 0, seen = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            vemlo::fs::AttribReader attribs(fd.get());
            for (size_t i; (i = next++) < names.size();) {
                struct statx sx;
                if (::statx(fd.get(), names[i].c_str(), AT_SYMLINK_NOFOLLOW | AT_STATX_DONT_SYNC,
                            STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_CTIME |
                                STATX_BTIME,
                            &sx) != 0)
                    continue;
                (void)attribs.attribOf(names[i].c_str(), sx.stx_mode);
                ++seen;
            }
        });
    for (std::thread& t : threads)
        t.join();
    return seen;
}

// The listing of folder through the window against the floor, the two
// taking turns so that a change in the machine's load meets both alike;
// before each side, setup (the name cache dropped for first looks).
void listingAgainstFloor(const std::string& folder, const std::string& what,
                         const std::function<void()>& setup)
{
    size_t seen = 0;
    // The first run of each side is not timed: it pays what a process pays
    // once, such as the progress dialog's first showing.
    const auto [vemloMs, floorMs] = alternatingMediansMs(
        kListingRuns, {setup, [&] { return press([&] { listInto(folder); }).ms; }},
        {setup, [&] { return timeMs([&] { seen = shareListFloor(folder); }); }}, 1);
    if (Form1->table()->tableRows() != kListed + 1)
        std::fprintf(stderr, "listed %d rows, expected %d\n", Form1->table()->tableRows() - 1, kListed);
    if (seen != size_t(kListed))
        std::fprintf(stderr, "the floor saw %zu entries, expected %d\n", seen, kListed);
    printRatio(what, vemloMs, "floor", floorMs);
}

// The floor of the numbered rename on a share that refuses RENAME_NOREPLACE:
// a hard link under the new name, then the old name removed, in a bare loop.
void renameFloor(const std::string& folder, int count)
{
    const vemlo::fs::FileDescriptor fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i < count; ++i) {
        const std::string from = name20(i), to = "x " + std::to_string(i + 1) + ".dat";
        if (::linkat(fd.get(), from.c_str(), fd.get(), to.c_str(), 0) == 0)
            ::unlinkat(fd.get(), from.c_str(), 0);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const std::string scratch = scratchFolder("share");
    const std::string served = scratch + "/served";
    ::mkdir(scratch.c_str(), 0755);
    ::mkdir(served.c_str(), 0755);
    // Every cache off: each call on the mount is a round trip.
    auto held = std::make_unique<vemlo::test::SshfsMount>(
        served, "dir_cache=no,attr_timeout=0,entry_timeout=0,negative_timeout=0");
    if (!held->usable()) {
        std::printf("share: skipped: %s\n", held->skipReason().c_str());
        held.reset();
        removeTree(scratch);
        return 0;
    }
    const std::string mounted = held->path();
    vemlo::createForms();
    Form1->show();
    QApplication::processEvents();

    // The listing: first looks, then looks again (after one untimed look).
    const std::string listServed = served + "/list", list = mounted + "/list";
    makeFiles(listServed, kListed, name20);
    const std::string listed = "share listing " + std::to_string(kListed) + " entries";
    if (dropNameCache())
        listingAgainstFloor(list, listed + ", cold", [] { dropNameCache(); });
    else
        std::printf("%s, cold: skipped: the kernel's name cache cannot be dropped (not root)\n",
                    listed.c_str());
    listingAgainstFloor(list, listed + ", warm", [] {});
    printStall("share listing " + std::to_string(kListed), press([&] { listInto(list); }, true).longestGapMs);

    // The export of the listed table into the share.
    Form1->rbh->setChecked(true);
    printStall("share export " + std::to_string(kListed),
               press([&] { Form1->btnanagrid->click(); }, true).longestGapMs);
    removeTree(listServed);

    // The numbered rename, its new listing included, against the bare
    // moves and the listing's floor.
    const std::string renServed = served + "/rename", ren = mounted + "/rename";
    Form1->edtrnbase->setText(QStringLiteral("x"));
    const auto [renameMs, renameFloorMs] = alternatingMediansMs(
        3,
        {[&] {
             makeFiles(renServed, kRenamed, name20);
             listInto(ren);
         },
         [&] {
             const double ms = press([&] { Form1->btnrn->click(); }).ms;
             if (Form1->table()->tableRows() != kRenamed + 1 || Form1->table()->text(1, 1) != "x 1.dat")
                 std::fprintf(stderr, "the rename left %d rows, the first %s\n",
                              Form1->table()->tableRows() - 1,
                              std::string(Form1->table()->text(1, 1)).c_str());
             return ms;
         }},
        {[&] { makeFiles(renServed, kRenamed, name20); },
         [&] {
             return timeMs([&] {
                 renameFloor(ren, kRenamed);
                 shareListFloor(ren);
             });
         }});
    printRatio("share rename " + std::to_string(kRenamed) + " entries", renameMs, "floor",
               renameFloorMs);
    makeFiles(renServed, kRenamed, name20);
    listInto(ren);
    Form1->edtrnbase->setText(QStringLiteral("y"));
    printStall("share rename " + std::to_string(kRenamed),
               press([&] { Form1->btnrn->click(); }, true).longestGapMs);

    // Organize: every entry into the keyword folder "file".
    makeFiles(renServed, kRenamed, name20);
    listInto(ren);
    Form1->cbbspara->setEditText(QStringLiteral("文件名"));
    Form1->lstsort->clear();
    Form1->lstsort->addItem(QStringLiteral("file"));
    printStall("share organize " + std::to_string(kRenamed),
               press([&] { Form1->btnsort->click(); }, true).longestGapMs);

    Form1->table()->setTableRows(2);
    held.reset();
    removeTree(scratch);
    return 0;
}
