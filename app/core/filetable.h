// The file table: seven byte-string columns, row 0 the captions, data rows
// from row 1. It is also the item model that the grid strgrdM shows: view row
// i is table row i + 1, and the caption row is the view's fixed header.
#pragma once

#include <QAbstractTableModel>

#include <array>
#include <string_view>
#include <vector>

#include "app/core/rowstore.h"

namespace vemlo {

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

    std::string_view text(int row, int col) const { return rows_.cell(size_t(row), col); }
    void setText(int row, int col, std::string_view text);
    // Writes the removal mark: the empty text in column 0.
    void markRow(int row) { setText(row, 0, {}); }
    // Marks each of rows, announced as one change.
    void markRows(const std::vector<int>& rows);

    // Drops every marked data row, keeping the others in order.
    void adjustToTop();
    // markRows(rows) then adjustToTop(), in one pass that writes no mark:
    // rows (ascending) and the rows already marked are dropped.
    void dropRows(const std::vector<int>& rows);
    // The column whose caption equals caption byte for byte, or -1.
    int findColumn(std::string_view caption) const;

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

}  // namespace vemlo
