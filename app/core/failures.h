// Entries a command could not handle, for the report at its end.
#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

namespace vemlo {

// How many entries failed, and for the first ten of them the name and the
// reason in Chinese.
class FailureList {
public:
    static constexpr int kListed = 10;
    struct Failure {
        std::string name;    // bytes of the entry's name
        std::string reason;  // UTF-8
    };

    void add(std::string_view name, std::string reason);
    int count() const { return count_; }
    bool empty() const { return count_ == 0; }
    const std::vector<Failure>& listed() const { return listed_; }

    // One "name：reason" line per listed entry, then a line for the rest.
    QString lines() const;

private:
    int count_ = 0;
    std::vector<Failure> listed_;
};

}  // namespace vemlo
