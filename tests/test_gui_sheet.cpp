// "生成表格" and "生成图像" on the real main window: the saved export read back
// by openpyxl, the boxes they show, and the chart window.
#include <QFileDialog>
#include <QLabel>
#include <QSet>
#include <QLineEdit>
#include <sys/stat.h>
#include <QPieSeries>
#include <QPieSlice>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <array>
#include <numeric>
#include <unistd.h>

#include "common/messages.h"
#include "app/chartwindow.h"
#include "spreadsheet/core/workbook.h"
#include "testutil/windows.h"
#include "testutil/workbookread.h"

using namespace vemlo::test;
using Rows = std::vector<std::array<std::string, 7>>;

namespace {

const QString kDone = QStringLiteral("导出Excel表格完毕\r\n导出地址：");

void setTable(const Rows& rows)
{
    vemlo::RowStore packed(1);
    for (const auto& r : rows)
        packed.emplace_back(std::array<std::string_view, 7>{r[0], r[1], r[2], r[3], r[4], r[5], r[6]});
    Form1->table()->replaceDataRows(std::move(packed));
}

// Captions and one empty data row, as at start-up.
void setStartupTable()
{
    Form1->table()->setTableRows(1);
    Form1->table()->setTableRows(2);
}

std::array<std::string, 7> row(const std::string& format, const std::string& size, const std::string& name = "f")
{
    return {"/w/" + name + "." + format, name + "." + format, format, size, "2024/05/06", "2024/01/02", "32"};
}

QString shown(const std::string& bytes) { return vemlo::displayText(bytes); }

QList<vemlo::ChartWindow*> chartWindows() { return Form1->findChildren<vemlo::ChartWindow*>(); }

void closeChartWindows()
{
    for (vemlo::ChartWindow* w : chartWindows())
        delete w;
}

// Answers the next file dialog with path; startedIn gets the folder it
// showed first.
void answerFileDialog(const QString& path, QString* startedIn = nullptr)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, path, startedIn] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            if (startedIn)
                *startedIn = d->directory().path();
            // selectFile leaves the name box alone while it has the focus,
            // so the name is typed into the box itself.
            d->selectFile(path);
            if (auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(path);
            QMetaObject::invokeMethod(d, "accept");
        }
    });
    timer->start();
}

}  // namespace

class GuiSheetTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { createFormsOnce(); }
    void cleanup()
    {
        vemlo::sheet::setApplicationFactory({});
        closeChartWindows();
        Form1->rbh->setChecked(true);
    }

    // The radio buttons choose how the table goes into the workbook; the
    // completion box names the file.
    void exportOrientation_data()
    {
        QTest::addColumn<QString>("radio");
        QTest::addColumn<int>("cells");
        QTest::addColumn<int>("sizeRow");  // where the size of the data row lands
        QTest::addColumn<int>("sizeColumn");
        QTest::newRow("横板") << "rbh" << 14 << 2 << 4;
        QTest::newRow("竖版") << "rbv" << 14 << 4 << 2;
        QTest::newRow("饼状图") << "rbcircle" << 0 << 0 << 0;
    }

    void exportOrientation()
    {
        QFETCH(QString, radio);
        QFETCH(int, cells);
        QFETCH(int, sizeRow);
        QFETCH(int, sizeColumn);
        TempDir dir;
        Form2->setWorkingFolder(dir.path());
        setTable({row("txt", "5", "name")});
        QTest::mouseClick(Form1->findChild<QWidget*>(radio), Qt::LeftButton);
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        const std::string file = dir.path() + "/导出列表.xls";
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, kDone + shown(file));
        QCOMPARE(boxes[0].icon, QMessageBox::NoIcon);
        const ReadBook book = readWorkbook(file);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(int(book.cells.size()), cells);
        if (cells)
            QCOMPARE(book.text(sizeRow, sizeColumn), QStringLiteral("5"));
    }

    // The path box is used as it stands: a folder ending in "/" gives "//".
    void exportJoinsThePathVerbatim()
    {
        TempDir dir;
        const std::string file = dir.path() + "//导出列表.xls";
        Form2->setWorkingFolder(dir.path() + "/");
        setTable({row("txt", "5")});
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, kDone + shown(file));
        QCOMPARE(listNames(dir.path()), std::vector<std::string>{"导出列表.xls"});
    }

    // An empty path box is no folder: the export stops before it starts the
    // engine, so nothing can be written, not even into "/". The engine it
    // would get writes nothing, so that the test cannot write into "/".
    void exportWithEmptyPathBox()
    {
        TempDir dir;
        importFolder(dir.path());
        Form2->edtFP->clear();
        int started = 0;
        vemlo::sheet::setApplicationFactory([&]() -> std::unique_ptr<vemlo::sheet::Application> {
            ++started;
            return nullptr;
        });
        const std::string before = currentDir();
        const std::vector<std::string> names = listNames(before);
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("你没有选择文件夹"));
        QCOMPARE(boxes[0].icon, QMessageBox::NoIcon);
        QCOMPARE(started, 0);
        QCOMPARE(listNames(before), names);
        QVERIFY(listNames(dir.path()).empty());
    }

    // A failed save shows the error display with the file and the reason;
    // a table the worksheet cannot hold, the engine's refusal in words.
    void exportThatCannotSave_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("text");  // after the folder ("%1": the file)
        QTest::newRow("folder gone") << "/gone" << 1 << "无法保存“%1”：文件不存在";
        QTest::newRow("more rows than a worksheet has columns")
            << "" << vemlo::sheet::kMaxColumns << "单元格 (1, 16385) 超出工作表范围.";
    }

    void exportThatCannotSave()
    {
        QFETCH(QString, folder);
        QFETCH(int, rows);
        QFETCH(QString, text);
        TempDir dir;
        Form2->setWorkingFolder(dir.path() + folder.toStdString());
        setTable(Rows(size_t(rows), row("txt", "5")));
        QTest::mouseClick(Form1->rbv, Qt::LeftButton);
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        const std::string file = dir.path() + folder.toStdString() + "/导出列表.xls";
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QVERIFY2(boxes[0].text.startsWith(text.replace(QStringLiteral("%1"), shown(file))), qPrintable(boxes[0].text));
        QVERIFY(!pathExists(file));
    }

    void exportOverExistingFile_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("keep it") << "否";
        QTest::newRow("replace it") << "是";
    }

    void exportOverExistingFile()
    {
        QFETCH(QString, answer);
        TempDir dir;
        const std::string folder = dir.path();
        writeFile(folder + "/a.txt", "hello");
        writeFile(folder + "/导出列表.xls", "earlier");
        importFolder(folder);
        QCOMPARE(tableRows(), 3);
        const auto boxes = clickAndCatch(Form1->btnanagrid, {answer});
        QVERIFY(!boxes.empty());
        QCOMPARE(boxes[0].text, QStringLiteral("导出列表.xls 已存在，是否替换？"));
        QCOMPARE(boxes[0].buttons, (QStringList{"是", "否"}));
        QCOMPARE(listNames(folder), (std::vector<std::string>{"a.txt", "导出列表.xls"}));
        if (answer == "否") {
            QCOMPARE(boxes.size(), size_t(1));
            QCOMPARE(readFile(folder + "/导出列表.xls"), std::string("earlier"));
            return;
        }
        QCOMPARE(boxes.size(), size_t(2));
        QCOMPARE(boxes[1].text, kDone + shown(folder + "/导出列表.xls"));
        const ReadBook book = readWorkbook(folder + "/导出列表.xls");
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(book.text(2, 2), QStringLiteral("a.txt"));
    }

    void noSpreadsheetEngine_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("生成表格") << "btnanagrid";
        QTest::newRow("生成图像") << "btnanagraph";
    }

    void noSpreadsheetEngine()
    {
        QFETCH(QString, button);
        TempDir dir;
        Form2->setWorkingFolder(dir.path());
        setTable({row("txt", "5")});
        vemlo::sheet::setApplicationFactory([] { return nullptr; });
        const auto boxes = clickAndCatch(Form1->findChild<QPushButton*>(button));
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("Excel调用出错！"));
        QCOMPARE(boxes[0].icon, QMessageBox::NoIcon);
        QVERIFY(listNames(dir.path()).empty());
        QVERIFY(chartWindows().empty());
    }

    void chartWindowShowsTheSummary()
    {
        TempDir dir;
        const std::string folder = dir.path();
        Form2->setWorkingFolder(folder);
        setTable({row("jpg", "100"), row("jpg", "50"), row("txt", "7"), row("", "3"), row("d", "0", "sub")});
        // No radio button changes the chart.
        QTest::mouseClick(Form1->rbv, Qt::LeftButton);
        const auto boxes = clickAndCatch(Form1->btnanagraph);
        QCOMPARE(boxes.size(), size_t(0));
        QVERIFY(listNames(folder).empty());  // the command itself writes no file
        QCOMPARE(chartWindows().size(), 1);
        vemlo::ChartWindow* w = chartWindows()[0];
        QVERIFY(w->isVisible());
        QVERIFY(!w->isModal());
        QCOMPARE(w->windowTitle(), QStringLiteral("各种格式文件所占用空间比例"));
        QStringList labels;
        for (QPieSlice* s : w->pie->slices())
            labels << s->label();
        QCOMPARE(labels, (QStringList{"jpg 93.8%", "txt 4.4%", "(无扩展名) 1.9%", "d 0.0%"}));
        QCOMPARE(w->summary->model()->rowCount(), 4);
        QCOMPARE(w->summary->model()->index(0, 0).data().toString(), QStringLiteral("jpg"));
        QCOMPARE(w->summary->model()->index(0, 1).data().toString(), QStringLiteral("150"));
        QCOMPARE(w->summary->model()->index(0, 2).data().toString(), QStringLiteral("150 B"));


        const std::string saved = folder + "/chart.xlsx";
        QString startedIn;
        answerFileDialog(QString::fromStdString(saved), &startedIn);
        const auto saveBoxes = clickAndCatch(w->btnSaveAs);
        QCOMPARE(saveBoxes.size(), size_t(0));
        QCOMPARE(startedIn, QString::fromStdString(folder));
        const ReadBook book = readWorkbook(saved);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(book.charts.size(), size_t(1));
        QCOMPARE(book.charts[0].categories, QStringList{"Sheet1!$I$1:$I$4"});  // the window's own workbook
        QCOMPARE(book.text(6, 1), QStringLiteral("/w/sub.d"));
    }

    void chartOfTenThousandFormats()
    {
        // 20,000 rows over 10,000 formats: the window opens with every format
        // in its table, the 19 largest as slices and the rest as one "其他";
        // the saved workbook keeps every format row.
        Rows rows;
        std::vector<int64_t> totals(10000, 0);
        for (int i = 0; i < 20000; ++i) {
            const int f = i % 10000;
            const int64_t size = (int64_t(i) * 7919) % 100000 + (f < 19 ? 10000000 : 0);
            rows.push_back(row("x" + std::to_string(f), std::to_string(size), "n" + std::to_string(i)));
            totals[size_t(f)] += size;
        }
        setTable(rows);
        QTemporaryDir dir;
        Form2->setWorkingFolder(dir.path().toStdString() + "/w");
        QVERIFY(clickAndCatch(Form1->btnanagraph).empty());
        QCOMPARE(chartWindows().size(), 1);
        vemlo::ChartWindow* w = chartWindows()[0];
        QVERIFY(w->isVisible());
        QAbstractItemModel* summary = w->summary->model();
        QCOMPARE(summary->rowCount(), 10000);
        // The summary and the slices the largest first, the earlier among equals.
        std::vector<int> order(totals.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return totals[size_t(a)] > totals[size_t(b)]; });
        for (int r : {0, 18, 19, 9999}) {
            const int f = order[size_t(r)];
            QCOMPARE(summary->index(r, 0).data().toString(), QStringLiteral("x%1").arg(f));
            QCOMPARE(summary->index(r, 1).data().toString(), QString::number(totals[size_t(f)]));
        }
        QCOMPARE(w->pie->count(), 20);
        double rest = 0;
        for (size_t r = 19; r < order.size(); ++r)
            rest += double(totals[size_t(order[r])]);
        for (int r = 0; r < 19; ++r) {
            const int f = order[size_t(r)];
            QVERIFY(w->pie->slices()[r]->label().startsWith(QStringLiteral("x%1 ").arg(f)));
            QCOMPARE(w->pie->slices()[r]->value(), double(totals[size_t(f)]));
        }
        QVERIFY(w->pie->slices()[19]->label().startsWith(QStringLiteral("其他 ")));
        QCOMPARE(w->pie->slices()[19]->value(), rest);

        // The file dialog starts beside so long a table's folder, not in it.
        const std::string saved = dir.path().toStdString() + "/chart.xlsx";
        QString startedIn;
        answerFileDialog(QString::fromStdString(saved), &startedIn);
        QVERIFY(clickAndCatch(w->btnSaveAs).empty());
        QCOMPARE(startedIn, dir.path());
        const ReadBook book = readWorkbook(saved);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(book.charts[0].values, QStringList{"Sheet1!$J$1:$J$10000"});
        for (int f = 0; f < 10000; ++f) {
            QCOMPARE(book.text(f + 1, 9), QStringLiteral("x%1").arg(f));
            QCOMPARE(book.text(f + 1, 10), QString::number(totals[size_t(f)]));
        }
        QCOMPARE(book.text(20001, 1), QStringLiteral("/w/n19999.x9999"));
    }

    // Every slice named in the legend and coloured apart from the others,
    // "其他" in grey; the summary the largest first, with readable sizes and
    // "<0.1%" for bytes too few to show as a share.
    void chartNamesEverySlice_data()
    {
        QTest::addColumn<int>("formats");
        QTest::newRow("5") << 5;
        QTest::newRow("8: the last slice meets the first") << 8;
        QTest::newRow("12") << 12;
        QTest::newRow("25") << 25;
    }

    void chartNamesEverySlice()
    {
        QFETCH(int, formats);
        Rows rows;
        for (int f = 0; f < formats; ++f)  // f0 the smallest, 1 byte; f1 3 KB, f2 6 KB, ...
            rows.push_back(row("f" + std::to_string(f), std::to_string(f == 0 ? 1 : 1536LL << f)));
        setTable(rows);
        QVERIFY(clickAndCatch(Form1->btnanagraph).empty());
        vemlo::ChartWindow* w = chartWindows().at(0);
        const QList<QPieSlice*> slices = w->pie->slices();
        const int shown = std::min(formats, 20);
        QCOMPARE(int(slices.size()), shown);
        QStringList named;
        for (QLabel* l : w->legend->findChildren<QLabel*>())
            if (!l->text().isEmpty())
                named << (l->toolTip().isEmpty() ? l->text() : l->toolTip());
        QSet<QRgb> colours;
        for (int i = 0; i < shown; ++i) {
            QCOMPARE(named.value(i), slices[i]->label());
            colours.insert(slices[i]->color().rgb());
            const QColor next = slices[(i + 1) % shown]->color();
            QVERIFY(shown == 1 || std::abs(slices[i]->color().hue() - next.hue()) > 10 ||
                    slices[i]->color().hsvSaturation() == 0 || next.hsvSaturation() == 0);
        }
        QCOMPARE(int(colours.size()), shown);
        QCOMPARE(slices.back()->label().startsWith("其他"), formats > 20);
        QCOMPARE(slices.back()->color().hsvSaturation() == 0, formats > 20);

        QAbstractItemModel* summary = w->summary->model();
        const int last = formats - 1;
        QCOMPARE(summary->index(0, 0).data().toString(), QStringLiteral("f%1").arg(last));
        QCOMPARE(summary->index(last, 0).data().toString(), QStringLiteral("f0"));
        QCOMPARE(summary->index(last, 2).data().toString(), QStringLiteral("1 B"));
        QCOMPARE(summary->index(last, 3).data().toString(), QStringLiteral("<0.1%"));
        QCOMPARE(summary->index(1, 2).data().toString(),
                 formats == 5 ? QStringLiteral("12.0 KB") : formats == 8 ? QStringLiteral("96.0 KB")
                 : formats == 12 ? QStringLiteral("1.5 MB") : QStringLiteral("12.0 GB"));
    }

    void chartKeepsTheTableAsItWas()
    {
        // The chart's workbook reads the table's rows in place: changes of
        // the table afterwards, in place or not, leave it as it was.
        setTable({row("jpg", "100", "a"), row("txt", "7", "b"), row("doc", "12", "c")});
        QVERIFY(clickAndCatch(Form1->btnanagraph).empty());
        Form1->table()->markRow(2);  // shrinks the row in place
        Form1->table()->setText(3, 1, "c-longer-name.doc");  // grows it elsewhere
        Form1->table()->setText(1, 2, "x");  // shrinks another
        Form1->AdjustToTop();
        QCOMPARE(Form1->table()->tableRows(), 3);
        QTemporaryDir dir;
        const std::string saved = dir.path().toStdString() + "/chart.xlsx";
        chartWindows()[0]->saveTo(saved);
        setTable({row("png", "1")});  // the old rows' bytes are let go by the table
        const ReadBook book = readWorkbook(saved);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(book.text(2, 3), QStringLiteral("jpg"));
        QCOMPARE(book.text(3, 1), QStringLiteral("/w/b.txt"));
        QCOMPARE(book.text(4, 2), QStringLiteral("c.doc"));
        vemlo::sheet::Worksheet& sheet = chartWindows()[0]->workbook().worksheets(1);
        QCOMPARE(sheet.cells(3, 2).value(), std::string_view("b.txt"));
        QCOMPARE(sheet.cells(4, 2).value(), std::string_view("c.doc"));
    }

    void chartOfStartupTableFails()
    {
        setStartupTable();
        const auto boxes = clickAndCatch(Form1->btnanagraph);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("'' is not a valid integer value."));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QVERIFY(chartWindows().empty());
    }

    void chartOfCaptionRowAlone()
    {
        Form1->table()->setTableRows(1);
        const auto boxes = clickAndCatch(Form1->btnanagraph);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("对象引用失败"));
        QCOMPARE(chartWindows().size(), 1);
        QCOMPARE(chartWindows()[0]->windowTitle(), QStringLiteral("各种格式文件所占用空间比例"));
        QCOMPARE(chartWindows()[0]->pie->count(), 0);
    }

    void eachPressOpensItsOwnWindow()
    {
        setTable({row("txt", "5")});
        QVERIFY(clickAndCatch(Form1->btnanagraph).empty());
        setTable({row("jpg", "5"), row("png", "5")});
        QVERIFY(clickAndCatch(Form1->btnanagraph).empty());
        auto windows = chartWindows();
        QCOMPARE(windows.size(), 2);
        QPointer<vemlo::ChartWindow> first = windows[0];
        QCOMPARE(windows[1]->pie->count(), 2);
        first->close();
        QTRY_VERIFY(first.isNull());  // closing deletes it and its workbook
        QCOMPARE(chartWindows().size(), 1);
        QCOMPARE(chartWindows()[0]->pie->count(), 2);
    }
};

QTEST_MAIN(GuiSheetTest)
#include "test_gui_sheet.moc"
