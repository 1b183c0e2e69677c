#include "platform/listing.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <vector>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/handles.h"

namespace vemlo::fs {

namespace {

int64_t seconds(const struct statx_timestamp& t) { return t.tv_sec; }

}  // namespace

namespace {

constexpr unsigned kStatxMask =
    STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME;

// Looks at the entries names[0, count) of the folder open as fd and hands
// each to sink. Ends early once halt is set, and sets it when the sink asks
// to stop (gaps.stopped).
void describe(int fd, const std::string_view* names, size_t count,
              const std::function<void(const EntryInfo&)>& sink, ListingGaps& gaps,
              std::atomic<bool>& halt)
{
    AttribReader attribs(fd);
    for (size_t i = 0; i < count && !halt.load(std::memory_order_relaxed); ++i) {
        const char* name = names[i].data();  // each name ends in a NUL
        struct statx sx;
        if (statx(fd, name, AT_SYMLINK_NOFOLLOW, kStatxMask, &sx) != 0) {
            if (errno != ENOENT)  // ENOENT: gone since readdir
                gaps.add(errno);
            continue;
        }
        EntryInfo e;
        e.name = names[i];
        e.isFolder = S_ISDIR(sx.stx_mode);
        e.size = e.isFolder ? 0 : int64_t(sx.stx_size);
        e.modified = seconds(sx.stx_mtime);
        e.created = createdSeconds(sx);
        e.attrib = attribs.attribOf(name, sx.stx_mode);
        sink(e);
        if (gaps.stopped)
            halt = true;
    }
}

// Runs other on a thread of its own while own runs on this one. After both
// have ended, a failure of either is raised here; when own fails, halt (if
// given) is set first so that other can end early.
template <class Other, class Own>
void alongside(const Other& other, const Own& own, std::atomic<bool>* halt = nullptr)
{
    std::exception_ptr failed;  // a failure of the other thread
    std::thread worker([&] {
        try {
            other();
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        own();
    } catch (...) {
        if (halt)
            *halt = true;
        worker.join();
        throw;
    }
    worker.join();
    if (failed)
        std::rethrow_exception(failed);
}

// Entries looked at between two hand-overs; a batch this large is split
// between two threads.
constexpr size_t kBatch = 8192;
constexpr size_t kEntriesForTwoThreads = 2048;

bool twoCores()
{
    static const bool two = std::thread::hardware_concurrency() >= 2;
    return two;
}

// Looks at a batch of entries, the second half on a thread of its own; the
// sink runs on this thread only, and gets the entries in the batch's order.
void describeBatch(int fd, const std::string_view* names, size_t count,
                   const std::function<void(const EntryInfo&)>& sink, ListingGaps& gaps)
{
    std::atomic<bool> halt = false;
    if (count < kEntriesForTwoThreads || !twoCores()) {
        describe(fd, names, count, sink, gaps, halt);
        return;
    }
    const size_t half = count / 2;
    std::vector<EntryInfo> second;
    second.reserve(count - half);
    ListingGaps secondGaps;
    alongside(
        [&] {
            describe(fd, names + half, count - half,
                     [&](const EntryInfo& e) { second.push_back(e); }, secondGaps, halt);
        },
        [&] { describe(fd, names, half, sink, gaps, halt); }, &halt);
    if (gaps.stopped)
        return;
    for (const EntryInfo& e : second) {
        sink(e);
        if (gaps.stopped)
            return;
    }
    for (const auto& [err, n] : secondGaps.unreadable) {
        for (size_t k = 0; k < n; ++k)
            gaps.add(err);
    }
}

// Ticks of the watcher for work far cheaper than looking at an entry
// (reading or comparing a name): one in 64 is passed on, so that the watcher's
// stride, tuned to the time between its looks, suits the entries that follow.
class CheapTicks {
public:
    explicit CheapTicks(Progress& progress) : progress_(progress) {}
    void operator()()
    {
        if ((++count_ & 63) == 0)
            progress_.tick();
    }

private:
    Progress& progress_;
    unsigned count_ = 0;
};

// Below this many names the sort is not worth a second thread.
constexpr size_t kNamesForTwoThreads = 16384;

// Puts names in name order (nameLess). A large list is sorted in two halves
// at once and merged; only this thread lets the watcher look.
void sortNames(std::vector<std::string_view>& names, Progress& progress)
{
    CheapTicks tick(progress);
    auto less = [&tick](std::string_view a, std::string_view b) {
        tick();
        return nameLess(a, b);
    };
    if (names.size() < kNamesForTwoThreads || !twoCores()) {
        std::sort(names.begin(), names.end(), less);
        return;
    }
    const auto middle = names.begin() + std::ptrdiff_t(names.size() / 2);
    alongside([&] { std::sort(middle, names.end(), nameLess); },
              [&] { std::sort(names.begin(), middle, less); });
    std::vector<std::string_view> merged;
    merged.reserve(names.size());
    std::merge(names.begin(), middle, middle, names.end(), std::back_inserter(merged), less);
    names.swap(merged);
}

}  // namespace

Status listFolder(const std::string& folder,
                  const std::function<void(const EntryInfo&)>& sink, ListingGaps& gaps,
                  Progress* watcher)
{
    Progress& progress = watched(watcher);
    gaps = {};
    FileDescriptor opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!opened.valid())
        return Status::fromErrno();
    DirHandle dir(fdopendir(opened.get()));
    if (!dir)
        return Status::fromErrno();
    const int fd = opened.release();  // closed with the listing handle

    // Every name is read first and put in name order; the entries are then
    // looked at in that order, a batch at a time (by two threads in a large
    // folder), so that the sink gets them sorted, is called often enough for
    // a watcher, and a stop ends the listing soon.
    std::vector<char> bytes;
    std::vector<size_t> ends;
    CheapTicks tick(progress);
    for (;;) {
        errno = 0;
        const struct dirent* d = readdir(dir.get());
        if (!d) {
            gaps.readError = errno;  // 0 at the end of the folder
            break;
        }
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        bytes.insert(bytes.end(), name, name + std::strlen(name) + 1);
        ends.push_back(bytes.size() - 1);
        tick();
        if (progress.stopped()) {
            gaps.stopped = true;
            return Status{};
        }
    }
    std::vector<std::string_view> names;
    names.reserve(ends.size());
    size_t start = 0;
    for (size_t end : ends) {
        names.emplace_back(bytes.data() + start, end - start);
        start = end + 1;
    }
    std::vector<size_t>().swap(ends);
    sortNames(names, progress);
    if (progress.stopped()) {
        gaps.stopped = true;
        return Status{};
    }
    for (size_t first = 0; first < names.size() && !gaps.stopped; first += kBatch)
        describeBatch(fd, names.data() + first, std::min(kBatch, names.size() - first), sink,
                      gaps);
    return Status{};
}

void ListingGaps::add(int err)
{
    for (auto& [e, n] : unreadable) {
        if (e == err) {
            ++n;
            return;
        }
    }
    unreadable.emplace_back(err, 1);
}

size_t ListingGaps::unreadableCount() const
{
    size_t total = 0;
    for (const auto& u : unreadable)
        total += u.second;
    return total;
}

int64_t createdSeconds(const struct statx& sx)
{
    const bool recorded = (sx.stx_mask & STATX_BTIME) &&
                          (sx.stx_btime.tv_sec != 0 || sx.stx_btime.tv_nsec != 0);
    return recorded ? seconds(sx.stx_btime) : seconds(sx.stx_ctime);
}

Status readSubfolders(std::vector<std::string>& names, Progress* watcher)
{
    Progress& progress = watched(watcher);
    int64_t seen = 0;
    names.clear();
    const DirHandle dir(::opendir("."));
    if (!dir)
        return Status::fromErrno();
    DIR* const d = dir.get();
    const int fd = ::dirfd(d);
    AttribReader attribs(fd);
    int err = 0;
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(d);
        if (!e) {
            err = errno;
            break;
        }
        if (e->d_name[0] == '.')
            continue;
        if (!progress.step(seen++, e->d_name)) {
            names.clear();
            return Status{ECANCELED};
        }
        unsigned char type = e->d_type;
        struct stat st;
        if (type == DT_UNKNOWN && ::fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            type = S_ISLNK(st.st_mode) ? DT_LNK : S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        bool folder = type == DT_DIR;
        if (type == DT_LNK)  // a link to a folder is shown; links keep no stored bits
            folder = ::fstatat(fd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        else if (folder && (attribs.attribOf(e->d_name, S_IFDIR) & (AttrHidden | AttrSystem)))
            folder = false;  // hidden or system by its stored attribute
        if (folder)
            names.emplace_back(e->d_name);
    }
    if (err) {
        names.clear();
        return Status{err};
    }
    std::sort(names.begin(), names.end(), nameLess);
    return {};
}

}  // namespace vemlo::fs
