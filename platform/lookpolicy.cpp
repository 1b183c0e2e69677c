#include "platform/lookpolicy.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

#include "platform/dosattrib.h"
#include "platform/handles.h"
#include "platform/mounts.h"

namespace vemlo::fs {

namespace {

// A file of /proc, read whole; empty when it cannot be read.
std::string procFile(const std::string& path)
{
    std::string text;
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char buf[4096];
    ssize_t n;
    while (fd.valid() && (n = ::read(fd.get(), buf, sizeof buf)) > 0)
        text.append(buf, size_t(n));
    return text;
}

// Whether the FUSE mount holding the folder open as fd looks up every name
// afresh. Its entry timeout lives in the daemon serving it, not in the mount
// table: this is known only for sshfs, whose command line names the mount's
// source, and only where every sshfs process serving that source says so.
bool mountLooksUpEveryName(int fd)
{
    struct statx sx;
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_TYPE, &sx) != 0)
        return false;
    const dev_t device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    std::string source;
    for (const MountEntry& m : readMountTable())
        if (m.device == device)
            source = m.fsType == "fuse.sshfs" ? m.source : std::string();
    if (source.empty())
        return false;
    const DirHandle proc(::opendir("/proc"));
    bool served = false;
    while (proc) {
        const dirent* e = ::readdir(proc.get());
        if (!e)
            break;
        if (!std::isdigit(static_cast<unsigned char>(e->d_name[0])))
            continue;
        const std::string dir = std::string("/proc/") + e->d_name;
        if (procFile(dir + "/comm") != "sshfs\n")
            continue;
        std::vector<std::string> argv;
        const std::string line = procFile(dir + "/cmdline");
        for (size_t at = 0; at < line.size();) {
            const size_t end = std::min(line.find('\0', at), line.size());
            argv.emplace_back(line, at, end - at);
            at = end + 1;
        }
        if (std::find(argv.begin(), argv.end(), source) == argv.end())
            continue;
        if (!looksUpEveryName(argv))
            return false;
        served = true;
    }
    return served;
}

}  // namespace

bool twoCores()
{
    static const bool two = std::thread::hardware_concurrency() >= 2;
    return two;
}

bool looksUpEveryName(const std::vector<std::string>& argv)
{
    std::string_view timeout;
    for (size_t i = 1; i < argv.size(); ++i) {
        std::string_view options = argv[i];
        if (options == "-o" && i + 1 < argv.size())
            options = argv[++i];
        else if (options.starts_with("-o"))
            options.remove_prefix(2);
        else
            continue;
        while (!options.empty()) {
            const size_t comma = std::min(options.find(','), options.size());
            const std::string_view option = options.substr(0, comma);
            if (option.starts_with("entry_timeout="))
                timeout = option.substr(14);
            options.remove_prefix(std::min(comma + 1, options.size()));
        }
    }
    const std::string value(timeout);
    char* end = nullptr;
    const double seconds = std::strtod(value.c_str(), &end);
    return !value.empty() && *end == 0 && seconds == 0;
}

// Threads looking at entries at once: two on a local disk (one where the
// machine has one core): a listing of a million entries took 0.73-0.77 of
// the time of one thread's loop of the same calls. Sixteen where calls wait on the network (NFS,
// SMB/CIFS, FUSE such as sshfs and gvfs, Ceph, 9p, AFS); more gave no more
// on a share that answers each call in half a millisecond.
// Where each call is a round trip (but on FUSE) a thread takes one entry at
// a time, so that none sits idle at the end of a batch while others still
// hold several calls' worth of entries (reasoned from the pool, not timed).
LookPlan lookPlanFor(long fsType, bool twoCores, bool freshLookups)
{
    LookPlan plan;
    plan.threads = twoCores ? 2 : 1;
    switch (fsType) {
    case fstype::kFuse:
        // The folder's lock lets one uncached lookup through at a time: a
        // first look at 20,000 entries took 1.05-1.06 of the floor's time
        // with one entry to a thread, 1.01-1.03 with sixteen.
        plan.threads = 16;
        plan.chunk = 16;
        plan.mayGoAlone = true;
        // Where every name is looked up afresh, the lookup in the statx's
        // own path walk has just brought the attributes from the server:
        // taken as they are, a second look at 20,000 entries sent 60,6xx
        // requests instead of 120,6xx. Where the kernel keeps names for a
        // while, it may keep them longer than their attributes (an entry
        // timeout longer than the attribute timeout, or attributes dropped
        // after a write through the mount), and the kept attributes would
        // be older than the server's; there the attributes' own timeout
        // decides, and while it holds (the lookup's attributes are fresh)
        // the statx asks nothing more.
        if (freshLookups)
            plan.statxFlags |= AT_STATX_DONT_SYNC;
        break;
    case fstype::kNfs:
    case fstype::kCifs:
    case fstype::kSmb2:
    case fstype::kSmb:
    case fstype::kCeph:
    case fstype::k9p:
    case fstype::kAfs:
        // Never AT_STATX_DONT_SYNC: these clients would then answer from
        // attributes that may be stale.
        plan.threads = 16;
        plan.chunk = 1;
        break;
    default:
        break;
    }
    return plan;
}

LookPlan lookPlan(int fd)
{
    struct statfs fs;
    if (::fstatfs(fd, &fs) != 0)
        return lookPlanFor(0, twoCores(), false);
    const long type = long(fs.f_type);
    return lookPlanFor(type, twoCores(), type == fstype::kFuse && mountLooksUpEveryName(fd));
}

bool AloneOrPool::nextAlone(size_t& size, LookClock::time_point now)
{
    if (!may_)
        return false;
    const bool trial = nsPerEntry_[kAlone] == 0 ||
                       now - lastTrial_ >= (clearWin_ ? kRetryAfterClearWin : kRetryAfter);
    if (!trial)
        return alone_;
    lastTrial_ = now;
    if (!alone_)
        size = std::min(size, kAloneTrial);
    return !alone_;
}

void AloneOrPool::took(bool alone, int64_t ns, size_t count)
{
    if (!may_ || count == 0)
        return;
    nsPerEntry_[alone ? kAlone : kPool] = double(ns) / double(count);
    const double a = nsPerEntry_[kAlone], p = nsPerEntry_[kPool];
    if (a > 0 && p > 0) {
        alone_ = a < kAloneMargin * p;
        clearWin_ = a > 2 * p || p > 2 * a;
    }
}

LookBatches::LookBatches(size_t count, bool mayGoAlone) : count_(count), way_(mayGoAlone)
{
    batch_.size = std::min(count, kMinBatch);
}

LookBatch LookBatches::next(int64_t ns, LookClock::time_point now)
{
    const size_t size = batch_.size;
    way_.took(batch_.alone, ns, size);
    if (sized_)
        wanted_ = std::clamp(ns < kBatchNs / 2 ? size * 2 : ns > kBatchNs * 2 ? size / 2 : size,
                             kMinBatch, kMaxBatch);
    LookBatch next;
    next.first = batch_.first + size;
    next.size = std::min(wanted_, count_ - next.first);
    const size_t uncut = next.size;
    next.alone = way_.nextAlone(next.size, now);
    sized_ = next.size == uncut;  // a trial's few entries say nothing of the size
    batch_ = next;
    return next;
}

}  // namespace vemlo::fs
