#include "platform/listing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <cerrno>
#include <cstring>
#include <exception>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <thread>
#include <vector>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "platform/handles.h"
#include "platform/lookpolicy.h"

namespace vemlo::fs {

namespace {

int64_t seconds(const struct statx_timestamp& t) { return t.tv_sec; }

}  // namespace

namespace {

constexpr unsigned kStatxMask =
    STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME;

// Runs other on a thread of its own while own runs on this one (both here
// when no thread can be made). After both have ended, a failure of either is
// raised here.
template <class Other, class Own>
void alongside(const Other& other, const Own& own)
{
    std::exception_ptr failed;  // a failure of the other thread
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                other();
            } catch (...) {
                failed = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        other();
        own();
        return;
    }
    try {
        own();
    } catch (...) {
        worker.join();
        throw;
    }
    worker.join();
    if (failed)
        std::rethrow_exception(failed);
}

// What the look at one entry found.
struct Described {
    int err = 0;  // statx failed with err
    uint32_t mode = 0;
    uint32_t attrib = 0;
    int64_t size = 0;
    int64_t modified = 0;
    int64_t created = 0;
};

// Looks at the entries of the folder open as fd, a batch at a time, on a
// pool of threads made once for the whole listing, the listing's own thread
// taking part. While the listing hands one batch to its sink, the pool
// already looks at the next. On a local disk the processor is the limit and
// two threads suffice; where every call waits on the network, what counts
// is how many calls are in flight.
class Describer {
public:
    Describer(int fd, unsigned threads, size_t chunk, int statxFlags)
        : fd_(fd), threads_(threads), chunk_(chunk), statxFlags_(statxFlags),
          folder_(folderStoreOf(fd)), ownReader_(fd, folder_)
    {
    }
    ~Describer()
    {
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : helpers_)
            t.join();
    }
    Describer(const Describer&) = delete;
    Describer& operator=(const Describer&) = delete;

    unsigned threads() const { return threads_; }

    // Starts looking at names[0, count) into out[0, count); alone, only
    // this thread looks at them, in finish().
    void start(const std::string_view* names, size_t count, Described* out, bool alone = false)
    {
        if (!alone && helpers_.empty() && threads_ > 1 && count >= 2 * chunk_)
            hire();
        std::lock_guard lock(mutex_);
        names_ = names;
        out_ = out;
        count_ = count;
        next_.store(0, std::memory_order_relaxed);
        if (alone) {
            busy_ = 0;
            return;
        }
        busy_ = helpers_.size();
        ++generation_;
        wake_.notify_all();
    }
    // Takes part in the batch started last and returns once all of it is
    // looked at, or early when stop() says to; tick runs between chunks.
    template <class Tick>
    void finish(const Tick& tick)
    {
        while (work(ownReader_))
            tick();
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return busy_ == 0; });
    }
    // The rest of the batch started last is not looked at.
    void stop() { next_.store(SIZE_MAX / 2, std::memory_order_relaxed); }

private:
    void hire()
    {
        try {
            while (helpers_.size() + 1 < threads_)
                helpers_.emplace_back([this] { serve(); });
        } catch (const std::system_error&) {
            // No more threads to be had: those there are do the work.
        }
    }
    void serve()
    {
        uint64_t seen = 0;
        AttribReader reader(fd_, folder_);  // one to a thread
        for (;;) {
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return quit_ || generation_ != seen; });
                if (quit_)
                    return;
                seen = generation_;
            }
            while (work(reader)) {
            }
            std::lock_guard lock(mutex_);
            if (--busy_ == 0)
                done_.notify_all();
        }
    }
    // Looks at one chunk; false when none is left.
    bool work(AttribReader& reader)
    {
        const size_t first = next_.fetch_add(chunk_, std::memory_order_relaxed);
        if (first >= count_)
            return false;
        const size_t end = std::min(count_, first + chunk_);
        for (size_t i = first; i < end; ++i)
            describe(reader, names_[i].data(), out_[i]);  // each name ends in a NUL
        return true;
    }
    void describe(AttribReader& reader, const char* name, Described& d)
    {
        struct statx sx;
        if (statx(fd_, name, statxFlags_, kStatxMask, &sx) != 0) {
            d.err = errno;
            return;
        }
        d.err = 0;
        d.mode = sx.stx_mode;
        d.size = int64_t(sx.stx_size);
        d.modified = seconds(sx.stx_mtime);
        d.created = createdSeconds(sx);
        d.attrib = reader.attribOf(name, sx.stx_mode, makedev(sx.stx_dev_major, sx.stx_dev_minor));
    }

    const int fd_;
    const unsigned threads_;
    const size_t chunk_;  // entries a thread takes at a time
    const int statxFlags_;
    std::vector<std::thread> helpers_;
    const FolderStore folder_;  // where the bits live, decided once for the listing
    AttribReader ownReader_;    // the listing thread's

    // The batch in hand; set under mutex_ before the generation changes.
    const std::string_view* names_ = nullptr;
    Described* out_ = nullptr;
    size_t count_ = 0;
    std::atomic<size_t> next_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    uint64_t generation_ = 0;
    size_t busy_ = 0;  // helpers still at the batch
    bool quit_ = false;
};

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

// Looks at every entry of names (in that order) and hands each to sink, in
// the batches LookBatches gives: while the sink takes one batch, the pool
// already looks at the next.
void describeAll(int fd, const std::vector<std::string_view>& names,
                 const std::function<void(const EntryInfo&)>& sink, ListingGaps& gaps,
                 Progress& progress)
{
    const LookPlan plan = lookPlan(fd);
    Describer pool(fd, plan.threads, plan.chunk, plan.statxFlags);
    LookBatches batches(names.size(), plan.mayGoAlone);
    LookBatch batch = batches.first();
    if (batch.size == 0)
        return;
    std::vector<Described> looked[2];  // the batch handed on, the batch looked at
    LookClock::time_point started;
    auto start = [&](const LookBatch& b, std::vector<Described>& into) {
        into.resize(b.size);
        started = LookClock::now();
        pool.start(names.data() + b.first, b.size, into.data(), b.alone);
    };
    auto tick = [&] {
        progress.tick();
        if (progress.stopped())
            pool.stop();
    };
    start(batch, looked[0]);
    pool.finish(tick);
    for (int cur = 0; batch.size > 0; cur ^= 1) {
        const auto now = LookClock::now();
        LookBatch next = batches.next((now - started) / std::chrono::nanoseconds(1), now);
        if (next.size > 0 && !progress.stopped())
            start(next, looked[cur ^ 1]);
        else
            next.size = 0;
        if (progress.stopped())
            gaps.stopped = true;
        for (size_t i = 0; i < batch.size && !gaps.stopped; ++i) {
            const Described& d = looked[cur][i];
            if (d.err != 0) {
                if (d.err != ENOENT)  // ENOENT: gone since readdir
                    gaps.add(d.err);
                continue;
            }
            EntryInfo e;
            e.name = names[batch.first + i];
            e.isFolder = S_ISDIR(d.mode);
            e.size = e.isFolder ? 0 : d.size;
            e.modified = d.modified;
            e.created = d.created;
            e.attrib = d.attrib;
            sink(e);
        }
        if (gaps.stopped)
            pool.stop();
        if (next.size > 0) {
            if (next.alone)  // nothing was looked at while the sink took the batch above
                started = LookClock::now();
            pool.finish(tick);
        }
        if (progress.stopped())
            gaps.stopped = true;
        if (gaps.stopped)
            return;
        batch = next;
    }
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
    // looked at in that order, a batch at a time (by the pool lookPlan sizes:
    // two threads on a local disk, sixteen on a share), so that the sink gets
    // them sorted, is called often enough for a watcher, and a stop ends the
    // listing soon.
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
    progress.begin(int64_t(names.size()));
    if (progress.stopped()) {
        gaps.stopped = true;
        return Status{};
    }
    describeAll(fd, names, sink, gaps, progress);
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
        // Hidden or system by its stored attribute, asked where this folder's
        // file system keeps it: a mount point is not hidden by its own root's
        // bits (an NTFS root is hidden and system) and costs no look of its own.
        else if (folder && (attribs.attribOf(e->d_name, S_IFDIR) & (AttrHidden | AttrSystem)))
            folder = false;
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
