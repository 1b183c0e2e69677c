#include "platform/paths.h"

namespace vemlo::fs {

std::string joinPath(std::string_view folder, std::string_view name)
{
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path.append(folder).append(1, '/').append(name);
    return path;
}

std::string childPath(std::string_view folder, std::string_view name)
{
    return folder == "/" ? std::string("/").append(name) : joinPath(folder, name);
}

std::string_view lastPart(std::string_view path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string parentOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return ".";
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string_view PathComponents::next()
{
    while (pos_ < path_.size()) {
        size_t end = path_.find('/', pos_);
        if (end == std::string_view::npos)
            end = path_.size();
        const std::string_view c = path_.substr(pos_, end - pos_);
        pos_ = end + 1;
        if (!c.empty() && c != ".")
            return c;
    }
    return {};
}

bool isWithin(std::string_view inner, std::string_view outer)
{
    const bool innerAbsolute = !inner.empty() && inner.front() == '/';
    const bool outerAbsolute = !outer.empty() && outer.front() == '/';
    if (innerAbsolute != outerAbsolute)
        return false;
    PathComponents in(inner), out(outer);
    for (;;) {
        const std::string_view o = out.next();
        if (o.empty())
            return true;
        if (in.next() != o)
            return false;
    }
}

}  // namespace vemlo::fs
