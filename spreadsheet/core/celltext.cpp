#include "spreadsheet/core/celltext.h"

#include <charconv>
#include <cstdint>

namespace vemlo::sheet {

namespace {

// Looks at the character starting at s[0]. Returns true when it is valid
// UTF-8 and writable; len is its length, or for an invalid start the length
// of the longest prefix of a valid sequence (at least 1), which one
// replacement mark stands for.
bool nextChar(const unsigned char* s, size_t n, size_t& len)
{
    const unsigned char b = s[0];
    len = 1;
    if (b < 0x80)
        return b != 0;
    size_t need;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        if (b == 0xE0)
            lo = 0xA0;
        else if (b == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        if (b == 0xF0)
            lo = 0x90;
        else if (b == 0xF4)
            hi = 0x8F;  // nothing above U+10FFFF
    } else {
        return false;
    }
    for (size_t i = 1; i <= need; ++i) {
        if (i >= n)
            return false;
        const unsigned char c = s[i];
        if (i == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF))
            return false;
        len = i + 1;
    }
    // U+FFFE and U+FFFF are no characters in a workbook file.
    return !(b == 0xEF && s[1] == 0xBF && (s[2] == 0xBE || s[2] == 0xBF));
}

bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

bool isWritableText(std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        if (s[i] >= 0x80 || s[i] == 0) {
            size_t len;
            if (!nextChar(s + i, n - i, len))
                return false;
            i += len;
        } else {
            ++i;
        }
    }
    return true;
}

std::string writableText(std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    std::string out;
    out.reserve(n + 8);
    size_t i = 0;
    while (i < n) {
        size_t len;
        if (nextChar(s + i, n - i, len))
            out.append(text.data() + i, len);
        else
            out.append("\xEF\xBF\xBD");
        i += len;
    }
    return out;
}

std::optional<double> integerValue(std::string_view text)
{
    const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == sign || (text[sign] == '0' && text.size() > 1))
        return std::nullopt;  // "", "-", "007", "-0"
    int64_t value = 0;
    const char* end = text.data() + text.size();
    // from_chars takes a "-" itself, and nothing else before the digits.
    const auto r = std::from_chars(text.data(), end, value);
    if (r.ec != std::errc() || r.ptr != end)
        return std::nullopt;
    return double(value);
}

std::optional<double> plainInteger(std::string_view text)
{
    const size_t sign = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() - sign > 15)
        return std::nullopt;
    return integerValue(text);
}

size_t displayWidth(std::string_view text, bool* writable)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t width = 0;
    bool ok = true;
    size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            ok = ok && s[i] != 0;
            ++width;
            ++i;
            continue;
        }
        size_t len;
        if (nextChar(s + i, n - i, len)) {
            char32_t c = s[i] & (0x7F >> len);
            for (size_t k = 1; k < len; ++k)
                c = c << 6 | (s[i + k] & 0x3F);
            width += isWide(c) ? 2 : 1;
        } else {
            ok = false;
            ++width;
        }
        i += len;
    }
    if (writable)
        *writable = ok;
    return width;
}

}  // namespace vemlo::sheet
