// What a batch changed, kept for the rest of the run so that 撤销 can take
// it back: the entries it moved, renamed or gave new attributes, and the
// keyword folders it made.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

#include "platform/attrib.h"
#include "platform/identity.h"
#include "platform/status.h"

namespace vemlo {

class Progress;
struct BatchOutcome;

class BatchTrail {
public:
    enum class Kind { Rename, Organize, Attributes };
    explicit BatchTrail(Kind kind = Kind::Rename) : kind_(kind) {}

    Kind kind() const { return kind_; }
    // The entries the batch changed (and not yet taken back).
    size_t size() const { return steps_.size(); }
    // Nothing to take back: no entry changed, no folder made.
    bool empty() const { return steps_.empty() && made_.empty(); }

    // The folder at path, looked at the first time it is named: its number
    // for moved() and changed().
    uint32_t folder(const std::string& path);
    // The folder at path was made by the batch (its parent first): the
    // undo removes it when it is empty again, once it has taken back the
    // entries moved after it was made.
    void madeFolder(const std::string& path);
    // The folders named so far may have moved (a moved folder took them
    // along): a path named from now on is looked at anew.
    void forgetFolders()
    {
        lastFolder_ = UINT32_MAX;
        searchFrom_ = folders_.size();
    }
    // An entry, whose look was st and birth (fs::lookAtEntry), went from
    // oldName in folder from to newName in folder to.
    void moved(uint32_t from, std::string_view oldName, uint32_t to, std::string_view newName,
               const struct stat& st, uint64_t birth);
    // The attributes of the entry name in folder were changed as change says.
    void changed(uint32_t folder, std::string_view name, const fs::AttribChange& change);

    // Writes what the batch changed through to the disk: each folder it
    // touched for moves (those marked in which, when given), the file
    // system for attributes. The first failure.
    fs::Status sync(const std::vector<bool>& which = {}) const;
    // Gives back the spare room of its storage, once the batch has ended.
    void finish();
    // The bytes it holds.
    size_t bytes() const;

private:
    friend BatchOutcome undoBatch(BatchTrail& trail, Progress* progress);

    struct Step {
        uint64_t key;        // the entry's identity (fs::entryKey)
        uint32_t from, to;   // folders_
        uint32_t names;      // old name, then the new name, in names_
        uint16_t oldLen, newLen;  // kSameName: the new name is the old one
    };
    struct AttribStep {
        uint64_t after;    // fingerprint of the state the change left
        uint32_t records;  // the records before, in records_
        uint32_t recordsLen;
        uint32_t mode;     // the mode before
    };
    static constexpr uint16_t kSameName = 0xffff;
    std::string_view oldName(const Step& s) const { return {names_.data() + s.names, s.oldLen}; }
    std::string_view newName(const Step& s) const
    {
        return s.newLen == kSameName ? oldName(s)
                                     : std::string_view(names_.data() + s.names + s.oldLen, s.newLen);
    }
    // Drops the steps from n on, and the names and records only they used.
    void truncate(size_t n);

    Kind kind_;
    std::vector<fs::FolderIdentity> folders_;
    struct Made {
        size_t steps;     // the entries recorded before it was made
        uint32_t folder;  // in folders_
    };
    std::vector<Made> made_;  // the folders the batch made, in the order made
    std::vector<Step> steps_;
    std::vector<AttribStep> attribs_;  // for Attributes, one per step
    std::string names_;
    std::string records_;
    uint32_t lastFolder_ = UINT32_MAX;
    size_t searchFrom_ = 0;  // folders_ before it are not found by their path
};

class FailureList;
// At the end of a batch: what it changed written to the disk (a failure
// to do so told in failures), its storage trimmed.
void settle(BatchTrail& trail, FailureList& failures);

// Takes back what trail holds, newest first, each entry only when it is
// still the one the batch left and its old place is free; a folder the
// batch made goes once it is empty again; then what it changed is written
// to the disk. What it took back, or found changed, leaves the trail; a
// stop leaves the entries not yet tried in it.
BatchOutcome undoBatch(BatchTrail& trail, Progress* progress = nullptr);

}  // namespace vemlo
