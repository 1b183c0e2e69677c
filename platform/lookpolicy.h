// How the listing looks at a folder's entries once their names are read and
// sorted: how many threads and which call, by the folder's file system
// (LookPlan); how many entries each batch holds, by how long the last one
// took; and, on FUSE, whether the pool or the listing's own thread alone
// looks at the next batch, by which went faster per entry (LookBatches).
// The figures beside the constants were measured on this project's benches
// and bare loops beside them: a million local entries, and 20,000 (5,000)
// entries on a private sshfs share on 127.0.0.1 with every cache off (a first
// look: the kernel's names dropped before).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <string>
#include <vector>

namespace vemlo::fs {

// Whether the machine has two cores or more.
bool twoCores();

struct LookPlan {
    // Threads looking at entries at once, the listing's own among them.
    unsigned threads = 1;
    // Entries a thread takes from the batch at a time: on a local disk
    // enough that threads seldom meet at the shared counter.
    size_t chunk = 16;
    int statxFlags = AT_SYMLINK_NOFOLLOW;
    // Whether one thread alone may be faster than the pool (see AloneOrPool).
    bool mayGoAlone = false;
};

// The plan for a file system of type fsType (statfs's f_type) on a machine
// with twoCores or not. freshLookups: the mount looks every name up afresh
// (a FUSE mount whose entry timeout is 0; see looksUpEveryName).
LookPlan lookPlanFor(long fsType, bool twoCores, bool freshLookups);

// The plan for the folder open as fd. On FUSE it reads the mount table and,
// for an sshfs mount, the command lines of the sshfs processes serving it:
// the entry timeout lives there, not in the mount's options.
LookPlan lookPlan(int fd);

// Whether an sshfs (or other libfuse) command line sets the kernel's entry
// timeout to 0 (the last "entry_timeout=" among its -o options; libfuse's
// default is one second).
bool looksUpEveryName(const std::vector<std::string>& argv);

using LookClock = std::chrono::steady_clock;

// Chooses, batch by batch, between the pool and one thread alone. FUSE
// looks up the names it has not yet seen one at a time in a folder (the
// folder's lock, unless the file system asks for parallel lookups), so on a
// first look the pool's threads only queue behind each other, each woken in
// turn to take the lock: one thread, not waiting on a turn, goes faster.
// Names seen before are looked at again in parallel, where the pool is many
// times faster. A few entries looked at alone, beside the pool's batches,
// tell which case holds; the other way is tried again every second, since
// a folder may be part seen.
// Measured on sshfs, per entry: first looks 305-464 us by the pool, 308-434
// us alone (5,000 entries in 12 alternating pairs: one thread took 0.945 of
// sixteen threads' time); looks again 44-109 us by the pool, 279-398 us alone.
class AloneOrPool {
public:
    // Entries of a trial alone: 4-6 ms on a share where the pool is faster.
    static constexpr size_t kAloneTrial = 16;
    // How long one way is kept before the other is tried again: longer
    // where the one was at least twice as fast, so that a second look at
    // 20,000 entries (1.4-1.8 s) pays the trial once.
    static constexpr auto kRetryAfter = std::chrono::seconds(1);
    static constexpr auto kRetryAfterClearWin = std::chrono::seconds(4);
    // One thread is kept while it takes less than this times the pool's
    // time per entry: ties go to one thread, the pool gains nothing then.
    static constexpr double kAloneMargin = 1.1;

    explicit AloneOrPool(bool mayGoAlone) : may_(mayGoAlone) {}

    // Whether the next batch is looked at alone, asked at now; a trial alone
    // cuts size.
    bool nextAlone(size_t& size, LookClock::time_point now);
    // The batch looked at alone or not took ns for count entries.
    void took(bool alone, int64_t ns, size_t count);

private:
    enum { kPool, kAlone };
    const bool may_;
    bool alone_ = false;
    bool clearWin_ = false;
    double nsPerEntry_[2] = {0, 0};
    LookClock::time_point lastTrial_;
};

// Entries [first, first + size) of the sorted names, looked at by the listing's
// thread alone or by the pool.
struct LookBatch {
    size_t first = 0;
    size_t size = 0;  // 0: none left
    bool alone = false;
};

// The batches of a listing of count entries, each sized so that the sink is
// reached about every kBatchNs however slow the calls are: the watcher then
// sees rows handed on often, and a stop ends the listing soon (a time
// chosen, not measured).
class LookBatches {
public:
    static constexpr int64_t kBatchNs = 100'000'000;
    // The least and the most entries of a batch (the most: the batch of the
    // listing before batches were timed). On sshfs, looked at again, a first
    // batch of 256 took 93-109 us an entry, the later ones of 512 to 2,048
    // 44-89 us.
    static constexpr size_t kMinBatch = 256, kMaxBatch = 8192;

    LookBatches(size_t count, bool mayGoAlone);

    // The first batch: the pool's.
    LookBatch first() const { return batch_; }
    // The batch given last took ns to look at; the next one, asked at now.
    LookBatch next(int64_t ns, LookClock::time_point now);

private:
    const size_t count_;
    LookBatch batch_;
    size_t wanted_ = kMinBatch;  // the batch size the times call for
    bool sized_ = true;          // the batch in hand has the size wanted
    AloneOrPool way_;
};

}  // namespace vemlo::fs
