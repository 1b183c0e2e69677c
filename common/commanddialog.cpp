#include "common/commanddialog.h"

#include <QApplication>
#include <QLocale>
#include <QProgressDialog>

#include <utility>

#include "common/inputblocker.h"
#include "common/messages.h"
#include "common/text.h"

namespace vemlo {

namespace {

// The dialog of the command that runs now: the one input may reach.
CommandDialog* g_current = nullptr;  // the window's thread only

}  // namespace

QString groupedCount(int64_t n) { return QLocale(QLocale::English).toString(qlonglong(n)); }

CommandDialog::CommandDialog(const QString& doing, int showAfterMs, int updateEveryMs,
                             std::function<Count()> count)
    : doing_(doing), showAfterMs_(showAfterMs), updateEveryMs_(updateEveryMs),
      count_(std::move(count)), outer_(g_current)
{
    g_current = this;
    started_.start();
}

CommandDialog::~CommandDialog()
{
    g_current = outer_;
    blocker_.reset();
    if (cursorSet_)
        QApplication::restoreOverrideCursor();
    delete dialog_.data();
}

bool CommandDialog::turn()
{
    if (!shown_ && started_.elapsed() >= showAfterMs_)
        show();
    // The texts change ten times a second: enough to read, little to paint.
    if (shown_ && (!sinceUpdate_.isValid() || sinceUpdate_.elapsed() >= updateEveryMs_)) {
        update();
        sinceUpdate_.restart();
    }
    return shown_;
}

bool CommandDialog::canceled() const { return shown_ && (!dialog_ || dialog_->wasCanceled()); }

void CommandDialog::show()
{
    shown_ = true;
    auto* d = new QProgressDialog(dialogParent());
    dialog_ = d;
    d->setObjectName(QStringLiteral("progressDialog"));
    d->setWindowTitle(appTitle());
    // Not modal: the blocker keeps input from the other windows.
    blocker_ = std::make_unique<InputBlocker>(
        [] { return g_current ? static_cast<QWidget*>(g_current->dialog_.data()) : nullptr; },
        [] {
            if (g_current)
                g_current->refuseClose();
        });
    d->setAutoClose(false);
    d->setAutoReset(false);
    d->setMinimumDuration(0);
    d->setCancelButtonText(QStringLiteral("取消"));
    d->setMinimumWidth(d->fontMetrics().horizontalAdvance(QLatin1Char('M')) * 30);
    d->setRange(0, count_().total > 0 ? 1000 : 0);
    // The pointer over the dialog is the normal one, the work goes on behind.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    cursorSet_ = true;
    d->show();
}

void CommandDialog::refuseClose()
{
    note_ = QStringLiteral("该窗口的命令正在运行：完成或取消后才能关闭");
    update();
}

void CommandDialog::update()
{
    if (!dialog_)
        return;
    const Count c = count_();
    QString text = doing_ + u'\n';
    text += c.total > 0 ? groupedCount(c.done) + QStringLiteral(" / ") + groupedCount(c.total)
                        : groupedCount(c.done);
    if (!c.name.empty())
        text += u'\n' + displayText(c.name);
    if (!note_.isEmpty())
        text += u'\n' + note_;
    dialog_->setLabelText(text);
    if (c.total > 0) {
        dialog_->setMaximum(1000);  // the total may come after the dialog
        dialog_->setValue(int(c.done * 1000 / c.total));
    }
}

}  // namespace vemlo
