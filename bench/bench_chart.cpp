// "生成图像" on large tables with many formats: from the press to the chart
// window shown, against the floor (the sizes summed per format in one pass
// with a hash map over the same table); and the memory the chart takes at
// its peak and after its window is closed, each measured in a process of
// its own (this program started again with --child).
#include <QApplication>
#include <QPushButton>
#include <QTableView>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <unordered_map>

#include "app/mainwindow.h"
#include "app/startup.h"
#include "benchutil.h"
#include "app/chartwindow.h"

using namespace vemlo::bench;

namespace {

// rows entries spread over formats formats, sizes up to about 10 MB.
void fillTable(int rows, int formats)
{
    vemlo::RowStore store(1);
    store.reserve(size_t(rows) + 1);
    char name[64], path[128], ext[16], size[24];
    for (int i = 0; i < rows; ++i) {
        std::snprintf(ext, sizeof ext, "e%05d", i % formats);
        std::snprintf(name, sizeof name, "file_%07d.%s", i, ext);
        std::snprintf(path, sizeof path, "/home/user/data/%s", name);
        std::snprintf(size, sizeof size, "%lld", (long long)i * 7919 % 10000000);
        store.emplace_back(std::array<std::string_view, 7>{path, name, ext, size, "2024/05/06",
                                                           "2023/11/30", "32"});
    }
    Form1->table()->replaceDataRows(std::move(store));
}

void closeCharts()
{
    for (vemlo::ChartWindow* w : Form1->findChildren<vemlo::ChartWindow*>())
        w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

// The press of the button, up to the window shown and painted: nothing the
// window left posted is done later in the untimed close.
void chartThroughWindow()
{
    Form1->btnanagraph->click();
    QApplication::processEvents();
    QApplication::sendPostedEvents();
}

// The floor: one pass over the table, the sizes summed per format.
size_t sumFloor()
{
    const vemlo::FileTable& t = *Form1->table();
    std::unordered_map<std::string_view, int64_t> totals;
    for (int r = 1; r < t.tableRows(); ++r) {
        const std::string_view size = t.text(r, 3);
        int64_t n = 0;
        std::from_chars(size.data(), size.data() + size.size(), n);
        totals[t.text(r, 2)] += n;
    }
    return totals.size();
}

void speed(int rows, int formats)
{
    fillTable(rows, formats);
    chartThroughWindow();  // warm both sides
    const double vemloMs = medianMs(5, chartThroughWindow, closeCharts);
    const auto windows = Form1->findChildren<vemlo::ChartWindow*>();
    if (windows.size() != 1 || !windows[0]->isVisible() || windows[0]->summary->model()->rowCount() != formats)
        std::fprintf(stderr, "the chart window does not show %d formats\n", formats);
    closeCharts();
    size_t seen = 0;
    const double floorMs = medianMs(5, [&] { seen = sumFloor(); });
    if (seen != size_t(formats))
        std::fprintf(stderr, "the floor saw %zu formats, expected %d\n", seen, formats);
    printRatio("chart " + std::to_string(rows) + " rows " + std::to_string(formats) + " formats",
               vemloMs, "floor", floorMs);
}

// Prints "<peak bytes> <bytes after filling the table> <bytes after closing>".
int memoryChild(int argc, char** argv)
{
    QApplication app(argc, argv);
    vemlo::createForms();
    fillTable(1000000, 1000);
    QApplication::processEvents();
    const long table = residentBytes();
    chartThroughWindow();
    const long peak = peakResidentBytes();
    closeCharts();
    std::printf("%ld %ld %ld\n", peak, table, residentBytes());
    return 0;
}

double mb(long bytes) { return double(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (argc >= 2 && std::strcmp(argv[1], "--child") == 0)
        return memoryChild(argc, argv);
    long peak = 0, table = 0, after = 0;
    const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe --child";
    if (FILE* p = ::popen(command.c_str(), "r")) {
        if (std::fscanf(p, "%ld %ld %ld", &peak, &table, &after) != 3)
            std::fprintf(stderr, "chart memory: no result\n");
        ::pclose(p);
    }

    QApplication app(argc, argv);
    vemlo::createForms();
    speed(1000000, 1000);
    speed(100000, 10000);
    std::printf("chart 1000000 rows peak memory: vemlo %.0f MB, table %.0f MB, ratio %.2f\n",
                mb(peak), mb(table), table ? double(peak) / double(table) : 0.0);
    std::printf("chart 1000000 rows resident memory: before %.0f MB, after closing %.0f MB, "
                "ratio %.2f\n",
                mb(table), mb(after), table ? double(after) / double(table) : 0.0);
    return 0;
}
