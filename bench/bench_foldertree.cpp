// Opening a folder with many subfolders in the import window's tree, against
// the bare floor (readdir, the stored attribute of each subfolder, the names
// sorted as the listing sorts them); find and sort as a peer.
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>
#include <sys/stat.h>

#include "app/mainwindow.h"
#include "app/startup.h"
#include "benchutil.h"
#include "import/importwindow.h"

using namespace vemlo::bench;

namespace {

int rowFor(const std::string& path)
{
    for (int row = 0; row < Form2->DL->count(); ++row) {
        if (Form2->DL->pathAt(row) == path)
            return row;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int count = 20000;
    const std::string parent = scratchFolder("foldertree");
    const std::string dir = parent + "/many";
    ::mkdir(parent.c_str(), 0755);
    ::mkdir(dir.c_str(), 0755);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/%s-%06d", i % 2 ? "Sub" : "sub", (i * 7919) % count);
        ::mkdir((dir + name).c_str(), 0755);
    }
    ::chdir(parent.c_str());

    QApplication app(argc, argv);
    vemlo::createForms();
    Form1->N8Click(Form1);  // the tree is visible while it changes
    QApplication::processEvents();

    auto open = [&](const std::string& path) {
        Form2->DL->openRow(rowFor(path));
        QApplication::processEvents();
    };
    open(dir);  // warm the caches for both sides
    open(parent);
    // The two sides take turns, so that a busy spell of the machine meets
    // both alike; the medians count.
    size_t floorCount = 0;
    const auto [vemloMs, floorMs] = alternatingMediansMs(
        7, {[&] { open(parent); }, [&] { return press([&] { open(dir); }).ms; }},
        {{}, [&] { return timeMs([&] { floorCount = subfolderFloor(dir).size(); }); }});
    const double shell = shellMs(
        5, "find '" + dir + "' -mindepth 1 -maxdepth 1 -type d ! -name '.*' | sort -f > /dev/null");
    if (Form2->DL->folder() != dir || Form2->DL->count() < count || floorCount != size_t(count))
        std::fprintf(stderr, "the tree shows %d entries in %s, the floor %zu\n", Form2->DL->count(),
                     Form2->DL->folder().c_str(), floorCount);
    printRatio("folder tree 20000 subfolders", vemloMs, "floor", floorMs);
    open(parent);
    printStall("folder tree 20000 subfolders", press([&] { open(dir); }, true).longestGapMs);
    std::printf("folder tree 20000 subfolders, peer: find | sort -f %.0f ms\n", shell);
    ::chdir("/");
    removeTree(parent);
    return 0;
}
