// Long commands and the window: for each command the longest time the event
// loop waited for a turn while the command ran (over the 100 ms a user still
// takes for an answer), and the cost of the progress reporting against the
// same work with none.
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/core/batch.h"
#include "app/core/importrows.h"
#include "app/core/keywords.h"
#include "app/core/sheetcommands.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "benchutil.h"
#include "common/progressgate.h"
#include "import/importwindow.h"

using namespace vemlo;
using namespace vemlo::bench;

namespace {

int envCount(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

// Records the longest gap between two turns of the event loop while it lives:
// a zero timer fires once per turn.
class StallMeter {
public:
    StallMeter()
    {
        QObject::connect(&timer_, &QTimer::timeout, [this] { turn(); });
        timer_.start(0);
        clock_.start();
    }
    // Longest gap so far, the end of the measured work counting as a turn.
    double longestMs()
    {
        turn();
        return double(longestNs_) / 1e6;
    }

private:
    void turn()
    {
        const qint64 now = clock_.nsecsElapsed();
        longestNs_ = std::max(longestNs_, now - lastNs_);
        lastNs_ = now;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastNs_ = 0;
    qint64 longestNs_ = 0;
};

struct Figures {
    double withMs = 1e300;
    double withoutMs = 1e300;
    double stallMs = 0;
};

// Runs work with a gate and without, runs times each, alternating; setup
// before each run is not timed. Best times, longest stall.
Figures measure(int runs, const std::function<void(Progress*)>& work,
                const std::function<void()>& setup)
{
    Figures f;
    for (int i = 0; i < runs; ++i) {
        setup();
        {
            StallMeter meter;
            ProgressGate gate(QStringLiteral("正在处理…"));
            f.withMs = std::min(f.withMs, timeMs([&] { work(&gate); }));
            f.stallMs = std::max(f.stallMs, meter.longestMs());
        }
        QCoreApplication::processEvents();
        setup();
        f.withoutMs = std::min(f.withoutMs, timeMs([&] { work(nullptr); }));
    }
    return f;
}

void print(const std::string& what, const Figures& f)
{
    std::printf("stall %s: longest %.0f ms, ratio %.2f\n", what.c_str(), f.stallMs,
                f.stallMs / 100.0);
    std::printf("progress overhead %s: with %.0f ms, without %.0f ms, ratio %.2f\n", what.c_str(),
                f.withMs, f.withoutMs, f.withMs / f.withoutMs);
    std::fflush(stdout);
}

std::string fileName(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "f%07d.txt", i);
    return name;
}

// The folder listed into the table, without a gate.
void listInto(const std::string& dir)
{
    Form2->setWorkingFolder(dir);
    RowStore rows;
    fs::ListingGaps gaps;
    listRows(dir + "/", dir, rows, gaps);
    Form1->table()->replaceDataRows(std::move(rows));
}

void freshFiles(const std::string& dir, int n)
{
    makeFiles(dir, n, fileName);
    listInto(dir);
}

// A table of n rows naming no files, as the workbook commands and the
// filter read it.
void fillTable(int n)
{
    RowStore rows(1);
    char name[32], path[64], size[16];
    static const char* const exts[] = {"jpg", "png", "txt", "docx", ""};
    for (int i = 0; i < n; ++i) {
        const char* ext = exts[i % 5];
        std::snprintf(name, sizeof name, "照片_%07d%s%s", i, *ext ? "." : "", ext);
        std::snprintf(path, sizeof path, "/home/user/资料/%s", name);
        std::snprintf(size, sizeof size, "%d", (i * 7919) % 10000000);
        rows.emplace_back(std::array<std::string_view, 7>{path, name, ext, size, "2024/05/06",
                                                          "2023/11/30", "32"});
    }
    Form1->table()->replaceDataRows(std::move(rows));
}

class TableSourceOf : public TableSource {
public:
    explicit TableSourceOf(const FileTable& t) : t_(t) {}
    int rows() const override { return t_.tableRows(); }
    int columns() const override { return FileTable::kColumns; }
    std::string_view text(int row, int col) const override { return t_.text(row, col); }

private:
    const FileTable& t_;
};

}  // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    createForms();
    Form1->show();
    const int listN = envCount("VEMLO_BENCH_LIST", 1000000);
    const int filterN = envCount("VEMLO_BENCH_FILTER", 1000000);
    const int batchN = envCount("VEMLO_BENCH_BATCH", 100000);
    const int exportN = envCount("VEMLO_BENCH_EXPORT", 1000000);
    const std::string dir = scratchFolder("progress");
    FileTable& table = *Form1->table();

    // Listing: the folder made once, listed with and without.
    makeFiles(dir, listN, fileName);
    print("listing " + std::to_string(listN), measure(
        3,
        [&](Progress* p) {
            RowStore rows;
            fs::ListingGaps gaps;
            listRows(dir + "/", dir, rows, gaps, p);
            table.replaceDataRows(std::move(rows));
        },
        [] {}));
    removeTree(dir);

    fillTable(filterN);
    const std::vector<std::string> keywords = {"jpg", "txt"};
    print("filter " + std::to_string(filterN),
          measure(3, [&](Progress* p) { filterTable(table, 1, keywords, p); },
                  [&] { fillTable(filterN); }));

    const std::vector<std::string> organizeKeywords = {"f"};
    print("organize " + std::to_string(batchN), measure(
        3,
        [&](Progress* p) {
            organizeTable(table, 1, organizeKeywords, dir, p);
            table.adjustToTop();
        },
        [&] { freshFiles(dir, batchN); }));

    print("rename " + std::to_string(batchN),
          measure(3, [&](Progress* p) { renameNumbered(table.snapshot(), dir, "x", p); },
                  [&] { freshFiles(dir, batchN); }));

    print("attributes " + std::to_string(batchN),
          measure(3,
                  [&](Progress* p) {
                      changeAttributes(table.snapshot(), attributeValue(true, true, false, false), p);
                  },
                  [&] { freshFiles(dir, batchN); }));
    removeTree(dir);

    fillTable(exportN);
    (void)std::system(("mkdir -p '" + dir + "'").c_str());
    const std::string file = dir + "/导出列表.xls";
    print("export " + std::to_string(exportN), measure(
        1,
        [&](Progress* p) {
            std::unique_ptr<Application> engine = sheet::createApplication();
            const SaveOutcome out = exportTable(*engine, TableSourceOf(table), Orientation::Rows,
                                                file, SaveMode::Replace, p);
            if (!out.ok())
                std::fprintf(stderr, "export failed\n");
        },
        [&] { ::unlink(file.c_str()); }));
    removeTree(dir);
    return 0;
}
