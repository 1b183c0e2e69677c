// Workbook::write: the workbook written as an .xlsx file by libxlsxwriter.
//
// libxlsxwriter runs in its constant-memory mode: each worksheet row goes to
// a temporary file as soon as the next one starts, so a save holds no copy of
// the cells beside the engine's own. Rows are written in order for that.
#include <xlsxwriter.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>

#include "spreadsheet/core/celltext.h"
#include "spreadsheet/core/workbook.h"

namespace vemlo::sheet {

namespace {

struct WorkbookFree {
    void operator()(lxw_workbook* wb) const { lxw_workbook_free(wb); }
};
using WorkbookHandle = std::unique_ptr<lxw_workbook, WorkbookFree>;

using Kind = Fault::Kind;

void check(lxw_error err, Kind kind)
{
    if (err != LXW_NO_ERROR)
        throw SheetError({.kind = kind, .name = lxw_strerror(err)});
}

// A chart cache string: as a cell text, and without control characters,
// which the chart part cannot carry.
char* cacheText(std::string_view text)
{
    std::string s = writableText(text);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
            c = '?';
    char* out = ::strdup(s.c_str());
    if (!out)
        throw std::bad_alloc();
    return out;
}

// Fills a series range's cache from our cells, so readers that show the
// cached values see the chart as it is. The public calls cannot do it: in
// the constant-memory mode the library sets ignore_cache and writes no cache
// at all (the rows are on disk already), and its one call that adds a cache,
// lxw_chart_add_data_cache, takes small numbers only, no texts. So the range
// gets its points here, in the form the library writes them out; the tests
// read the cache back with openpyxl and convert the file with LibreOffice.
template <class T>
void fillCache(lxw_series_range* range, const std::vector<T>& items)
{
    if (items.size() > UINT16_MAX)
        return;  // too many points to cache: readers take them from the cells
    range->ignore_cache = LXW_TRUE;
    range->num_data_points = uint16_t(items.size());
    for (const T& item : items) {
        auto* point = static_cast<lxw_series_data_point*>(::calloc(1, sizeof(lxw_series_data_point)));
        if (!point)
            throw std::bad_alloc();
        if constexpr (std::is_same_v<T, std::string>) {
            point->is_string = LXW_TRUE;
            range->has_string_cache = LXW_TRUE;
            point->string = cacheText(item);
        } else {
            point->number = item;
        }
        STAILQ_INSERT_TAIL(range->data_cache, point, list_pointers);
    }
}

void writeChart(lxw_workbook* wb, lxw_worksheet* target, int targetColumns, const Chart& chart)
{
    lxw_chart* c = workbook_add_chart(wb, LXW_CHART_PIE);
    if (!c)
        throw SheetError({.kind = Kind::ChartNotMade});
    const Range& r = chart.source();
    const std::string sheetName = r.sheet->name();
    const bool byColumns = chart.plotBy() == kPlotByColumns;
    const std::vector<ChartSeries> all = chart.series();
    const int firstValues = (byColumns ? r.columns() : r.rows()) > 1 ? 1 : 0;
    for (size_t i = 0; i < all.size(); ++i) {
        lxw_chart_series* s = chart_add_series(c, nullptr, nullptr);
        if (!s)
            throw SheetError({.kind = Kind::SeriesNotMade});
        const int line = int(i) + firstValues;
        // 0-based corners of the categories and of this series' values.
        const lxw_row_t top = lxw_row_t(r.top - 1), bottom = lxw_row_t(r.bottom - 1);
        const lxw_col_t left = lxw_col_t(r.left - 1), right = lxw_col_t(r.right - 1);
        if (byColumns) {
            if (firstValues)
                chart_series_set_categories(s, sheetName.c_str(), top, left, bottom, left);
            chart_series_set_values(s, sheetName.c_str(), top, lxw_col_t(left + line), bottom,
                                    lxw_col_t(left + line));
        } else {
            if (firstValues)
                chart_series_set_categories(s, sheetName.c_str(), top, left, top, right);
            chart_series_set_values(s, sheetName.c_str(), lxw_row_t(top + line), left,
                                    lxw_row_t(top + line), right);
        }
        if (firstValues)
            fillCache(s->categories, all[i].categories);
        fillCache(s->values, all[i].values);
    }
    if (chart.hasTitle()) {
        const std::string title = writableText(chart.titleText());
        chart_title_set_name(c, title.c_str());
    }
    // Beside the used columns, one column apart, below the first row.
    check(worksheet_insert_chart(target, 1, lxw_col_t(targetColumns + 1), c), Kind::ChartNotInserted);
}

// The widths that show every text of a column whole: columns whose texts
// are wider than the default width get the width of the widest, up to the
// largest width a column may have. widest[c] is the widest text of column c,
// in digits. The library writes the column widths when the workbook is
// closed, so they may follow the rows even in the constant-memory mode.
void setColumnWidths(lxw_worksheet* ws, const std::vector<size_t>& widest)
{
    constexpr double kMaxWidth = 255;
    for (size_t col = 1; col < widest.size(); ++col) {
        // A little room beside the text, as the cell's margins take some.
        const double width = std::min(kMaxWidth, double(widest[col]) * 1.1 + 1);
        if (width > LXW_DEF_COL_WIDTH)
            check(worksheet_set_column(ws, lxw_col_t(col - 1), lxw_col_t(col - 1), width, nullptr),
                  Kind::ColumnWidth);
    }
}

// Writes the cells of sheet row by row, and the widths that show their texts
// whole; returns how many cells the file holds for them. A cell with a
// format of plain defaults (the general number format, the standard font)
// is written without one: the file then holds the same cell, and the
// library does not look the format up again for every cell, as it does for
// a format equal to its default one. The watch is told the cells written
// so far, counting before from the worksheets written already.
uint64_t writeCells(lxw_worksheet* ws, const Worksheet& sheet, const std::vector<lxw_format*>& formats,
                    const std::vector<char>& textFormat, const std::vector<char>& plainFormat,
                    uint64_t before, WriteWatch* watch)
{
    uint64_t written = 0;
    std::string cleaned;
    // Measured while each text is at hand, rather than in a pass of its own.
    std::vector<size_t> widest(size_t(sheet.usedColumns()) + 1, 0);
    for (int r = 1; r <= sheet.usedRows(); ++r) {
        const lxw_row_t row = lxw_row_t(r - 1);
        sheet.forEachEntry(r, [&](const Worksheet::Entry& e, bool fromGrid) {
            const lxw_col_t col = lxw_col_t(e.col - 1);
            lxw_format* const given = formats[e.format];
            lxw_format* const format = plainFormat[e.format] ? nullptr : given;
            const std::string_view text(e.text, e.length);
            lxw_error err = LXW_NO_ERROR;
            bool writable = true;
            if (!text.empty())
                widest[e.col] = std::max(widest[e.col], displayWidth(text, &writable));
            if (text.empty()) {
                if (!given)
                    return;  // nothing to write: the cell stays absent
                // A blank cell is written only with a format to carry.
                err = worksheet_write_blank(ws, row, col, given);
            } else if (std::optional<double> n; !textFormat[e.format] && (n = plainInteger(text))) {
                err = worksheet_write_number(ws, row, col, *n, format);
            } else if (writable) {
                // The library takes a NUL-terminated text; a grid's is not.
                const char* chars = e.text;
                if (fromGrid)
                    chars = cleaned.assign(text).c_str();
                err = worksheet_write_string(ws, row, col, chars, format);
            } else {
                cleaned = writableText(text);
                err = worksheet_write_string(ws, row, col, cleaned.c_str(), format);
            }
            if (err == LXW_ERROR_MAX_STRING_LENGTH_EXCEEDED)
                throw SheetError({.kind = Kind::CellTooLong, .row = r, .column = e.col});
            if (err != LXW_NO_ERROR)
                throw SheetError(
                    {.kind = Kind::CellNotWritten, .name = lxw_strerror(err), .row = r, .column = e.col});
            ++written;
        });
        if (watch && !watch->rowWritten(before + written))
            throw SheetError({.kind = Kind::Stopped, .err = ECANCELED});
    }
    setColumnWidths(ws, widest);
    return written;
}

// The number of a built-in format for the codes that name one, -1 for the
// rest. The general format goes by its local name in the engine; written
// as that text it would be a custom format that readers cannot show.
int builtinFormat(std::string_view code)
{
    if (code == kGeneralFormat || code == "General")
        return 0;
    if (code == kTextFormat)
        return 49;
    return -1;
}

}  // namespace

std::vector<uint64_t> Workbook::write(const std::string& path, const std::string& scratchFolder,
                                      WriteWatch* watch) const
{
    std::string scratch = scratchFolder;
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = scratch.data();
    WorkbookHandle wb(workbook_new_opt(path.c_str(), &options));
    if (!wb)
        throw SheetError({.kind = Kind::WorkbookNotMade});

    std::vector<lxw_format*> formats(formats_.size(), nullptr);
    std::vector<char> textFormat(formats_.size(), 0);
    std::vector<char> plainFormat(formats_.size(), 0);
    for (size_t i = 1; i < formats_.size(); ++i) {
        formats[i] = workbook_add_format(wb.get());
        if (!formats[i])
            throw SheetError({.kind = Kind::FormatNotMade});
        if (const int builtin = builtinFormat(formats_[i]); builtin >= 0) {
            format_set_num_format_index(formats[i], uint8_t(builtin));
            plainFormat[i] = builtin == 0;
        } else {
            const std::string code = writableText(formats_[i]);
            format_set_num_format(formats[i], code.c_str());
        }
        textFormat[i] = formats_[i] == kTextFormat;
    }
    std::vector<lxw_worksheet*> sheets;
    for (const auto& s : sheets_) {
        const std::string name = writableText(s->name());
        if (workbook_validate_sheet_name(wb.get(), name.c_str()) != LXW_NO_ERROR)
            throw SheetError({.kind = Kind::BadSheetName, .name = name});
        errno = 0;
        sheets.push_back(workbook_add_worksheet(wb.get(), name.c_str()));
        // Each worksheet's rows go to a scratch file from the start.
        if (!sheets.back())
            throw SheetError({.kind = Kind::ScratchFile, .err = errno ? errno : ENOMEM});
    }
    auto indexOf = [this](const Worksheet* s) {
        for (size_t i = 0; i < sheets_.size(); ++i)
            if (sheets_[i].get() == s)
                return i;
        return size_t(0);
    };
    // A chart without data is left out; one never placed goes beside its data.
    for (const auto& chart : charts_) {
        if (!chart->hasSource())
            continue;
        const Worksheet* at = chart->placedIn() ? chart->placedIn() : chart->source().sheet;
        writeChart(wb.get(), sheets[indexOf(at)], at->usedColumns(), *chart);
    }
    std::vector<uint64_t> cells;
    uint64_t before = 0;  // the cells of the worksheets written already
    for (size_t i = 0; i < sheets_.size(); ++i) {
        cells.push_back(writeCells(sheets[i], *sheets_[i], formats, textFormat, plainFormat, before, watch));
        before += cells.back();
    }
    errno = 0;
    const lxw_error err = workbook_close(wb.release());  // frees the workbook on every path
    if (err != LXW_NO_ERROR)
        throw SheetError({.kind = Kind::NotClosed, .err = errno, .name = errno ? "" : lxw_strerror(err)});
    return cells;
}

}  // namespace vemlo::sheet
