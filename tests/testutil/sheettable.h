// A file table for the workbook commands, held as plain strings.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/core/sheetcommands.h"

namespace vemlo::test {

using DataRows = std::vector<std::array<std::string, 7>>;

struct Table : TableSource {
    DataRows data;  // row 0 the captions
    int rows() const override { return int(data.size()); }
    int columns() const override { return 7; }
    std::string_view text(int row, int col) const override { return data[size_t(row)][size_t(col)]; }
};

// Captions, then rows.
inline Table tableWith(const DataRows& rows)
{
    Table t;
    t.data.push_back({"位置", "文件名", "格式", "大小/B", "修改时间", "创建时间", "属性"});
    t.data.insert(t.data.end(), rows.begin(), rows.end());
    return t;
}

// Captions plus one row per (format, size).
inline Table tableOf(const std::vector<std::pair<std::string, std::string>>& rows)
{
    Table t = tableWith({});
    for (const auto& [format, size] : rows)
        t.data.push_back({"/d/f." + format, "f." + format, format, size, "2024/01/02", "2024/01/02", "32"});
    return t;
}

}  // namespace vemlo::test
