// "生成表格" and "生成图像" on the real main window: the saved export read back
// by openpyxl and by our own reader, the boxes they show, and the chart window.
#include <QFileDialog>
#include <QLineEdit>
#include <sys/stat.h>
#include <QPieSeries>
#include <QPieSlice>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <array>
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

// Answers the next file dialog with path.
void answerFileDialog(const QString& path)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, path] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
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

    void exportRowByRow_data()
    {
        QTest::addColumn<Rows>("rows");
        QTest::newRow("start-up table") << Rows{{"", "", "", "", "", "", ""}};
        QTest::newRow("caption row alone") << Rows{};
        QTest::newRow("listed entries") << Rows{row("txt", "5"), row("", "0", "sub"), row("jpg", "12345678901")};
        QTest::newRow("chinese and broken names")
            << Rows{{"/w/报告.doc", "报告.doc", "doc", "9", "2024/05/06", "2024/01/02", "32"},
                    {"/w/\xff\xfe名", "\xff\xfe名", "", "1", "2024/05/06", "2024/01/02", "33"}};
    }

    void exportRowByRow()
    {
        QFETCH(Rows, rows);
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        Form2->setWorkingFolder(folder);
        if (rows.size() == 1 && rows[0][0].empty())
            setStartupTable();
        else
            setTable(rows);
        QTest::mouseClick(Form1->rbh, Qt::LeftButton);
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        const std::string file = folder + "/导出列表.xls";
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, kDone + shown(file));
        QCOMPARE(boxes[0].icon, QMessageBox::NoIcon);
        QCOMPARE(listNames(folder), std::vector<std::string>{"导出列表.xls"});

        const ReadBook book = readWorkbook(file);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(int(book.cells.size()), tableRows() * 7);
        for (int r = 0; r < tableRows(); ++r) {
            for (int c = 0; c < 7; ++c) {
                const ReadCell* got = book.at(r + 1, c + 1);
                QVERIFY(got);
                QCOMPARE(got->text, shown(cell(c, r)));
                const bool sizeColumn = c == 3;
                QCOMPARE(got->format, sizeColumn ? QStringLiteral("General") : QStringLiteral("@"));
                QCOMPARE(got->number, sizeColumn && r > 0 && !cell(c, r).empty());
            }
        }
    }

    void exportColumnByColumn_data()
    {
        QTest::addColumn<int>("dataRows");
        QTest::newRow("two data rows") << 2;
        QTest::newRow("three data rows") << 3;
        QTest::newRow("five data rows") << 5;
    }

    void exportColumnByColumn()
    {
        QFETCH(int, dataRows);
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        Form2->setWorkingFolder(folder);
        Rows rows;
        for (int i = 0; i < dataRows; ++i)
            rows.push_back(row("e" + std::to_string(i), std::to_string(100 + i), "n" + std::to_string(i)));
        rows[0][1] = "42";  // a name that looks like a number
        setTable(rows);
        QTest::mouseClick(Form1->rbv, Qt::LeftButton);
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        QCOMPARE(boxes.size(), size_t(1));
        const ReadBook book = readWorkbook(folder + "/导出列表.xls");
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(int(book.cells.size()), 7 * (dataRows + 1));
        for (int r = 0; r <= dataRows; ++r) {
            for (int c = 0; c < 7; ++c) {
                // Worksheet column 4 is the third data row: all its fields general.
                const bool general = r == 3;
                QCOMPARE(book.text(c + 1, r + 1), shown(cell(c, r)));
                QCOMPARE(book.format(c + 1, r + 1), general ? QStringLiteral("General") : QStringLiteral("@"));
            }
        }
        QVERIFY(!book.at(4, 2)->number);  // sizes of the other rows stay texts
        QVERIFY(!book.at(2, 2)->number);  // "42" under "@"
        if (dataRows >= 3)
            QVERIFY(book.at(4, 4)->number);
    }

    void exportWithoutOrientation()
    {
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        Form2->setWorkingFolder(folder);
        setTable({row("txt", "5")});
        QTest::mouseClick(Form1->rbcircle, Qt::LeftButton);
        QVERIFY(!Form1->rbh->isChecked() && !Form1->rbv->isChecked());
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, kDone + shown(folder + "/导出列表.xls"));
        const ReadBook book = readWorkbook(folder + "/导出列表.xls");
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(book.sheetNames, QStringList{"Sheet1"});
        QVERIFY(book.cells.empty());
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

    // A full disk where the workbook goes, or where the scratch files go, at
    // many levels of free space, so that the save fails in different phases:
    // either the complete file and the completion box, or the reason and the
    // earlier workbook byte for byte. Never a leftover entry or descriptor.
    void fullDiskKeepsTheEarlierWorkbook_data()
    {
        QTest::addColumn<bool>("scratchFull");
        QTest::newRow("working folder's disk full") << false;
        QTest::newRow("scratch folder's disk full") << true;
    }

    void fullDiskKeepsTheEarlierWorkbook()
    {
        QFETCH(bool, scratchFull);
        ScratchFs disk;
        if (!disk.usable())
            QSKIP(disk.skipReason());
        TempDir other;
        const std::string folder = scratchFull ? other.path() : disk.path() + "/w";
        ::mkdir(folder.c_str(), 0755);
        const std::string file = folder + "/导出列表.xls";
        Form2->setWorkingFolder(folder);
        setTable({row("txt", "5")});
        QCOMPARE(clickAndCatch(Form1->btnanagrid).size(), size_t(1));
        std::string earlier = readFile(file);
        QVERIFY(!earlier.empty());

        // 160 entries with long names that compress badly.
        Rows rows;
        uint32_t seed = 12345;
        for (int i = 0; i < 160; ++i) {
            std::string name = "第" + std::to_string(i) + "号_";
            for (int k = 0; k < 60; ++k)
                name += "0123456789abcdef"[(seed = seed * 1103515245 + 12345) >> 28];
            rows.push_back(row("dat", std::to_string(seed % 100000), name));
        }
        setTable(rows);
        const QByteArray tmpBefore = qgetenv("TMPDIR");
        if (scratchFull)
            qputenv("TMPDIR", QByteArray::fromStdString(disk.path()));
        const std::vector<std::string> files = openFiles();
        QStringList outcomes;
        int saved = 0, failed = 0;
        // The workbook takes about 20 KiB, its scratch files about 170 KiB.
        std::vector<long long> levels;
        for (long long kib = scratchFull ? 8 : 0; kib <= 400; kib += scratchFull ? 16 : kib < 40 ? 2 : 60)
            levels.push_back(kib);
        for (long long kib : levels) {
            ::unlink((disk.path() + "/.filler").c_str());
            disk.fillUntil(kib * 1024);
            const auto boxes = clickAndCatch(Form1->btnanagrid, {QStringLiteral("是")});
            QCOMPARE(boxes.size(), size_t(2));
            if (boxes[1].text == kDone + shown(file)) {
                ++saved;
                const ReadBook book = readWithOwnCode(file);
                QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
                QCOMPARE(int(book.cells.size()), tableRows() * 7);
                for (int r = 0; r < tableRows(); ++r)
                    QCOMPARE(book.text(r + 1, 2), shown(cell(1, r)));
                earlier = readFile(file);
                outcomes << QStringLiteral("%1 KiB: saved").arg(kib);
            } else {
                ++failed;
                QCOMPARE(boxes[1].icon, QMessageBox::Critical);
                QVERIFY2(boxes[1].text.startsWith(QStringLiteral("无法保存“") + shown(file) + QStringLiteral("”：")),
                         qPrintable(boxes[1].text));
                QVERIFY2(boxes[1].text.contains(QStringLiteral("磁盘空间不足")), qPrintable(boxes[1].text));
                QVERIFY(readFile(file) == earlier);
                outcomes << QStringLiteral("%1 KiB: %2").arg(kib).arg(boxes[1].text.section(u'：', 1));
            }
            QCOMPARE(listNames(folder), std::vector<std::string>{"导出列表.xls"});
            const std::vector<std::string> onDisk = scratchFull
                                                        ? std::vector<std::string>{".filler", "lost+found"}
                                                        : std::vector<std::string>{".filler", "lost+found", "w"};
            QCOMPARE(listNames(disk.path()), onDisk);
            QCOMPARE(openFiles(), files);
        }
        qputenv("TMPDIR", tmpBefore);
        qInfo().noquote() << outcomes.join(u'\n');
        QVERIFY(saved > 0 && failed > 0);
    }

    void exportThatCannotSave_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unwritable folder") << "unwritable" << "权限不足";
        QTest::newRow("missing folder") << "missing" << "文件不存在";
    }

    void exportThatCannotSave()
    {
        QFETCH(QString, where);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const std::string folder =
            where == "unwritable" ? unwritableFolder(dir.path()) : dir.path().toStdString() + "/gone";
        Form2->setWorkingFolder(folder);
        setTable({row("txt", "5")});
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        const std::string file = folder + "/导出列表.xls";
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QVERIFY2(boxes[0].text.startsWith(QStringLiteral("无法保存“") + shown(file) + QStringLiteral("”：") + reason),
                 qPrintable(boxes[0].text));
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
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
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
        for (int r = 1; r < tableRows(); ++r) {
            QCOMPARE(book.text(r + 1, 2), shown(cell(1, r)));
            QCOMPARE(book.text(r + 1, 4), shown(cell(3, r)));
        }
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
        QTemporaryDir dir;
        Form2->setWorkingFolder(dir.path().toStdString());
        setTable({row("txt", "5")});
        vemlo::sheet::setApplicationFactory([] { return nullptr; });
        const auto boxes = clickAndCatch(Form1->findChild<QPushButton*>(button));
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("Excel调用出错！"));
        QCOMPARE(boxes[0].icon, QMessageBox::NoIcon);
        QVERIFY(listNames(dir.path().toStdString()).empty());
        QVERIFY(chartWindows().empty());
    }

    void chartWindowShowsTheSummary()
    {
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
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
        QCOMPARE(w->summary->rowCount(), 4);
        QCOMPARE(w->summary->item(0, 0)->text(), QStringLiteral("jpg"));
        QCOMPARE(w->summary->item(0, 1)->text(), QStringLiteral("150"));

        vemlo::sheet::Worksheet& sheet = w->workbook().worksheets(1);
        QCOMPARE(sheet.cells(1, 9).value(), std::string_view("jpg"));
        QCOMPARE(sheet.cells(1, 10).value(), std::string_view("150"));
        QCOMPARE(sheet.cells(2, 9).value(), std::string_view("txt"));
        QCOMPARE(sheet.cells(2, 10).value(), std::string_view("7"));
        QCOMPARE(sheet.cells(3, 1).value(), std::string_view("/w/f.jpg"));  // the copy, row for row
        QCOMPARE(sheet.cells(3, 4).numberFormatLocal(), std::string_view("G/通用格式"));
        QCOMPARE(sheet.cells(3, 5).numberFormatLocal(), std::string_view("@"));

        const std::string saved = folder + "/chart.xlsx";
        answerFileDialog(QString::fromStdString(saved));
        const auto saveBoxes = clickAndCatch(w->btnSaveAs);
        QCOMPARE(saveBoxes.size(), size_t(0));
        const ReadBook book = readWorkbook(saved);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(book.charts.size(), size_t(1));
        QCOMPARE(book.charts[0].type, QStringLiteral("PieChart"));
        QCOMPARE(book.charts[0].title, QStringLiteral("各种格式文件所占用空间比例"));
        QCOMPARE(book.charts[0].categories, QStringList{"Sheet1!$I$1:$I$4"});
        QCOMPARE(book.charts[0].values, QStringList{"Sheet1!$J$1:$J$4"});
        QCOMPARE(book.text(6, 1), QStringLiteral("/w/sub.d"));
        QCOMPARE(book.text(4, 10), QStringLiteral("0"));
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
