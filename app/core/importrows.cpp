#include "app/core/importrows.h"

#include "import/core/listrows.h"

namespace vemlo {

fs::Status listRows(const std::string& folder, const std::string& workingFolder,
                    RowStore& rows, fs::ListingGaps& gaps)
{
    rows.clear();
    rows.emplace_back();
    const fs::Status status =
        listRows(folder, workingFolder, [&](const RowTexts& texts) { rows.emplace_back(texts); }, gaps);
    rows.sort(1, [](RowStore::RowView a, RowStore::RowView b) {
        return fs::nameLess(a.cell(1), b.cell(1));
    });
    return status;
}

}  // namespace vemlo
