#include "benchutil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/listing.h"

namespace vemlo::bench {

namespace {

// Each line is out as soon as it is printed, also into a pipe or a file.
const int lineBuffered = std::setvbuf(stdout, nullptr, _IOLBF, 0);

}  // namespace

double timeMs(const std::function<void()>& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double medianMs(int runs, const std::function<void()>& f, const std::function<void()>& setup)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (setup)
            setup();
        times.push_back(timeMs(f));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double shellMs(int runs, const std::string& command, const std::function<void()>& setup)
{
    return medianMs(
        runs, [&] { (void)std::system(command.c_str()); }, setup);
}

static long statusField(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size()) * 1024;
    return 0;
}

long residentBytes() { return statusField("VmRSS"); }
long peakResidentBytes() { return statusField("VmHWM"); }

void makeFiles(const std::string& folder, int count, const std::function<std::string(int)>& name)
{
    removeTree(folder);
    (void)std::system(("mkdir -p '" + folder + "'").c_str());
    // Empty files: no data blocks to write out and free again, which made
    // a million files take minutes.
    const int dir = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < count; ++i)
        (void)::mknodat(dir, name(i).c_str(), S_IFREG | 0644, 0);
    ::close(dir);
}

std::string name20(int i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "file-%011d.dat", i);
    return buf;
}

void removeTree(const std::string& folder)
{
    (void)std::system(("rm -rf '" + folder + "'").c_str());
}

std::string scratchFolder(const std::string& tag)
{
    const char* base = std::getenv("VEMLO_BENCH_DIR");
    std::string dir = std::string(base ? base : "/tmp") + "/vemlo-bench-" + tag + "-" +
                      std::to_string(::getpid());
    return dir;
}

size_t listFloor(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    DIR* dir = ::fdopendir(fd);
    size_t count = 0;
    vemlo::fs::AttribReader attribs(fd);
    while (const dirent* d = ::readdir(dir)) {
        const char* name = d->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        struct statx sx;
        if (::statx(fd, name, AT_SYMLINK_NOFOLLOW,
                    STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME,
                    &sx) != 0)
            continue;
        (void)attribs.attribOf(name, sx.stx_mode);
        ++count;
    }
    ::closedir(dir);
    return count;
}

std::vector<std::string> subfolderFloor(const std::string& folder)
{
    std::vector<std::string> names;
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return names;
    DIR* dir = ::fdopendir(fd);
    vemlo::fs::AttribReader attribs(fd);
    while (const dirent* d = ::readdir(dir)) {
        if (d->d_name[0] == '.' || d->d_type != DT_DIR)
            continue;
        if (attribs.attribOf(d->d_name, S_IFDIR) & (vemlo::fs::AttrHidden | vemlo::fs::AttrSystem))
            continue;
        names.emplace_back(d->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), vemlo::fs::nameLess);
    return names;
}

void printRatio(const std::string& what, double vemloMs, const std::string& other, double otherMs)
{
    std::printf("%s: vemlo %.0f ms, %s %.0f ms, ratio %.2f\n", what.c_str(), vemloMs,
                other.c_str(), otherMs, otherMs > 0 ? vemloMs / otherMs : 0.0);
    std::fflush(stdout);
}

namespace {

// Answers each message box as soon as it shows: its accept (its "是" where it
// asks) is queued into the box's own event loop.
class BoxAnswerer : public QObject {
public:
    BoxAnswerer() { qApp->installEventFilter(this); }
    ~BoxAnswerer() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(watched)) {
                for (QAbstractButton* b : box->buttons())
                    if (box->buttonRole(b) == QMessageBox::YesRole) {
                        QMetaObject::invokeMethod(b, &QAbstractButton::click, Qt::QueuedConnection);
                        return false;
                    }
                QMetaObject::invokeMethod(box, &QDialog::accept, Qt::QueuedConnection);
            }
        return false;
    }
};

}  // namespace

Pressed press(const std::function<void()>& handler, bool stalls)
{
    BoxAnswerer answerer;
    Pressed out;
    QElapsedTimer clock;
    qint64 last = 0, longest = 0;
    QTimer turns;
    if (stalls) {
        turns.setInterval(1);
        turns.setTimerType(Qt::PreciseTimer);
        QObject::connect(&turns, &QTimer::timeout, [&] {
            const qint64 now = clock.nsecsElapsed();
            longest = std::max(longest, now - last);
            last = now;
        });
        turns.start();
    }
    clock.start();
    handler();
    const qint64 end = clock.nsecsElapsed();
    out.ms = double(end) / 1e6;
    out.longestGapMs = double(std::max(longest, end - last)) / 1e6;
    return out;
}

double medianPressMs(int runs, const std::function<void()>& handler,
                     const std::function<void()>& setup)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        if (setup)
            setup();
        times.push_back(press(handler).ms);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::pair<double, double> alternatingMediansMs(int runs, const Side& a, const Side& b, int untimed)
{
    std::vector<double> as, bs;
    for (int i = 0; i < untimed + runs; ++i)
        for (const auto& [side, times] : {std::pair{&a, &as}, std::pair{&b, &bs}}) {
            if (side->setup)
                side->setup();
            const double ms = side->timed();
            if (i >= untimed)
                times->push_back(ms);
        }
    auto median = [](std::vector<double>& t) {
        std::sort(t.begin(), t.end());
        return t[t.size() / 2];
    };
    return {median(as), median(bs)};
}

void printStall(const std::string& what, double longestGapMs)
{
    constexpr double kTargetMs = 100;
    std::printf("stall %s: longest gap %.0f ms, target %.0f ms, ratio %.2f\n", what.c_str(),
                longestGapMs, kTargetMs, longestGapMs / kTargetMs);
    std::fflush(stdout);
}

bool dropNameCache()
{
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool done = ::write(fd, "2", 1) == 1;
    ::close(fd);
    return done;
}

}  // namespace vemlo::bench
