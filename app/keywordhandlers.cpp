// Keyword lists, filter and organize.
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>

#include "app/core/keywords.h"
#include "app/mainwindow.h"
#include "app/reports.h"
#include "common/command.h"
#include "common/messages.h"
#include "common/text.h"

namespace {

// Appends the edit box's whole text; the box keeps it.
void addKeyword(QListWidget* list, const QLineEdit* edit) { list->addItem(edit->text()); }

void removeSelectedKeywords(QListWidget* list)
{
    for (int i = list->count() - 1; i >= 0; --i)
        if (list->item(i)->isSelected())
            delete list->takeItem(i);
}

// The keywords in list order, as bytes.
std::vector<std::string> keywordsOf(const QListWidget* list)
{
    std::vector<std::string> out;
    out.reserve(size_t(list->count()));
    for (int i = 0; i < list->count(); ++i)
        out.push_back(list->item(i)->text().toStdString());
    return out;
}

// The table column named by a selector's text, or -1.
int selectedColumn(const vemlo::FileTable& table, const QComboBox* selector)
{
    return table.findColumn(selector->currentText().toStdString());
}

}  // namespace

void TForm1::btnsortaddClick(QObject*) { addKeyword(lstsort, edtsortadd); }
void TForm1::btnsortremoveClick(QObject*) { removeSelectedKeywords(lstsort); }
void TForm1::btnsortclearClick(QObject*) { lstsort->clear(); }
void TForm1::btnaddfClick(QObject*) { addKeyword(lst, edtfilterate); }
void TForm1::btnremovefClick(QObject*) { removeSelectedKeywords(lst); }
void TForm1::btnclearfClick(QObject*) { lst->clear(); }

void TForm1::btndecClick(QObject*)
{
    const int col = selectedColumn(*table_, cbbfilterate);
    if (col < 0)
        return;
    const std::vector<std::string> keywords = keywordsOf(lst);
    std::vector<int> drop;
    const auto filtered = vemlo::runCommand(QStringLiteral("正在筛选…"),
                                            [&, rows = table_->snapshot()](vemlo::Progress* progress) {
                                                vemlo::rowsFilteredOut(rows, col, keywords, drop, progress);
                                            });
    if (filtered.stopped) {
        vemlo::ShowMessage(QStringLiteral("已取消：筛选没有进行，表格保持原样"));
        return;
    }
    // The marks and AdjustToTop's compaction in one pass: a million rows
    // are thinned without a mark written into each dropped row.
    table_->dropRows(drop);
}

void TForm1::btnsortClick(QObject*)
{
    const int col = selectedColumn(*table_, cbbspara);
    if (col < 0)
        return;
    const std::vector<std::string> keywords = keywordsOf(lstsort);
    for (const std::string& k : keywords)
        if (const vemlo::NameProblem problem = vemlo::keywordFolderProblem(k);
            problem != vemlo::NameProblem::None)
            throw vemlo::VemloError(
                QStringLiteral("整理关键字“%1”%2，不能用作工作文件夹之内的文件夹，没有移动任何文件")
                    .arg(vemlo::displayText(k), vemlo::nameProblemText(problem)));

    // Nothing can change the path box while the handler runs: it is read once.
    const std::string folder = workingFolder();
    auto [result, stopped] = vemlo::runCommand(
        QStringLiteral("正在整理…"), [&, rows = table_->snapshot()](vemlo::Progress* progress) {
            return vemlo::organizeRows(rows, col, keywords, folder, progress);
        });
    table_->markRows(result.movedRows);
    keepTrail(std::move(result.trail));
    switch (result.stop) {
    case vemlo::OrganizeResult::Stop::NoWorkingFolder:
        vemlo::ShowMessage(QStringLiteral("你没有选择文件夹"));
        return;
    case vemlo::OrganizeResult::Stop::CannotCreateFolder:
        // The rows moved so far keep their marks; the table is not compacted.
        throw vemlo::VemloError("Unable to create directory");
    case vemlo::OrganizeResult::Stop::None:
        break;
    }
    AdjustToTop();
    if (result.notMoved.empty() && !stopped)
        vemlo::ShowMessage(vemlo::organizeReport(result, stopped));
    else
        vemlo::showWarningBox(vemlo::organizeReport(result, stopped));
}
