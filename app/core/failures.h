// Entries a command could not handle, for the report at its end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vemlo {

// Why a typed text cannot name an entry strictly inside the working folder
// (a keyword folder, a numbered name's base).
enum class NameProblem {
    None,
    NulByte,   // holds a NUL byte
    Slash,     // holds "/": a name of one part would leave the folder
    Absolute,  // starts with "/"
    DotPart,   // one of its parts is "." or ".."
    DotName,   // is "." or ".."
};

// Why one entry was left as it was.
struct Failure {
    enum class Kind {
        Io,                    // a call failed with err
        Attributes,            // setting the attributes failed with err
        IntoItself,            // a folder cannot move into itself
        KeywordFolderIsLink,   // the keyword folder is a symbolic link
        KeywordFolderBehindLink,  // the keyword folder lies behind the link at link
        KeywordFolderIsFile,   // what is at link, the keyword folder or a folder
                               // on its way, is no folder
        KeywordFolderNotMade,  // the keyword folder could not be made: err
        WorkingFolderNotOpened,  // the working folder could not be opened: err
        // Taking a batch back:
        NameTaken,       // the old name is taken by another entry
        Gone,            // the entry was moved, removed or replaced since
        AttribsChanged,  // the entry's attributes were changed since
        FolderGone,      // name is a folder moved or removed since: nothing in it is touched
        NotSynced,       // what changed could not be written to the disk: err
    };
    std::string name;  // bytes of the entry's name
    Kind kind = Kind::Io;
    int err = 0;
    std::string folder;  // the keyword folder, for the keyword kinds
    std::string link;    // what is in the keyword folder's way: a link, a file
    std::string newName;  // bytes of the name an entry was to get, when it had one
};

// How many entries failed, and the first ten of them with their reasons.
class FailureList {
public:
    static constexpr int kListed = 10;

    void add(Failure failure);
    int count() const { return count_; }
    bool empty() const { return count_ == 0; }
    const std::vector<Failure>& listed() const { return listed_; }

private:
    int count_ = 0;
    std::vector<Failure> listed_;
};

}  // namespace vemlo
