#include "app/core/sheetcommands.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/savefile.h"
#include "spreadsheet/core/zipcheck.h"

namespace vemlo {

using namespace sheet;

namespace {

std::atomic<bool> readWhileWriting{true};

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
class TableGrid : public sheet::CellGrid {
public:
    explicit TableGrid(std::shared_ptr<const TableSource> table) : table_(std::move(table)) {}
    int rows() const override { return table_->rows(); }
    int columns() const override { return table_->columns(); }
    std::string_view text(int row, int col) const override { return table_->text(row, col); }

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

bool setReadWhileWriting(bool on) { return readWhileWriting.exchange(on); }

namespace {

// The write as the command's watcher sees it: the cells written so far are
// its count, and a stop ends the write after the row in hand.
class CountingWatch : public sheet::WriteWatch {
public:
    explicit CountingWatch(Progress& progress) : progress_(progress) {}
    bool rowWritten(uint64_t cells) override
    {
        cells_ = int64_t(cells);
        return progress_.step(cells_, {});
    }
    int64_t cells() const { return cells_; }

private:
    Progress& progress_;
    int64_t cells_ = 0;
};

}  // namespace

SaveOutcome saveWorkbook(const Workbook& book, const std::string& path, SaveMode mode,
                         Progress* progress)
{
    using Stage = SaveOutcome::Stage;
    auto failed = [](Stage stage, fs::Status s, Fault fault = {}) {
        SaveOutcome out;
        out.stage = stage;
        out.err = s.err;
        out.fault = std::move(fault);
        if (stage == Stage::ScratchFolder || stage == Stage::Incomplete)
            out.scratchParent = fs::ScratchFolder::parent();
        return out;
    };
    // Declared in this order, the scratch folder goes first on the way out
    // and closes what the library left open in it, then the unfinished file.
    fs::NewFile file;
    if (const fs::Status s = file.create(fs::parentOf(path)); !s)
        return failed(Stage::File, s);
    fs::ScratchFolder scratch;
    if (const fs::Status s = scratch.create(); !s)
        return failed(Stage::ScratchFolder, s);
    // Written, synced and read back on the calling thread; a large workbook
    // is also read on a second thread while it is written, where the file
    // system allows it.
    CountingWatch watch(watched(progress));
    auto writeAndCheck = [&]() -> SaveOutcome {
        std::vector<uint64_t> cells;
        std::optional<ZipFollower> follower;
        if (readWhileWriting && book.extent() >= kFollowFromCells && file.readableWhileWritten())
            follower.emplace(file.fd());
        try {
            cells = book.write(file.writePath(), scratch.path(), progress ? &watch : nullptr);
        } catch (const SheetError& e) {
            return failed(Stage::Write, fs::Status{e.err()}, e.fault());
        }
        const std::vector<FollowedMember> followed = follower ? follower->finish() : std::vector<FollowedMember>{};
        if (const fs::Status s = file.sync(); !s)
            return failed(Stage::File, s);

        // The library overlooks failed writes of its scratch files: read back
        // what it wrote before the file takes its name (the members the
        // follower read whole are not inflated twice).
        fs::FileMapping written;
        if (const fs::Status s = written.map(file.fd()); !s)
            return failed(Stage::File, s);
        const Fault fault = written.bytes().empty() ? Fault{.kind = Fault::Kind::EmptyFile}
                                                    : workbookFileFault(written.bytes(), cells, followed);
        if (fault)
            return failed(Stage::Incomplete, {}, fault);
        return {};
    };
    SaveOutcome out = writeAndCheck();
    // The rows end the write at a stop; the library then assembles the file
    // in one call that cannot be stopped, and the check follows. The last
    // look comes after both: a stop asked meanwhile still keeps the file
    // from its name.
    if (progress && !progress->lookNow(watch.cells())) {
        SaveOutcome stopped;
        stopped.stage = Stage::Stopped;
        return stopped;
    }
    if (!out.ok())
        return out;
    if (const fs::Status s = file.place(std::string(fs::lastPart(path)), mode == SaveMode::Replace); !s)
        return failed(Stage::File, s);
    return {};
}

SaveOutcome exportTable(Application& app, const TableSource& table, Orientation orientation,
                        const std::string& file, SaveMode mode, Progress* progress)
{
    // The workbook is gone before this returns: it may read the table in place.
    writeTable(firstSheetOfNewWorkbook(app),
               std::shared_ptr<const TableSource>(std::shared_ptr<void>(), &table), orientation);
    if (progress)
        progress->begin(orientation == Orientation::None ? 0 : int64_t(table.rows()) * table.columns());
    const SaveOutcome saved = saveWorkbook(app.workbooks().item(1), file, mode, progress);
    app.workbooks().item(1).close();
    return saved;
}

FormatSums sumByFormat(const TableSource& table)
{
    FormatSums sums;
    std::vector<FormatTotal>& totals = sums.totals;
    // Each format's entry in totals, by the format as the table holds it.
    // Rows without a format (key "") share one entry of their own, apart
    // from a format that happens to be spelled like its name.
    std::unordered_map<std::string_view, size_t> index;
    for (int r = 1; r < table.rows(); ++r) {
        const std::string_view format = table.text(r, kFormatColumn);
        const auto [at, added] = index.try_emplace(format, totals.size());
        if (added)
            totals.push_back({format.empty() ? std::string(kNoFormatName) : std::string(format), 0});
        FormatTotal* entry = &totals[at->second];
        const std::string_view size = table.text(r, kSizeColumn);
        int64_t n = 0;
        const auto parsed = std::from_chars(size.data(), size.data() + size.size(), n);
        if (parsed.ec != std::errc() || parsed.ptr != size.data() + size.size()) {
            sums.problem = {.kind = Fault::Kind::NotAnInteger, .name = std::string(size)};
            return sums;
        }
        if (__builtin_add_overflow(entry->total, n, &entry->total)) {
            sums.problem = {.kind = Fault::Kind::SumTooLarge, .name = entry->name};
            return sums;
        }
    }
    return sums;
}

std::vector<char> ownSlices(const std::vector<double>& values, size_t maxSlices)
{
    const size_t count = values.size();
    if (count <= maxSlices)
        return std::vector<char>(count, 1);
    // Only the largest need finding, not ordering: a partial selection.
    const size_t keep = maxSlices - 1;
    std::vector<size_t> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = i;
    std::nth_element(order.begin(), order.begin() + ptrdiff_t(keep), order.end(), [&](size_t a, size_t b) {
        return values[a] != values[b] ? values[a] > values[b] : a < b;
    });
    std::vector<char> own(count, 0);
    for (size_t k = 0; k < keep; ++k)
        own[order[k]] = 1;
    return own;
}

SpaceChart buildSpaceChart(Application& app, std::shared_ptr<const TableSource> table)
{
    SpaceChart result;
    Worksheet& sheet = firstSheetOfNewWorkbook(app);
    const FormatSums sums = sumByFormat(*table);
    writeTable(sheet, std::move(table), Orientation::Rows);
    if (sums.problem) {
        result.problem = sums.problem;
        return result;
    }
    const std::vector<FormatTotal>& totals = sums.totals;
    for (size_t i = 0; i < totals.size(); ++i) {
        const int row = int(i) + 1;
        sheet.cells(row, kSummaryNameColumn).setValue(totals[i].name);
        sheet.cells(row, kSummaryTotalColumn).setValue(std::to_string(totals[i].total));
    }
    app.addChart();
    app.activeChart().setChartType(kChartPie);
    result.placed = true;
    try {
        const Range source = sheet.range(sheet.cells(1, kSummaryNameColumn),
                                         sheet.cells(int(totals.size()), kSummaryTotalColumn));
        app.activeChart().setSourceData(source, kPlotByColumns);
        app.activeChart().location(kLocationAsObject, "Sheet1");
    } catch (const SheetError&) {
        result.placed = false;
    }
    app.activeChart().setHasTitle(true);
    app.activeChart().setTitleText(kChartTitle);
    return result;
}

}  // namespace vemlo
