// Timing and memory helpers of the benchmark programs.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vemlo::bench {

// Milliseconds taken by f.
double timeMs(const std::function<void()>& f);
// Median of the times of runs calls of f, each preceded by setup (not timed).
double medianMs(int runs, const std::function<void()>& f,
                const std::function<void()>& setup = {});
// Milliseconds taken by a shell command (through /bin/sh), median of runs.
double shellMs(int runs, const std::string& command, const std::function<void()>& setup = {});
// Resident and peak resident memory of this process, bytes.
long residentBytes();
long peakResidentBytes();
// Makes (or empties and refills) folder with count empty files named by
// name(i).
void makeFiles(const std::string& folder, int count,
               const std::function<std::string(int)>& name);
// "file-00000000042.dat": a name of 20 bytes for entry i.
std::string name20(int i);
// Removes folder and everything below it.
void removeTree(const std::string& folder);
// A fresh folder under /tmp (or $VEMLO_BENCH_DIR) for this program.
std::string scratchFolder(const std::string& tag);
// The floor of a listing: readdir, statx and the attribute record's read
// (relative to the open folder, with the listing's reader) of every entry, single-threaded, as a bare
// program makes them. Returns the number of entries.
size_t listFloor(const std::string& folder);
// The floor of the folder tree: readdir, the stored attribute of every
// subfolder, and the names sorted as the listing sorts them.
std::vector<std::string> subfolderFloor(const std::string& folder);
// Prints "<what>: vemlo X ms, <other> Y ms, ratio Z" on one line.
void printRatio(const std::string& what, double vemloMs, const std::string& other, double otherMs);

// What a press of a window's command took.
struct Pressed {
    double ms = 0;            // from the press to the handler's return
    double longestGapMs = 0;  // longest time without a turn of the event loop
};
// Calls handler as the window calls it on a press, from the window's thread,
// the event loop turning wherever the command lets it; every message box it
// opens is answered as soon as it shows. With stalls, the event loop's turns
// are looked at every millisecond (not at every turn: a timer of 0 ms would
// keep a processor busy beside the command's worker) and the longest gap
// between two, from the press to the return, is measured; that run is
// otherwise no timed run, the looking costing a little.
Pressed press(const std::function<void()>& handler, bool stalls = false);
// Median time of runs presses, each preceded by setup (not timed).
double medianPressMs(int runs, const std::function<void()>& handler,
                     const std::function<void()>& setup = {});
// One side of a comparison: setup (not timed), then timed, which returns
// its milliseconds.
struct Side {
    std::function<void()> setup;
    std::function<double()> timed;
};
// The medians of runs timings of each side, the two taken in turn (a, b, a,
// b, ...): a moment when the machine or the file system is slow falls on
// both sides alike. The untimed rounds before them are run and not counted.
std::pair<double, double> alternatingMediansMs(int runs, const Side& a, const Side& b,
                                               int untimed = 0);
// Prints "stall <what>: longest gap X ms, target 100 ms, ratio Z".
void printStall(const std::string& what, double longestGapMs);
// Drops the kernel's cache of names and inodes (as root), so that the next
// look at a folder is a first one; false where it cannot.
bool dropNameCache();

}  // namespace vemlo::bench
