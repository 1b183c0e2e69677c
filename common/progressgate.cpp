#include "common/progressgate.h"

#include <QApplication>
#include <QLocale>
#include <QProgressDialog>

#include "common/messages.h"
#include "common/text.h"

namespace vemlo {

namespace {

ProgressGate* g_running = nullptr;
bool g_closing = false;
ProgressGate::Timing g_timing;

// Between two looks the pass should take about this long: often enough for
// the window to answer, rarely enough that looking costs nothing.
constexpr qint64 kLookNs = 2'000'000;
constexpr int kMaxStride = 1 << 16;

}  // namespace

QString groupedCount(int64_t n) { return QLocale(QLocale::English).toString(qlonglong(n)); }

ProgressGate::ProgressGate(const QString& doing) : doing_(doing), outer_(g_running)
{
    g_running = this;
    started_.start();
    sinceLook_.start();
    sincePump_.start();
    setStride(1);
}

ProgressGate::~ProgressGate()
{
    g_running = outer_;
    if (cursorSet_)
        QApplication::restoreOverrideCursor();
    delete dialog_.data();
}

void ProgressGate::begin(int64_t total)
{
    total_ = total;
    done_ = 0;
}

ProgressGate* ProgressGate::running() { return g_running; }
void ProgressGate::closeDown() { g_closing = true; }
bool ProgressGate::closingDown() { return g_closing; }
void ProgressGate::resetClosingDown() { g_closing = false; }

ProgressGate::Timing ProgressGate::setTiming(Timing t)
{
    const Timing before = g_timing;
    g_timing = t;
    return before;
}

bool ProgressGate::look(int64_t done, std::string_view name)
{
    if (g_closing)
        return false;
    // Keep the time between looks near kLookNs whatever an entry costs.
    const qint64 ns = sinceLook_.nsecsElapsed();
    sinceLook_.restart();
    if (ns < kLookNs / 2 && stride_ < kMaxStride)
        stride_ *= 2;
    else if (ns > kLookNs * 2 && stride_ > 1)
        stride_ = std::max(1, stride_ / 4);
    setStride(stride_);

    if (done >= 0) {
        done_ = done;
        name_.assign(name);
    }
    if (sincePump_.elapsed() < g_timing.lookEveryMs || started_.elapsed() < g_timing.firstLookMs)
        return true;
    if (!shown_ && started_.elapsed() >= g_timing.showAfterMs)
        showDialog();
    // The texts change ten times a second: enough to read, little to paint.
    if (shown_ && (!sinceUpdate_.isValid() || sinceUpdate_.elapsed() >= g_timing.updateEveryMs)) {
        updateDialog();
        sinceUpdate_.restart();
    }
    // Until the dialog blocks the windows, input waits for the command's end.
    QCoreApplication::processEvents(shown_ ? QEventLoop::AllEvents
                                           : QEventLoop::ExcludeUserInputEvents);
    sincePump_.restart();
    return !g_closing && !(shown_ && (!dialog_ || dialog_->wasCanceled()));
}

void ProgressGate::showDialog()
{
    shown_ = true;
    auto* d = new QProgressDialog(QApplication::activeWindow());
    dialog_ = d;
    d->setObjectName(QStringLiteral("progressDialog"));
    d->setWindowTitle(appTitle());
    d->setWindowModality(Qt::ApplicationModal);
    d->setAutoClose(false);
    d->setAutoReset(false);
    d->setMinimumDuration(0);
    d->setCancelButtonText(QStringLiteral("取消"));
    d->setMinimumWidth(d->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 30);
    d->setRange(0, total_ > 0 ? 1000 : 0);
    // The pointer over the dialog is the normal one, the work goes on behind.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    cursorSet_ = true;
    d->show();
}

void ProgressGate::updateDialog()
{
    const int64_t done = done_;
    const std::string_view name = name_;
    if (!dialog_)
        return;
    QString text = doing_ + u'\n';
    text += total_ > 0 ? groupedCount(done) + QStringLiteral(" / ") + groupedCount(total_)
                       : groupedCount(done);
    if (!name.empty())
        text += u'\n' + displayText(name);
    dialog_->setLabelText(text);
    if (total_ > 0)
        dialog_->setValue(int(done * 1000 / total_));
}

}  // namespace vemlo
