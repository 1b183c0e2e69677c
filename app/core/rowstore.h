// The rows of the file table, packed: seven byte strings a row.
#pragma once

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vemlo {

// The rows of a table, packed. Each row is one run of bytes: for each of the
// seven cells a length (LEB128) followed by its bytes. A cell that ends the
// cell before it (the name ends the path, the extension the name) keeps no
// bytes of its own: its length, with the lowest bit set, says it is the last
// n bytes of that cell. The first cell's length is n, the others' 2n or
// 2n + 1. The runs lie one after the other in large blocks, so a million rows
// take few allocations, read fast in order, and moving or dropping a row
// moves or drops one pointer; a row reads only its own bytes, so it can be
// copied or moved as it is.
class RowStore {
public:
    static constexpr int kColumns = 7;
    using Cells = std::array<std::string_view, kColumns>;

    // One row, read-only; valid until the store changes.
    class RowView {
    public:
        explicit RowView(const char* p) : p_(p) {}
        std::string_view cell(int col) const;
        Cells cells() const;

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

    std::vector<char*> refs_;
    // Whether another store may read the bytes of these blocks: every
    // store made by share() holds the first block of its time, and blocks
    // are only ever added after it or all replaced at once.
    bool blocksShared() const { return !blocks_.empty() && blocks_.front().use_count() > 1; }

    std::vector<std::shared_ptr<char[]>> blocks_;
    char* free_ = nullptr;  // unused part of the last block
    size_t freeBytes_ = 0;
    size_t written_ = 0;  // rows written into the blocks since they were last rebuilt
};

}  // namespace vemlo
