#include "app/core/keywords.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "platform/fileops.h"
#include "platform/identity.h"
#include "platform/paths.h"

namespace vemlo {

bool keywordMatches(std::string_view cell, std::string_view keyword)
{
    if (keyword.empty() || keyword.size() > cell.size())
        return false;
    return ::memmem(cell.data(), cell.size(), keyword.data(), keyword.size()) != nullptr;
}

KeywordSet::KeywordSet(const std::vector<std::string>& keywords)
{
    // From the last keyword back, so that of two equal texts the later stays.
    std::vector<Needle> distinct;
    for (size_t i = keywords.size(); i-- > 0;) {
        const std::string_view k = keywords[i];
        if (k.empty() || std::any_of(distinct.begin(), distinct.end(),
                                     [&](const Needle& d) { return d.text == k; }))
            continue;
        distinct.push_back({k, int(i)});
        shortest_ = shortest_ == 0 ? k.size() : std::min(shortest_, k.size());
        lastPosition_ = std::max(lastPosition_, int(i));
    }
    // Group by first byte; the order within a group stays latest first.
    std::stable_sort(distinct.begin(), distinct.end(), [](const Needle& a, const Needle& b) {
        return static_cast<unsigned char>(a.text[0]) < static_cast<unsigned char>(b.text[0]);
    });
    needles_ = std::move(distinct);
    size_t j = 0;
    for (unsigned b = 0; b < 256; ++b) {
        group_[b] = uint32_t(j);
        while (j < needles_.size() && static_cast<unsigned char>(needles_[j].text[0]) == b)
            ++j;
        if (group_[b] != j) {
            starts_[b] = true;
            firstBytes_.push_back(static_cast<unsigned char>(b));
        }
    }
    group_[256] = uint32_t(j);
}

// Compares the keywords that start with the byte at i, the latest first.
// Returns the best position found so far.
inline int KeywordSet::tryAt(const unsigned char* p, size_t n, size_t i, int best) const
{
    for (uint32_t j = group_[p[i]], last = group_[p[i] + 1]; j < last; ++j) {
        const Needle& k = needles_[j];
        if (k.position <= best)
            break;  // the rest of the group is earlier in the list
        if (k.text.size() <= n - i && std::memcmp(p + i, k.text.data(), k.text.size()) == 0)
            return k.position;
    }
    return best;
}

int KeywordSet::scan(std::string_view cell, bool anyHit) const
{
    if (needles_.empty() || cell.size() < shortest_)
        return -1;
    const auto* p = reinterpret_cast<const unsigned char*>(cell.data());
    const size_t n = cell.size();
    const size_t end = n - shortest_ + 1;  // keywords can start before end
    int best = -1;
    // Tries the positions base + i for every bit i of bits; true when done.
    auto tryBits = [&](size_t base, uint32_t bits) {
        for (; bits; bits &= bits - 1) {
            best = tryAt(p, n, base + size_t(__builtin_ctz(bits)), best);
            if (best >= 0 && (anyHit || best == lastPosition_))
                return true;
        }
        return false;
    };

#ifdef __SSE2__
    if (firstBytes_.size() <= kVectorFirstBytes) {
        // Sixteen bytes at a time: one compare per first byte marks where a
        // keyword may start.
        auto starts = [&](__m128i v) {
            __m128i m = _mm_setzero_si128();
            for (const unsigned char b : firstBytes_)
                m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8(char(b))));
            return uint32_t(_mm_movemask_epi8(m));
        };
        const uint32_t below = end >= 32 ? ~0u : (1u << end) - 1;
        if (n < 16) {
            // Bytes 0..7 in the low half, the last eight (when there are
            // eight) in the high half.
            uint64_t lo = 0, hi = 0;
            if (n >= 8) {
                std::memcpy(&lo, p, 8);
                std::memcpy(&hi, p + n - 8, 8);
            } else {
                std::memcpy(&lo, p, n);
            }
            const uint32_t m = starts(_mm_set_epi64x(int64_t(hi), int64_t(lo)));
            const uint32_t bits = n >= 8 ? (m & 0xff) | ((m >> 8) << (n - 8)) : m;
            tryBits(0, bits & below);
            return best;
        }
        for (size_t from = 0; from < end; from += 16) {
            const size_t base = std::min(from, n - 16);  // the last block may overlap
            uint32_t bits = starts(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + base)));
            bits &= ~0u << (from - base);  // already tried
            if (end - base < 16)
                bits &= (1u << (end - base)) - 1;
            if (tryBits(base, bits))
                return best;
        }
        return best;
    }
#endif
    for (size_t i = 0; i < end; ++i)
        if (starts_[p[i]] && tryBits(i, 1))
            return best;
    return best;
}

void rowsFilteredOut(const RowStore& table, int col, const std::vector<std::string>& keywords,
                     std::vector<int>& drop, Progress* watcher)
{
    Progress& progress = watched(watcher);
    const KeywordSet set(keywords);
    const int rows = int(table.size());
    progress.begin(rows - 1);
    drop.clear();
    for (int r = 1; r < rows; ++r) {
        // A row costs a few nanoseconds: the watcher is told every 64 rows.
        if ((r & 63) == 0 && !progress.stepLazy(r - 1, [&] { return table.cell(size_t(r), 1); }))
            return;
        if (!set.anyMatch(table.cell(size_t(r), col)))
            drop.push_back(r);
    }
}

void filterTable(FileTable& table, int col, const std::vector<std::string>& keywords,
                 Progress* progress)
{
    // The rows to drop are gathered first, so that a stopped pass changes nothing.
    std::vector<int> drop;
    rowsFilteredOut(table.snapshot(), col, keywords, drop, progress);
    if (progress && progress->stopped())
        return;
    table.dropRows(drop);
}

namespace {

// The first component of a relative path ("abc" of "abc/def/kw").
std::string firstComponent(const std::string& path)
{
    return path.substr(0, path.find('/'));
}

}  // namespace

NameProblem keywordFolderProblem(std::string_view keyword)
{
    if (keyword.empty())
        return NameProblem::None;
    if (keyword.find('\0') != std::string_view::npos)
        return NameProblem::NulByte;
    if (keyword.front() == '/')
        return NameProblem::Absolute;
    size_t pos = 0;
    while (pos <= keyword.size()) {
        size_t end = keyword.find('/', pos);
        if (end == std::string_view::npos)
            end = keyword.size();
        const std::string_view c = keyword.substr(pos, end - pos);
        if (c == "." || c == "..")
            return NameProblem::DotPart;
        pos = end + 1;
    }
    return NameProblem::None;
}

namespace {

// Why an entry stays when its keyword folder could not be reached: err and
// failed as makeFolderBeneath gave them (status and failedPart).
Failure keywordFolderFailure(std::string_view keyword, std::string_view failed, int err)
{
    auto trimmed = [](std::string_view p) {
        while (!p.empty() && p.back() == '/')
            p.remove_suffix(1);
        return p;
    };
    Failure f;
    f.folder = trimmed(keyword);
    f.err = err;
    if (err == ELOOP && trimmed(failed) == trimmed(keyword)) {
        f.kind = Failure::Kind::KeywordFolderIsLink;
    } else if (err == ELOOP) {
        f.kind = Failure::Kind::KeywordFolderBehindLink;
        f.link = trimmed(failed);
    } else if (err == ENOTDIR) {
        f.kind = Failure::Kind::KeywordFolderIsFile;
        f.link = trimmed(failed);
    } else {
        f.kind = Failure::Kind::KeywordFolderNotMade;
    }
    return f;
}

}  // namespace

OrganizeResult organizeTable(FileTable& table, int col, const std::vector<std::string>& keywords,
                             const std::string& workingFolder, Progress* progress)
{
    OrganizeResult result = organizeRows(table.snapshot(), col, keywords, workingFolder, progress);
    table.markRows(result.movedRows);
    return result;
}

namespace {

// The components of rel beneath the folder open as base that are missing
// now: the folders that making rel there will make, outermost first.
std::vector<std::string> missingBeneath(int base, std::string_view rel)
{
    std::vector<std::string> missing;
    std::string prefix;
    struct stat st;
    for (size_t pos = 0; pos < rel.size();) {
        const size_t end = std::min(rel.find('/', pos), rel.size());
        const std::string_view part = rel.substr(pos, end - pos);
        prefix.assign(rel.substr(0, end));
        pos = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (!missing.empty() || ::fstatat(base, prefix.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            missing.push_back(prefix);
    }
    return missing;
}

void organizePass(OrganizeResult& result, const RowStore& rows, int col,
                  const std::vector<std::string>& keywords, const std::string& workingFolder,
                  Progress* watcher)
{
    Progress& progress = watched(watcher);
    BatchTrail& trail = result.trail;
    struct stat st;
    const KeywordSet set(keywords);
    auto text = [&rows](int r, int c) { return rows.cell(size_t(r), c); };

    // The working folder is opened once, at the first row that needs it, as
    // the user gave it; each keyword folder is reached beneath it without
    // following links and kept open, so that nothing between the working
    // folder and the moved entry is looked up again.
    const std::string& w = workingFolder;
    bool workingOpened = false;
    fs::FileDescriptor workingFd;
    int workingErr = 0;  // why workingFd is not valid
    std::vector<fs::FileDescriptor> keywordFds(keywords.size());
    fs::NoReplaceMoves moves;
    std::string folder, source, target;
    // A moved folder takes a keyword folder with it only when it is one of
    // the folders on that keyword folder's path beneath the working folder
    // (an entry above the working folder cannot move into it): only an entry
    // named as one of the keywords' components is looked at before its move.
    std::set<std::string_view> components;
    for (const std::string& k : keywords)
        for (size_t pos = 0; pos < k.size();) {
            const size_t end = std::min(k.find('/', pos), k.size());
            components.insert(std::string_view(k).substr(pos, end - pos));
            pos = end + 1;
        }

    auto notMoved = [&](std::string_view name, Failure f) {
        f.name = name;
        result.notMoved.add(std::move(f));
    };
    auto because = [](Failure::Kind kind, int err = 0) {
        Failure f;
        f.kind = kind;
        f.err = err;
        return f;
    };

    const int count = int(rows.size());
    progress.begin(count - 1);
    for (int r = 1; r < count; ++r) {
        const int k = set.lastMatch(text(r, col));
        if (k < 0 || text(r, 0).empty())
            continue;  // no keyword, or already marked
        if (!progress.step(r - 1, text(r, 1))) {
            for (int rest = r; rest < count; ++rest)
                result.left += set.lastMatch(text(rest, col)) >= 0 && !text(rest, 0).empty();
            return;
        }
        if (w.empty()) {
            result.stop = OrganizeResult::Stop::NoWorkingFolder;
            return;
        }
        const std::string& keyword = keywords[size_t(k)];
        folder.assign(w).append("/").append(keyword);
        source.assign(text(r, 0));
        const std::string_view name = text(r, 1);

        // Only a folder can hold its keyword folder; a file or link of the
        // keyword's name is in the keyword folder's way, and is told so below.
        if (fs::isWithin(folder, source) && fs::isRealFolder(source)) {
            notMoved(name, because(Failure::Kind::IntoItself));
            continue;
        }
        if (!workingOpened) {
            workingOpened = true;
            fs::OpenedFolder opened = fs::openFolder(w);
            if (opened.status.err == ENOENT) {
                if (w.front() != '/' && !fs::isDirectory(firstComponent(w))) {
                    result.stop = OrganizeResult::Stop::CannotCreateFolder;
                    return;
                }
                opened.status = fs::makeDirs(w);
                if (opened) {
                    trail.madeFolder(w);
                    opened = fs::openFolder(w);
                }
            }
            workingFd = std::move(opened.fd);
            workingErr = opened.status.err;
        }
        if (!workingFd.valid()) {
            notMoved(name, because(Failure::Kind::WorkingFolderNotOpened, workingErr));
            continue;
        }
        fs::FileDescriptor& keywordFd = keywordFds[size_t(k)];
        if (!keywordFd.valid()) {
            const std::vector<std::string> missing = missingBeneath(workingFd.get(), keyword);
            fs::OpenedFolder made = fs::makeFolderBeneath(workingFd.get(), keyword);
            for (const std::string& m : missing)
                if (::fstatat(workingFd.get(), m.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
                    trail.madeFolder(w + "/" + m);
            if (!made) {
                notMoved(name, keywordFolderFailure(keyword, made.failedPart, made.status.err));
                continue;
            }
            keywordFd = std::move(made.fd);
        }
        std::string_view last = source;
        while (last.size() > 1 && last.back() == '/')
            last.remove_suffix(1);
        last.remove_prefix(last.rfind('/') + 1);
        const bool movesFolder = components.count(last) != 0 && fs::isRealFolder(source);
        target.assign(name);
        // The entry's identity, for the trail: what the undo takes back.
        uint64_t birth = 0;
        const bool looked = fs::lookAtEntry(AT_FDCWD, source.c_str(), st, birth).ok();
        if (const fs::Status moved =
                moves.move(AT_FDCWD, source.c_str(), keywordFd.get(), target.c_str(),
                           movesFolder ? fs::EntryKind::Folder : fs::EntryKind::File);
            !moved) {
            notMoved(name, fs::insideFolder(folder, source) ? because(Failure::Kind::IntoItself)
                                                            : because(Failure::Kind::Io, moved.err));
            continue;
        }
        // A keyword folder inside the moved folder has gone with it: each is
        // looked for again when next needed.
        if (movesFolder) {
            for (fs::FileDescriptor& f : keywordFds)
                f = fs::FileDescriptor();
            trail.forgetFolders();
        }
        if (looked)
            trail.moved(trail.folder(fs::parentOf(source.substr(0, size_t(last.data() + last.size() - source.data())))),
                        last, trail.folder(folder), name, st, birth);
        result.movedRows.push_back(r);
        ++result.moved;
    }
}

}  // namespace

OrganizeResult organizeRows(const RowStore& rows, int col, const std::vector<std::string>& keywords,
                            const std::string& workingFolder, Progress* progress)
{
    OrganizeResult result;
    organizePass(result, rows, col, keywords, workingFolder, progress);
    settle(result.trail, result.notMoved);
    return result;
}

}  // namespace vemlo
