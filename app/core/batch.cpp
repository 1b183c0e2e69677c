#include "app/core/batch.h"

#include <cerrno>
#include <charconv>

#include "platform/attrib.h"
#include "platform/fileops.h"
#include "platform/paths.h"

namespace vemlo {

namespace {

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

void fail(BatchOutcome& outcome, std::string_view path, Failure::Kind kind, int err,
          std::string_view newPath = {})
{
    Failure f;
    f.name = fs::lastPart(path);
    f.kind = kind;
    f.err = err;
    if (!newPath.empty())
        f.newName = fs::lastPart(newPath);
    outcome.failures.add(std::move(f));
}

// The entries of rows [from, end): rows with a path.
int entriesFrom(const FileTable& table, int from)
{
    int n = 0;
    for (int row = from; row < table.tableRows(); ++row)
        n += !table.text(row, 0).empty();
    return n;
}

// Stops the pass at row when progress says so; true when stopped.
bool stopsAt(BatchOutcome& outcome, const FileTable& table, int row, Progress& progress,
             std::string_view path)
{
    if (progress.step(row - 1, fs::lastPart(path)))
        return false;
    outcome.cancelled = true;
    outcome.left = entriesFrom(table, row);
    return true;
}

}  // namespace

NameProblem baseNameProblem(std::string_view base)
{
    if (base.find('/') != std::string_view::npos)
        return NameProblem::Slash;
    if (base.find('\0') != std::string_view::npos)
        return NameProblem::NulByte;
    if (base == "." || base == "..")
        return NameProblem::DotName;
    return NameProblem::None;
}

std::string numberedName(std::string_view base, int n, std::string_view extension)
{
    std::string name;
    appendNumberedName(name, base, n, extension);
    return name;
}

BatchOutcome renameNumbered(const FileTable& table, const std::string& folder,
                            std::string_view base, Progress* watcher)
{
    Progress& progress = watched(watcher);
    progress.begin(table.tableRows() - 1);
    BatchOutcome outcome;
    std::string to = folder + '/';
    const size_t stem = to.size();
    std::string from;
    for (int row = 1; row < table.tableRows(); ++row) {
        from = table.text(row, 0);
        if (from.empty())
            continue;
        if (stopsAt(outcome, table, row, progress, from))
            break;
        to.resize(stem);
        appendNumberedName(to, base, row, table.text(row, 2));
        const fs::Status st = fs::moveNoReplace(from, to);
        if (st || (st.err == EEXIST && fs::sameEntry(from, to)))
            ++outcome.done;
        else
            fail(outcome, from, Failure::Kind::Io, st.err, to);
    }
    return outcome;
}

uint32_t attributeValue(bool readOnly, bool hidden, bool archive, bool system)
{
    return (readOnly ? fs::AttrReadOnly : 0u) | (hidden ? fs::AttrHidden : 0u) |
           (archive ? fs::AttrArchive : 0u) | (system ? fs::AttrSystem : 0u);
}

BatchOutcome changeAttributes(const FileTable& table, uint32_t value, Progress* watcher)
{
    Progress& progress = watched(watcher);
    progress.begin(table.tableRows() - 1);
    BatchOutcome outcome;
    std::string path;
    for (int row = 1; row < table.tableRows(); ++row) {
        path = table.text(row, 0);
        if (path.empty())
            continue;
        if (stopsAt(outcome, table, row, progress, path))
            break;
        if (const fs::Status st = fs::setAttributes(path, value))
            ++outcome.done;
        else
            fail(outcome, path, Failure::Kind::Attributes, st.err);
    }
    return outcome;
}

}  // namespace vemlo
