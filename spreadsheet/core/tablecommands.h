// The two spreadsheet commands on the file table: the export into a saved
// workbook and the space-by-format pie chart.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/core/workbook.h"

namespace vemlo::sheet {

// The file table as the commands read it: row 0 the captions.
class TableSource {
public:
    virtual ~TableSource() = default;
    virtual int rows() const = 0;  // caption row included
    virtual int columns() const = 0;
    virtual std::string_view cell(int col, int row) const = 0;
};

// Where table cell (col, row) goes in the worksheet.
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

// Puts the whole table into sheet, read where it lies (the sheet keeps
// table): every cell has the table cell's text and the text format, the
// cells of worksheet column 4 the general one.
void writeTable(Worksheet& sheet, std::shared_ptr<const TableSource> table, Orientation orientation);

// The export: a new workbook with the table in its first worksheet, saved
// under file and closed.
void exportTable(Application& app, const TableSource& table, Orientation orientation,
                 const std::string& file, SaveMode mode);

// A size text that is not an integer.
class NotAnInteger : public std::runtime_error {
public:
    explicit NotAnInteger(std::string text);
    const std::string& text() const { return text_; }

private:
    std::string text_;
};

struct FormatTotal {
    std::string name;  // the format, or kNoFormatName
    int64_t total = 0;
};
// Bytes per format (column 2, exact bytes) in the order of first occurrence,
// summing the sizes of column 3. Throws NotAnInteger for a size that does
// not convert and SheetError for a total beyond 64 bits.
std::vector<FormatTotal> sumByFormat(const TableSource& table);

// The chart command: a new workbook with the table row for row (the
// workbook keeps table, which must not change while it lives), the format
// summary in columns 9 and 10 and a titled pie chart over the used summary
// rows, placed in "Sheet1". Returns false when the chart could not take its
// data (an empty summary); the title is set in any case.
bool buildSpaceChart(Application& app, std::shared_ptr<const TableSource> table);

}  // namespace vemlo::sheet
