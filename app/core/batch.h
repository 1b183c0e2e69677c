// The batch changes on every entry of the file table: the numbered rename and
// the attribute change, with the entries that could not be changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/failures.h"
#include "app/core/rowstore.h"
#include "app/core/trail.h"
#include "platform/progress.h"

namespace vemlo {

// What a batch change did: how many entries it changed, and those it could not.
struct BatchOutcome {
    int done = 0;
    FailureList failures;
    // Entries not tried because the pass was stopped (0 when it ran
    // through; its watcher tells whether it was stopped).
    int left = 0;
    // What it changed, to be taken back.
    BatchTrail trail;
};

// Why base cannot be used as a base name, or None when it can: a name with
// "/" (or a NUL byte) would leave the folder, "." and ".." are refused.
NameProblem baseNameProblem(std::string_view base);

// base + " " + n + "." + extension; no "." when the extension is empty.
std::string numberedName(std::string_view base, int n, std::string_view extension);

// Both passes read only rows (a snapshot of the file table, row 0 the
// captions), so they may run on a worker.

// Renames the entry of each data row (column 0) to folder + "/" +
// numberedName(base, row, column 2), in row order. Never replaces an entry;
// an entry that already has its new name counts as done. Rows without a path
// are no entries and are passed over. A stop asked through progress leaves
// the remaining entries as they are.
BatchOutcome renameNumbered(const RowStore& rows, const std::string& folder,
                            std::string_view base, Progress* progress = nullptr);

// The attribute value of the four ticks.
uint32_t attributeValue(bool readOnly, bool hidden, bool archive, bool system);

// Sets value on the entry of each data row; symbolic links are left alone
// and count as failed. A stop asked through progress leaves the remaining
// entries as they are.
BatchOutcome changeAttributes(const RowStore& rows, uint32_t value,
                              Progress* progress = nullptr);

}  // namespace vemlo
