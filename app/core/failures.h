// Entries a command could not handle, for the report at its end.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vemlo {

// Why one entry was left as it was.
struct Failure {
    enum class Kind {
        Io,                    // a call failed with err
        Attributes,            // setting the attributes failed with err
        IntoItself,            // a folder cannot move into itself
        KeywordFolderIsLink,   // the keyword folder is a symbolic link
        KeywordFolderBehindLink,  // the keyword folder lies behind the link at link
        KeywordFolderNotMade,  // the keyword folder could not be made: err
        WorkingFolderNotOpened,  // the working folder could not be opened: err
    };
    std::string name;  // bytes of the entry's name
    Kind kind = Kind::Io;
    int err = 0;
    std::string folder;  // the keyword folder, for the keyword kinds
    std::string link;    // the link the keyword folder lies behind
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
