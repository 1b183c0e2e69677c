// The workbook engine: an application that holds workbooks, their worksheets
// and cells, and charts over ranges of cells. Cells keep their number format
// and their value as text; a workbook is written into a file by write.
//
// Numbering follows spreadsheet usage: workbooks, worksheets, rows and
// columns count from 1. Every failing call throws SheetError with its fault.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/core/sheetfault.h"

namespace vemlo::sheet {

inline constexpr int kMaxRows = 1048576;
inline constexpr int kMaxColumns = 16384;

// Chart constants, with the values spreadsheet automation gives them.
inline constexpr int kChartPie = 5;
inline constexpr int kPlotByRows = 1;
inline constexpr int kPlotByColumns = 2;
inline constexpr int kLocationAsObject = 2;

// The text number format and the general one, as a Chinese desktop names it.
inline constexpr std::string_view kTextFormat = "@";
inline constexpr std::string_view kGeneralFormat = "G/通用格式";

class Application;
class Workbook;
class Worksheet;

// Told how a write goes, on the thread that writes: after each row, the
// cells written so far; false stops the write after that row.
class WriteWatch {
public:
    virtual ~WriteWatch() = default;
    virtual bool rowWritten(uint64_t cells) = 0;
};

// Texts a worksheet shows where they lie instead of copying them into cells
// of its own (a large table, say). Rows and columns count from 0. The texts
// must not change while a worksheet shows them.
class CellGrid {
public:
    virtual ~CellGrid() = default;
    virtual int rows() const = 0;
    virtual int columns() const = 0;
    virtual std::string_view text(int row, int col) const = 0;
};

// A cell of a worksheet, by position. Cheap to copy; valid while its
// worksheet lives.
class Cell {
public:
    int row() const { return row_; }
    int column() const { return col_; }
    Worksheet& worksheet() const { return *sheet_; }

    void setNumberFormatLocal(std::string_view format);
    // The format set on the cell; empty when none was set.
    std::string_view numberFormatLocal() const;
    void setValue(std::string_view text);
    // The cell's text; empty for a cell never written.
    std::string_view value() const;

private:
    friend class Worksheet;
    Cell(Worksheet* sheet, int row, int col) : sheet_(sheet), row_(row), col_(col) {}
    Worksheet* sheet_;
    int row_;
    int col_;
};

// A rectangle of cells of one worksheet, corners included.
struct Range {
    Worksheet* sheet = nullptr;
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
    int rows() const { return bottom - top + 1; }
    int columns() const { return right - left + 1; }
};

class Worksheet {
public:
    explicit Worksheet(Workbook& book, std::string name);
    Worksheet(const Worksheet&) = delete;
    Worksheet& operator=(const Worksheet&) = delete;
    ~Worksheet();

    const std::string& name() const { return name_; }
    Workbook& workbook() const { return book_; }

    // The cell at (row, col); throws when the position lies outside the sheet.
    Cell cells(int row, int col);
    // The range spanned by two cells of this worksheet, in either order.
    Range range(const Cell& a, const Cell& b);

    // Shows grid from cell (1, 1) on: grid cell (r, c) is worksheet cell
    // (r + 1, c + 1), or (c + 1, r + 1) when transposed. Every one of those
    // cells has the number format format, those of worksheet column
    // specialColumn (when it is one of them) specialFormat; writing a cell
    // makes it the worksheet's own. The worksheet keeps the grid. Throws,
    // placing nothing, when the grid reaches beyond the worksheet.
    void placeGrid(std::shared_ptr<const CellGrid> grid, bool transposed, std::string_view format,
                   int specialColumn = 0, std::string_view specialFormat = {});

    // Rows and columns that hold cells (0 when none).
    int usedRows() const { return std::max(int(rows_.size()), gridRows_); }
    int usedColumns() const { return std::max(maxCol_, gridColumns_); }

    // A cell that holds something: its column, format number (0: none) and text.
    struct Entry {
        const char* text;  // followed by a NUL byte in the worksheet's own cells
        uint32_t length;
        uint16_t col;  // kMaxColumns fits
        uint16_t format;
    };
    static_assert(kMaxColumns <= UINT16_MAX);
    // The worksheet's own cells of a row, ordered by column.
    const std::vector<Entry>& rowEntries(int row) const;
    // Calls f(entry, fromGrid) for every cell of row that holds something,
    // the worksheet's own and the grid's, ordered by column. The text of a
    // grid cell is not followed by a NUL byte.
    template <class F>
    void forEachEntry(int row, F&& f) const;

private:
    friend class Cell;
    Entry* find(int row, int col);
    const Entry* find(int row, int col) const;
    // The cell at (row, col) of the worksheet's own or of the grid.
    bool lookup(int row, int col, Entry& out) const;
    bool inGrid(int row, int col) const { return row <= gridRows_ && col <= gridColumns_; }
    Entry gridEntry(int row, int col) const;
    Entry& slot(int row, int col);
    const char* store(std::string_view text);

    Workbook& book_;
    std::string name_;
    std::vector<std::vector<Entry>> rows_;  // row r at index r - 1
    int maxCol_ = 0;
    // Cell texts live in blocks that never move, so entries point into them.
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t blockUsed_ = 0;
    size_t blockSize_ = 0;
    // The grid shown from (1, 1): its extent in worksheet rows and columns.
    std::shared_ptr<const CellGrid> grid_;
    bool gridTransposed_ = false;
    int gridRows_ = 0;
    int gridColumns_ = 0;
    uint16_t gridFormat_ = 0;
    int gridSpecialColumn_ = 0;
    uint16_t gridSpecialFormat_ = 0;
};

inline Worksheet::Entry Worksheet::gridEntry(int row, int col) const
{
    const std::string_view text = gridTransposed_ ? grid_->text(col - 1, row - 1)
                                                  : grid_->text(row - 1, col - 1);
    return Entry{text.data(), uint32_t(text.size()), uint16_t(col),
                 col == gridSpecialColumn_ ? gridSpecialFormat_ : gridFormat_};
}

template <class F>
void Worksheet::forEachEntry(int row, F&& f) const
{
    const std::vector<Entry>& own = rowEntries(row);
    const int gridColumns = row <= gridRows_ ? gridColumns_ : 0;
    size_t i = 0;
    for (int c = 1; c <= gridColumns; ++c) {
        while (i < own.size() && own[i].col < c)
            f(own[i++], false);
        if (i < own.size() && own[i].col == c)
            f(own[i++], false);
        else
            f(gridEntry(row, c), true);
    }
    while (i < own.size())
        f(own[i++], false);
}

// The data a chart draws, read from its source range.
struct ChartSeries {
    std::vector<std::string> categories;
    std::vector<double> values;
};

class Chart {
public:
    explicit Chart(Workbook& book) : book_(book) {}

    void setChartType(int type);
    int chartType() const { return type_; }

    // Takes the chart's data from range: with kPlotByColumns the first column
    // holds the categories and each further column is a series (rows alike
    // with kPlotByRows). A range without any value is refused.
    void setSourceData(const Range& range, int plotBy);
    bool hasSource() const { return source_.sheet != nullptr; }
    const Range& source() const { return source_; }
    int plotBy() const { return plotBy_; }

    // kLocationAsObject: the chart becomes an object in the named worksheet.
    void location(int where, std::string_view sheetName);
    Worksheet* placedIn() const { return placedIn_; }

    void setHasTitle(bool on) { hasTitle_ = on; }
    bool hasTitle() const { return hasTitle_; }
    void setTitleText(std::string_view text) { title_ = text; }
    const std::string& titleText() const { return title_; }

    // The series of the source range, categories and values read from the
    // cells now (a cell that is not a number counts 0).
    std::vector<ChartSeries> series() const;

private:
    Workbook& book_;
    int type_ = kChartPie;
    Range source_;
    int plotBy_ = kPlotByColumns;
    Worksheet* placedIn_ = nullptr;
    bool hasTitle_ = false;
    std::string title_;
};

class Workbook {
public:
    explicit Workbook(Application& app);
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;
    ~Workbook();

    int worksheetCount() const { return int(sheets_.size()); }
    // The cells the worksheets span: each one's used rows times its used
    // columns, summed.
    uint64_t extent() const
    {
        uint64_t cells = 0;
        for (const auto& s : sheets_)
            cells += uint64_t(s->usedRows()) * uint64_t(s->usedColumns());
        return cells;
    }
    Worksheet& worksheets(int index);
    // The worksheet with that name, or nullptr.
    Worksheet* worksheetByName(std::string_view name);

    // Adds a chart and makes it the active one.
    Chart& addChart();
    Chart* activeChart() const { return active_; }
    int chartCount() const { return int(charts_.size()); }
    Chart& chart(int index);

    // Number formats by number; 0 is "none".
    uint16_t formatNumber(std::string_view format);
    std::string_view formatText(uint16_t number) const;

    // Writes the workbook into the file at path (an .xlsx file whatever the
    // name), with the library's scratch files in scratchFolder. Cells of the
    // general format are written with the built-in General format; columns
    // get widths that show their texts. Returns the number of cells each
    // worksheet holds in the file, for a check of what reached it.
    // With a watch, the watch follows the cells written and can stop the
    // write after the row in hand (SheetError, Fault::Kind::Stopped). The library
    // assembles the file in one call after the last row; that part cannot
    // be stopped.
    std::vector<uint64_t> write(const std::string& path, const std::string& scratchFolder,
                                WriteWatch* watch = nullptr) const;
    // Discards the workbook; the reference is invalid afterwards.
    void close();

private:
    Application& app_;
    std::vector<std::unique_ptr<Worksheet>> sheets_;
    std::vector<std::unique_ptr<Chart>> charts_;
    Chart* active_ = nullptr;
    std::vector<std::string> formats_{std::string()};
};

class Workbooks {
public:
    explicit Workbooks(Application& app) : app_(app) {}
    // A new workbook with one worksheet "Sheet1"; it becomes the active one.
    Workbook& add();
    Workbook& item(int index);
    int count() const { return int(books_.size()); }

private:
    friend class Workbook;
    void remove(Workbook* book);
    Application& app_;
    std::vector<std::unique_ptr<Workbook>> books_;
};

class Application {
public:
    Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    void setVisible(bool on) { visible_ = on; }
    bool visible() const { return visible_; }

    Workbooks& workbooks() { return books_; }
    // The workbook added last and not closed; throws when there is none.
    Workbook& activeWorkbook();
    // Adds a chart to the active workbook and makes it active.
    Chart& addChart() { return activeWorkbook().addChart(); }
    // The active workbook's active chart; throws when there is none.
    Chart& activeChart();

private:
    friend class Workbooks;
    friend class Workbook;
    bool visible_ = false;
    Workbooks books_;
    Workbook* active_ = nullptr;
};

// Creating the application goes through a factory, which may fail (no
// engine available): createApplication then returns nullptr.
using ApplicationFactory = std::function<std::unique_ptr<Application>()>;
std::unique_ptr<Application> createApplication();
// Replaces the factory (an empty one restores the default) and returns the
// one in place before.
ApplicationFactory setApplicationFactory(ApplicationFactory factory);

}  // namespace vemlo::sheet
