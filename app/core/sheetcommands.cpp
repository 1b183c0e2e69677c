#include "app/core/sheetcommands.h"

#include <charconv>
#include <algorithm>
#include <chrono>
#include <future>
#include <cstdint>
#include <functional>

#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/savefile.h"
#include "spreadsheet/core/zipcheck.h"

namespace vemlo {

using namespace sheet;

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
class TableGrid : public sheet::CellGrid {
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

SaveOutcome saveWorkbook(const Workbook& book, const std::string& path, SaveMode mode,
                         Progress* progress)
{
    using Stage = SaveOutcome::Stage;
    auto failed = [](Stage stage, fs::Status s, std::string detail = {}) {
        SaveOutcome out;
        out.stage = stage;
        out.err = s.err;
        out.detail = std::move(detail);
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
    // Writing, syncing and reading back use only the file's descriptor and
    // absolute paths, never the current directory: they may run on a thread
    // of their own.
    sheet::WriteWatch watch;
    auto writeAndCheck = [&]() -> SaveOutcome {
        std::vector<uint64_t> cells;
        // Reads the file back while it is written, on the other core.
        ZipFollower follower(file.fd());
        try {
            cells = book.write(file.writePath(), scratch.path(), progress ? &watch : nullptr);
        } catch (const SheetError& e) {
            return failed(Stage::Write, fs::Status{e.err()}, e.what());
        }
        const std::vector<FollowedMember> followed = follower.finish();
        if (const fs::Status s = file.sync(); !s)
            return failed(Stage::File, s);

        // The library overlooks failed writes of its scratch files: read back
        // what it wrote before the file takes its name (the members the
        // follower read whole are not inflated twice).
        fs::FileMapping written;
        if (const fs::Status s = written.map(file.fd()); !s)
            return failed(Stage::File, s);
        const std::string fault =
            written.bytes().empty() ? "文件为空" : workbookFileFault(written.bytes(), cells, followed);
        if (!fault.empty())
            return failed(Stage::Incomplete, {}, fault);
        return {};
    };
    if (!progress) {
        if (SaveOutcome out = writeAndCheck(); !out.ok())
            return out;
    } else {
        std::future<SaveOutcome> done = std::async(std::launch::async, writeAndCheck);
        // The count shown is the cells written so far; a stop ends the write
        // after the row in hand. The last look comes after the write: a stop
        // then still keeps the file from taking its name.
        for (bool written = false; !written;) {
            written = done.wait_for(std::chrono::milliseconds(10)) == std::future_status::ready;
            if (!progress->lookNow(int64_t(watch.cells.load(std::memory_order_relaxed))))
                watch.stop.store(true, std::memory_order_relaxed);
        }
        SaveOutcome out = done.get();
        if (progress->stopped()) {
            out = {};
            out.stage = Stage::Stopped;
            return out;
        }
        if (!out.ok())
            return out;
    }
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

namespace {

// The entries of the format summary by name: open addressing over a flat
// array of slots of 8 bytes (part of the hash and the entry number) that
// stays in the cache, the names compared where the summary keeps them.
// Folders of many thousand formats look up every row here.
class FormatIndex {
public:
    explicit FormatIndex(std::vector<FormatTotal>& totals) : totals_(totals), slots_(1024) {}

    // The entry of the non-empty format, added with a total of 0 when new.
    FormatTotal& entry(std::string_view format)
    {
        const uint64_t hash = std::hash<std::string_view>{}(format);
        const uint32_t tag = uint32_t(hash >> 32);
        const size_t mask = slots_.size() - 1;
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            Slot& slot = slots_[at];
            if (slot.entry == 0) {
                totals_.push_back({std::string(format), 0});
                slot = {tag, uint32_t(totals_.size())};
                if (4 * totals_.size() > 3 * slots_.size())
                    grow();
                return totals_.back();
            }
            if (slot.tag == tag && totals_[slot.entry - 1].name == format)
                return totals_[slot.entry - 1];
        }
    }

private:
    struct Slot {
        uint32_t tag = 0;    // the upper half of the name's hash
        uint32_t entry = 0;  // entry number + 1; 0 for a free slot
    };
    void grow()
    {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        const size_t mask = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (slot.entry == 0)
                continue;
            // Names in the index are the formats themselves.
            size_t at = std::hash<std::string_view>{}(totals_[slot.entry - 1].name) & mask;
            while (slots_[at].entry != 0)
                at = (at + 1) & mask;
            slots_[at] = slot;
        }
    }
    std::vector<FormatTotal>& totals_;
    std::vector<Slot> slots_;
};

}  // namespace

FormatSums sumByFormat(const TableSource& table)
{
    FormatSums sums;
    std::vector<FormatTotal>& totals = sums.totals;
    FormatIndex index(totals);
    // Rows without a format share one entry of their own, apart from a
    // format that happens to be spelled like its name.
    size_t noFormat = SIZE_MAX;
    for (int r = 1; r < table.rows(); ++r) {
        const std::string_view format = table.cell(kFormatColumn, r);
        FormatTotal* entry;
        if (!format.empty()) {
            entry = &index.entry(format);
        } else {
            if (noFormat == SIZE_MAX) {
                noFormat = totals.size();
                totals.push_back({std::string(kNoFormatName), 0});
            }
            entry = &totals[noFormat];
        }
        const std::string_view size = table.cell(kSizeColumn, r);
        int64_t n = 0;
        const auto parsed = std::from_chars(size.data(), size.data() + size.size(), n);
        if (parsed.ec != std::errc() || parsed.ptr != size.data() + size.size()) {
            sums.problem = "'" + std::string(size) + "' is not a valid integer value";
            return sums;
        }
        if (__builtin_add_overflow(entry->total, n, &entry->total)) {
            sums.problem = "格式“" + entry->name + "”的大小合计超出范围";
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
    if (!sums.problem.empty()) {
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
