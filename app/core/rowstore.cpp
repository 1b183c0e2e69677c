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

// Whether cell i (i > 0) of cells is kept as the end of cell i - 1.
bool endsPrevious(const RowStore::Cells& cells, size_t i)
{
    const std::string_view c = cells[i];
    const std::string_view prev = cells[i - 1];
    return !c.empty() && c.size() <= prev.size() &&
           std::memcmp(prev.data() + prev.size() - c.size(), c.data(), c.size()) == 0;
}

// The length code of cell i: n for the first cell, 2n or 2n + 1 for the others.
size_t lengthCode(size_t i, size_t n, bool ending) { return i == 0 ? n : n << 1 | size_t(ending); }

// Bytes cells take packed; ending tells which cells end the one before.
size_t packedBytes(const RowStore::Cells& cells, std::array<bool, RowStore::kColumns>& ending)
{
    size_t bytes = 0;
    for (size_t i = 0; i < cells.size(); ++i) {
        ending[i] = i > 0 && endsPrevious(cells, i);
        const size_t n = cells[i].size();
        bytes += lengthBytes(lengthCode(i, n, ending[i])) + (ending[i] ? 0 : n);
    }
    return bytes;
}

void pack(char* out, const RowStore::Cells& cells,
          const std::array<bool, RowStore::kColumns>& ending)
{
    for (size_t i = 0; i < cells.size(); ++i) {
        const size_t n = cells[i].size();
        out = putLength(out, lengthCode(i, n, ending[i]));
        if (!ending[i] && n) {
            std::memcpy(out, cells[i].data(), n);
            out += n;
        }
    }
}

// Bytes of the packed row at p.
size_t rowBytes(const char* p)
{
    const char* q = p;
    q += getLength(q);
    for (int i = 1; i < RowStore::kColumns; ++i) {
        const size_t code = getLength(q);
        if (!(code & 1))
            q += code >> 1;
    }
    return size_t(q - p);
}

}  // namespace

std::string_view RowStore::RowView::cell(int col) const
{
    const char* p = p_;
    size_t n = getLength(p);
    const char* start = p;
    p += n;
    for (int i = 1; i <= col; ++i) {
        const size_t code = getLength(p);
        const char* end = start + n;
        n = code >> 1;
        if (code & 1) {
            start = end - n;
        } else {
            start = p;
            p += n;
        }
    }
    return {start, n};
}

RowStore::Cells RowStore::RowView::cells() const
{
    Cells out;
    const char* p = p_;
    size_t n = getLength(p);
    out[0] = {p, n};
    p += n;
    for (size_t i = 1; i < out.size(); ++i) {
        const size_t code = getLength(p);
        n = code >> 1;
        if (code & 1) {
            out[i] = {out[i - 1].data() + out[i - 1].size() - n, n};
        } else {
            out[i] = {p, n};
            p += n;
        }
    }
    return out;
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
    std::array<bool, kColumns> ending;
    char* row = allocate(packedBytes(cells, ending));
    pack(row, cells, ending);
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
    Cells cells = RowView(p).cells();
    cells[size_t(col)] = text;  // the others still read the row's old bytes
    std::array<bool, kColumns> ending;
    const size_t bytes = packedBytes(cells, ending);
    if (p != kEmptyRow && !blocksShared()) {
        const size_t oldBytes = rowBytes(p);
        if (bytes <= oldBytes) {
            // Shrinks (a removal mark, say): rewritten in place, from a copy
            // as the texts may lie in the bytes being written.
            char small[256];
            std::unique_ptr<char[]> large;
            char* packed = small;
            if (bytes > sizeof small) {
                large.reset(new char[bytes]);
                packed = large.get();
            }
            pack(packed, cells, ending);
            std::memcpy(p, packed, bytes);
            return;
        }
    }
    // Grows: the row is written anew after the others (the old bytes stay
    // until the blocks are rebuilt).
    char* fresh = allocate(bytes);
    pack(fresh, cells, ending);
    refs_[row] = fresh;
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
