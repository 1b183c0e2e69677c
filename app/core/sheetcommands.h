// The two spreadsheet commands on the file table, the export into a saved
// workbook and the space-by-format pie chart, and the save of a workbook
// that both the export and the chart window use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/errtext.h"
#include "platform/progress.h"
#include "spreadsheet/core/workbook.h"

namespace vemlo {

using sheet::Application;
using sheet::Workbook;
using sheet::Worksheet;

// The file table as the commands read it: row 0 the captions.
class TableSource {
public:
    virtual ~TableSource() = default;
    virtual int rows() const = 0;  // caption row included
    virtual int columns() const = 0;
    virtual std::string_view text(int row, int col) const = 0;
};

// Where table cell (row, col) goes in the worksheet.
enum class Orientation {
    Rows,     // worksheet row row + 1, column col + 1
    Columns,  // worksheet row col + 1, column row + 1
    None,     // nowhere: no cell is written
};

// The table's columns that the chart reads.
inline constexpr int kFormatColumn = 2;
inline constexpr int kSizeColumn = 3;
// The worksheet columns of the format summary.
inline constexpr int kSummaryNameColumn = 9;
inline constexpr int kSummaryTotalColumn = 10;
inline constexpr std::string_view kChartTitle = "各种格式文件所占用空间比例";
// The summary's name for the rows without a format.
inline constexpr std::string_view kNoFormatName = "(无扩展名)";

enum class SaveMode {
    NoReplace,  // an existing file at the name makes the save fail
    Replace,    // an existing file is replaced once the new one is complete
};

// Saves book under path. The file is made without a name (or under a hidden
// temporary one) in the same folder, written through to the disk and read
// back whole, and only then takes its name: a failed save leaves no partial
// file and an earlier file untouched. The engine's scratch files go to a
// private folder in $TMPDIR. Throws nothing; the outcome tells what failed.
// The file is written on the calling thread; a progress watcher counts the
// cells written, and a stop asked before the file would take its name
// places nothing (Stage::Stopped).
SaveOutcome saveWorkbook(const Workbook& book, const std::string& path, SaveMode mode,
                         Progress* progress = nullptr);

// A workbook spanning at least this many cells (some 3,000 rows of the
// file table) is read back by a second thread while it is written; a
// smaller one only once it is written, as a thread beside the writer saves
// less than it costs there.
inline constexpr uint64_t kFollowFromCells = 20000;

// Bench hook: false makes saveWorkbook read the file back only after it is
// written, not also while it is written. Returns the setting before.
bool setReadWhileWriting(bool on);

// Puts the whole table into sheet, read where it lies (the sheet keeps
// table): every cell has the table cell's text and the text format, the
// cells of worksheet column 4 the general one.
void writeTable(Worksheet& sheet, std::shared_ptr<const TableSource> table, Orientation orientation);

// The export: a new workbook with the table in its first worksheet, saved
// under file and closed. Stopped through progress, it saves nothing.
SaveOutcome exportTable(Application& app, const TableSource& table, Orientation orientation,
                        const std::string& file, SaveMode mode, Progress* progress = nullptr);

struct FormatTotal {
    std::string name;  // the format, or kNoFormatName
    int64_t total = 0;
};
struct FormatSums {
    std::vector<FormatTotal> totals;
    // Why the sums could not be made: a size that is not an integer, or a
    // total beyond 64 bits; none when they could.
    sheet::Fault problem;
};
// Bytes per format (column 2, exact bytes) in the order of first occurrence,
// summing the sizes of column 3; stops at the first size it cannot add.
FormatSums sumByFormat(const TableSource& table);

// Which entries of a pie of at most maxSlices slices (maxSlices >= 1) get a
// slice of their own: all of them when they fit, else the maxSlices - 1
// largest values, the earlier entry first among equal ones, and the rest
// share the last slice. One flag per value, in their order.
std::vector<char> ownSlices(const std::vector<double>& values, size_t maxSlices);

struct SpaceChart {
    bool placed = false;  // the chart took its data
    sheet::Fault problem;  // the sums' problem: no chart was added
};
// The chart command: a new workbook with the table row for row (the
// workbook keeps table, which must not change while it lives), the format
// summary in columns 9 and 10 and a titled pie chart over the used summary
// rows, placed in "Sheet1". placed is false when the chart could not take
// its data (an empty summary); the title is set in any case.
SpaceChart buildSpaceChart(Application& app, std::shared_ptr<const TableSource> table);

}  // namespace vemlo
