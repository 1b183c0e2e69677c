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
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/core/sheetcommands.h"
#include "common/errtext.h"
#include "common/messages.h"
#include "common/text.h"

namespace vemlo {

namespace {

QString percentText(double part, double whole)
{
    return QString::number(whole > 0 ? 100.0 * part / whole : 0.0, 'f', 1) + u'%';
}

QTableWidgetItem* readOnlyItem(const QString& text, Qt::Alignment align)
{
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setTextAlignment(align | Qt::AlignVCenter);
    return item;
}

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
    const std::vector<sheet::ChartSeries> series = source.series();
    const sheet::ChartSeries data = series.empty() ? sheet::ChartSeries{} : series.front();
    double whole = 0;
    for (double v : data.values)
        whole += std::max(v, 0.0);

    pie = new QPieSeries(this);
    summary = new QTableWidget(int(data.values.size()), 3, this);
    summary->setObjectName(QStringLiteral("summary"));
    summary->setHorizontalHeaderLabels(
        {QStringLiteral("格式"), QStringLiteral("大小/B"), QStringLiteral("比例")});
    summary->verticalHeader()->hide();
    summary->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Labels of thin slices would bury each other: those are read from the
    // legend, or with many slices from the table alone.
    const bool crowded = data.values.size() > 12;
    for (size_t i = 0; i < data.values.size(); ++i) {
        const double value = data.values[i];
        const QString name = displayText(data.categories[i]);
        const QString percent = percentText(std::max(value, 0.0), whole);
        QPieSlice* slice = pie->append(name + u' ' + percent, std::max(value, 0.0));
        slice->setLabelVisible(whole > 0 && value / whole >= 0.03);
        const int row = int(i);
        summary->setItem(row, 0, readOnlyItem(name, Qt::AlignLeft));
        summary->setItem(row, 1, readOnlyItem(QString::number(value, 'f', 0), Qt::AlignRight));
        summary->setItem(row, 2, readOnlyItem(percent, Qt::AlignRight));
    }
    summary->resizeColumnsToContents();

    auto* chart = new QChart;
    chart->setTitle(title);
    chart->addSeries(pie);
    chart->legend()->setAlignment(Qt::AlignRight);
    chart->legend()->setVisible(!crowded);
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
    {
        BusyCursor busy;
        saved = saveWorkbook(workbook(), path, SaveMode::Replace);
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
