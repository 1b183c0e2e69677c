// A folder listed into the rows of the file table.
#pragma once

#include <string>

#include "app/core/rowstore.h"
#include "platform/listing.h"
#include "platform/progress.h"
#include "platform/status.h"

namespace vemlo {

// Lists folder into rows[1...] (rows[0] is left as a placeholder for the
// caption row), in name order (fs::nameLess). Column 0 is workingFolder + "/"
// + name, joined verbatim. What could not be read is told in gaps, and a
// listing stopped through progress by gaps.stopped.
fs::Status listRows(const std::string& folder, const std::string& workingFolder,
                    RowStore& rows, fs::ListingGaps& gaps, Progress* progress = nullptr);

}  // namespace vemlo
