// Paths as byte strings, judged on their text alone: nothing here looks at
// the disk.
#pragma once

#include <string>
#include <string_view>

namespace vemlo::fs {

// folder + "/" + name, verbatim: the folder "/" gives "//name".
std::string joinPath(std::string_view folder, std::string_view name);

// The path of the folder entry name inside folder, as a tree of folders
// shows it: "/name" under the root, folder + "/" + name elsewhere.
std::string childPath(std::string_view folder, std::string_view name);

// The text after the last "/" (the whole path when it has none).
std::string_view lastPart(std::string_view path);

// The path up to the last "/": "." when there is none, "/" for an entry of
// the root.
std::string parentOf(std::string_view path);

// The components of a path one after the other, skipping empty and "."
// ones ("//a/./b/" gives "a", "b").
class PathComponents {
public:
    explicit PathComponents(std::string_view path) : path_(path) {}
    // The next component, or an empty view at the end.
    std::string_view next();

private:
    std::string_view path_;
    size_t pos_ = 0;
};

// True when path inner names folder outer or lies below it, compared by
// whole components: repeated "/" and "." components do not count, and a
// relative path is never within an absolute one (nor the other way).
bool isWithin(std::string_view inner, std::string_view outer);

}  // namespace vemlo::fs
