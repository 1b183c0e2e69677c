#include "app/core/batch.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>

#include "platform/attrib.h"
#include "platform/fileops.h"
#include "platform/lookpolicy.h"
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
int entriesFrom(const RowStore& rows, int from)
{
    int n = 0;
    for (size_t row = size_t(from); row < rows.size(); ++row)
        n += !rows.cell(row, 0).empty();
    return n;
}

// Stops the pass at row when progress says so; true when stopped.
bool stopsAt(BatchOutcome& outcome, const RowStore& rows, int row, Progress& progress,
             std::string_view path)
{
    if (progress.step(row - 1, fs::lastPart(path)))
        return false;
    outcome.left = entriesFrom(rows, row);
    return true;
}

// The kind of entry the attribute number of a listed row tells: a folder
// (not a link to one) or something moved like a file.
fs::EntryKind listedKind(std::string_view attrib)
{
    uint32_t bits = 0;
    if (std::from_chars(attrib.data(), attrib.data() + attrib.size(), bits).ec != std::errc())
        return fs::EntryKind::Unknown;
    return (bits & fs::AttrFolder) && !(bits & fs::AttrLink) ? fs::EntryKind::Folder
                                                             : fs::EntryKind::File;
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

BatchOutcome renameNumbered(const RowStore& rows, const std::string& folder,
                            std::string_view base, Progress* watcher)
{
    Progress& progress = watched(watcher);
    progress.begin(int64_t(rows.size()) - 1);
    BatchOutcome outcome;
    std::string to = folder + '/';
    const size_t stem = to.size();
    // The folder is looked up once: an entry listed in it is renamed by its
    // name alone, which spares a share the walk down the path on every call.
    const fs::FileDescriptor dir = std::move(fs::openFolder(folder).fd);
    fs::NoReplaceMoves moves;
    std::string from;
    BatchTrail& trail = outcome.trail;
    const uint32_t toFolder = trail.folder(folder);
    // On a share that looks every name up afresh, the look before each move
    // takes what its lookup brought: one round trip to the server, not two.
    const bool fromLookup =
        dir.valid() && (fs::lookPlan(dir.get()).statxFlags & AT_STATX_DONT_SYNC) != 0;
    struct stat st;
    uint64_t birth = 0;
    for (int row = 1; row < int(rows.size()); ++row) {
        from = rows.cell(size_t(row), 0);
        if (from.empty())
            continue;
        if (stopsAt(outcome, rows, row, progress, from))
            break;
        to.resize(stem);
        appendNumberedName(to, base, row, rows.cell(size_t(row), 2));
        const bool inFolder = dir.valid() && from.size() > stem &&
                              from.compare(0, stem, to, 0, stem) == 0 &&
                              from.find('/', stem) == std::string::npos;
        const int at = inFolder ? dir.get() : AT_FDCWD;
        const char* fromAt = inFolder ? from.c_str() + stem : from.c_str();
        // The entry's identity, for the trail: what the undo takes back.
        const bool looked = fs::lookAtEntry(at, fromAt, st, birth, false, fromLookup).ok();
        const fs::Status moved = moves.move(at, fromAt, at, inFolder ? to.c_str() + stem : to.c_str(),
                                            listedKind(rows.cell(size_t(row), 6)));
        if (moved && looked)
            trail.moved(inFolder ? toFolder : trail.folder(fs::parentOf(from)), fs::lastPart(from),
                        toFolder, fs::lastPart(to), st, birth);
        if (moved || (moved.err == EEXIST && fs::sameEntry(from, to)))
            ++outcome.done;
        else
            fail(outcome, from, Failure::Kind::Io, moved.err, to);
    }
    settle(trail, outcome.failures);
    return outcome;
}

uint32_t attributeValue(bool readOnly, bool hidden, bool archive, bool system)
{
    return (readOnly ? fs::AttrReadOnly : 0u) | (hidden ? fs::AttrHidden : 0u) |
           (archive ? fs::AttrArchive : 0u) | (system ? fs::AttrSystem : 0u);
}

BatchOutcome changeAttributes(const RowStore& rows, uint32_t value, Progress* watcher)
{
    Progress& progress = watched(watcher);
    progress.begin(int64_t(rows.size()) - 1);
    BatchOutcome outcome;
    std::string path;
    // Where the bits live is asked of each folder's file system once, as the
    // listing does, not of every entry (on a share each ask is a round trip).
    std::string folder;
    fs::FolderStore store;
    BatchTrail& trail = outcome.trail;
    trail = BatchTrail(BatchTrail::Kind::Attributes);
    uint32_t folderAt = 0;
    fs::AttribChange change;
    for (int row = 1; row < int(rows.size()); ++row) {
        path = rows.cell(size_t(row), 0);
        if (path.empty())
            continue;
        if (stopsAt(outcome, rows, row, progress, path))
            break;
        if (std::string parent = fs::parentOf(path); parent != folder) {  // never empty
            store = fs::folderStoreOfPath(parent);
            folderAt = trail.folder(parent);
            folder = std::move(parent);
        }
        if (const fs::Status st = fs::setAttributes(path, value, store, change)) {
            trail.changed(folderAt, fs::lastPart(path), change);
            ++outcome.done;
        } else {
            fail(outcome, path, Failure::Kind::Attributes, st.err);
        }
    }
    settle(trail, outcome.failures);
    return outcome;
}

}  // namespace vemlo
