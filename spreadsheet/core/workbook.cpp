#include "spreadsheet/core/workbook.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "spreadsheet/core/celltext.h"

namespace vemlo::sheet {

namespace {

constexpr size_t kBlockSize = 64 * 1024;

using Kind = Fault::Kind;

}  // namespace

// ---- Cell

void Cell::setNumberFormatLocal(std::string_view format)
{
    const uint16_t number = sheet_->workbook().formatNumber(format);
    sheet_->slot(row_, col_).format = number;
}

std::string_view Cell::numberFormatLocal() const
{
    Worksheet::Entry e;
    return sheet_->lookup(row_, col_, e) ? sheet_->workbook().formatText(e.format) : std::string_view();
}

void Cell::setValue(std::string_view text)
{
    // Store first: a failing allocation leaves the cell as it was.
    const char* stored = sheet_->store(text);
    Worksheet::Entry& e = sheet_->slot(row_, col_);
    e.text = stored;
    e.length = uint32_t(text.size());
}

std::string_view Cell::value() const
{
    Worksheet::Entry e;
    return sheet_->lookup(row_, col_, e) ? std::string_view(e.text, e.length) : std::string_view();
}

// ---- Worksheet

Worksheet::Worksheet(Workbook& book, std::string name) : book_(book), name_(std::move(name)) {}

Worksheet::~Worksheet() = default;

Cell Worksheet::cells(int row, int col)
{
    if (row < 1 || row > kMaxRows || col < 1 || col > kMaxColumns)
        throw SheetError({.kind = Kind::CellOutside, .row = row, .column = col});
    return Cell(this, row, col);
}

Range Worksheet::range(const Cell& a, const Cell& b)
{
    if (&a.worksheet() != this || &b.worksheet() != this)
        throw SheetError({.kind = Kind::RangeAcrossSheets});
    return Range{this, std::min(a.row(), b.row()), std::min(a.column(), b.column()),
                 std::max(a.row(), b.row()), std::max(a.column(), b.column())};
}

const std::vector<Worksheet::Entry>& Worksheet::rowEntries(int row) const
{
    static const std::vector<Entry> none;
    return row >= 1 && row <= int(rows_.size()) ? rows_[size_t(row - 1)] : none;
}

const Worksheet::Entry* Worksheet::find(int row, int col) const
{
    const std::vector<Entry>& cells = rowEntries(row);
    auto it = std::lower_bound(cells.begin(), cells.end(), uint16_t(col),
                               [](const Entry& e, uint16_t c) { return e.col < c; });
    return it != cells.end() && it->col == uint16_t(col) ? &*it : nullptr;
}

bool Worksheet::lookup(int row, int col, Entry& out) const
{
    if (const Entry* e = find(row, col)) {
        out = *e;
        return true;
    }
    if (!inGrid(row, col))
        return false;
    out = gridEntry(row, col);
    return true;
}

void Worksheet::placeGrid(std::shared_ptr<const CellGrid> grid, bool transposed,
                          std::string_view format, int specialColumn, std::string_view specialFormat)
{
    const int rows = transposed ? grid->columns() : grid->rows();
    const int columns = transposed ? grid->rows() : grid->columns();
    if (rows <= 0 || columns <= 0)
        return;
    // The first cell beyond the worksheet, going down each grid column in turn.
    if (!transposed && rows > kMaxRows)
        cells(kMaxRows + 1, 1);
    if (columns > kMaxColumns)
        cells(1, kMaxColumns + 1);
    if (rows > kMaxRows)
        cells(kMaxRows + 1, 1);
    gridFormat_ = book_.formatNumber(format);
    gridSpecialColumn_ = specialColumn >= 1 && specialColumn <= columns ? specialColumn : 0;
    gridSpecialFormat_ = gridSpecialColumn_ ? book_.formatNumber(specialFormat) : gridFormat_;
    grid_ = std::move(grid);
    gridTransposed_ = transposed;
    gridRows_ = rows;
    gridColumns_ = columns;
}

Worksheet::Entry* Worksheet::find(int row, int col)
{
    return const_cast<Entry*>(std::as_const(*this).find(row, col));
}

Worksheet::Entry& Worksheet::slot(int row, int col)
{
    if (size_t(row) > rows_.size())
        rows_.resize(size_t(row));
    std::vector<Entry>& cells = rows_[size_t(row - 1)];
    Entry fresh{"", 0, uint16_t(col), 0};
    if (inGrid(row, col) && !find(row, col)) {
        // A grid cell becomes the worksheet's own, with its text and format.
        fresh = gridEntry(row, col);
        fresh.text = store(std::string_view(fresh.text, fresh.length));
    }
    // Cells arrive column by column in every command: appending is the
    // common case, an insert keeps the row ordered otherwise.
    if (cells.empty() || cells.back().col < uint16_t(col)) {
        if (cells.capacity() == 0)
            cells.reserve(8);
        cells.push_back(fresh);
        maxCol_ = std::max(maxCol_, col);
        return cells.back();
    }
    auto it = std::lower_bound(cells.begin(), cells.end(), uint16_t(col),
                               [](const Entry& e, uint16_t c) { return e.col < c; });
    if (it != cells.end() && it->col == uint16_t(col))
        return *it;
    return *cells.insert(it, fresh);
}

const char* Worksheet::store(std::string_view text)
{
    const size_t need = text.size() + 1;
    if (blocks_.empty() || blockSize_ - blockUsed_ < need) {
        blockSize_ = std::max(kBlockSize, need);
        blocks_.push_back(std::make_unique<char[]>(blockSize_));
        blockUsed_ = 0;
    }
    char* at = blocks_.back().get() + blockUsed_;
    if (!text.empty())
        std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\0';
    blockUsed_ += need;
    return at;
}

// ---- Chart

void Chart::setChartType(int type)
{
    if (type != kChartPie)
        throw SheetError({.kind = Kind::ChartType, .number = type});
    type_ = type;
}

void Chart::setSourceData(const Range& range, int plotBy)
{
    if (plotBy != kPlotByRows && plotBy != kPlotByColumns)
        throw SheetError({.kind = Kind::PlotBy, .number = plotBy});
    if (!range.sheet || &range.sheet->workbook() != &book_)
        throw SheetError({.kind = Kind::SourceElsewhere});
    bool anyValue = false;
    for (int r = range.top; r <= range.bottom && !anyValue; ++r)
        range.sheet->forEachEntry(r, [&](const Worksheet::Entry& e, bool) {
            if (e.col >= range.left && e.col <= range.right && e.length > 0)
                anyValue = true;
        });
    if (!anyValue)
        throw SheetError({.kind = Kind::SourceEmpty});
    source_ = range;
    plotBy_ = plotBy;
}

void Chart::location(int where, std::string_view sheetName)
{
    if (where != kLocationAsObject)
        throw SheetError({.kind = Kind::ChartLocation, .number = where});
    Worksheet* sheet = book_.worksheetByName(sheetName);
    if (!sheet)
        throw SheetError({.kind = Kind::NoSuchSheet, .name = writableText(sheetName)});
    placedIn_ = sheet;
}

std::vector<ChartSeries> Chart::series() const
{
    std::vector<ChartSeries> out;
    if (!hasSource())
        return out;
    const Range& r = source_;
    const bool byColumns = plotBy_ == kPlotByColumns;
    // Along: the points of a series; across: the series, the first one
    // holding the categories when there are two or more.
    const int points = byColumns ? r.rows() : r.columns();
    const int lines = byColumns ? r.columns() : r.rows();
    auto cellAt = [&](int line, int point) {
        const int row = byColumns ? r.top + point : r.top + line;
        const int col = byColumns ? r.left + line : r.left + point;
        return r.sheet->cells(row, col).value();
    };
    const int firstValues = lines > 1 ? 1 : 0;
    std::vector<std::string> categories;
    for (int p = 0; p < points; ++p)
        categories.emplace_back(firstValues ? cellAt(0, p) : std::to_string(p + 1));
    for (int l = firstValues; l < lines; ++l) {
        ChartSeries s;
        s.categories = categories;
        for (int p = 0; p < points; ++p)
            s.values.push_back(integerValue(cellAt(l, p)).value_or(0.0));
        out.push_back(std::move(s));
    }
    return out;
}

// ---- Workbook

Workbook::Workbook(Application& app) : app_(app)
{
    sheets_.push_back(std::make_unique<Worksheet>(*this, "Sheet1"));
}

Workbook::~Workbook() = default;

Worksheet& Workbook::worksheets(int index)
{
    if (index < 1 || index > int(sheets_.size()))
        throw SheetError({.kind = Kind::NoWorksheet, .number = index});
    return *sheets_[size_t(index - 1)];
}

Worksheet* Workbook::worksheetByName(std::string_view name)
{
    for (auto& s : sheets_)
        if (s->name() == name)
            return s.get();
    return nullptr;
}

Chart& Workbook::addChart()
{
    charts_.push_back(std::make_unique<Chart>(*this));
    active_ = charts_.back().get();
    return *active_;
}

Chart& Workbook::chart(int index)
{
    if (index < 1 || index > int(charts_.size()))
        throw SheetError({.kind = Kind::NoChart, .number = index});
    return *charts_[size_t(index - 1)];
}

uint16_t Workbook::formatNumber(std::string_view format)
{
    if (format.empty())
        return 0;
    for (size_t i = 1; i < formats_.size(); ++i)
        if (formats_[i] == format)
            return uint16_t(i);
    if (formats_.size() > 4000)
        throw SheetError({.kind = Kind::TooManyFormats});
    formats_.emplace_back(format);
    return uint16_t(formats_.size() - 1);
}

std::string_view Workbook::formatText(uint16_t number) const
{
    return number < formats_.size() ? std::string_view(formats_[number]) : std::string_view();
}

void Workbook::close() { app_.books_.remove(this); }

// ---- Workbooks, Application

Workbook& Workbooks::add()
{
    books_.push_back(std::make_unique<Workbook>(app_));
    app_.active_ = books_.back().get();
    return *app_.active_;
}

Workbook& Workbooks::item(int index)
{
    if (index < 1 || index > int(books_.size()))
        throw SheetError({.kind = Kind::NoWorkbook, .number = index});
    return *books_[size_t(index - 1)];
}

void Workbooks::remove(Workbook* book)
{
    auto it = std::find_if(books_.begin(), books_.end(),
                           [book](const auto& b) { return b.get() == book; });
    if (it == books_.end())
        return;
    std::unique_ptr<Workbook> gone = std::move(*it);
    books_.erase(it);
    if (app_.active_ == book)
        app_.active_ = books_.empty() ? nullptr : books_.back().get();
}

Application::Application() : books_(*this) {}

Workbook& Application::activeWorkbook()
{
    if (!active_)
        throw SheetError({.kind = Kind::NoOpenWorkbook});
    return *active_;
}

Chart& Application::activeChart()
{
    Chart* chart = activeWorkbook().activeChart();
    if (!chart)
        throw SheetError({.kind = Kind::NoActiveChart});
    return *chart;
}

namespace {

// The factory in place. The commands start their engine on the window's
// thread; the lock keeps a start from any other thread safe while a test
// swaps the factory.
std::mutex factoryLock;
ApplicationFactory factoryInPlace;

}  // namespace

std::unique_ptr<Application> createApplication()
{
    ApplicationFactory f;
    {
        const std::lock_guard<std::mutex> hold(factoryLock);
        f = factoryInPlace;
    }
    try {
        return f ? f() : std::make_unique<Application>();
    } catch (const std::exception&) {
        return nullptr;
    }
}

ApplicationFactory setApplicationFactory(ApplicationFactory factory)
{
    const std::lock_guard<std::mutex> hold(factoryLock);
    ApplicationFactory before = std::move(factoryInPlace);
    factoryInPlace = std::move(factory);
    return before;
}

}  // namespace vemlo::sheet
