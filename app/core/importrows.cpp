#include "app/core/importrows.h"

#include "import/core/listrows.h"

namespace vemlo {

fs::Status listRows(const std::string& folder, const std::string& workingFolder,
                    RowStore& rows, fs::ListingGaps& gaps, Progress* watcher)
{
    Progress& progress = watched(watcher);
    rows.clear();
    rows.emplace_back();
    const fs::Status status = listRows(
        folder, workingFolder, [&](const RowTexts& texts) { rows.emplace_back(texts); }, gaps,
        &progress);
    // The sort cannot stop half-way; it only lets the watcher look now and then.
    rows.sort(1, [&progress](RowStore::RowView a, RowStore::RowView b) {
        progress.tick();
        return fs::nameLess(a.cell(1), b.cell(1));
    });
    return status;
}

}  // namespace vemlo
