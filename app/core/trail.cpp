#include "app/core/trail.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "app/core/batch.h"
#include "platform/fileops.h"
#include "platform/handles.h"
#include "platform/paths.h"
#include "platform/progress.h"

namespace vemlo {

uint32_t BatchTrail::folder(const std::string& path)
{
    if (lastFolder_ < folders_.size() && folders_[lastFolder_].path == path)
        return lastFolder_;
    const auto known = std::find_if(folders_.begin() + ptrdiff_t(searchFrom_), folders_.end(),
                                    [&](const fs::FolderIdentity& f) { return f.path == path; });
    if (known != folders_.end())
        return lastFolder_ = uint32_t(known - folders_.begin());
    folders_.push_back(fs::identifyFolder(path));
    return lastFolder_ = uint32_t(folders_.size() - 1);
}

void BatchTrail::madeFolder(const std::string& path)
{
    folder(fs::parentOf(path));  // its parent's names changed too
    made_.push_back({steps_.size(), folder(path)});
}

void BatchTrail::moved(uint32_t from, std::string_view oldName, uint32_t to,
                       std::string_view newName, const struct stat& st, uint64_t birth)
{
    Step s;
    s.key = fs::entryKey(st, birth, folders_[from].stable);
    s.from = from;
    s.to = to;
    s.names = uint32_t(names_.size());
    s.oldLen = uint16_t(oldName.size());
    names_ += oldName;
    if (newName == oldName) {
        s.newLen = kSameName;
    } else {
        s.newLen = uint16_t(newName.size());
        names_ += newName;
    }
    steps_.push_back(s);
}

void BatchTrail::changed(uint32_t folder, std::string_view name, const fs::AttribChange& change)
{
    moved(folder, name, folder, name, change.entry, change.birth);
    AttribStep a;
    a.after = change.after;
    a.records = uint32_t(records_.size());
    a.recordsLen = uint32_t(change.before.records.size());
    a.mode = change.before.mode;
    records_ += change.before.records;
    attribs_.push_back(a);
}

fs::Status BatchTrail::sync(const std::vector<bool>& which) const
{
    fs::Status first;
    std::vector<dev_t> synced;
    for (size_t i = 0; i < folders_.size(); ++i) {
        const fs::FolderIdentity& f = folders_[i];
        fs::Status s;
        if (!f.known || (!which.empty() && !which[i]))
            continue;
        if (kind_ != Kind::Attributes) {
            s = fs::syncFolder(f.path);
        } else if (std::find(synced.begin(), synced.end(), f.device) == synced.end()) {
            synced.push_back(f.device);
            s = fs::syncFileSystemOf(f.path);
        }
        if (!s && first)
            first = s;
    }
    return first;
}

void BatchTrail::finish()
{
    steps_.shrink_to_fit();
    attribs_.shrink_to_fit();
    names_.shrink_to_fit();
    records_.shrink_to_fit();
}

size_t BatchTrail::bytes() const
{
    size_t n = sizeof *this + steps_.capacity() * sizeof(Step) +
               attribs_.capacity() * sizeof(AttribStep) + names_.capacity() +
               records_.capacity() + made_.capacity() * sizeof(Made);
    for (const fs::FolderIdentity& f : folders_)
        n += sizeof f + f.path.capacity();
    return n;
}

void BatchTrail::truncate(size_t n)
{
    if (n >= steps_.size())
        return;
    names_.resize(steps_[n].names);
    steps_.resize(n);
    if (kind_ == Kind::Attributes) {
        records_.resize(attribs_[n].records);
        attribs_.resize(n);
    }
}

namespace {

void skipped(BatchOutcome& outcome, std::string_view name, Failure::Kind kind, int err = 0,
             std::string_view newName = {})
{
    Failure f;
    f.name = name;
    f.kind = kind;
    f.err = err;
    f.newName = newName;
    outcome.failures.add(std::move(f));
}

}  // namespace

void settle(BatchTrail& trail, FailureList& failures)
{
    if (const fs::Status synced = trail.sync(); !synced) {
        Failure f;
        f.kind = Failure::Kind::NotSynced;
        f.err = synced.err;
        failures.add(std::move(f));
    }
    trail.finish();
}

BatchOutcome undoBatch(BatchTrail& trail, Progress* watcher)
{
    Progress& progress = watched(watcher);
    BatchOutcome outcome;
    using Step = BatchTrail::Step;
    const bool attributes = trail.kind_ == BatchTrail::Kind::Attributes;
    // Each folder is looked at once: still the one the batch found, or not
    // (moved, removed, a share no longer mounted), when it is first needed.
    std::vector<fs::FileDescriptor> fds(trail.folders_.size());
    std::vector<int> state(trail.folders_.size(), 0);  // 0 not looked at, 1 there, -1 gone
    std::vector<fs::FolderStore> stores(attributes ? trail.folders_.size() : 0);
    auto open = [&](uint32_t i) {
        if (state[i] == 0) {
            int fd = -1;
            const fs::Status s = fs::reopenFolder(trail.folders_[i], fd);
            fds[i] = fs::FileDescriptor(fd);
            state[i] = s ? 1 : -1;
            if (!s)
                skipped(outcome, trail.folders_[i].path, Failure::Kind::FolderGone, s.err);
            else if (attributes)
                stores[i] = fs::folderStoreOfPath(trail.folders_[i].path);
        }
        return state[i] > 0;
    };

    // A folder the batch made goes, once empty again (never what it holds),
    // when the entries moved after it was made are back: before the entry
    // that was moved before it (which may need its name) is taken back. One
    // that is no longer the batch's stays.
    std::vector<uint32_t> parents;  // of the folders removed
    auto removeMade = [&](int64_t above) {
        while (!trail.made_.empty() && int64_t(trail.made_.back().steps) > above) {
            const uint32_t m = trail.made_.back().folder;
            trail.made_.pop_back();
            int fd = -1;
            const std::string made = trail.folders_[m].path;
            if (!fs::reopenFolder(trail.folders_[m], fd))
                continue;
            ::close(fd);
            if (::rmdir(made.c_str()) == 0) {
                // Gone with the batch's consent, under each number it had:
                // nothing to sync there.
                const fs::FolderIdentity gone = trail.folders_[m];
                state.resize(trail.folders_.size());
                for (size_t f = 0; f < state.size(); ++f)
                    if (trail.folders_[f].device == gone.device && trail.folders_[f].inode == gone.inode)
                        state[f] = -2;
                parents.push_back(trail.folder(fs::parentOf(made)));
            }
        }
    };

    fs::NoReplaceMoves moves;
    std::string path;
    const size_t count = trail.steps_.size();
    progress.begin(int64_t(count));
    size_t i = count;
    for (; i-- > 0;) {
        const Step& s = trail.steps_[i];
        const std::string_view oldName = trail.oldName(s), newName = trail.newName(s);
        if (!progress.step(int64_t(count - 1 - i), newName)) {
            outcome.left = int(i + 1);
            break;
        }
        removeMade(int64_t(i));
        if (!open(s.from) || (s.to != s.from && !open(s.to)))
            continue;  // told once for the folder
        const std::string newZ(newName), oldZ(oldName);
        // Asked of the server on a share, whose cache may still hold an
        // entry replaced since.
        struct stat st;
        uint64_t birth = 0;
        if (!fs::lookAtEntry(fds[s.to].get(), newZ.c_str(), st, birth, true) ||
            fs::entryKey(st, birth, trail.folders_[s.to].stable) != s.key) {
            skipped(outcome, newName, Failure::Kind::Gone);
            continue;
        }
        if (attributes) {
            const BatchTrail::AttribStep& a = trail.attribs_[i];
            fs::AttribChange change;
            change.before.mode = a.mode;
            change.before.records = trail.records_.substr(a.records, a.recordsLen);
            change.after = a.after;
            path = fs::joinPath(trail.folders_[s.to].path, newName);
            if (const fs::Status r = fs::restoreAttributes(path, stores[s.to], change); r)
                ++outcome.done;
            else if (r.err == ESTALE)
                skipped(outcome, newName, Failure::Kind::AttribsChanged);
            else
                skipped(outcome, newName, Failure::Kind::Attributes, r.err);
            continue;
        }
        const fs::Status r =
            moves.move(fds[s.to].get(), newZ.c_str(), fds[s.from].get(), oldZ.c_str(),
                       S_ISDIR(st.st_mode) ? fs::EntryKind::Folder : fs::EntryKind::File);
        if (r)
            ++outcome.done;
        else if (r.err == EEXIST || r.err == ENOTEMPTY)
            skipped(outcome, newName, Failure::Kind::NameTaken, 0, oldName);
        else
            skipped(outcome, newName, Failure::Kind::Io, r.err, oldName);
    }
    const bool stopped = outcome.left > 0;
    trail.truncate(stopped ? size_t(outcome.left) : 0);
    if (!stopped)
        removeMade(-1);
    state.resize(trail.folders_.size());  // the parents named since: not looked at
    std::vector<bool> touched(trail.folders_.size());
    for (size_t f = 0; f < state.size(); ++f)
        touched[f] = state[f] > 0;
    for (const uint32_t p : parents)
        touched[p] = state[p] != -2;
    if (const fs::Status synced = trail.sync(touched); !synced)
        skipped(outcome, {}, Failure::Kind::NotSynced, synced.err);
    return outcome;
}

}  // namespace vemlo
