// The window side of long work: a command hands a ProgressGate to the pass
// that does the work. The gate keeps the windows painted while the pass runs,
// shows a modal dialog with the count, the entry in hand and "取消" once the
// command has taken a moment, and stops the pass when the user asks.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <string>

#include "platform/progress.h"

class QProgressDialog;

namespace vemlo {

class ProgressGate : public Progress {
public:
    // doing names the work in the dialog, e.g. "正在整理…".
    explicit ProgressGate(const QString& doing);
    ~ProgressGate() override;
    ProgressGate(const ProgressGate&) = delete;
    ProgressGate& operator=(const ProgressGate&) = delete;

    void begin(int64_t total) override;
    // True once the dialog has been shown for this command.
    bool dialogShown() const { return shown_; }

    // The gate of the command that runs now, or nullptr.
    static ProgressGate* running();
    // The main window is closing: the running pass stops and every pass
    // started from now on stops at its first look; boxes are no longer shown.
    static void closeDown();
    static bool closingDown();

    // How long a command runs before the events are first let through and
    // before the dialog shows, how often the events
    // are let through and how often the dialog's texts change, in
    // milliseconds.
    struct Timing {
        int firstLookMs = 50;  // work this short runs as if unwatched
        int showAfterMs = 300;
        int lookEveryMs = 25;
        int updateEveryMs = 100;
    };
    static Timing setTiming(Timing t);  // returns the earlier timing
    // Undoes closeDown, for tests that go on after a close.
    static void resetClosingDown();

protected:
    bool look(int64_t done, std::string_view name) override;

private:
    void showDialog();
    void updateDialog();

    QString doing_;
    int64_t total_ = 0;
    int64_t done_ = 0;
    std::string name_;  // the entry last named
    QElapsedTimer started_;
    QElapsedTimer sinceLook_;  // since the last look: tunes the stride
    QElapsedTimer sincePump_;  // since the events were last let through
    QElapsedTimer sinceUpdate_;  // since the dialog's texts were last set
    int stride_ = 1;
    QPointer<QProgressDialog> dialog_;
    bool shown_ = false;
    bool cursorSet_ = false;
    ProgressGate* outer_ = nullptr;
};

// "12,345": a count with its thousands grouped.
QString groupedCount(int64_t n);

}  // namespace vemlo
