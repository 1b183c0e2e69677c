// Enumerating one folder on raw byte names, with the data the file table shows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "platform/attrib.h"
#include "platform/dosattrib.h"
#include "platform/progress.h"
#include "platform/status.h"

namespace vemlo::fs {

struct EntryInfo {
    std::string_view name;
    int64_t size = 0;        // bytes; 0 for folders
    int64_t modified = 0;    // seconds since the epoch
    int64_t created = 0;     // birth time where recorded, else status change
    uint32_t attrib = 0;
    bool isFolder = false;
};

// What a listing could not read. Entries that vanished between the folder's
// enumeration and the look at their data are not counted: they no longer
// exist, so the listing leaves out nothing that is there.
struct ListingGaps {
    // Entries that exist but whose data could not be read, by errno, in the
    // order the reasons were first met.
    std::vector<std::pair<int, size_t>> unreadable;
    // errno of an enumeration that stopped part-way (0 when it ran to its end).
    int readError = 0;
    // Set by the sink to end the listing after the entry in hand: what was
    // listed is then only part of the folder.
    bool stopped = false;

    void add(int err);
    size_t unreadableCount() const;
    bool empty() const { return unreadable.empty() && readError == 0; }
};

// Calls sink once per entry of folder, in name order (nameLess), skipping
// only "." and "..", and tells progress their number once the names are
// read. Symbolic links are described, not followed.
// Fails (with nothing passed to sink) when the folder cannot be opened; what
// could not be read after that is told in gaps. The sink may end the listing
// by setting gaps.stopped; a stop asked through progress while the names are
// read and sorted ends it with gaps.stopped set and nothing passed to sink.
Status listFolder(const std::string& folder,
                  const std::function<void(const EntryInfo&)>& sink, ListingGaps& gaps,
                  Progress* progress = nullptr);

// The order of a folder's entries, as the Windows file systems keep it: by
// name, ASCII letters compared as capitals, then by bytes ("a_b" after "ab",
// "Read.me" before "read.me").
inline bool nameLess(std::string_view a, std::string_view b)
{
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        unsigned x = static_cast<unsigned char>(a[i]);
        unsigned y = static_cast<unsigned char>(b[i]);
        if (x == y)
            continue;
        x -= x - 'a' < 26u ? 32 : 0;
        y -= y - 'a' < 26u ? 32 : 0;
        if (x != y)
            return x < y;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// The creation time shown for an entry: its birth time where the file system
// records one, else the time of its last status change. A birth time of
// exactly 0 is what some file systems report when they keep none.
int64_t createdSeconds(const struct statx& sx);

// The visible subfolders of the current directory, in name order (nameLess).
// Left out: names starting with ".", and folders whose stored attribute marks
// them hidden or system. Links to folders are kept.
// A stop asked through progress fails it with ECANCELED and no names.
Status readSubfolders(std::vector<std::string>& names, Progress* progress = nullptr);

}  // namespace vemlo::fs
