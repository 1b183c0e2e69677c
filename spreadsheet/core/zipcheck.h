// A check of a written workbook file before it is put in place: the writing
// library does not notice every failed write of its scratch files, so what
// it wrote is read back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vemlo::sheet {

// The fault of the first kind found in data, a whole .xlsx file, or "" when
// there is none. Checked: the zip end record and central directory are
// complete and consistent, every member lies within the file and inflates
// to its recorded size and checksum, every XML member ends with the closing
// tag of its root element, and worksheet n (xl/worksheets/sheet<n>.xml)
// holds exactly sheetCells[n - 1] cells.
std::string workbookFileFault(std::string_view data, const std::vector<uint64_t>& sheetCells);

}  // namespace vemlo::sheet
