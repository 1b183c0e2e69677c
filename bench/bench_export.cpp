// "生成表格" on a million table rows against libxlsxwriter alone writing the
// same workbook (the same cells, formats and column widths), once made as a
// safe save makes a file (the floor) and once bare. Each side runs in a
// process of its own (this program started again with --child), so that the
// peak memory of each is its own.
#include <QApplication>
#include <QPushButton>
#include <QRadioButton>

#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "app/core/sheetcommands.h"
#include "app/mainwindow.h"
#include "app/startup.h"
#include "benchutil.h"
#include "import/importwindow.h"
#include "spreadsheet/core/celltext.h"

using namespace vemlo::bench;

namespace {

constexpr int kRows = 1000000;
constexpr int kRuns = 1;
// Each side runs this many times, the sides taking turns, so that a busy
// spell of the machine falls on all of them alike; the median counts.
constexpr int kRounds = 3;

// A table like a listing of a large folder.
void fillTable()
{
    static const char* const exts[] = {"jpg", "txt", "pdf", "docx", "mp3", "png", "cpp", "h", ""};
    vemlo::RowStore rows(1);
    rows.reserve(kRows + 1);
    char name[64], path[128], size[24];
    for (int i = 0; i < kRows; ++i) {
        const char* ext = exts[i % 9];
        std::snprintf(name, sizeof name, "照片与文档_%06d%s%s", i, *ext ? "." : "", ext);
        std::snprintf(path, sizeof path, "/home/user/资料/归档/%s", name);
        std::snprintf(size, sizeof size, "%lld", (long long)i * 7919 % 10000000);
        rows.emplace_back(std::array<std::string_view, 7>{path, name, ext, size, "2024/05/06",
                                                          "2023/11/30", "32"});
    }
    Form1->table()->replaceDataRows(std::move(rows));
}

// The press of "生成表格", its closing box answered at once; the time, or
// with stalls the window's longest stall.
double exportWithHandler(const std::string& folder, bool stalls)
{
    Form2->setWorkingFolder(folder);
    Form1->rbh->setChecked(true);
    const Pressed pressed = press([] { Form1->btnanagrid->click(); }, stalls);
    return stalls ? pressed.longestGapMs : pressed.ms;
}

// A plain decimal integer as the export writes it as a number: an optional
// "-", then 1 to 15 digits without a leading zero.
bool plainNumber(std::string_view t, double& out)
{
    const size_t sign = !t.empty() && t[0] == '-' ? 1 : 0;
    const size_t digits = t.size() - sign;
    if (digits == 0 || digits > 15 || (t[sign] == '0' && (digits > 1 || sign)))
        return false;
    long long v = 0;
    for (size_t i = sign; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9')
            return false;
        v = v * 10 + (t[i] - '0');
    }
    out = double(sign ? -v : v);
    return true;
}

// The same workbook through libxlsxwriter alone: the texts under the
// built-in text format, the sizes as numbers under the general format,
// and column widths that show every text whole. With safe, the file is
// also made as a safe save makes it: unnamed (O_TMPFILE) while written,
// written through to the disk (fsync) and then given its name (linkat).
// Those calls are part of saving the same result without ever showing a
// half-written file under the name, so they belong to the floor; the
// bare figure is printed as well.
void exportBare(const std::string& folder, const std::string& file, bool safe)
{
    int fd = -1;
    std::string target = file;
    if (safe) {
        fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd < 0) {
            std::perror("bare export: O_TMPFILE");
            return;
        }
        target = "/proc/self/fd/" + std::to_string(fd);
    }
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(target.c_str(), &options);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "Sheet1");
    lxw_format* text = workbook_add_format(wb);
    format_set_num_format_index(text, 49);  // "@"
    const vemlo::FileTable& t = *Form1->table();
    std::array<size_t, vemlo::FileTable::kColumns> widest{};
    std::string value;
    for (int r = 0; r < t.tableRows(); ++r) {
        for (int c = 0; c < vemlo::FileTable::kColumns; ++c) {
            const std::string_view cell = t.text(r, c);
            widest[size_t(c)] = std::max(widest[size_t(c)], vemlo::sheet::displayWidth(cell));
            double number;
            if (c == 3 && plainNumber(cell, number)) {
                worksheet_write_number(ws, lxw_row_t(r), lxw_col_t(c), number, nullptr);
                continue;
            }
            value.assign(cell);
            worksheet_write_string(ws, lxw_row_t(r), lxw_col_t(c), value.c_str(), c == 3 ? nullptr : text);
        }
    }
    for (size_t c = 0; c < widest.size(); ++c) {
        const double width = std::min(255.0, double(widest[c]) * 1.1 + 1);
        if (width > LXW_DEF_COL_WIDTH)
            worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), width, nullptr);
    }
    if (workbook_close(wb) != LXW_NO_ERROR)
        std::fprintf(stderr, "bare export failed\n");
    if (safe) {
        if (::fsync(fd) != 0 ||
            ::linkat(AT_FDCWD, target.c_str(), AT_FDCWD, file.c_str(), AT_SYMLINK_FOLLOW) != 0)
            std::perror("bare export: fsync/linkat");
        ::close(fd);
    }
}

// One side: prints "<median ms (vemlo-stall: the longest stall)> <peak bytes> <bytes after filling the table>
// <bytes after the export>".
int runChild(const std::string& side, int argc, char** argv)
{
    QApplication app(argc, argv);
    vemlo::setReadWhileWriting(side != "vemlo-check-after");
    vemlo::createForms();
    fillTable();
    const long tableBytes = residentBytes();
    const std::string folder = scratchFolder("export-" + side);
    removeTree(folder);
    (void)std::system(("mkdir -p '" + folder + "'").c_str());
    const std::string file = folder + "/导出列表.xls";
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        ::unlink(file.c_str());
        if (side.starts_with("vemlo"))
            times.push_back(exportWithHandler(folder, side == "vemlo-stall"));
        else
            times.push_back(timeMs([&] { exportBare(folder, file, side == "lxw-safe"); }));
    }
    std::sort(times.begin(), times.end());
    const double ms = times[times.size() / 2];
    QApplication::processEvents();
    std::printf("%f %ld %ld %ld\n", ms, peakResidentBytes(), tableBytes, residentBytes());
    removeTree(folder);
    return 0;
}

struct Result {
    double ms = 0;
    long peak = 0;
    long table = 0;
    long after = 0;
};

Result runSide(const char* side)
{
    Result r;
    const std::string command = "/proc/" + std::to_string(::getpid()) + "/exe --child " + side;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        if (std::fscanf(p, "%lf %ld %ld %ld", &r.ms, &r.peak, &r.table, &r.after) != 4)
            std::fprintf(stderr, "%s: no result\n", side);
        ::pclose(p);
    }
    return r;
}

// The run of median time; its memory figures with the largest of all runs,
// so that no run's peak is hidden.
Result medianOf(std::vector<Result> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Result& a, const Result& b) { return a.ms < b.ms; });
    Result r = runs[runs.size() / 2];
    for (const Result& x : runs) {
        r.peak = std::max(r.peak, x.peak);
        r.after = std::max(r.after, x.after);
    }
    return r;
}

double mb(long bytes) { return double(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0)
        return runChild(argv[2], argc, argv);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::vector<Result> ourRuns, afterRuns, safeRuns, bareRuns;
    for (int round = 0; round < kRounds; ++round) {
        ourRuns.push_back(runSide("vemlo"));
        afterRuns.push_back(runSide("vemlo-check-after"));
        safeRuns.push_back(runSide("lxw-safe"));
        bareRuns.push_back(runSide("lxw"));
    }
    const Result stall = runSide("vemlo-stall");
    const Result ours = medianOf(ourRuns);
    const Result after = medianOf(afterRuns);
    const Result safe = medianOf(safeRuns);
    const Result bare = medianOf(bareRuns);
    const std::string rows = std::to_string(kRows);
    printRatio("export " + rows + " rows", ours.ms, "libxlsxwriter + O_TMPFILE, fsync, linkat", safe.ms);
    printStall("export " + rows + " rows", stall.ms);
    printRatio("export " + rows + " rows, bare", ours.ms, "libxlsxwriter alone", bare.ms);
    // What reading the file while it is written saves over reading it after.
    printRatio("export " + rows + " rows, check", ours.ms, "vemlo reading the file after writing it", after.ms);
    std::printf("export %s rows, check: peak memory read while written %.0f MB, read after %.0f MB\n",
                rows.c_str(), mb(ours.peak), mb(after.peak));
    std::printf("export %s rows peak memory: vemlo %.0f MB, table %.0f MB, ratio %.2f\n",
                rows.c_str(), mb(ours.peak), mb(ours.table), double(ours.peak) / double(ours.table));
    std::printf("export %s rows resident memory: before %.0f MB, after %.0f MB, ratio %.2f\n",
                rows.c_str(), mb(ours.table), mb(ours.after), double(ours.after) / double(ours.table));
    std::printf("export %s rows, peer: libxlsxwriter peak memory %.0f MB\n", rows.c_str(),
                mb(bare.peak));
    return 0;
}
