#include "common/progressgate.h"

#include <QApplication>
#include <QLocale>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <chrono>
#include <utility>
#include <exception>
#include <system_error>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

#include "common/messages.h"
#include "common/text.h"

namespace vemlo {

namespace {

ProgressGate* g_running = nullptr;  // the window's thread only
std::atomic<bool> g_closing = false;
std::function<void()> g_afterClose;  // the window's thread only
// The property that marks the window whose command runs (CommandOwner).
constexpr char kOwnerProperty[] = "vemloRunsCommand";
ProgressGate::Timing g_timing;

// Between two looks the pass should take about this long: often enough for
// the window to see it move, rarely enough that looking costs nothing.
constexpr qint64 kLookNs = 2'000'000;
constexpr int kMaxStride = 1 << 16;

}  // namespace

// The windows take no input while a command's dialog shows, as under a modal
// dialog, but the dialog is not modal: the window system's close request
// for a window a modal dialog blocks never reaches it, and closing the main
// window must stop the command and end the run. Input for the dialog (its
// 取消, its Escape) passes; input for the others is dropped, and a press on
// them brings the dialog to the front. A window closed by the window system
// hears of it, except the one whose command runs (CommandOwner): deleted on
// close, it keeps what the command uses; the dialog comes to the front and
// says why it stays.
class InputBlocker : public QObject {
public:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Close:
            if (!event->spontaneous())
                return false;  // the program's own close
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::InputMethod:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            break;
        default:
            return false;
        }
        // A window-system window hands its events on to its widgets, which
        // are judged here; shortcuts go to their QAction or QShortcut.
        if (target->isWindowType())
            return false;
        const ProgressGate* gate = g_running;
        QProgressDialog* dialog = gate ? gate->dialog_.data() : nullptr;
        for (QObject* o = target; o; o = o->parent()) {
            if (o == dialog)
                return false;
        }
        if (event->type() == QEvent::Close) {
            auto* window = qobject_cast<QWidget*>(target);
            if (!window || !window->property(kOwnerProperty).toBool())
                return false;
            event->ignore();  // refused: the window stays
            if (gate && dialog) {
                g_running->note_ = QStringLiteral("该窗口的命令正在运行：完成或取消后才能关闭");
                g_running->updateDialog();
                dialog->raise();
                dialog->activateWindow();
            }
            return true;
        }
        if (dialog && (event->type() == QEvent::MouseButtonPress ||
                       event->type() == QEvent::NonClientAreaMouseButtonPress)) {
            dialog->raise();
            dialog->activateWindow();
        }
        return true;
    }
};

QString groupedCount(int64_t n) { return QLocale(QLocale::English).toString(qlonglong(n)); }

ProgressGate::ProgressGate(const QString& doing)
    : doing_(doing), timing_(g_timing), outer_(g_running)
{
    g_running = this;
    started_.start();
    sinceLook_.start();
    setStride(1);
}

ProgressGate::~ProgressGate()
{
    g_running = outer_;
    blocker_.reset();
    if (cursorSet_)
        QApplication::restoreOverrideCursor();
    delete dialog_.data();
    if (!outer_ && g_afterClose)
        QTimer::singleShot(0, qApp, std::exchange(g_afterClose, {}));
}

CommandOwner::CommandOwner(QWidget* window) : window_(window)
{
    window->setProperty(kOwnerProperty, true);
}

CommandOwner::~CommandOwner()
{
    if (window_)
        window_->setProperty(kOwnerProperty, QVariant());
}

void ProgressGate::begin(int64_t total)
{
    total_ = total;
    std::lock_guard lock(mutex_);
    done_ = 0;
}

ProgressGate* ProgressGate::running() { return g_running; }
void ProgressGate::closeDown(std::function<void()> then)
{
    g_closing = true;
    if (then)
        g_afterClose = std::move(then);
}
bool ProgressGate::closingDown() { return g_closing; }
void ProgressGate::resetClosingDown()
{
    g_closing = false;
    g_afterClose = {};
}

ProgressGate::Timing ProgressGate::setTiming(Timing t)
{
    const Timing before = g_timing;
    g_timing = t;
    return before;
}

void ProgressGate::wakeWindowThread()
{
    const uint64_t one = 1;
    if (wakeFd_ >= 0)
        (void)!::write(wakeFd_, &one, sizeof one);
}

void ProgressGate::runOnWorker(const std::function<void()>& pass)
{
    // The worker wakes the window's thread through a descriptor its event
    // loop watches: a write, which hands over all the worker did before it.
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const auto closeWake = qScopeGuard([this] {
        if (wakeFd_ >= 0)
            ::close(wakeFd_);
        wakeFd_ = -1;
    });
    std::optional<QSocketNotifier> woken;
    if (wakeFd_ >= 0) {
        woken.emplace(wakeFd_, QSocketNotifier::Read);
        QObject::connect(&*woken, &QSocketNotifier::activated, [this] {
            uint64_t n = 0;
            (void)!::read(wakeFd_, &n, sizeof n);
        });
    }
    std::exception_ptr failed;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                pass();
            } catch (...) {
                failed = std::current_exception();
            }
            {
                std::lock_guard lock(mutex_);
                finished_ = true;
            }
            changed_.notify_all();
            wakeWindowThread();
        });
    } catch (const std::system_error&) {
        // No thread to be had: the pass runs here and the window waits.
        finished_ = true;  // looks do not wait for turns of this thread
        pass();
        return;
    }
    {
        // Short work ends before the events are let through at all.
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timing_.firstLookMs),
                          [&] { return finished_; });
    }
    QTimer ticks;  // wakes the wait below for the next turn
    ticks.start(std::max(1, timing_.lookEveryMs));
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (finished_)
                break;
        }
        // Until the dialog blocks the windows, input waits for the command's end.
        QCoreApplication::processEvents(
            (shown_ ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents) |
            QEventLoop::WaitForMoreEvents);
        watch();
    }
    worker.join();
    if (failed)
        std::rethrow_exception(failed);
}

void ProgressGate::watch()
{
    unsigned turns = 0;
    {
        std::lock_guard lock(mutex_);
        turns = turnsWanted_;
    }
    if (g_closing)
        cancel_ = true;
    if (!shown_ && started_.elapsed() >= timing_.showAfterMs)
        showDialog();
    // The texts change ten times a second: enough to read, little to paint.
    if (shown_ && (timing_.lockstep || !sinceUpdate_.isValid() ||
                   sinceUpdate_.elapsed() >= timing_.updateEveryMs)) {
        updateDialog();
        sinceUpdate_.restart();
    }
    if (timing_.lockstep)
        QCoreApplication::processEvents(shown_ ? QEventLoop::AllEvents
                                               : QEventLoop::ExcludeUserInputEvents);
    if (g_closing || (shown_ && (!dialog_ || dialog_->wasCanceled())))
        cancel_ = true;
    if (timing_.lockstep) {
        {
            std::lock_guard lock(mutex_);
            turnsDone_ = turns;
        }
        changed_.notify_all();
    }
}

bool ProgressGate::look(int64_t done, std::string_view name)
{
    {
        std::unique_lock lock(mutex_);
        if (done >= 0) {
            done_ = done;
            name_.assign(name);
        }
        if (timing_.lockstep && !finished_) {
            const unsigned turn = ++turnsWanted_;
            wakeWindowThread();
            changed_.wait(lock, [&] { return turnsDone_ >= turn; });
        }
    }
    if (timing_.lockstep) {
        setStride(1);
    } else {
        // Keep the time between looks near kLookNs whatever an entry costs.
        const qint64 ns = sinceLook_.nsecsElapsed();
        sinceLook_.restart();
        if (ns < kLookNs / 2 && stride_ < kMaxStride)
            stride_ *= 2;
        else if (ns > kLookNs * 2 && stride_ > 1)
            stride_ = std::max(1, stride_ / 4);
        setStride(stride_);
    }
    return !cancel_ && !g_closing;
}

void ProgressGate::showDialog()
{
    shown_ = true;
    auto* d = new QProgressDialog(dialogParent());
    dialog_ = d;
    d->setObjectName(QStringLiteral("progressDialog"));
    d->setWindowTitle(appTitle());
    // Not modal: the blocker below keeps input from the other windows.
    blocker_ = std::make_unique<InputBlocker>();
    qApp->installEventFilter(blocker_.get());
    d->setAutoClose(false);
    d->setAutoReset(false);
    d->setMinimumDuration(0);
    d->setCancelButtonText(QStringLiteral("取消"));
    d->setMinimumWidth(d->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 30);
    const int64_t total = total_;
    d->setRange(0, total > 0 ? 1000 : 0);
    // The pointer over the dialog is the normal one, the work goes on behind.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    cursorSet_ = true;
    d->show();
}

void ProgressGate::updateDialog()
{
    if (!dialog_)
        return;
    int64_t done = 0;
    std::string name;
    {
        std::lock_guard lock(mutex_);
        done = done_;
        name = name_;
    }
    const int64_t total = total_;
    QString text = doing_ + u'\n';
    text += total > 0 ? groupedCount(done) + QStringLiteral(" / ") + groupedCount(total)
                      : groupedCount(done);
    if (!name.empty())
        text += u'\n' + displayText(name);
    if (!note_.isEmpty())
        text += u'\n' + note_;
    dialog_->setLabelText(text);
    if (total > 0) {
        dialog_->setMaximum(1000);  // the total may come after the dialog
        dialog_->setValue(int(done * 1000 / total));
    }
}

}  // namespace vemlo
