#include "import/core/listrows.h"

#include <QLocale>

#include <charconv>
#include <cstdio>
#include <ctime>

#include "platform/listing.h"

namespace vemlo {

std::string folderOfPattern(const std::string& pattern)
{
    if (!pattern.empty() && pattern.back() == '*')
        return pattern.substr(0, pattern.size() - 1);
    return pattern;
}

std::string_view extensionOf(std::string_view name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
}

char localeDateSeparator()
{
    const QString format = QLocale::system().dateFormat(QLocale::ShortFormat);
    for (QChar ch : format) {
        if (!ch.isLetter() && ch.unicode() < 0x80 && ch != u'\'' && !ch.isSpace())
            return char(ch.unicode());
    }
    return '/';
}

DateText::DateText() : sep_(localeDateSeparator()) {}

std::string_view DateText::operator()(int64_t seconds)
{
    if (seconds < dayStart_ || seconds >= dayEnd_) {
        time_t t = time_t(seconds);
        struct tm tm {};
        if (!localtime_r(&t, &tm)) {
            len_ = 0;
            dayStart_ = 1, dayEnd_ = 0;
            return {};
        }
        len_ = size_t(std::snprintf(text_, sizeof text_, "%04d%c%02d%c%02d", tm.tm_year + 1900,
                                    sep_, tm.tm_mon + 1, sep_, tm.tm_mday));
        // Remember the local hour around seconds: entries written in the
        // same hour skip the conversion. An hour, not a day, so that days
        // with a clock change still come out right.
        dayStart_ = seconds - tm.tm_min * 60 - tm.tm_sec;
        dayEnd_ = dayStart_ + 3600;
    }
    return {text_, len_};
}

fs::Status forEachListedRow(const std::string& folder, const std::string& workingFolder,
                            const std::function<void(const RowTexts&)>& sink, fs::ListingGaps& gaps,
                            Progress* watcher)
{
    Progress& progress = watched(watcher);
    int64_t listed = 0;
    DateText modifiedText, createdText;
    std::string path = workingFolder + '/';
    const size_t base = path.size();
    return fs::listFolder(
        folder,
        [&](const fs::EntryInfo& e) {
            path.resize(base);
            path.append(e.name);
            char size[24], attrib[12];
            const auto sizeEnd = std::to_chars(size, size + sizeof size, e.size).ptr;
            const auto attribEnd = std::to_chars(attrib, attrib + sizeof attrib, e.attrib).ptr;
            sink(RowTexts{
                path, e.name, extensionOf(e.name), std::string_view(size, size_t(sizeEnd - size)),
                modifiedText(e.modified), createdText(e.created),
                std::string_view(attrib, size_t(attribEnd - attrib))});
            if (!progress.step(++listed, e.name))
                gaps.stopped = true;
        },
        gaps, &progress);
}

}  // namespace vemlo
