#include "app/core/batch.h"

#include <cerrno>
#include <charconv>
#include <sys/stat.h>

#include "platform/attrib.h"
#include "platform/fileops.h"
#include "platform/listing.h"

namespace vemlo {

namespace {

std::string_view lastPart(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string parentOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

// True when from and to name one and the same entry: the same path, or the
// same name in the same folder reached by another spelling of the folder.
// Two hard links under different names are different entries.
bool sameEntry(const std::string& from, const std::string& to)
{
    if (from == to)
        return true;
    if (lastPart(from) != lastPart(to))
        return false;
    struct stat a, b, pa, pb;
    return ::lstat(from.c_str(), &a) == 0 && ::lstat(to.c_str(), &b) == 0 && fs::sameObject(a, b) &&
           ::stat(parentOf(from).c_str(), &pa) == 0 && ::stat(parentOf(to).c_str(), &pb) == 0 &&
           fs::sameObject(pa, pb);
}

void appendNumberedName(std::string& out, std::string_view base, int n, std::string_view extension)
{
    out += base;
    out += ' ';
    char digits[12];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
    if (!extension.empty()) {
        out += '.';
        out += extension;
    }
}

}  // namespace

void BatchOutcome::fail(std::string_view path, std::string reason)
{
    failures.add(lastPart(path), std::move(reason));
}

QString baseNameProblem(std::string_view base)
{
    if (base.find('/') != std::string_view::npos)
        return QStringLiteral("基础文件名不能包含“/”，没有重命名任何文件");
    if (base.find('\0') != std::string_view::npos)
        return QStringLiteral("基础文件名不能包含空字符，没有重命名任何文件");
    if (base == "." || base == "..")
        return QStringLiteral("基础文件名不能是“.”或“..”，没有重命名任何文件");
    return {};
}

std::string numberedName(std::string_view base, int n, std::string_view extension)
{
    std::string name;
    appendNumberedName(name, base, n, extension);
    return name;
}

BatchOutcome renameNumbered(const FileTable& table, const std::string& folder,
                            std::string_view base)
{
    BatchOutcome outcome;
    std::string to = folder + '/';
    const size_t stem = to.size();
    std::string from;
    for (int row = 1; row < table.tableRows(); ++row) {
        from = table.cell(0, row);
        if (from.empty())
            continue;
        to.resize(stem);
        appendNumberedName(to, base, row, table.cell(2, row));
        const fs::Status st = fs::moveNoReplace(from, to);
        if (st || (st.err == EEXIST && sameEntry(from, to)))
            ++outcome.done;
        else
            outcome.fail(from, fs::reasonText(st.err));
    }
    return outcome;
}

uint32_t attributeValue(bool readOnly, bool hidden, bool archive, bool system)
{
    return (readOnly ? fs::AttrReadOnly : 0u) | (hidden ? fs::AttrHidden : 0u) |
           (archive ? fs::AttrArchive : 0u) | (system ? fs::AttrSystem : 0u);
}

BatchOutcome changeAttributes(const FileTable& table, uint32_t value)
{
    BatchOutcome outcome;
    std::string path;
    for (int row = 1; row < table.tableRows(); ++row) {
        path = table.cell(0, row);
        if (path.empty())
            continue;
        if (const fs::Status st = fs::setAttributes(path, value))
            ++outcome.done;
        else
            outcome.fail(path, fs::attribFailureText(st.err));
    }
    return outcome;
}

QString failureReport(const BatchOutcome& outcome, const QString& what)
{
    if (outcome.failures.empty())
        return {};
    return QStringLiteral("有 %1 个条目未能%2：").arg(outcome.failures.count()).arg(what) +
           outcome.failures.lines();
}

}  // namespace vemlo
