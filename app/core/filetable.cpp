#include "app/core/filetable.h"

#include <algorithm>

namespace vemlo {

namespace {

void putLength(std::string& out, size_t n)
{
    do {
        unsigned char b = n & 0x7f;
        n >>= 7;
        out.push_back(char(n ? b | 0x80 : b));
    } while (n);
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

}  // namespace

Row::Row() : blob_(kColumns, '\0') {}

Row::Row(const std::array<std::string_view, kColumns>& cells)
{
    size_t total = kColumns;
    for (auto c : cells)
        total += c.size() + (c.size() >= 128 ? 2 : 0);
    blob_.reserve(total);
    for (auto c : cells) {
        putLength(blob_, c.size());
        blob_.append(c);
    }
}

std::string_view Row::cell(int col) const
{
    const char* p = blob_.data();
    for (int i = 0;; ++i) {
        size_t n = getLength(p);
        if (i == col)
            return {p, n};
        p += n;
    }
}

void Row::setCell(int col, std::string_view text)
{
    // Replace the encoded cell in place: no new allocation when it shrinks,
    // which keeps marking a million rows cheap.
    const char* p = blob_.data();
    for (int i = 0; i < col; ++i) {
        const size_t n = getLength(p);
        p += n;
    }
    const size_t start = size_t(p - blob_.data());
    const size_t n = getLength(p);
    const size_t oldExtent = size_t(p - blob_.data()) + n - start;
    std::string encoded;
    putLength(encoded, text.size());
    encoded.append(text);
    blob_.replace(start, oldExtent, encoded);
}

const std::array<std::string_view, FileTable::kColumns> FileTable::kCaptions = {
    "位置", "文件名", "格式", "大小/B", "修改时间", "创建时间", "属性"};

FileTable::FileTable(QObject* parent) : QAbstractTableModel(parent), rows_(2) {}

void FileTable::setTableRows(int n)
{
    n = std::max(n, 1);
    const int old = tableRows();
    if (n < old) {
        beginRemoveRows({}, n - 1, old - 2);
        rows_.resize(size_t(n));
        rows_.shrink_to_fit();
        endRemoveRows();
    } else if (n > old) {
        beginInsertRows({}, old - 1, n - 2);
        rows_.resize(size_t(n));
        endInsertRows();
    }
}

void FileTable::setCell(int col, int row, std::string_view text)
{
    rows_[size_t(row)].setCell(col, text);
    if (row == 0) {
        emit headerDataChanged(Qt::Horizontal, col, col);
    } else if (batchDepth_ > 0) {
        batchFirst_ = batchFirst_ < 0 ? row : std::min(batchFirst_, row);
        batchLast_ = std::max(batchLast_, row);
    } else {
        const QModelIndex i = index(row - 1, col);
        emit dataChanged(i, i);
    }
}

FileTable::Batch::Batch(FileTable& t) : t_(t) { ++t_.batchDepth_; }

FileTable::Batch::~Batch()
{
    if (--t_.batchDepth_ == 0 && t_.batchFirst_ >= 0) {
        const int last = std::min(t_.batchLast_, t_.tableRows() - 1);
        if (t_.batchFirst_ <= last)
            emit t_.dataChanged(t_.index(t_.batchFirst_ - 1, 0),
                                t_.index(last - 1, kColumns - 1));
        t_.batchFirst_ = t_.batchLast_ = -1;
    }
}

void FileTable::adjustToTop()
{
    const size_t n = rows_.size();
    size_t w = 1;
    while (w < n && !rows_[w].cell(0).empty())
        ++w;
    if (w == n)
        return;  // nothing marked
    beginResetModel();
    for (size_t i = w + 1; i < n; ++i) {
        if (!rows_[i].cell(0).empty())
            rows_[w++] = std::move(rows_[i]);
    }
    rows_.resize(w);
    endResetModel();
}

int FileTable::findColumn(std::string_view text) const
{
    for (int c = 0; c < kColumns; ++c)
        if (cell(c, 0) == text)
            return c;
    return -1;
}

void FileTable::replaceDataRows(std::vector<Row>&& rows)
{
    beginResetModel();
    Row captions = std::move(rows_.front());
    rows_ = std::move(rows);
    if (rows_.empty())
        rows_.emplace_back();
    rows_.front() = std::move(captions);
    endResetModel();
}

int FileTable::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : tableRows() - 1;
}

int FileTable::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant FileTable::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return displayText(cell(index.column(), index.row() + 1));
    default:
        return {};
    }
}

QVariant FileTable::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumns)
        return displayText(cell(section, 0));
    return QAbstractTableModel::headerData(section, o, role);
}

Qt::ItemFlags FileTable::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QString displayText(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

}  // namespace vemlo
