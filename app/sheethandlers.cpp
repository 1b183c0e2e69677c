// Table export and space-by-format chart.
#include <QRadioButton>

#include "app/chartwindow.h"
#include "app/core/sheetcommands.h"
#include "app/mainwindow.h"
#include "common/command.h"
#include "common/errtext.h"
#include "common/messages.h"
#include "common/text.h"
#include "platform/fileops.h"

namespace {

// The file table as it was when the command started, for a workbook that
// outlives the command or is written on a worker: it shares the table's
// bytes instead of copying them.
class SnapshotSource : public vemlo::TableSource {
public:
    explicit SnapshotSource(const vemlo::FileTable& t) : rows_(t.snapshot()) {}
    int rows() const override { return int(rows_.size()); }
    int columns() const override { return vemlo::FileTable::kColumns; }
    std::string_view text(int row, int col) const override { return rows_.cell(size_t(row), col); }

private:
    const vemlo::RowStore rows_;
};

// The engine, or nullptr once the user is told it cannot be had.
std::unique_ptr<vemlo::sheet::Application> startEngine()
{
    std::unique_ptr<vemlo::sheet::Application> app = vemlo::sheet::createApplication();
    if (!app)
        vemlo::ShowMessage(QStringLiteral("Excel调用出错！"));
    return app;
}

}  // namespace

void TForm1::btnanagridClick(QObject*)
{
    using namespace vemlo;
    // An empty path box names no folder: the file would land in "/".
    if (workingFolder().empty()) {
        vemlo::ShowMessage(QStringLiteral("你没有选择文件夹"));
        return;
    }
    std::unique_ptr<Application> app = startEngine();
    if (!app)
        return;
    const Orientation orientation = rbh->isChecked()   ? Orientation::Rows
                                    : rbv->isChecked() ? Orientation::Columns
                                                       : Orientation::None;
    const std::string file = workingFolder() + "/导出列表.xls";
    const QString exporting = QStringLiteral("正在导出表格…");
    const QString nothingExported = QStringLiteral("已取消：没有导出任何文件");
    // A folder of that name is never offered for replacing: the save refuses it.
    // A stop asked while the folder is looked at ends the command there.
    const auto taken = runCommand(exporting, [&](Progress* progress) {
        const bool fileThere = vemlo::fs::exists(file) && !vemlo::fs::isDirectory(file);
        progress->lookNow();
        return fileThere;
    });
    if (taken.stopped) {
        vemlo::ShowMessage(nothingExported);
        return;
    }
    SaveMode mode = SaveMode::NoReplace;
    if (taken.value) {
        if (!vemlo::askYesNo(QStringLiteral("导出列表.xls 已存在，是否替换？")))
            return;
        mode = SaveMode::Replace;
    }
    const auto [saved, stopped] =
        runCommand(exporting, [&, source = SnapshotSource(*table_)](Progress* progress) {
            return exportTable(*app, source, orientation, file, mode, progress);
        });
    if (stopped) {
        vemlo::ShowMessage(nothingExported);
        return;
    }
    if (!saved.ok())
        throw VemloError(saveFailureText(file, saved));
    vemlo::ShowMessage(QStringLiteral("导出Excel表格完毕\r\n导出地址：") + vemlo::displayText(file));
}

void TForm1::btnanagraphClick(QObject*)
{
    using namespace vemlo;
    std::unique_ptr<Application> app = startEngine();
    if (!app)
        return;
    SpaceChart chart;
    {
        vemlo::BusyCursor busy;
        chart = buildSpaceChart(*app, std::make_shared<SnapshotSource>(*table_));
    }
    if (chart.problem)
        throw VemloError(displayText(sheetFaultText(chart.problem)));
    if (!chart.placed)
        vemlo::ShowMessage(QStringLiteral("对象引用失败"));
    auto* window = new vemlo::ChartWindow(std::move(app), workingFolder(), this);
    window->show();
}
