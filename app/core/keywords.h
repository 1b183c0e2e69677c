// Keyword matching against the file table: the filter that thins the table
// and the organize pass that moves entries into keyword-named folders.
#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/core/failures.h"
#include "app/core/filetable.h"
#include "app/core/trail.h"
#include "platform/progress.h"

namespace vemlo {

// True when keyword occurs in cell as a contiguous, case-sensitive run of
// bytes. The empty keyword matches nothing.
bool keywordMatches(std::string_view cell, std::string_view keyword);

// A keyword list in list order, ready to be tried against many cells: one
// pass over a cell tries every keyword at once.
class KeywordSet {
public:
    // Refers to the texts of keywords, which must outlive the set.
    explicit KeywordSet(const std::vector<std::string>& keywords);
    // True when any keyword matches cell.
    bool anyMatch(std::string_view cell) const { return scan(cell, true) >= 0; }
    // Position in the list of the last keyword that matches cell, or -1.
    int lastMatch(std::string_view cell) const { return scan(cell, false); }

private:
    int scan(std::string_view cell, bool anyHit) const;
    int tryAt(const unsigned char* p, size_t n, size_t i, int best) const;

    struct Needle {
        std::string_view text;
        int position;
    };
    // Non-empty keywords without repeats, grouped by their first byte, the
    // later in list order first within a group.
    std::vector<Needle> needles_;
    std::array<uint32_t, 257> group_{};  // needles_[group_[b], group_[b + 1]) start with b
    std::array<bool, 256> starts_{};     // some keyword starts with this byte
    std::vector<unsigned char> firstBytes_;  // each such byte
    // Up to this many different first bytes the scan compares whole blocks.
    static constexpr size_t kVectorFirstBytes = 6;
    size_t shortest_ = 0;
    int lastPosition_ = -1;  // the latest keyword: nothing beats it
};

// The data rows whose cell in column col matches none of keywords, in
// order, into drop. No keywords: every data row. Reads only rows, so it may
// run on a worker over a snapshot of the table. Stopped through progress,
// it leaves drop incomplete.
void rowsFilteredOut(const RowStore& rows, int col, const std::vector<std::string>& keywords,
                     std::vector<int>& drop, Progress* progress = nullptr);

// Marks every data row whose cell in column col matches none of keywords,
// then drops the marked rows. A stop asked through progress leaves the table
// as it was.
void filterTable(FileTable& table, int col, const std::vector<std::string>& keywords,
                 Progress* progress = nullptr);

// Why keyword cannot name a folder strictly inside the working folder (an
// absolute path, a "." or ".." component, a NUL byte), or None when it can.
// The empty keyword matches nothing and is never used, so it passes.
NameProblem keywordFolderProblem(std::string_view keyword);

struct OrganizeResult {
    enum class Stop {
        None,
        NoWorkingFolder,     // the working folder was empty
        CannotCreateFolder,  // relative working folder whose first folder is missing
    };
    Stop stop = Stop::None;
    int moved = 0;
    std::vector<int> movedRows;  // the rows of the moved entries, in order
    FailureList notMoved;  // by the names in column 1
    // Matching entries not tried because the pass was stopped (its
    // watcher tells whether it was).
    int left = 0;
    // What it changed, to be taken back.
    BatchTrail trail{BatchTrail::Kind::Organize};
};

// Moves the entry of every data row whose cell in column col matches a
// keyword into working folder + "/" + the last matching keyword, creating
// that folder with its parents when missing. The keyword folder must be a
// real folder inside the working folder: an entry whose keyword folder is a
// symbolic link, or lies behind one, stays. A moved row is told in
// movedRows; a row whose entry stays is counted with a reason.
// Stops at the first matching row when the working folder is empty or
// cannot be made, where result.stop says why, with the rows before it
// handled. Does not compact the table. Keywords must have passed
// keywordFolderProblem. A stop asked through progress ends the pass before
// the next matching row. Reads only rows (marked rows are passed over), so
// it may run on a worker over a snapshot of the table.
OrganizeResult organizeRows(const RowStore& rows, int col, const std::vector<std::string>& keywords,
                            const std::string& workingFolder, Progress* progress = nullptr);

// organizeRows on the table, the moved rows given the removal mark.
OrganizeResult organizeTable(FileTable& table, int col, const std::vector<std::string>& keywords,
                             const std::string& workingFolder, Progress* progress = nullptr);

}  // namespace vemlo
