#include "app/core/rowstore.h"

#include <algorithm>
#include <cstring>

namespace vemlo {

namespace {

constexpr size_t kBlockBytes = size_t(1) << 20;

// A row of seven empty cells, shared by every empty row until it is written.
char kEmptyRow[RowStore::kColumns] = {};

size_t lengthBytes(size_t n)
{
    size_t bytes = 1;
    while (n >= 0x80) {
        n >>= 7;
        ++bytes;
    }
    return bytes;
}

char* putLength(char* out, size_t n)
{
    do {
        unsigned char b = n & 0x7f;
        n >>= 7;
        *out++ = char(n ? b | 0x80 : b);
    } while (n);
    return out;
}

size_t getLength(const char*& p)
{
    size_t n = 0;
    int shift = 0;
    unsigned char b;
    do {
        b = static_cast<unsigned char>(*p++);
        n |= size_t(b & 0x7f) << shift;
        shift += 7;
    } while (b & 0x80);
    return n;
}

// Bytes of the packed row at p.
size_t rowBytes(const char* p)
{
    const char* q = p;
    for (int i = 0; i < RowStore::kColumns; ++i)
        q += getLength(q);
    return size_t(q - p);
}

}  // namespace

std::string_view RowStore::RowView::cell(int col) const
{
    const char* p = p_;
    for (int i = 0;; ++i) {
        const size_t n = getLength(p);
        if (i == col)
            return {p, n};
        p += n;
    }
}

char* RowStore::allocate(size_t bytes)
{
    if (bytes > freeBytes_) {
        const size_t size = std::max(kBlockBytes, bytes);
        blocks_.emplace_back(new char[size]);
        free_ = blocks_.back().get();
        freeBytes_ = size;
    }
    char* p = free_;
    free_ += bytes;
    freeBytes_ -= bytes;
    ++written_;
    return p;
}

char* RowStore::append(const Cells& cells)
{
    size_t bytes = 0;
    for (auto c : cells)
        bytes += lengthBytes(c.size()) + c.size();
    char* row = allocate(bytes);
    char* out = row;
    for (auto c : cells) {
        out = putLength(out, c.size());
        if (!c.empty())
            std::memcpy(out, c.data(), c.size());
        out += c.size();
    }
    return row;
}

void RowStore::clear()
{
    refs_.clear();
    blocks_.clear();
    free_ = nullptr;
    freeBytes_ = 0;
    written_ = 0;
}

void RowStore::emplace_back() { refs_.push_back(kEmptyRow); }

void RowStore::emplace_back(const Cells& cells) { refs_.push_back(append(cells)); }

void RowStore::resize(size_t n)
{
    if (n < refs_.size()) {
        refs_.resize(n);
        compactIfSparse();
    } else {
        refs_.resize(n, kEmptyRow);
    }
}

void RowStore::setCell(size_t row, int col, std::string_view text)
{
    char* p = refs_[row];
    if (p != kEmptyRow && text.data() >= p && text.data() < p + rowBytes(p)) {
        const std::string own(text);  // a text taken from this very row
        setCell(row, col, own);
        return;
    }
    // Find the cell's place in the packed row.
    const char* q = p;
    for (int i = 0; i < col; ++i)
        q += getLength(q);
    const size_t start = size_t(q - p);
    const size_t oldLength = getLength(q);
    const size_t oldExtent = size_t(q - p) + oldLength - start;
    const size_t newExtent = lengthBytes(text.size()) + text.size();

    if (p != kEmptyRow && newExtent <= oldExtent && !blocksShared()) {
        // Shrinks (a removal mark, say): rewrite in place, close the gap.
        const size_t total = rowBytes(p);
        char* out = putLength(p + start, text.size());
        if (!text.empty())
            std::memmove(out, text.data(), text.size());
        std::memmove(out + text.size(), p + start + oldExtent, total - start - oldExtent);
        return;
    }
    // Grows: the row is written anew after the others.
    Cells cells;
    std::array<std::string, kColumns> copies;
    for (int i = 0; i < kColumns; ++i) {
        copies[size_t(i)] = std::string(cell(row, i));
        cells[size_t(i)] = copies[size_t(i)];
    }
    cells[size_t(col)] = text;
    refs_[row] = append(cells);
    compactIfSparse();
}

void RowStore::compactIfSparse()
{
    // Rebuild when the rows still in use are under a quarter of those written.
    if (written_ < 64 || refs_.size() * 4 >= written_)
        return;
    RowStore fresh;
    fresh.refs_.reserve(refs_.size());
    for (char* p : refs_) {
        if (p == kEmptyRow) {
            fresh.refs_.push_back(kEmptyRow);
            continue;
        }
        const size_t bytes = rowBytes(p);
        char* copy = fresh.allocate(bytes);
        std::memcpy(copy, p, bytes);
        fresh.refs_.push_back(copy);
    }
    *this = std::move(fresh);
}

RowStore RowStore::share() const
{
    RowStore copy;
    copy.refs_ = refs_;
    copy.blocks_ = blocks_;
    // The copy writes new rows into blocks of its own.
    copy.written_ = written_;
    return copy;
}

}  // namespace vemlo
