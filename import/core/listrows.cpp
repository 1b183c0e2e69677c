#include "import/core/listrows.h"

#include <QLocale>
#include <QStringList>

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

fs::Status listRows(const std::string& folder, const std::string& workingFolder,
                    RowStore& rows, fs::ListingGaps& gaps)
{
    rows.clear();
    rows.emplace_back();
    DateText modifiedText, createdText;
    std::string path = workingFolder + '/';
    const size_t base = path.size();
    const fs::Status status = fs::listFolder(
        folder,
        [&](const fs::EntryInfo& e) {
            path.resize(base);
            path.append(e.name);
            char size[24], attrib[12];
            const auto sizeEnd = std::to_chars(size, size + sizeof size, e.size).ptr;
            const auto attribEnd = std::to_chars(attrib, attrib + sizeof attrib, e.attrib).ptr;
            rows.emplace_back(RowStore::Cells{
                path, e.name, extensionOf(e.name), std::string_view(size, size_t(sizeEnd - size)),
                modifiedText(e.modified), createdText(e.created),
                std::string_view(attrib, size_t(attribEnd - attrib))});
        },
        gaps);
    rows.sort(1, [](RowStore::RowView a, RowStore::RowView b) {
        return fs::nameLess(a.cell(1), b.cell(1));
    });
    return status;
}

QString listingGapsText(const QString& folder, const fs::ListingGaps& gaps)
{
    auto reason = [](int err) { return QString::fromStdString(fs::reasonText(err)); };
    QStringList lines;
    if (const size_t n = gaps.unreadableCount()) {
        QString why;
        if (gaps.unreadable.size() == 1) {
            why = reason(gaps.unreadable.front().first);
        } else {
            QStringList parts;
            for (const auto& [err, count] : gaps.unreadable)
                parts << QStringLiteral("%1 %2 个").arg(reason(err), QString::number(count));
            why = parts.join(QStringLiteral("，"));
        }
        lines << QStringLiteral("文件夹“%1”中有 %2 个条目无法读取，未列出：%3")
                     .arg(folder, QString::number(n), why);
    }
    if (gaps.readError)
        lines << QStringLiteral("读取文件夹“%1”时出错，列表不完整：%2")
                     .arg(folder, reason(gaps.readError));
    return lines.join(u'\n');
}

}  // namespace vemlo
