// Numbered rename and attribute change.
#include <QCheckBox>
#include <QLineEdit>

#include "app/core/batch.h"
#include "app/mainwindow.h"
#include "app/reports.h"
#include "common/messages.h"
#include "common/progressgate.h"

namespace {

// After a batch change: the folder listed anew, then the entries that could
// not be changed, if any.
void relistAndReport(TForm1& form, const vemlo::BatchOutcome& outcome, bool stopped,
                     const QString& what)
{
    form.table()->setTableRows(2);
    form.ImportDir(form.workingFolder() + "/*");
    QString report = vemlo::failureReport(outcome, what);
    if (stopped) {
        const QString counts = vemlo::cancelledReport(what, outcome.done, outcome.left);
        report = report.isEmpty() ? counts : counts + u'\n' + report;
    }
    if (!report.isEmpty())
        vemlo::showWarningBox(report);
}

// An empty path box names no folder: a batch change would send every entry
// to the root folder, or list the root folder and change it on the next press.
bool refuseEmptyFolder(const std::string& folder)
{
    if (!folder.empty())
        return false;
    vemlo::ShowMessage(QStringLiteral("你没有选择文件夹"));
    return true;
}

}  // namespace

void TForm1::btnrnClick(QObject*)
{
    const std::string base = edtrnbase->text().toStdString();
    if (const vemlo::NameProblem problem = vemlo::baseNameProblem(base);
        problem != vemlo::NameProblem::None)
        throw vemlo::VemloError(QStringLiteral("基础文件名%1，没有重命名任何文件")
                                    .arg(vemlo::nameProblemText(problem)));
    const std::string folder = workingFolder();
    if (refuseEmptyFolder(folder))
        return;
    vemlo::BatchOutcome outcome;
    bool stopped = false;
    {
        vemlo::BusyCursor busy;
        vemlo::ProgressGate progress(QStringLiteral("正在重命名…"));
        outcome = progress.run([&, rows = table_->snapshot()] {
            return vemlo::renameNumbered(rows, folder, base, &progress);
        });
        stopped = progress.stopped();
    }
    relistAndReport(*this, outcome, stopped, QStringLiteral("重命名"));
}

void TForm1::btnrenameClick(QObject*)
{
    const uint32_t value = vemlo::attributeValue(chk1->isChecked(), chk2->isChecked(),
                                                 chk3->isChecked(), chk4->isChecked());
    if (refuseEmptyFolder(workingFolder()))
        return;
    vemlo::BatchOutcome outcome;
    bool stopped = false;
    {
        vemlo::BusyCursor busy;
        vemlo::ProgressGate progress(QStringLiteral("正在更改属性…"));
        outcome = progress.run([&, rows = table_->snapshot()] {
            return vemlo::changeAttributes(rows, value, &progress);
        });
        stopped = progress.stopped();
    }
    relistAndReport(*this, outcome, stopped, QStringLiteral("更改属性"));
}
