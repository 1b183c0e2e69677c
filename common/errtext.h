// What a failure means in words: the one table from errno values to the
// reasons the windows show, and the texts built on it.
#pragma once

#include <QString>

#include <string>

#include "platform/listing.h"
#include "spreadsheet/core/sheetfault.h"

namespace vemlo {

// A short reason in Chinese for an errno value met while listing, moving,
// renaming, changing attributes or saving: 目标已存在, 权限不足, 文件系统为只读,
// ... or the system's own text for the rare rest.
std::string reasonText(int err);

// The reason for a failed change of attributes: a link is left alone, and
// some entries cannot keep the stored bits.
std::string attribFailureText(int err);

// What the error display says about a folder of the folder tree that cannot
// be entered (these texts stay in English).
std::string folderErrorText(int err);

// The message about a listing's gaps, with the folder as the user named it:
// how many entries could not be read and why, and whether the enumeration
// stopped early. Empty when nothing is missing.
QString listingGapsText(const QString& folder, const fs::ListingGaps& gaps);

// A fault of the workbook engine, a check of a written workbook or the sums
// of sizes, in words (without the reason of its errno).
std::string sheetFaultText(const sheet::Fault& fault);

// The text of a failure a handler throws: an engine's fault in words,
// any other exception's what().
std::string failureText(const std::exception& e);

// How a save of a workbook ended.
struct SaveOutcome {
    enum class Stage {
        Done,
        File,           // making, writing through or placing the file failed
        ScratchFolder,  // the private folder for the engine's scratch files
        Write,          // the engine failed to write the file
        Incomplete,     // the file read back is not what was written
        Stopped,        // the watcher stopped it: no file was placed
    };
    Stage stage = Stage::Done;
    int err = 0;                // errno of the failed call, where there is one
    sheet::Fault fault;         // the engine's fault, or what the check found
    std::string scratchParent;  // where the scratch folder goes
    bool ok() const { return stage == Stage::Done; }
};

// "无法保存“path”：" and the reason of a failed save.
QString saveFailureText(const std::string& path, const SaveOutcome& outcome);

}  // namespace vemlo
