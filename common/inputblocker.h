// The windows take no input while a command's dialog shows, as under a modal
// dialog, but the dialog is not modal: the window system's close request for
// a window a modal dialog blocks never reaches it, and closing the main
// window must stop the command and end the run.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

namespace vemlo {

// Filters the input of the whole application while it lives. Input for the
// dialog that dialog() gives (its 取消, its Escape) passes; input for the
// other windows is dropped, and a press on them brings the dialog to the
// front. A window closed by the window system hears of it, except the one
// whose command runs (CommandOwner): deleted on close, it keeps what the
// command uses; the close is refused, refused() runs and the dialog comes to
// the front.
class InputBlocker : public QObject {
public:
    InputBlocker(std::function<QWidget*()> dialog, std::function<void()> refused);
    ~InputBlocker() override;
    bool eventFilter(QObject* target, QEvent* event) override;

private:
    std::function<QWidget*()> dialog_;
    std::function<void()> refused_;
};

// Marks window, while it lives, as the window whose command runs: a window
// deleted on close keeps what its command uses, so the window system's close
// request to it is refused until the command has ended, and the dialog says
// why. Windows that run no command may close meanwhile.
class CommandOwner {
public:
    explicit CommandOwner(QWidget* window);
    ~CommandOwner();
    CommandOwner(const CommandOwner&) = delete;
    CommandOwner& operator=(const CommandOwner&) = delete;

private:
    QPointer<QWidget> window_;
};

}  // namespace vemlo
