// Numbered rename and attribute change.
#include <QCheckBox>
#include <QLineEdit>

#include "app/core/batch.h"
#include "app/mainwindow.h"
#include "app/reports.h"
#include "common/command.h"
#include "common/messages.h"

namespace {

// After a batch change: the folder listed anew, then the entries that could
// not be changed, if any.
void relistAndReport(TForm1& form, vemlo::Ran<vemlo::BatchOutcome>& ran, const QString& what)
{
    const vemlo::BatchOutcome& outcome = ran.value;
    form.keepTrail(std::move(ran.value.trail));
    form.table()->setTableRows(2);
    if (!form.workingFolder().empty())
        form.ImportDir(form.workingFolder() + "/*");
    QString report = vemlo::failureReport(outcome, what);
    if (ran.stopped) {
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
    auto renamed = vemlo::runCommand(
        QStringLiteral("正在重命名…"), [&, rows = table_->snapshot()](vemlo::Progress* progress) {
            return vemlo::renameNumbered(rows, folder, base, progress);
        });
    relistAndReport(*this, renamed, QStringLiteral("重命名"));
}

void TForm1::btnrenameClick(QObject*)
{
    const uint32_t value = vemlo::attributeValue(chk1->isChecked(), chk2->isChecked(),
                                                 chk3->isChecked(), chk4->isChecked());
    if (refuseEmptyFolder(workingFolder()))
        return;
    auto changed = vemlo::runCommand(
        QStringLiteral("正在更改属性…"), [&, rows = table_->snapshot()](vemlo::Progress* progress) {
            return vemlo::changeAttributes(rows, value, progress);
        });
    relistAndReport(*this, changed, QStringLiteral("更改属性"));
}

void TForm1::N9Click(QObject*)
{
    if (trails_.empty())
        return;
    vemlo::BatchTrail& trail = trails_.back();
    if (!vemlo::askYesNo(vemlo::undoQuestion(trail)))
        return;
    auto undone = vemlo::runCommand(
        QStringLiteral("正在撤销…"),
        [&trail](vemlo::Progress* progress) { return vemlo::undoBatch(trail, progress); });
    // A stopped undo keeps the entries it had not tried yet.
    if (!undone.stopped || trail.empty())
        trails_.pop_back();
    showUndo();
    relistAndReport(*this, undone, QStringLiteral("撤销"));
}
