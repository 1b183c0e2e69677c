// Listing speed against its floor (readdir, statx and the stored attribute
// of every entry in a bare loop), the window's longest stall, find as a peer, the ways to read the
// stored attribute, and the memory a listed row takes.
#include <QApplication>
#include <QPushButton>

#include <cstdio>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <string>

#include "app/mainwindow.h"
#include "app/startup.h"
#include "benchutil.h"
#include "import/importwindow.h"
#include "platform/handles.h"
#include "platform/listing.h"

using namespace vemlo::bench;

namespace {

// A folder path of exactly `length` bytes under the scratch folder's parent.
std::string folderOfLength(const std::string& tag, size_t length)
{
    std::string dir = scratchFolder(tag);
    if (dir.size() < length)
        dir.append(length - dir.size(), 'x');
    return dir;
}

// Lists dir as the user does: its path in the import window, a click on "导入".
void listInto(const std::string& dir)
{
    Form2->setWorkingFolder(dir);
    Form2->Button1->click();
}

// The ways to read the stored attribute of every entry: by full path (which
// fails beyond PATH_MAX) against the two ways relative to the folder.
void storedBitsRoutes(const std::string& dir, int count)
{
    const vemlo::fs::FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY));
    auto relative = [&](vemlo::fs::XattrRoute route) {
        return medianMs(5, [&] {
            vemlo::fs::AttribReader attribs(fd.get(), route);
            for (int i = 0; i < count; ++i)
                (void)attribs.attribOf(name20(i).c_str(), S_IFREG | 0644);
        });
    };
    const double fullMs = medianMs(5, [&] {
        char buf[512];
        for (int i = 0; i < count; ++i)  // the names alone: no entry here has a record
            ::llistxattr((dir + "/" + name20(i)).c_str(), buf, sizeof buf);
    });
    std::printf("stored attribute of 100000 entries: full path %.0f ms, /proc/self/fd %.0f ms, "
                "listxattrat %.0f ms\n",
                fullMs, relative(vemlo::fs::XattrRoute::ProcPath),
                relative(vemlo::fs::XattrRoute::Syscall));
}


// Times the listing of dir through the window (the table painted after it)
// against the floor over the same folder, both warmed first, and measures
// the longest stall of the window in a run of its own.
void listingAgainstFloor(const std::string& dir, int count)
{
    auto list = [&] {
        listInto(dir);
        QApplication::processEvents();
    };
    list();  // warm the caches for both sides
    const double vemloMs = medianPressMs(5, list);
    if (Form1->table()->tableRows() != count + 1)
        std::fprintf(stderr, "listed %d rows, expected %d\n", Form1->table()->tableRows() - 1, count);
    size_t floorCount = 0;
    const double floorMs = medianMs(5, [&] { floorCount = listFloor(dir); });
    if (floorCount != size_t(count))
        std::fprintf(stderr, "the floor saw %zu entries, expected %d\n", floorCount, count);
    const std::string what = "listing " + std::to_string(count) + " entries";
    printRatio(what, vemloMs, "floor", floorMs);
    printStall(what, press(list, true).longestGapMs);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    vemlo::createForms();
    Form1->show();  // the view is attached and visible while listing
    QApplication::processEvents();

    const int count = 100000;
    const std::string dir = folderOfLength("listing", 30);
    makeFiles(dir, count, name20);
    listingAgainstFloor(dir, count);
    // find formats three dates per entry: a peer, not the target.
    const double findMs = shellMs(
        5, "find '" + dir + "' -maxdepth 1 -printf '%p %f %s %TY/%Tm/%Td %m\\n' > /dev/null");
    std::printf("listing %d entries, peer: find -printf %.0f ms\n", count, findMs);
    storedBitsRoutes(dir, count);
    removeTree(dir);

    // A million 20-byte names in a 30-byte folder path: memory, then speed.
    const int million = 1000000;
    const std::string big = folderOfLength("memory", 30);
    makeFiles(big, million, name20);
    Form1->table()->setTableRows(2);
    QApplication::processEvents();
    const long before = residentBytes();
    listInto(big);
    QApplication::processEvents();
    const long after = residentBytes();
    std::printf("memory 1000000 entries: %.0f bytes per row\n", double(after - before) / million);
    std::fflush(stdout);
    listingAgainstFloor(big, million);
    removeTree(big);
    return 0;
}
