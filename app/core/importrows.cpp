#include "app/core/importrows.h"

#include "import/core/listrows.h"

namespace vemlo {

fs::Status listRows(const std::string& folder, const std::string& workingFolder,
                    RowStore& rows, fs::ListingGaps& gaps, Progress* watcher)
{
    rows.clear();
    rows.emplace_back();
    // The listing hands the entries over in name order already.
    return forEachListedRow(
        folder, workingFolder, [&](const RowTexts& texts) { rows.emplace_back(texts); }, gaps,
        watcher);
}

}  // namespace vemlo
