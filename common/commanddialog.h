// The dialog of a command that takes a while: it shows once the command has
// run for a moment, says what it does, the count, the entry in hand, and
// offers "取消". While it shows, the other windows take no input
// (InputBlocker) and the pointer over it is the normal one. Window's thread only.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QProgressDialog;

namespace vemlo {

class InputBlocker;

class CommandDialog {
public:
    // How far the command has come.
    struct Count {
        int64_t done = 0;
        int64_t total = 0;  // 0 when not known
        std::string name;   // the entry in hand
    };

    // doing names the work, e.g. "正在整理…"; the dialog shows showAfterMs
    // after this and its texts change at most every updateEveryMs; count()
    // says how far the command has come.
    CommandDialog(const QString& doing, int showAfterMs, int updateEveryMs,
                  std::function<Count()> count);
    ~CommandDialog();
    CommandDialog(const CommandDialog&) = delete;
    CommandDialog& operator=(const CommandDialog&) = delete;

    // One turn of the window's thread: the dialog shown when due, its texts
    // brought up to date. True while it shows.
    bool turn();
    bool shown() const { return shown_; }
    // 取消 was pressed (or the dialog is gone).
    bool canceled() const;

private:
    void show();
    void update();
    // The window whose command runs was asked to close: the dialog says why it stays.
    void refuseClose();

    QString doing_;
    QString note_;  // a last line: why a close was refused
    const int showAfterMs_;
    const int updateEveryMs_;
    std::function<Count()> count_;
    QElapsedTimer started_;
    QElapsedTimer sinceUpdate_;  // since the texts were last set
    QPointer<QProgressDialog> dialog_;
    std::unique_ptr<InputBlocker> blocker_;  // while the dialog shows
    bool shown_ = false;
    bool cursorSet_ = false;
    CommandDialog* outer_ = nullptr;
};

// "12,345": a count with its thousands grouped.
QString groupedCount(int64_t n);

}  // namespace vemlo
