#include "spreadsheet/core/tablecommands.h"

#include <charconv>
#include <unordered_map>

namespace vemlo::sheet {

namespace {

// The worksheet column that carries the general format instead of "@".
constexpr int kGeneralColumn = 4;

Worksheet& firstSheetOfNewWorkbook(Application& app)
{
    app.setVisible(false);
    app.workbooks().add();
    return app.workbooks().item(1).worksheets(1);
}

}  // namespace

namespace {

// The table as a worksheet shows it.
class TableGrid : public CellGrid {
public:
    explicit TableGrid(std::shared_ptr<const TableSource> table) : table_(std::move(table)) {}
    int rows() const override { return table_->rows(); }
    int columns() const override { return table_->columns(); }
    std::string_view text(int row, int col) const override { return table_->cell(col, row); }

private:
    std::shared_ptr<const TableSource> table_;
};

}  // namespace

void writeTable(Worksheet& sheet, std::shared_ptr<const TableSource> table, Orientation orientation)
{
    if (orientation == Orientation::None)
        return;
    sheet.placeGrid(std::make_shared<TableGrid>(std::move(table)),
                    orientation == Orientation::Columns, kTextFormat, kGeneralColumn, kGeneralFormat);
}

void exportTable(Application& app, const TableSource& table, Orientation orientation,
                 const std::string& file, SaveMode mode)
{
    // The workbook is gone before this returns: it may read the table in place.
    writeTable(firstSheetOfNewWorkbook(app),
               std::shared_ptr<const TableSource>(std::shared_ptr<void>(), &table), orientation);
    app.workbooks().item(1).saveAs(file, mode);
    app.workbooks().item(1).close();
}

NotAnInteger::NotAnInteger(std::string text)
    : std::runtime_error("'" + text + "' is not a valid integer value"), text_(std::move(text))
{
}

std::vector<FormatTotal> sumByFormat(const TableSource& table)
{
    std::vector<FormatTotal> totals;
    std::unordered_map<std::string_view, size_t> index;  // keys point into the table
    for (int r = 1; r < table.rows(); ++r) {
        const std::string_view format = table.cell(kFormatColumn, r);
        auto [it, added] = index.try_emplace(format, totals.size());
        if (added)
            totals.push_back({format.empty() ? std::string(kNoFormatName) : std::string(format), 0});
        const std::string_view size = table.cell(kSizeColumn, r);
        int64_t n = 0;
        const auto parsed = std::from_chars(size.data(), size.data() + size.size(), n);
        if (parsed.ec != std::errc() || parsed.ptr != size.data() + size.size())
            throw NotAnInteger(std::string(size));
        FormatTotal& entry = totals[it->second];
        if (__builtin_add_overflow(entry.total, n, &entry.total))
            throw SheetError("格式“" + entry.name + "”的大小合计超出范围");
    }
    return totals;
}

bool buildSpaceChart(Application& app, std::shared_ptr<const TableSource> table)
{
    Worksheet& sheet = firstSheetOfNewWorkbook(app);
    const std::vector<FormatTotal> totals = sumByFormat(*table);
    writeTable(sheet, std::move(table), Orientation::Rows);
    for (size_t i = 0; i < totals.size(); ++i) {
        const int row = int(i) + 1;
        sheet.cells(row, kSummaryNameColumn).setValue(totals[i].name);
        sheet.cells(row, kSummaryTotalColumn).setValue(std::to_string(totals[i].total));
    }
    app.addChart();
    app.activeChart().setChartType(kChartPie);
    bool placed = true;
    try {
        const Range source = sheet.range(sheet.cells(1, kSummaryNameColumn),
                                         sheet.cells(int(totals.size()), kSummaryTotalColumn));
        app.activeChart().setSourceData(source, kPlotByColumns);
        app.activeChart().location(kLocationAsObject, "Sheet1");
    } catch (const SheetError&) {
        placed = false;
    }
    app.activeChart().setHasTitle(true);
    app.activeChart().setTitleText(kChartTitle);
    return placed;
}

}  // namespace vemlo::sheet
