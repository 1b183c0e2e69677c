#include "spreadsheet/core/zipcheck.h"

#include <unzip.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace vemlo::sheet {

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kLocalSize = 30;

uint32_t le16(std::string_view d, size_t at)
{
    return uint32_t(uint8_t(d[at])) | uint32_t(uint8_t(d[at + 1])) << 8;
}

uint32_t le32(std::string_view d, size_t at) { return le16(d, at) | le16(d, at + 2) << 16; }

bool isXmlName(std::string_view name)
{
    return name.ends_with(".xml") || name.ends_with(".rels") || name.ends_with(".vml");
}

// 1-based worksheet number of a member name, 0 for other members.
size_t worksheetNumber(std::string_view name)
{
    constexpr std::string_view prefix = "xl/worksheets/sheet";
    if (!name.starts_with(prefix) || !name.ends_with(".xml"))
        return 0;
    const std::string_view digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    size_t n = 0;
    for (char c : digits) {
        if (c < '0' || c > '9' || n > 100000)
            return 0;
        n = n * 10 + size_t(c - '0');
    }
    return n;
}

// Reads an inflated member as it streams by: its checksum and length, its
// first and last bytes, and how many cell elements ("<c ") it holds.
class MemberReader {
public:
    void add(const char* p, size_t n)
    {
        crc_ = ::crc32(crc_, reinterpret_cast<const Bytef*>(p), uInt(n));
        size_ += n;
        if (head_.size() < 1024)
            head_.append(p, std::min(n, 1024 - head_.size()));
        tail_.append(n > 256 ? p + n - 256 : p, std::min<size_t>(n, 256));
        if (tail_.size() > 256)
            tail_.erase(0, tail_.size() - 256);
        countCells(p, n);
    }
    uint32_t crc() const { return uint32_t(crc_); }
    uint64_t size() const { return size_; }
    uint64_t cells() const { return cells_; }

    // True when the text ends with the closing tag of its root element.
    bool rootClosed() const
    {
        size_t at = 0;
        auto skipSpace = [&](const std::string& s, size_t& i) {
            while (i < s.size() && std::strchr(" \t\r\n", s[i]))
                ++i;
        };
        for (;;) {
            skipSpace(head_, at);
            const char* close = head_.compare(at, 2, "<?") == 0      ? "?>"
                                : head_.compare(at, 4, "<!--") == 0 ? "-->"
                                                                     : nullptr;
            if (!close)
                break;
            at = head_.find(close, at);
            if (at == std::string::npos)
                return false;
            at += std::strlen(close);
        }
        if (at >= head_.size() || head_[at] != '<')
            return false;
        const size_t end = head_.find_first_of(" \t\r\n/>", at + 1);
        if (end == std::string::npos || end == at + 1)
            return false;
        const std::string closing = "</" + head_.substr(at + 1, end - at - 1) + ">";
        std::string_view tail = tail_;
        while (!tail.empty() && std::strchr(" \t\r\n", tail.back()))
            tail.remove_suffix(1);
        return tail.ends_with(closing);
    }

private:
    // A cell element starts with "<c "; in texts "<" is always escaped.
    void countCells(const char* p, size_t n)
    {
        size_t i = 0;
        while (i < n) {
            if (matched_ == 0) {
                const void* lt = std::memchr(p + i, '<', n - i);
                if (!lt)
                    return;
                i = size_t(static_cast<const char*>(lt) - p) + 1;
                matched_ = 1;
                continue;
            }
            const char c = p[i++];
            if (matched_ == 2 && c == ' ')
                ++cells_;
            matched_ = c == '<' ? 1 : matched_ == 1 && c == 'c' ? 2 : 0;
        }
    }

    uLong crc_ = ::crc32(0, nullptr, 0);
    uint64_t size_ = 0;
    uint64_t cells_ = 0;
    int matched_ = 0;
    std::string head_, tail_;
};

using Kind = Fault::Kind;

Fault memberFault(Kind kind, std::string_view name) { return {.kind = kind, .name = std::string(name)}; }

}  // namespace

// ---- ZipFollower

namespace {

// Takes the bytes of a zip file in order, as they arrive, and inflates its
// members one after the other.
class StreamParser {
public:
    ~StreamParser() { endMember(); }

    // False once it follows no further.
    bool feed(const char* p, size_t n)
    {
        while (n > 0 && !stopped_) {
            if (inMember_) {
                const size_t used = inflateSome(p, n);
                p += used;
                n -= used;
                offset_ += used;
            } else {
                const size_t used = takeHeader(p, n);
                p += used;
                n -= used;
                offset_ += used;
            }
        }
        return !stopped_;
    }

    std::vector<FollowedMember> members() { return std::move(members_); }

private:
    // Collects a local header; starts the member once it is whole.
    size_t takeHeader(const char* p, size_t n)
    {
        size_t used = 0;
        if (header_.size() < kLocalSize) {
            used = std::min(n, kLocalSize - header_.size());
            header_.append(p, used);
            if (header_.size() < kLocalSize)
                return used;
            if (le32(header_, 0) != kLocalSignature) {
                stopped_ = true;  // the central directory, or something not followed
                return used;
            }
        }
        const size_t need = kLocalSize + le16(header_, 26) + le16(header_, 28);
        const size_t more = std::min(n - used, need - header_.size());
        header_.append(p + used, more);
        used += more;
        if (header_.size() < need)
            return used;
        // A member compressed as followed here, without a data descriptor
        // after its data.
        const uint32_t flags = le16(header_, 6), method = le16(header_, 8);
        if ((flags & 1) || (flags & 8) || method != 8 || ::inflateInit2(&z_, -MAX_WBITS) != Z_OK) {
            stopped_ = true;
            return used;
        }
        current_ = FollowedMember{};
        current_.name = header_.substr(kLocalSize, le16(header_, 26));
        current_.dataStart = offset_ + used;
        reader_ = std::make_unique<MemberReader>();
        inMember_ = true;
        header_.clear();
        return used;
    }

    // Inflates what there is of the member's data; returns the bytes used.
    size_t inflateSome(const char* p, size_t n)
    {
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
        z_.avail_in = uInt(std::min<size_t>(n, 1u << 30));
        const size_t given = z_.avail_in;
        if (!out_)
            out_ = std::make_unique<char[]>(kOut);
        for (;;) {
            z_.next_out = reinterpret_cast<Bytef*>(out_.get());
            z_.avail_out = kOut;
            const int r = ::inflate(&z_, Z_NO_FLUSH);
            reader_->add(out_.get(), kOut - z_.avail_out);
            if (r == Z_STREAM_END) {
                const size_t used = given - z_.avail_in;
                current_.packed += used;
                current_.crc = reader_->crc();
                current_.size = reader_->size();
                current_.cells = reader_->cells();
                current_.rootClosed = reader_->rootClosed();
                members_.push_back(std::move(current_));
                endMember();
                return used;
            }
            if (r == Z_BUF_ERROR && z_.avail_in == 0)
                break;  // wants more input
            if (r != Z_OK) {
                stopped_ = true;
                endMember();
                return given - z_.avail_in;
            }
            if (z_.avail_in == 0 && z_.avail_out != 0)
                break;
        }
        current_.packed += given;
        return given;
    }

    void endMember()
    {
        if (inMember_)
            ::inflateEnd(&z_);
        inMember_ = false;
        reader_.reset();
    }

    static constexpr size_t kOut = 1 << 16;
    uint64_t offset_ = 0;  // of the next byte fed
    bool stopped_ = false;
    bool inMember_ = false;
    std::string header_;
    z_stream z_{};
    FollowedMember current_;
    std::unique_ptr<MemberReader> reader_;
    std::unique_ptr<char[]> out_;
    std::vector<FollowedMember> members_;
};

}  // namespace

struct ZipFollower::State {
    int fd;
    std::mutex lock;
    std::condition_variable wake;
    bool done = false;
    bool abandoned = false;  // the write failed: nothing more is wanted
    std::vector<FollowedMember> members;
    std::thread thread;

    void run()
    {
        // Whatever goes wrong here leaves the members to the check after the
        // write.
        try {
            follow();
        } catch (const std::exception&) {
            members.clear();
        }
    }

    void follow()
    {
        StreamParser parser;
        std::vector<char> buffer(1 << 20);
        uint64_t at = 0;
        for (;;) {
            bool writerDone;
            {
                std::lock_guard<std::mutex> hold(lock);
                if (abandoned)
                    return;
                writerDone = done;
            }
            const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), off_t(at));
            if (n > 0) {
                at += uint64_t(n);
                if (!parser.feed(buffer.data(), size_t(n)))
                    break;
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || writerDone)
                break;
            // At the end of what is written so far: wait for more.
            std::unique_lock<std::mutex> hold(lock);
            wake.wait_for(hold, std::chrono::milliseconds(2), [this] { return done; });
        }
        members = parser.members();
    }
};

ZipFollower::ZipFollower(int fd) : state_(std::make_unique<State>())
{
    state_->fd = fd;
    try {
        state_->thread = std::thread([s = state_.get()] { s->run(); });
    } catch (const std::system_error&) {
        // No thread to be had: nothing is followed, the check reads it all.
    }
}

bool ZipFollower::following() const { return state_->thread.joinable(); }

ZipFollower::~ZipFollower()
{
    if (!state_->thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->abandoned = true;
        state_->done = true;
    }
    state_->wake.notify_all();
    state_->thread.join();
}

std::vector<FollowedMember> ZipFollower::finish()
{
    if (!state_->thread.joinable())
        return {};
    {
        std::lock_guard<std::mutex> hold(state_->lock);
        state_->done = true;
    }
    state_->wake.notify_all();
    state_->thread.join();
    return std::move(state_->members);
}

namespace {

// The file in memory, as minizip's file functions see it.
struct MemoryFile {
    std::string_view data;
    uint64_t at = 0;
};

zlib_filefunc64_def memoryFunctions(MemoryFile& file)
{
    zlib_filefunc64_def f{};
    f.opaque = &file;
    f.zopen64_file = [](voidpf opaque, const void*, int) -> voidpf { return opaque; };
    f.zread_file = [](voidpf, voidpf stream, void* buf, uLong size) -> uLong {
        auto& m = *static_cast<MemoryFile*>(stream);
        const uint64_t n = m.at < m.data.size() ? std::min<uint64_t>(size, m.data.size() - m.at) : 0;
        std::memcpy(buf, m.data.data() + m.at, size_t(n));
        m.at += n;
        return uLong(n);
    };
    f.zwrite_file = [](voidpf, voidpf, const void*, uLong) -> uLong { return 0; };
    f.ztell64_file = [](voidpf, voidpf stream) -> ZPOS64_T { return static_cast<MemoryFile*>(stream)->at; };
    f.zseek64_file = [](voidpf, voidpf stream, ZPOS64_T offset, int origin) -> long {
        auto& m = *static_cast<MemoryFile*>(stream);
        const uint64_t base = origin == ZLIB_FILEFUNC_SEEK_SET ? 0
                              : origin == ZLIB_FILEFUNC_SEEK_CUR ? m.at
                                                                 : m.data.size();
        if (base + offset > m.data.size())
            return -1;
        m.at = base + offset;
        return 0;
    };
    f.zclose_file = [](voidpf, voidpf) -> int { return 0; };
    f.zerror_file = [](voidpf, voidpf) -> int { return 0; };
    return f;
}

}  // namespace

Fault workbookFileFault(std::string_view data, const std::vector<uint64_t>& sheetCells,
                        const std::vector<FollowedMember>& followed)
{
    MemoryFile file{data};
    zlib_filefunc64_def functions = memoryFunctions(file);
    std::unique_ptr<void, int (*)(unzFile)> zip(::unzOpen2_64("", &functions), ::unzClose);
    if (!zip)
        return {.kind = Kind::NoDirectory};
    std::vector<bool> sheetSeen(sheetCells.size(), false);
    auto buffer = std::make_unique<char[]>(1 << 16);
    for (int r = ::unzGoToFirstFile(zip.get()); r != UNZ_END_OF_LIST_OF_FILE; r = ::unzGoToNextFile(zip.get())) {
        unz_file_info64 info;
        char nameBytes[1024];
        if (r != UNZ_OK ||
            ::unzGetCurrentFileInfo64(zip.get(), &info, nameBytes, sizeof nameBytes, nullptr, 0, nullptr, 0) != UNZ_OK)
            return {.kind = Kind::DirectoryIncomplete};
        const std::string name(nameBytes, std::min<size_t>(info.size_filename, sizeof nameBytes - 1));
        if ((info.flag & 1) || (info.compression_method != 0 && info.compression_method != Z_DEFLATED))
            return memberFault(Kind::MemberMethod, name);
        if (::unzOpenCurrentFile(zip.get()) != UNZ_OK)
            return memberFault(Kind::MemberPosition, name);
        // Read already while the file was written, or read now.
        const uint64_t dataStart = ::unzGetCurrentFileZStreamPos64(zip.get());
        const FollowedMember* seen = nullptr;
        for (const FollowedMember& f : followed)
            if (f.dataStart == dataStart && f.packed == info.compressed_size && f.name == name &&
                info.compression_method == Z_DEFLATED)
                seen = &f;
        FollowedMember now;
        if (!seen) {
            // Inflating the whole member makes minizip check its checksum.
            MemberReader reader;
            int n;
            while ((n = ::unzReadCurrentFile(zip.get(), buffer.get(), 1 << 16)) > 0)
                reader.add(buffer.get(), size_t(n));
            if (n < 0 || ::unzCloseCurrentFile(zip.get()) != UNZ_OK)
                return memberFault(Kind::MemberData, name);
            now.crc = uint32_t(info.crc);
            now.size = reader.size();
            now.cells = reader.cells();
            now.rootClosed = reader.rootClosed();
            seen = &now;
        } else {
            ::unzCloseCurrentFile(zip.get());
        }
        if (seen->size != info.uncompressed_size || seen->crc != info.crc)
            return memberFault(Kind::MemberData, name);
        if (isXmlName(name) && !seen->rootClosed)
            return memberFault(Kind::MemberContent, name);
        if (const size_t n = worksheetNumber(name); n >= 1 && n <= sheetCells.size()) {
            if (seen->cells != sheetCells[n - 1])
                return {.kind = Kind::CellCount, .number = int64_t(n), .expected = sheetCells[n - 1],
                        .found = seen->cells};
            sheetSeen[n - 1] = true;
        }
    }
    for (size_t n = 0; n < sheetSeen.size(); ++n)
        if (!sheetSeen[n])
            return {.kind = Kind::MissingSheet, .number = int64_t(n + 1)};
    return {};
}

}  // namespace vemlo::sheet
