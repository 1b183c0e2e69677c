// Filter over a million rows against its floor, a bare loop that looks for
// the keywords in each name and keeps the rows that hold one (grep -F over
// the same names as a peer), and
// organize of ten thousand entries against its floor, a bare mkdir/renameat2
// loop; both pressed as the user presses them, with the window's longest stall.
#include <QApplication>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <malloc.h>
#include <fstream>
#include <stdio.h>
#include <sys/stat.h>

#include "app/mainwindow.h"
#include "app/startup.h"
#include "bench/benchutil.h"
#include "import/importwindow.h"

using namespace vemlo;
using namespace vemlo::bench;

namespace {

constexpr int kFilterRows = 1000000;
constexpr int kOrganizeEntries = 10000;
constexpr int kRuns = 5;
// A move's time on a journalled disk varies by a third from run to run.
constexpr int kOrganizeRuns = 9;

void setKeywords(QListWidget* list, const std::vector<std::string>& keywords)
{
    list->clear();
    for (const auto& k : keywords)
        list->addItem(QString::fromStdString(k));
}

std::string filterName(int i)
{
    static const char* prefixes[] = {"IMG_", "报告_", "notes_", "song_", "DSC", "备份-"};
    static const char* exts[] = {".jpg", ".docx", ".txt", ".mp3", ".JPG", ".png", ".tar.gz"};
    return prefixes[i % 6] + std::to_string(1000000 + i) + exts[(i / 6) % 7];
}

void filterBench(const std::string& scratch)
{
    const std::string folder = scratch + "/names";
    std::vector<std::string> names;
    names.reserve(kFilterRows);
    {
        std::ofstream out(scratch + "/names.txt", std::ios::binary);
        for (int i = 0; i < kFilterRows; ++i) {
            names.push_back(filterName(i));
            out << names.back() << '\n';
        }
    }
    // Every run starts from a table laid out like a first listing: the old
    // rows are freed and the heap trimmed before the new rows are made.
    auto fill = [&] {
        Form1->table()->setTableRows(1);
        ::malloc_trim(0);
        RowStore rows;
        rows.reserve(names.size() + 1);
        rows.emplace_back();
        for (const std::string& n : names) {
            const std::string path = folder + "/" + n;
            rows.emplace_back(RowStore::Cells{
                path, n, n.substr(n.rfind('.') + 1), "4096", "2024/05/06", "2024/05/06", "32"});
        }
        Form1->table()->replaceDataRows(std::move(rows));
    };
    const std::vector<std::string> keywords = {"jpg", "报告", "mp3"};
    setKeywords(Form1->lst, keywords);
    Form1->cbbfilterate->setEditText(QStringLiteral("文件名"));

    auto filter = [] { Form1->btndec->click(); };
    const double vemloMs = medianPressMs(kRuns, filter, fill);
    const int kept = Form1->table()->tableRows() - 1;
    fill();
    const double stallMs = press(filter, true).longestGapMs;

    size_t floorKept = 0;
    const double floorMs = medianMs(kRuns, [&] {
        std::vector<const std::string*> keptRows;
        keptRows.reserve(names.size());
        for (const std::string& n : names)
            for (const std::string& k : keywords)
                if (::memmem(n.data(), n.size(), k.data(), k.size())) {
                    keptRows.push_back(&n);
                    break;
                }
        floorKept = keptRows.size();
    });
    if (floorKept != size_t(kept))
        std::fprintf(stderr, "filter kept %d rows, the floor %zu\n", kept, floorKept);
    const std::string grep = "LC_ALL=C grep -F -e jpg -e 报告 -e mp3 '" + scratch +
                             "/names.txt' > '" + scratch + "/grep.txt'";
    const double grepMs = shellMs(kRuns, grep);
    int grepLines = 0;
    {
        std::ifstream in(scratch + "/grep.txt");
        for (std::string line; std::getline(in, line);)
            ++grepLines;
    }
    if (grepLines != kept)
        std::fprintf(stderr, "filter kept %d rows, grep printed %d lines\n", kept, grepLines);
    Form1->table()->setTableRows(2);
    printRatio("filter 1000000 rows", vemloMs, "floor", floorMs);
    printStall("filter 1000000 rows", stallMs);
    std::printf("filter 1000000 rows, peer: grep -F %.0f ms\n", grepMs);
}

const char* kFormats[] = {"jpg", "png", "txt"};

std::string organizeName(int i) { return "f" + std::to_string(100000 + i) + "." + kFormats[i % 3]; }

void organizeBench(const std::string& scratch)
{
    const std::string folder = scratch + "/org";
    // Both sides start as a user meets a folder: its files written out, and
    // listed once (the program's rows; the floor's own listing).
    auto made = [&] {
        makeFiles(folder, kOrganizeEntries, organizeName);
        ::sync();
    };
    auto prepare = [&] {
        made();
        Form2->setWorkingFolder(folder);
        Form1->table()->setTableRows(2);
        Form1->ImportDir(folder + "/*");
    };
    setKeywords(Form1->lstsort, {kFormats[0], kFormats[1], kFormats[2]});
    Form1->cbbspara->setEditText(QStringLiteral("格式"));

    // From the press of "整理" to its end, its message box answered at once.
    auto organize = [] { Form1->btnsort->click(); };
    auto floorLoop = [&] {
        for (const char* f : kFormats)
            ::mkdir((folder + "/" + f).c_str(), 0777);
        for (int i = 0; i < kOrganizeEntries; ++i) {
            const std::string name = organizeName(i);
            const std::string from = folder + "/" + name;
            const std::string to = folder + "/" + kFormats[i % 3] + "/" + name;
            ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        }
    };
    const auto [vemloMs, loopMs] = alternatingMediansMs(
        kOrganizeRuns, {prepare, [&] { return press(organize).ms; }},
        {[&] {
             made();
             listFloor(folder);
         },
         [&] { return timeMs(floorLoop); }});
    if (Form1->table()->tableRows() != 1)
        std::fprintf(stderr, "organize left %d rows\n", Form1->table()->tableRows() - 1);
    printRatio("organize 10000 entries", vemloMs, "floor", loopMs);
    prepare();
    printStall("organize 10000 entries", press(organize, true).longestGapMs);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    createForms();
    const std::string scratch = scratchFolder("keywords");
    removeTree(scratch);
    ::mkdir(scratch.c_str(), 0777);
    filterBench(scratch);
    organizeBench(scratch);
    removeTree(scratch);
    return 0;
}
