// The file table: seven byte-string columns, row 0 the captions, data rows
// from row 1. It is also the item model that the grid strgrdM shows: view row
// i is table row i + 1, and the caption row is the view's fixed header.
#pragma once

#include <QAbstractTableModel>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vemlo {

// The rows of a table, packed. Each row is one run of bytes: for each of the
// seven cells a length (LEB128) followed by its bytes. The runs lie one after
// the other in large blocks, so a million rows take few allocations, read
// fast in order, and moving or dropping a row moves or drops one pointer.
class RowStore {
public:
    static constexpr int kColumns = 7;
    using Cells = std::array<std::string_view, kColumns>;

    // One row, read-only; valid until the store changes.
    class RowView {
    public:
        explicit RowView(const char* p) : p_(p) {}
        std::string_view cell(int col) const;

    private:
        const char* p_;
    };

    RowStore() = default;
    explicit RowStore(size_t emptyRows) { resize(emptyRows); }
    RowStore(RowStore&&) noexcept = default;
    RowStore& operator=(RowStore&&) noexcept = default;
    RowStore(const RowStore&) = delete;
    RowStore& operator=(const RowStore&) = delete;

    size_t size() const { return refs_.size(); }
    bool empty() const { return refs_.empty(); }
    void reserve(size_t rows) { refs_.reserve(rows); }
    void clear();
    // Appends a row of empty cells, or a row of the given cells.
    void emplace_back();
    void emplace_back(const Cells& cells);
    // Drops the rows from n on, or appends empty rows up to n.
    void resize(size_t n);

    RowView operator[](size_t row) const { return RowView(refs_[row]); }
    std::string_view cell(size_t row, int col) const { return (*this)[row].cell(col); }
    void setCell(size_t row, int col, std::string_view text);

    // Sorts the rows from first on by less(RowView, RowView).
    template <class Less>
    void sort(size_t first, Less less)
    {
        if (first < refs_.size())
            std::sort(refs_.begin() + std::ptrdiff_t(first), refs_.end(),
                      [&](const char* a, const char* b) { return less(RowView(a), RowView(b)); });
    }
    // Row to takes the place of row from (the old row to is dropped).
    void moveRow(size_t to, size_t from) { refs_[to] = refs_[from]; }
    // Gives the memory of dropped rows back when few rows are left.
    void compactIfSparse();
    // The rows as they are now, sharing their bytes with this store: a copy
    // of one pointer per row. Neither store writes those bytes again while
    // both live.
    RowStore share() const;

private:
    char* allocate(size_t bytes);
    char* append(const Cells& cells);

    // Whether another store may read the bytes of these blocks.
    bool blocksShared() const { return !blocks_.empty() && blocks_.front().use_count() > 1; }

    std::vector<char*> refs_;
    std::vector<std::shared_ptr<char[]>> blocks_;
    char* free_ = nullptr;  // unused part of the last block
    size_t freeBytes_ = 0;
    size_t written_ = 0;  // rows written into the blocks since they were last rebuilt
};

class FileTable : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = RowStore::kColumns;
    // The captions FormCreate writes into row 0.
    static const std::array<std::string_view, kColumns> kCaptions;

    explicit FileTable(QObject* parent = nullptr);

    // The table's row count, caption row included (1 or more).
    int tableRows() const { return int(rows_.size()); }
    // Lower drops rows with their texts; higher appends empty rows.
    void setTableRows(int n);

    std::string_view cell(int col, int row) const { return rows_.cell(size_t(row), col); }
    void setCell(int col, int row, std::string_view text);
    // Writes the removal mark: the empty text in column 0.
    void markRow(int row) { setCell(0, row, {}); }

    // Drops every marked data row, keeping the others in order.
    void adjustToTop();
    // The column whose caption equals text byte for byte, or -1.
    int findColumn(std::string_view text) const;

    // Replaces every data row at once with rows[1...]; rows[0] is a
    // placeholder that takes the caption row. One reset.
    void replaceDataRows(RowStore&& rows);
    // The table's rows as they are now, captions included, unchanged by
    // later changes of the table; cheap (see RowStore::share).
    RowStore snapshot() const { return rows_.share(); }

    // While a Batch lives, cell writes are announced as one change at its end.
    class Batch {
    public:
        explicit Batch(FileTable& t);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        FileTable& t_;
    };

    // QAbstractTableModel
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    RowStore rows_;
    int batchDepth_ = 0;
    int batchFirst_ = -1;  // changed table rows while batching
    int batchLast_ = -1;
};

// Display text of a cell: UTF-8, invalid bytes shown as replacement marks.
QString displayText(std::string_view bytes);

}  // namespace vemlo
