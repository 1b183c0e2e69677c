// What went wrong in the workbook engine, as a code and the numbers and
// names that go with it. The engine has no words: the windows' text for a
// fault is sheetFaultText (common/errtext.h).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace vemlo::sheet {

struct Fault {
    enum class Kind {
        None,
        // A call the object model refuses.
        CellOutside,  // (row, column) lies beyond the worksheet
        RangeAcrossSheets,
        ChartType,  // number: the type asked for
        PlotBy,     // number
        SourceElsewhere,
        SourceEmpty,
        ChartLocation,  // number
        NoSuchSheet,    // name
        NoWorksheet,    // number: the index asked for
        NoChart,        // number
        NoWorkbook,     // number
        NoOpenWorkbook,
        NoActiveChart,
        TooManyFormats,
        // Writing a file; name may hold the writing library's own text.
        WorkbookNotMade,
        FormatNotMade,
        ChartNotMade,
        SeriesNotMade,
        ChartNotInserted,  // name: the library's text
        ColumnWidth,       // name: the library's text
        BadSheetName,      // name
        ScratchFile,       // err
        CellTooLong,       // (row, column)
        CellNotWritten,    // (row, column), name: the library's text
        Stopped,           // err ECANCELED
        NotClosed,         // err, or else name: the library's text
        // A written file read back.
        EmptyFile,
        NoDirectory,
        DirectoryIncomplete,
        MemberMethod,    // name: the member
        MemberPosition,  // name
        MemberData,      // name
        MemberContent,   // name
        CellCount,       // number: the worksheet, expected and found its cells
        MissingSheet,    // number
        // The sums of a column of sizes.
        NotAnInteger,  // name: the text
        SumTooLarge,   // name: the format whose total overflows
    };
    Kind kind = Kind::None;
    int err = 0;       // errno of a failed call, where there is one
    std::string name{};  // as bytes: a member's name and a table's text may not be UTF-8
    int64_t row = 0, column = 0, number = 0;
    uint64_t expected = 0, found = 0;
    explicit operator bool() const { return kind != Kind::None; }
};

// A failed engine call. The fault is the whole story; what() only names the
// kind of exception.
class SheetError : public std::exception {
public:
    explicit SheetError(Fault fault) : fault_(std::move(fault)) {}
    const Fault& fault() const { return fault_; }
    int err() const { return fault_.err; }
    const char* what() const noexcept override { return "vemlo::sheet::SheetError"; }

private:
    Fault fault_;
};

}  // namespace vemlo::sheet
