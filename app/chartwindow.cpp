#include "app/chartwindow.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QAbstractTableModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "app/core/sheetcommands.h"
#include "common/errtext.h"
#include "common/messages.h"
#include "common/progressgate.h"
#include "common/text.h"

namespace vemlo {

namespace {

// Slices the pie shows at most, "其他" included.
constexpr size_t kMaxSlices = 20;

QString percentText(double part, double whole)
{
    return QString::number(whole > 0 ? 100.0 * part / whole : 0.0, 'f', 1) + u'%';
}

// The summary beside the pie: format, bytes and share, one row per format.
// Texts are made when the view asks for them, so a summary of many formats
// costs only the rows on screen.
class SummaryModel : public QAbstractTableModel {
public:
    SummaryModel(sheet::ChartSeries data, double whole, QObject* parent)
        : QAbstractTableModel(parent), data_(std::move(data)), whole_(whole)
    {
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(data_.values.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        const size_t row = size_t(index.row());
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue((index.column() == 0 ? Qt::AlignLeft : Qt::AlignRight) |
                                       Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        const double value = data_.values[row];
        switch (index.column()) {
        case 0: return displayText(data_.categories[row]);
        case 1: return QString::number(value, 'f', 0);
        default: return percentText(std::max(value, 0.0), whole_);
        }
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        static const char* const captions[] = {"格式", "大小/B", "比例"};
        if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 3)
            return QString::fromUtf8(captions[section]);
        return QAbstractTableModel::headerData(section, o, role);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

private:
    const sheet::ChartSeries data_;
    const double whole_;
};

}  // namespace

ChartWindow::ChartWindow(std::unique_ptr<sheet::Application> app, std::string folder,
                         QWidget* parent)
    : QWidget(parent, Qt::Window), app_(std::move(app)), folder_(std::move(folder))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("chartWindow"));
    const sheet::Chart& source = app_->activeChart();
    const QString title = displayText(source.titleText());
    setWindowTitle(title);

    // A pie draws one series: the first one of the chart.
    std::vector<sheet::ChartSeries> series = source.series();
    sheet::ChartSeries data = series.empty() ? sheet::ChartSeries{} : std::move(series.front());
    double whole = 0;
    for (double v : data.values)
        whole += std::max(v, 0.0);

    pie = new QPieSeries(this);
    // The pie shows the largest formats, at most kMaxSlices - 1 of them in
    // their table order, and the rest together as one "其他" slice: a pie of
    // thousands of slivers is neither readable nor quick to draw. The table
    // beside it lists every format.
    const size_t count = data.values.size();
    const std::vector<char> ownSlice = ownSlices(data.values, kMaxSlices);
    QList<QPieSlice*> slices;
    double rest = 0;
    // The rows whose texts are the widest of their columns: the longest
    // name, the largest and the smallest total (the largest share).
    size_t longestName = 0, largest = 0, smallest = 0;
    for (size_t i = 0; i < count; ++i) {
        const double value = std::max(data.values[i], 0.0);
        if (ownSlice[i])
            slices.append(new QPieSlice(
                displayText(data.categories[i]) + u' ' + percentText(value, whole), value));
        else
            rest += value;
        if (data.categories[i].size() > data.categories[longestName].size())
            longestName = i;
        if (data.values[i] > data.values[largest])
            largest = i;
        if (data.values[i] < data.values[smallest])
            smallest = i;
    }
    if (count > kMaxSlices)
        slices.append(new QPieSlice(QStringLiteral("其他 ") + percentText(rest, whole), rest));
    // Labels of thin slices would bury each other: those are read from the
    // legend, or with many slices from the table alone.
    for (QPieSlice* slice : slices)
        slice->setLabelVisible(whole > 0 && slice->value() / whole >= 0.03);
    const bool crowded = slices.size() > 12;
    pie->append(slices);  // one call: the shares are worked out once

    summary = new QTableView(this);
    summary->setObjectName(QStringLiteral("summary"));
    summary->setModel(new SummaryModel(std::move(data), whole, summary));
    summary->verticalHeader()->hide();
    summary->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Column widths from the captions and the widest rows alone: asking the
    // view to fit its contents lays out the texts of a thousand rows.
    const int grid = summary->showGrid() ? 1 : 0;
    for (int c = 0; c < 3; ++c) {
        int width = summary->horizontalHeader()->sectionSizeHint(c);
        if (count > 0)
            for (size_t r : {longestName, largest, smallest})
                width = std::max(width, summary->sizeHintForIndex(summary->model()->index(int(r), c)).width() + grid);
        summary->setColumnWidth(c, width);
    }

    auto* chart = new QChart;
    chart->setTitle(title);
    // The legend is placed and hidden before it has markers: hiding it
    // afterwards lays out every marker's text once more.
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setVisible(!crowded);
    chart->addSeries(pie);
    chartView = new QChartView(chart, this);
    chartView->setObjectName(QStringLiteral("chartView"));
    chartView->setRenderHint(QPainter::Antialiasing);

    btnSaveAs = new QPushButton(QStringLiteral("另存为…"), this);
    btnSaveAs->setObjectName(QStringLiteral("btnSaveAs"));
    btnSaveAs->setAutoDefault(false);
    connect(btnSaveAs, &QPushButton::clicked, this, [this] { guarded([this] { saveAsClicked(); }); });

    auto* side = new QVBoxLayout;
    side->addWidget(summary, 1);
    side->addWidget(btnSaveAs);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(chartView, 3);
    layout->addLayout(side, 1);
    resize(960, 540);
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::saveTo(const std::string& path)
{
    SaveOutcome saved;
    bool stopped = false;
    {
        BusyCursor busy;
        ProgressGate progress(QStringLiteral("正在保存…"));
        saved = progress.run([&] { return saveWorkbook(workbook(), path, SaveMode::Replace, &progress); });
        stopped = progress.stopped();
    }
    if (stopped) {
        ShowMessage(QStringLiteral("已取消：没有保存任何文件"));
        return;
    }
    if (!saved.ok())
        throw VemloError(saveFailureText(path, saved));
}

void ChartWindow::saveAsClicked()
{
    QFileDialog dialog(this, QStringLiteral("另存为"), QFile::decodeName(folder_.c_str()),
                       QStringLiteral("工作簿 (*.xlsx)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    dialog.selectFile(QStringLiteral("空间比例.xlsx"));
    // The dialog asks before it returns the name of an existing file.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    saveTo(QFile::encodeName(dialog.selectedFiles().front()).toStdString());
}

}  // namespace vemlo
