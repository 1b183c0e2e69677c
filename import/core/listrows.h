// The folder listing behind ImportDir: the seven texts of the file table's
// row for each entry.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/listing.h"
#include "platform/progress.h"
#include "platform/status.h"

namespace vemlo {

// The folder a search pattern names: the pattern without its final "*"
// ("/home/a/*" gives "/home/a/", "//*" gives "//").
std::string folderOfPattern(const std::string& pattern);

// The texts of one entry's row: path, name, extension, size, modified,
// created, attribute number. Valid during the sink's call only.
using RowTexts = std::array<std::string_view, 7>;

// Lists folder, handing sink the row of each entry in name order
// (fs::nameLess). Column 0 is workingFolder + "/" + name, joined verbatim.
// What could not be read is told in gaps; a stop asked through progress ends
// the listing after the entry in hand, with gaps.stopped set.
fs::Status forEachListedRow(const std::string& folder, const std::string& workingFolder,
                            const std::function<void(const RowTexts&)>& sink, fs::ListingGaps& gaps,
                            Progress* progress = nullptr);

// The extension: the text after the last "." of name; empty without a ".".
std::string_view extensionOf(std::string_view name);

// "yyyy/mm/dd" in local time, "/" replaced by the locale's date separator.
class DateText {
public:
    DateText();
    std::string_view operator()(int64_t seconds);
    char separator() const { return sep_; }

private:
    char sep_;
    int64_t dayStart_ = 1;  // [dayStart_, dayEnd_) lies in the day of text_
    int64_t dayEnd_ = 0;
    char text_[16] = {};
    size_t len_ = 0;
};

// The date separator of the system locale's short date format.
char localeDateSeparator();

}  // namespace vemlo
