// How cell texts go into a workbook file: valid UTF-8 only, and a plain
// decimal integer under any format but text as a number.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vemlo::sheet {

// True when text is valid UTF-8 free of the characters a workbook file
// cannot carry (NUL, U+FFFE, U+FFFF).
bool isWritableText(std::string_view text);
// text with every byte sequence that is not valid UTF-8, and every character
// a workbook cannot carry, replaced by U+FFFD.
std::string writableText(std::string_view text);

// The number a plain decimal integer stands for: "0", or an optional "-"
// followed by 1 to 15 digits without a leading zero. Every such number reads
// back as the same text; "007", "+5", " 5" or "1e3" stay texts.
std::optional<double> plainInteger(std::string_view text);
// The number of a text in that form with any number of digits a 64-bit
// integer holds, as the nearest double: where only the size counts, as in a
// chart's slices, not the digits.
std::optional<double> integerValue(std::string_view text);

// The width text takes in a cell, in digits: East Asian wide and full-width
// characters count two, every other character (and every byte that is not
// valid UTF-8) one. With writable, it also tells in the same pass whether
// isWritableText(text) holds.
size_t displayWidth(std::string_view text, bool* writable = nullptr);

}  // namespace vemlo::sheet
