// The folder listing behind ImportDir: one packed table row per entry.
#pragma once

#include <QString>

#include <string>
#include <vector>

#include "app/core/filetable.h"
#include "platform/fsresult.h"
#include "platform/listing.h"

namespace vemlo {

// The folder a search pattern names: the pattern without its final "*"
// ("/home/a/*" gives "/home/a/", "//*" gives "//").
std::string folderOfPattern(const std::string& pattern);

// Lists folder into rows[1...] (rows[0] is left as a placeholder for the
// caption row), in name order (fs::nameLess). Column 0 is workingFolder + "/"
// + name, joined verbatim. What could not be read is told in gaps.
fs::Status listRows(const std::string& folder, const std::string& workingFolder,
                    RowStore& rows, fs::ListingGaps& gaps);

// The message about a listing's gaps, with the folder as the user named it:
// how many entries could not be read and why, and whether the enumeration
// stopped early. Empty when nothing is missing.
QString listingGapsText(const QString& folder, const fs::ListingGaps& gaps);

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
