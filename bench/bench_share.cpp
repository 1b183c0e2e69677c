// The commands on a network share: a private sshd on 127.0.0.1 served
// through sshfs with every cache off, so that each call is a round trip.
// The listing against a floor of the same calls from 16 threads, the numbered
// rename against a bare loop of the same no-replace moves, and the longest
// time the window's thread went without a turn of its event loop while a
// command ran (target: 100 ms).
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

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
constexpr double kStallTargetMs = 100;

// The longest time between two turns of the window thread's event loop while
// command runs, boxes answered as they show. The loop is looked at every
// millisecond rather than at every turn, so that the looking itself does
// not keep a processor busy and slow the share's server.
double longestStallMs(const std::function<void()>& command)
{
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer turns;
    turns.setInterval(1);
    turns.setTimerType(Qt::PreciseTimer);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->accept();
    });
    turns.start();
    clock.start();
    command();
    longest = std::max(longest, clock.nsecsElapsed() - last);
    return double(longest) / 1e6;
}

void printStall(const std::string& what, double ms)
{
    std::printf("%s: longest gap %.0f ms, target %.0f ms, ratio %.2f\n", what.c_str(), ms,
                kStallTargetMs, ms / kStallTargetMs);
    std::fflush(stdout);
}

// Lists dir as the user does: its path in the import window, a click on "导入".
void listInto(const std::string& dir)
{
    Form2->setWorkingFolder(dir);
    Form2->Button1->click();
}

// The floor of a listing on a share: readdir, then statx and the stored
// attribute of every entry from 16 threads.
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
                if (::statx(fd.get(), names[i].c_str(), AT_SYMLINK_NOFOLLOW,
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

    // The listing.
    const std::string listServed = served + "/list", list = mounted + "/list";
    makeFiles(listServed, kListed, name20);
    // Warmed once, then the two sides in turn, so that a change in the
    // machine's load meets both alike.
    listInto(list);
    std::vector<double> vemloRuns, floorRuns;
    size_t seen = 0;
    for (int run = 0; run < 3; ++run) {
        vemloRuns.push_back(timeMs([&] { listInto(list); }));
        floorRuns.push_back(timeMs([&] { seen = shareListFloor(list); }));
    }
    if (Form1->table()->tableRows() != kListed + 1)
        std::fprintf(stderr, "listed %d rows, expected %d\n", Form1->table()->tableRows() - 1, kListed);
    if (seen != size_t(kListed))
        std::fprintf(stderr, "the floor saw %zu entries, expected %d\n", seen, kListed);
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double vemloMs = median(vemloRuns), floorMs = median(floorRuns);
    printRatio("share listing " + std::to_string(kListed) + " entries", vemloMs, "floor", floorMs);
    printStall("share stall listing " + std::to_string(kListed),
               longestStallMs([&] { listInto(list); }));

    // The export of the listed table into the share.
    Form1->rbh->setChecked(true);
    printStall("share stall export " + std::to_string(kListed),
               longestStallMs([&] { Form1->btnanagrid->click(); }));
    removeTree(listServed);

    // The numbered rename: the pass against the floor, then the whole
    // command (the new listing included) for its stall.
    const std::string renServed = served + "/rename", ren = mounted + "/rename";
    std::vector<double> renameRuns, renameFloorRuns;
    for (int run = 0; run < 3; ++run) {
        makeFiles(renServed, kRenamed, name20);
        listInto(ren);
        const vemlo::RowStore rows = Form1->table()->snapshot();
        renameRuns.push_back(timeMs([&] { vemlo::renameNumbered(rows, ren, "x"); }));
        makeFiles(renServed, kRenamed, name20);
        renameFloorRuns.push_back(timeMs([&] { renameFloor(ren, kRenamed); }));
    }
    const double renameMs = median(renameRuns), renameFloorMs = median(renameFloorRuns);
    printRatio("share rename " + std::to_string(kRenamed) + " entries", renameMs, "floor", renameFloorMs);
    makeFiles(renServed, kRenamed, name20);
    listInto(ren);
    Form1->edtrnbase->setText(QStringLiteral("y"));
    printStall("share stall rename " + std::to_string(kRenamed),
               longestStallMs([&] { Form1->btnrn->click(); }));

    // Organize: every entry into the keyword folder "file".
    makeFiles(renServed, kRenamed, name20);
    listInto(ren);
    Form1->cbbspara->setEditText(QStringLiteral("文件名"));
    Form1->lstsort->clear();
    Form1->lstsort->addItem(QStringLiteral("file"));
    printStall("share stall organize " + std::to_string(kRenamed),
               longestStallMs([&] { Form1->btnsort->click(); }));

    Form1->table()->setTableRows(2);
    held.reset();
    removeTree(scratch);
    return 0;
}
