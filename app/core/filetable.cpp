#include "app/core/filetable.h"

#include <algorithm>

#include "common/text.h"

namespace vemlo {

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
        endRemoveRows();
    } else if (n > old) {
        beginInsertRows({}, old - 1, n - 2);
        rows_.resize(size_t(n));
        endInsertRows();
    }
}

void FileTable::setText(int row, int col, std::string_view text)
{
    rows_.setCell(size_t(row), col, text);
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

void FileTable::markRows(const std::vector<int>& rows)
{
    Batch batch(*this);
    for (const int r : rows)
        markRow(r);
}

void FileTable::adjustToTop() { dropRows({}); }

void FileTable::dropRows(const std::vector<int>& rows)
{
    const size_t n = rows_.size();
    auto dropped = rows.begin();
    auto drops = [&](size_t i) {
        if (dropped != rows.end() && size_t(*dropped) == i) {
            ++dropped;
            return true;
        }
        return rows_.cell(i, 0).empty();
    };
    size_t w = 1;
    while (w < n && !drops(w))
        ++w;
    if (w == n)
        return;  // nothing to drop
    beginResetModel();
    for (size_t i = w + 1; i < n; ++i)
        if (!drops(i))
            rows_.moveRow(w++, i);
    rows_.resize(w);
    endResetModel();
}

int FileTable::findColumn(std::string_view caption) const
{
    for (int c = 0; c < kColumns; ++c)
        if (text(0, c) == caption)
            return c;
    return -1;
}

void FileTable::replaceDataRows(RowStore&& rows)
{
    std::array<std::string, kColumns> captions;
    for (int c = 0; c < kColumns; ++c)
        captions[size_t(c)] = std::string(text(0, c));
    beginResetModel();
    rows_ = std::move(rows);
    if (rows_.empty())
        rows_.emplace_back();
    for (int c = 0; c < kColumns; ++c)
        rows_.setCell(0, c, captions[size_t(c)]);
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
        return displayText(text(index.row() + 1, index.column()));
    default:
        return {};
    }
}

QVariant FileTable::headerData(int section, Qt::Orientation o, int role) const
{
    if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumns)
        return displayText(text(0, section));
    return QAbstractTableModel::headerData(section, o, role);
}

Qt::ItemFlags FileTable::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace vemlo
