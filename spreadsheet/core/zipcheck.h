// A check of a written workbook file before it is put in place: the writing
// library does not notice every failed write of its scratch files, so what
// it wrote is read back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "spreadsheet/core/sheetfault.h"

namespace vemlo::sheet {

// What a reader found in one member of a file it followed while the file
// was being written.
struct FollowedMember {
    std::string name;
    uint64_t dataStart = 0;
    uint64_t packed = 0;  // compressed bytes, up to the end of the stream
    uint32_t crc = 0;
    uint64_t size = 0;
    uint64_t cells = 0;
    bool rootClosed = false;
};

// Reads a zip file on a thread of its own while another writes it, member
// after member, inflating each as its bytes arrive; the second core does
// the reading while the first is still compressing. What it reads is the
// file as it lies on the descriptor, so its findings stand for those bytes.
// It stops at the first thing it does not follow (an unknown method, a data
// descriptor, the central directory); the members it did not finish are
// left to workbookFileFault. Where no thread can be had it follows nothing
// and finish() returns no member.
class ZipFollower {
public:
    explicit ZipFollower(int fd);
    // Without finish() first (the write failed), stops at once.
    ~ZipFollower();
    ZipFollower(const ZipFollower&) = delete;
    ZipFollower& operator=(const ZipFollower&) = delete;

    // The writer is done: reads what is left, ends the thread and returns the
    // members it read whole.
    std::vector<FollowedMember> finish();
    // False when it had no thread to read on.
    bool following() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The first fault found in data, a whole .xlsx file (Kind::None when there
// is none). minizip reads the zip directory and inflates every member,
// checking its size and checksum; ours are the checks that every XML member
// ends with the closing tag of its root element and that worksheet n
// (xl/worksheets/sheet<n>.xml) holds exactly sheetCells[n - 1] cells. A
// member that followed holds at the very place the directory gives it (same
// name, same start of its data, same compressed length) is taken as the
// follower read it, without inflating it again.
Fault workbookFileFault(std::string_view data, const std::vector<uint64_t>& sheetCells,
                        const std::vector<FollowedMember>& followed = {});

}  // namespace vemlo::sheet
