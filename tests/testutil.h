// Shared pieces of the test programs: the real windows, the boxes they open,
// and real files in temporary folders.
#pragma once

#include <QMessageBox>
#include <QTemporaryDir>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "import/Unit2.h"

namespace vemlo::test {

// Builds Form1 and Form2 once per test program, like start-up does.
void createFormsOnce();
// Builds the windows and shows the main window; true once it is on screen.
bool showMainWindow();

// A message box seen while a test ran.
struct SeenBox {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
};

// Watches for modal boxes while it lives; records each one and answers it by
// pressing the button whose text is the next entry of answers (or the first
// button / OK when answers run out).
class BoxCatcher {
public:
    explicit BoxCatcher(QStringList answers = {});
    ~BoxCatcher();
    const std::vector<SeenBox>& boxes() const { return boxes_; }
    // The texts of the boxes seen so far.
    QStringList texts() const;

private:
    void poll();
    QTimer timer_;
    QStringList answers_;
    std::vector<SeenBox> boxes_;
};

// Clicks a real button and returns the boxes it opened.
std::vector<SeenBox> clickAndCatch(QWidget* button, QStringList answers = {});

// A temporary folder removed with everything in it, also names that are not
// valid UTF-8 and read-only folders (which QTemporaryDir leaves behind).
class TempDir {
public:
    TempDir() = default;
    ~TempDir();
    std::string path() const { return dir_.path().toStdString(); }
    QString qpath() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// Removes path and everything below it, whatever the names and modes.
void removeTree(const std::string& path);

// Files: write bytes to path (creating it), read them back.
void writeFile(const std::string& path, const std::string& bytes = "x");
std::string readFile(const std::string& path);
bool pathExists(const std::string& path);
// Names in folder, sorted, "." and ".." left out; bytes exact.
std::vector<std::string> listNames(const std::string& folder);
// The process's current directory, and path with links resolved ("" when
// it cannot be read).
std::string currentDir();
std::string canonicalPath(const std::string& path);

// A small ext2 file system of its own, loop-mounted on a temporary folder and
// unmounted again at the end: for full disks and read-only file systems.
// Mounting needs root; usable() is false (say why with skipReason()) when the
// mount could not be made.
class ScratchFs {
public:
    explicit ScratchFs(int kibibytes = 8192);
    ~ScratchFs();
    ScratchFs(const ScratchFs&) = delete;
    ScratchFs& operator=(const ScratchFs&) = delete;
    bool usable() const { return mounted_; }
    const char* skipReason() const { return "needs root and loop devices to mount a scratch file system"; }
    // The mount point.
    std::string path() const { return dir_.path() + "/mnt"; }
    // Fills the file system until fewer than leftBytes are free.
    void fillUntil(long long leftBytes);
    // Bytes a new file may still take.
    long long freeBytes() const;
    // Remounts read-only (true) or writable (false).
    bool setReadOnly(bool readOnly);

private:
    TempDir dir_;
    bool mounted_ = false;
};

// Runs body in a child process, as uid and gid 65534 when this process is
// root (so that permissions apply), and returns its exit status; -1 when the
// child could not be started or did not exit normally. A TempDir is mode 0700:
// open it up (chmod 0755) for what the child is to reach.
int runUnprivileged(const std::function<int()>& body);

// The files this process holds open: "descriptor -> target" for each.
std::vector<std::string> openFiles();

// Sets the working folder and lists it into the table, as "导入" does.
void importFolder(const std::string& folder);

// Cells of the table as bytes.
std::string cell(int col, int row);
int tableRows();
// Column col of the data rows.
std::vector<std::string> column(int col);

}  // namespace vemlo::test
