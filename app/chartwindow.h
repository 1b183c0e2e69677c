// The window that shows a chart of the workbook engine: the pie drawn from
// the chart's series, the series beside it as a table, and "另存为…" to save
// the workbook with its chart. It owns the engine application; closing the
// window deletes it and discards the workbook.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

#include "spreadsheet/core/workbook.h"

class QChartView;
class QPieSeries;
class QPieSlice;
class QPushButton;
class QTableView;

namespace vemlo {

class ChartWindow : public QWidget {
    Q_OBJECT
public:
    // Shows the active chart of app's active workbook; "另存为…" starts in
    // folder.
    ChartWindow(std::unique_ptr<sheet::Application> app, std::string folder,
                QWidget* parent = nullptr);
    ~ChartWindow() override;

    sheet::Workbook& workbook() const { return app_->activeWorkbook(); }
    // Saves the workbook under path, replacing a file there; throws
    // VemloError with the reason when it cannot.
    void saveTo(const std::string& path);

    QChartView* chartView;
    QPieSeries* pie;
    QWidget* legend;      // every slice: its colour, format and share
    QTableView* summary;  // every format, its bytes and share, the largest first
    QPushButton* btnSaveAs;

private:
    QWidget* makeLegend(const QList<QPieSlice*>& slices);
    void saveAsClicked();
    std::unique_ptr<sheet::Application> app_;
    std::string folder_;
};

}  // namespace vemlo
