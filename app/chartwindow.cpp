#include "app/chartwindow.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QHeaderView>
#include <QPieSeries>
#include <QPieSlice>
#include <QPushButton>
#include <QAbstractTableModel>
#include <QTableView>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numeric>
#include <vector>

#include "app/core/sheetcommands.h"
#include "common/command.h"
#include "common/errtext.h"
#include "common/messages.h"
#include "common/text.h"

namespace vemlo {

namespace {

// Table rows (the caption row included) beyond which 另存为…'s dialog does
// not start in the working folder.
constexpr int kDialogListsAtOnce = 10000;

// Slices the pie shows at most, "其他" included.
constexpr size_t kMaxSlices = 20;

// One decimal; a share that holds bytes but would show as 0.0% is "<0.1%".
QString percentText(double part, double whole)
{
    const double share = whole > 0 ? 100.0 * part / whole : 0.0;
    if (part > 0 && share < 0.05)
        return QStringLiteral("<0.1%");
    return QString::number(share, 'f', 1) + u'%';
}

// Bytes in the largest unit of 1024 that keeps a number of at least 1:
// "512 B", "1.5 KB", "3.0 GB".
QString sizeText(double bytes)
{
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB", "PB", "EB"};
    size_t unit = 0;
    while (std::abs(bytes) >= 1024 && unit + 1 < std::size(units)) {
        bytes /= 1024;
        ++unit;
    }
    return QString::number(bytes, 'f', unit == 0 ? 0 : 1) + u' ' + QLatin1String(units[unit]);
}

// Seven hues that colour-blind readers still tell apart (Okabe and Ito),
// then the same seven lighter and darker. Neighbouring slices never share a
// hue, the last and the first included; "其他" is grey.
QColor sliceColour(int i, int count)
{
    static const QRgb hues[] = {0xe69f00, 0x56b4e9, 0x009e73, 0xf0e442,
                                0x0072b2, 0xd55e00, 0xcc79a7};
    constexpr int kHues = int(std::size(hues));
    int hue = i % kHues;
    if (i > 0 && i == count - 1 && hue == 0)
        hue = kHues / 2;
    const QColor c(hues[hue]);
    const int round = (i / kHues) % 3;  // as it is, lighter, darker
    const double toward = round == 1 ? 1.0 : 0.0;  // white or black
    const double by = round == 0 ? 0.0 : round == 1 ? 0.5 : 0.4;
    auto mix = [&](double v) { return v + (toward - v) * by; };
    return QColor::fromRgbF(float(mix(c.redF())), float(mix(c.greenF())), float(mix(c.blueF())));
}

const QColor kRestColour(0x99, 0x99, 0x99);

// The summary beside the pie: format, bytes, bytes in a readable unit and
// share, one row per format, the largest first. Texts are made when the view
// asks for them, so a summary of many formats costs only the rows on screen.
class SummaryModel : public QAbstractTableModel {
public:
    SummaryModel(sheet::ChartSeries data, std::vector<size_t> order, double whole, QObject* parent)
        : QAbstractTableModel(parent), data_(std::move(data)), order_(std::move(order)), whole_(whole)
    {
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(data_.values.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 4; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        const size_t row = order_[size_t(index.row())];
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue((index.column() == 0 ? Qt::AlignLeft : Qt::AlignRight) |
                                       Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        const double value = data_.values[row];
        switch (index.column()) {
        case 0: return displayText(data_.categories[row]);
        case 1: return QString::number(value, 'f', 0);
        case 2: return sizeText(value);
        default: return percentText(std::max(value, 0.0), whole_);
        }
    }
    QVariant headerData(int section, Qt::Orientation o, int role) const override
    {
        static const char* const captions[] = {"格式", "大小/B", "大小", "比例"};
        if (o == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 4)
            return QString::fromUtf8(captions[section]);
        return QAbstractTableModel::headerData(section, o, role);
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

private:
    const sheet::ChartSeries data_;
    const std::vector<size_t> order_;  // rows of data_, the largest first
    const double whole_;
};

}  // namespace

QWidget* ChartWindow::makeLegend(const QList<QPieSlice*>& slices)
{
    // Up to five rows a column and four columns; a name too long for its
    // column is cut with "…" and shown whole in the tooltip.
    auto* box = new QWidget(this);
    box->setObjectName(QStringLiteral("legend"));
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    const int n = int(slices.size());
    const int columns = std::clamp((n + 4) / 5, 1, 4);
    const int rows = std::max(1, (n + columns - 1) / columns);
    const int side = fontMetrics().height() * 3 / 4;
    const int textWidth = fontMetrics().horizontalAdvance(QStringLiteral("M")) * 18;
    for (int i = 0; i < n; ++i) {
        QPixmap swatch(side, side);
        swatch.fill(slices[i]->color());
        auto* mark = new QLabel(box);
        mark->setPixmap(swatch);
        const QString full = slices[i]->label();
        auto* name = new QLabel(fontMetrics().elidedText(full, Qt::ElideMiddle, textWidth), box);
        if (name->text() != full)
            name->setToolTip(full);
        grid->addWidget(mark, i % rows, 2 * (i / rows));
        grid->addWidget(name, i % rows, 2 * (i / rows) + 1);
    }
    for (int c = 0; c < columns; ++c)
        grid->setColumnStretch(2 * c + 1, 1);
    return box;
}

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

    // The formats the largest first, the earlier first among equal ones.
    const size_t count = data.values.size();
    std::vector<size_t> order(count);
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return data.values[a] > data.values[b]; });

    pie = new QPieSeries(this);
    // The pie shows the largest formats, at most kMaxSlices - 1 of them, and
    // the rest together as one "其他" slice: a pie of thousands of slivers is
    // neither readable nor quick to draw. The table beside it lists every
    // format.
    const std::vector<char> ownSlice = ownSlices(data.values, kMaxSlices);
    QList<QPieSlice*> slices;
    double rest = 0;
    // The rows whose texts are the widest of their columns: the longest
    // name, the largest and the smallest total (the largest share).
    size_t longestName = 0;
    for (const size_t i : order) {
        const double value = std::max(data.values[i], 0.0);
        if (ownSlice[i])
            slices.append(new QPieSlice(
                displayText(data.categories[i]) + u' ' + percentText(value, whole), value));
        else
            rest += value;
        if (data.categories[i].size() > data.categories[longestName].size())
            longestName = i;
    }
    const int own = int(slices.size());
    for (int i = 0; i < own; ++i)
        slices[i]->setColor(sliceColour(i, own));
    if (count > kMaxSlices) {
        slices.append(new QPieSlice(QStringLiteral("其他 ") + percentText(rest, whole), rest));
        slices.back()->setColor(kRestColour);
    }
    // Labels of thin slices would bury each other: every slice is named in
    // the legend below the pie.
    for (QPieSlice* slice : slices) {
        slice->setBorderColor(Qt::white);
        slice->setLabelVisible(whole > 0 && slice->value() / whole >= 0.03);
    }
    pie->append(slices);  // one call: the shares are worked out once
    legend = makeLegend(slices);

    summary = new QTableView(this);
    summary->setObjectName(QStringLiteral("summary"));
    summary->setModel(new SummaryModel(std::move(data), order, whole, summary));
    summary->verticalHeader()->hide();
    summary->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Column widths from the captions and the widest rows alone: asking the
    // view to fit its contents lays out the texts of a thousand rows.
    // The readable sizes are widest at four digits ("1023.9 MB"), in any row.
    summary->setWordWrap(false);
    const int grid = summary->showGrid() ? 1 : 0;
    const int longestRow = int(std::find(order.begin(), order.end(), longestName) - order.begin());
    const QFontMetrics metrics(summary->font());
    for (int c = 0; c < 4; ++c) {
        int width = summary->horizontalHeader()->sectionSizeHint(c);
        for (int r : {longestRow, 0, int(count) - 1}) {
            if (count == 0)
                break;
            const QModelIndex cell = summary->model()->index(r, c);
            int cellWidth = summary->sizeHintForIndex(cell).width() + grid;
            if (c == 2)
                cellWidth += metrics.horizontalAdvance(QStringLiteral("1023.9 MB")) -
                             metrics.horizontalAdvance(cell.data().toString());
            width = std::max(width, cellWidth);
        }
        summary->setColumnWidth(c, width);
    }
    summary->horizontalHeader()->setStretchLastSection(true);

    auto* chart = new QChart;
    chart->setTitle(title);
    // The chart's own legend is hidden before it has markers: hiding it
    // afterwards lays out every marker's text once more. Ours, in columns,
    // names every slice.
    chart->legend()->setVisible(false);
    chart->addSeries(pie);
    chartView = new QChartView(chart, this);
    chartView->setObjectName(QStringLiteral("chartView"));
    chartView->setRenderHint(QPainter::Antialiasing);

    btnSaveAs = new QPushButton(QStringLiteral("另存为…"), this);
    btnSaveAs->setObjectName(QStringLiteral("btnSaveAs"));
    btnSaveAs->setAutoDefault(false);
    connect(btnSaveAs, &QPushButton::clicked, this, [this] { guarded([this] { saveAsClicked(); }); });

    auto* pieSide = new QVBoxLayout;
    pieSide->addWidget(chartView, 1);
    pieSide->addWidget(legend);
    auto* side = new QVBoxLayout;
    side->addWidget(summary, 1);
    side->addWidget(btnSaveAs);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(pieSide, 3);
    layout->addLayout(side, 2);
    resize(1100, 640);
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::saveTo(const std::string& path)
{
    const CommandOwner owner(this);  // the window and its workbook stay while the save runs
    const auto [saved, stopped] = runCommand(QStringLiteral("正在保存…"), [&](Progress* progress) {
        return saveWorkbook(workbook(), path, SaveMode::Replace, progress);
    });
    if (stopped) {
        ShowMessage(QStringLiteral("已取消：没有保存任何文件"));
        return;
    }
    if (!saved.ok())
        throw VemloError(saveFailureText(path, saved));
}

void ChartWindow::saveAsClicked()
{
    // Qt's dialog lists and sorts its folder on the window's thread: seconds
    // for a folder of a hundred thousand entries. When the table the chart
    // counts is that long, the dialog starts in the parent folder, and the
    // working folder is one click away in the side bar.
    const QString folder = QDir::cleanPath(QFile::decodeName(folder_.c_str()));
    const QString parent = QFileInfo(folder).path();
    const bool big = workbook().worksheets(1).usedRows() > kDialogListsAtOnce && parent != folder;
    QFileDialog dialog(this, QStringLiteral("另存为"), big ? parent : folder,
                       QStringLiteral("工作簿 (*.xlsx)"));
    if (big)
        dialog.setSidebarUrls(dialog.sidebarUrls() << QUrl::fromLocalFile(folder));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("xlsx"));
    dialog.selectFile(QStringLiteral("空间比例.xlsx"));
    // The dialog asks before it returns the name of an existing file.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    saveTo(QFile::encodeName(dialog.selectedFiles().front()).toStdString());
}

}  // namespace vemlo
