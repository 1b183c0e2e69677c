// The workbook engine: object model, cells, files it saves (read back by
// openpyxl) and the per-format summary.
#include <QTest>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <atomic>
#include <system_error>
#include <thread>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/core/sheetcommands.h"
#include "common/errtext.h"
#include "platform/savefile.h"
#include "spreadsheet/core/celltext.h"
#include "spreadsheet/core/zipcheck.h"
#include "spreadsheet/core/workbook.h"
#include "testutil/files.h"
#include "testutil/sheettable.h"
#include "testutil/workbookread.h"

using namespace vemlo;
using namespace vemlo::sheet;
using namespace vemlo::test;

namespace {

// Saves book as the export and the chart window do; a failure throws what
// the user is told.
void saveAs(const Workbook& book, const std::string& file, SaveMode mode = SaveMode::NoReplace)
{
    const SaveOutcome saved = saveWorkbook(book, file, mode);
    if (!saved.ok())
        throw std::runtime_error(saveFailureText(file, saved).toStdString());
}

QString errorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        return QString::fromStdString(failureText(e));
    }
    return {};
}

int threadCount() { return int(listNames("/proc/self/task").size()); }

// A watcher of a save that stops it at look stopAt (0: never) and keeps what
// it was shown: the looks, the last count, the thread asked and the threads
// the process had at the first look.
class SaveWatch : public Progress {
public:
    explicit SaveWatch(int stopAt) : stopAt_(stopAt) { setStride(1); }
    int looks = 0;
    int64_t lastCount = -1;
    int threadsAtFirstLook = 0;
    std::thread::id askedOn;

protected:
    bool look(int64_t done, std::string_view) override
    {
        if (++looks == 1) {
            threadsAtFirstLook = threadCount();
            askedOn = std::this_thread::get_id();
        }
        if (done >= 0)
            lastCount = done;
        return stopAt_ == 0 || looks < stopAt_;
    }

private:
    int stopAt_;
};

// A workbook of rows rows of 7 distinct texts.
Workbook& bookOfRows(Application& app, int rows)
{
    Worksheet& sheet = app.workbooks().add().worksheets(1);
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= 7; ++c)
            sheet.cells(r, c).setValue("第 " + std::to_string(r) + " 行 " + std::to_string(c));
    return app.workbooks().item(1);
}

// Rows enough for the save to read the file beside the writer.
int followedRows() { return int(kFollowFromCells / 7) + 1; }

}  // namespace

class SheetEngineTest : public QObject {
    Q_OBJECT
private slots:
    void objectModelAndItsRefusals()
    {
        auto app = createApplication();
        QVERIFY(app);
        QVERIFY(!app->visible());
        QVERIFY_THROWS_EXCEPTION(SheetError, app->activeWorkbook());
        Workbook& book = app->workbooks().add();
        QCOMPARE(&app->workbooks().item(1), &book);
        QCOMPARE(book.worksheetCount(), 1);
        Worksheet& sheet = book.worksheets(1);
        QCOMPARE(sheet.name(), std::string("Sheet1"));
        QCOMPARE(book.worksheetByName("Sheet1"), &sheet);
        QVERIFY_THROWS_EXCEPTION(SheetError, app->workbooks().item(2));
        QVERIFY_THROWS_EXCEPTION(SheetError, book.worksheets(0));
        QVERIFY_THROWS_EXCEPTION(SheetError, sheet.cells(0, 1));
        QVERIFY_THROWS_EXCEPTION(SheetError, sheet.cells(1, 0));
        QVERIFY_THROWS_EXCEPTION(SheetError, sheet.cells(kMaxRows + 1, 1));
        QVERIFY_THROWS_EXCEPTION(SheetError, sheet.cells(1, kMaxColumns + 1));
        sheet.cells(kMaxRows, kMaxColumns).setValue("corner");

        QVERIFY_THROWS_EXCEPTION(SheetError, app->activeChart());
        Chart& chart = app->addChart();
        QCOMPARE(&app->activeChart(), &chart);
        QVERIFY_THROWS_EXCEPTION(SheetError, chart.setChartType(51));
        QVERIFY_THROWS_EXCEPTION(SheetError, chart.location(kLocationAsObject, "Sheet2"));
        // A source without any value is refused, one with values taken.
        const Range empty = sheet.range(sheet.cells(1, 9), sheet.cells(255, 10));
        QVERIFY_THROWS_EXCEPTION(SheetError, chart.setSourceData(empty, kPlotByColumns));
        QVERIFY(!chart.hasSource());
        sheet.cells(2, 9).setValue("jpg");
        sheet.cells(2, 10).setValue("12");
        chart.setSourceData(sheet.range(sheet.cells(3, 10), sheet.cells(2, 9)), kPlotByColumns);
        QCOMPARE(chart.source().top, 2);
        QCOMPARE(chart.source().left, 9);
        QCOMPARE(chart.series().size(), size_t(1));
        QCOMPARE(chart.series()[0].categories, (std::vector<std::string>{"jpg", ""}));
        QCOMPARE(chart.series()[0].values, (std::vector<double>{12, 0}));

        book.close();
        QCOMPARE(app->workbooks().count(), 0);
        QVERIFY_THROWS_EXCEPTION(SheetError, app->activeWorkbook());
    }

    void factoryCanFail()
    {
        const ApplicationFactory before = setApplicationFactory([] { return nullptr; });
        QVERIFY(!createApplication());
        setApplicationFactory([]() -> std::unique_ptr<Application> { throw std::runtime_error("x"); });
        QVERIFY(!createApplication());
        setApplicationFactory(before);
        QVERIFY(createApplication());
    }

    void cellsKeepTheirLastWriteInAnyOrder()
    {
        Application app;
        Worksheet& s = app.workbooks().add().worksheets(1);
        const std::string big(100000, 'b');  // larger than a text block
        s.cells(3, 5).setValue("e");
        s.cells(3, 2).setValue("b");
        s.cells(3, 9).setValue(big);
        s.cells(3, 2).setNumberFormatLocal("@");
        s.cells(3, 2).setValue("b2");
        s.cells(3, 7).setNumberFormatLocal("G/通用格式");
        s.cells(1, 1).setValue(std::string("a\0z", 3));
        QCOMPARE(s.cells(3, 2).value(), std::string_view("b2"));
        QCOMPARE(s.cells(3, 2).numberFormatLocal(), std::string_view("@"));
        QCOMPARE(s.cells(3, 5).value(), std::string_view("e"));
        QCOMPARE(s.cells(3, 5).numberFormatLocal(), std::string_view(""));
        QCOMPARE(s.cells(3, 7).value(), std::string_view(""));
        QCOMPARE(s.cells(3, 9).value(), std::string_view(big));
        QCOMPARE(s.cells(1, 1).value(), std::string_view("a\0z", 3));
        QCOMPARE(s.cells(2, 2).value(), std::string_view(""));
        std::vector<uint16_t> cols;
        for (const auto& e : s.rowEntries(3))
            cols.push_back(e.col);
        QCOMPARE(cols, (std::vector<uint16_t>{2, 5, 7, 9}));
        QCOMPARE(s.usedRows(), 3);
        QCOMPARE(s.usedColumns(), 9);
    }

    void savedCells_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QString>("readText");
        QTest::addColumn<bool>("number");
        QTest::addColumn<QString>("readFormat");
        const QByteArray general = "G/通用格式";
        QTest::newRow("integer, general") << QByteArray("150") << general << "150" << true << "General";
        QTest::newRow("integer, text format") << QByteArray("150") << QByteArray("@") << "150" << false << "@";
        QTest::newRow("integer, no format") << QByteArray("7") << QByteArray() << "7" << true << "General";
        QTest::newRow("negative") << QByteArray("-42") << general << "-42" << true << "General";
        QTest::newRow("15 digits") << QByteArray("123456789012345") << general << "123456789012345" << true << "General";
        QTest::newRow("16 digits stay text") << QByteArray("1234567890123456") << general << "1234567890123456" << false << "General";
        QTest::newRow("leading zero stays text") << QByteArray("007") << general << "007" << false << "General";
        QTest::newRow("minus zero") << QByteArray("-0") << general << "-0" << false << "General";
        QTest::newRow("plus sign") << QByteArray("+5") << general << "+5" << false << "General";
        QTest::newRow("space") << QByteArray(" 5") << general << " 5" << false << "General";
        QTest::newRow("decimal") << QByteArray("1.5") << general << "1.5" << false << "General";
        QTest::newRow("exponent") << QByteArray("1e3") << general << "1e3" << false << "General";
        QTest::newRow("empty, text format") << QByteArray("") << QByteArray("@") << "" << false << "@";
        QTest::newRow("chinese") << QByteArray("报告 2024.txt") << QByteArray("@") << "报告 2024.txt" << false << "@";
        QTest::newRow("invalid bytes") << QByteArray("a\xff\xfe" "b") << QByteArray("@") << "a\uFFFD\uFFFDb" << false << "@";
        QTest::newRow("cut sequence") << QByteArray("x\xe4\xb8") << QByteArray("@") << "x\uFFFD" << false << "@";
        QTest::newRow("overlong") << QByteArray("\xc0\xaf") << QByteArray("@") << "\uFFFD\uFFFD" << false << "@";
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << QByteArray("@") << "\uFFFD\uFFFD\uFFFD" << false << "@";
        QTest::newRow("noncharacter") << QByteArray("\xef\xbf\xbf" "z") << QByteArray("@") << "\uFFFDz" << false << "@";
        QTest::newRow("nul") << QByteArray("a\0b", 3) << QByteArray("@") << "a\uFFFDb" << false << "@";
        QTest::newRow("newline and tab") << QByteArray("a\nb\tc") << QByteArray("@") << "a\nb\tc" << false << "@";
    }

    void savedCells()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, format);
        QFETCH(QString, readText);
        QFETCH(bool, number);
        QFETCH(QString, readFormat);
        TempDir dir;
        const std::string file = dir.path() + "/cells.xls";
        Application app;
        Workbook& book = app.workbooks().add();
        Cell cell = book.worksheets(1).cells(2, 3);
        cell.setNumberFormatLocal(format.toStdString());
        cell.setValue(std::string_view(text.constData(), size_t(text.size())));
        book.worksheets(1).cells(1, 1).setValue("first");
        saveAs(book, file);
        const ReadBook read = readWorkbook(file);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.sheetNames, QStringList{"Sheet1"});
        QCOMPARE(read.text(1, 1), QStringLiteral("first"));
        QVERIFY(read.at(2, 3));
        QCOMPARE(read.text(2, 3), readText);
        QCOMPARE(read.at(2, 3)->number, number);
        QCOMPARE(read.format(2, 3), readFormat);
    }

    // Both ways of making the file: without a name (O_TMPFILE) and, where a
    // file system cannot, under a hidden temporary name. While the earlier
    // file is replaced, its name never goes missing.
    void saveReplacesOnlyWhenAsked_data()
    {
        QTest::addColumn<bool>("unnamed");
        QTest::newRow("file without a name") << true;
        QTest::newRow("temporary name") << false;
    }

    void saveReplacesOnlyWhenAsked()
    {
        QFETCH(bool, unnamed);
        const bool allowedBefore = vemlo::fs::setUnnamedFilesAllowed(unnamed);
        const mode_t maskBefore = ::umask(027);
        const auto restore = qScopeGuard([&] {
            ::umask(maskBefore);
            vemlo::fs::setUnnamedFilesAllowed(allowedBefore);
        });
        TempDir dir;
        const std::string folder = dir.path();
        const std::string file = folder + "/导出列表.xls";
        writeFile(file, "earlier");
        {
            // The way this test takes: only a temporary name is seen in the folder.
            vemlo::fs::NewFile probe;
            QVERIFY(probe.create(folder).ok());
            QCOMPARE(probe.hasTemporaryName(), !unnamed);
            QCOMPARE(listNames(folder).size(), unnamed ? size_t(1) : size_t(2));
        }
        QCOMPARE(listNames(folder), std::vector<std::string>{"导出列表.xls"});
        const std::vector<std::string> files = openFiles();
        Application app;
        Workbook& book = app.workbooks().add();
        book.worksheets(1).cells(1, 1).setValue("new");
        QCOMPARE(errorOf([&] { saveAs(book, file, SaveMode::NoReplace); }),
                 QString::fromStdString("无法保存“" + file + "”：目标已存在"));
        QCOMPARE(readFile(file), std::string("earlier"));
        QCOMPARE(listNames(folder), std::vector<std::string>{"导出列表.xls"});

        std::atomic<bool> saving{true};
        std::atomic<int> missing{0};
        std::thread watcher([&] {
            while (saving)
                if (::access(file.c_str(), F_OK) != 0)
                    ++missing;
        });
        saveAs(book, file, SaveMode::Replace);
        saving = false;
        watcher.join();
        QCOMPARE(missing.load(), 0);
        QCOMPARE(listNames(folder), std::vector<std::string>{"导出列表.xls"});
        QCOMPARE(readWorkbook(file).text(1, 1), QStringLiteral("new"));
        const std::string other = folder + "/其他.xlsx";
        saveAs(book, other, SaveMode::NoReplace);
        for (const std::string& saved : {file, other}) {
            struct stat st;
            QCOMPARE(::stat(saved.c_str(), &st), 0);
            QCOMPARE(st.st_mode & 07777, mode_t(0640));  // 0666 less the umask
        }

        // A folder of that name is never replaced.
        const std::string sub = folder + "/sub.xls";
        QDir().mkdir(QString::fromStdString(sub));
        writeFile(sub + "/inside");
        QVERIFY(!errorOf([&] { saveAs(book, sub, SaveMode::Replace); }).isEmpty());
        QCOMPARE(listNames(sub), std::vector<std::string>{"inside"});
        QCOMPARE(listNames(folder), (std::vector<std::string>{"sub.xls", "其他.xlsx", "导出列表.xls"}));
        QCOMPARE(openFiles(), files);
    }

    void failedSaveLeavesNothing_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing folder") << "missing" << "文件不存在";
        QTest::newRow("unwritable folder") << "unwritable" << "权限不足";
        QTest::newRow("file in place of folder") << "file" << "不是文件夹";
        QTest::newRow("cell too long, earlier file kept") << "long cell" << "单元格 (5000, 3) 的文字超过 32767 个字符";
    }

    void failedSaveLeavesNothing()
    {
        QFETCH(QString, where);
        QFETCH(QString, reason);
        TempDir dir;
        std::string folder = dir.path();
        Application app;
        Workbook& book = app.workbooks().add();
        book.worksheets(1).cells(1, 1).setValue("x");
        if (where == "missing")
            folder += "/no/such";
        else if (where == "unwritable")
            folder = unwritableFolder(dir.qpath());
        else if (where == "file")
            writeFile(folder += "/plain");
        else
            book.worksheets(1).cells(5000, 3).setValue(std::string(40000, 'x'));
        const std::string file = folder + "/导出列表.xls";
        if (where == "long cell")
            writeFile(file, "earlier");
        const std::vector<std::string> files = openFiles();
        const QString error = errorOf([&] { saveAs(book, file, SaveMode::Replace); });
        QVERIFY2(error.contains(reason), qPrintable(error));
        QCOMPARE(openFiles(), files);
        if (where == "long cell") {
            QCOMPARE(readFile(file), std::string("earlier"));
            QCOMPARE(listNames(folder), std::vector<std::string>{"导出列表.xls"});
        } else {
            QVERIFY(!pathExists(file));
        }
        QVERIFY(error.startsWith(QString::fromStdString("无法保存“" + file + "”：")));
    }

    // Every column is as wide as its widest text (within the largest width
    // a column may have); columns of short texts keep the default width.
    void columnsShowTheirTexts()
    {
        TempDir dir;
        const std::string file = dir.path() + "/widths.xlsx";
        Application app;
        Workbook& book = app.workbooks().add();
        Worksheet& sheet = book.worksheets(1);
        const std::vector<std::string> longest = {"32", "/home/user/资料/归档/照片与文档_000001.jpg",
                                                  "12345678901", std::string(400, 'x')};
        for (size_t i = 0; i < longest.size(); ++i) {
            const int col = int(i) + 1;
            sheet.cells(1, col).setValue("短");
            sheet.cells(3, col).setValue(longest[i]);
            sheet.cells(2, col).setNumberFormatLocal("@");
        }
        saveAs(book, file);
        const ReadBook read = readWorkbook(file);
        QVERIFY(!read.widths.count(1));
        // Wide characters take two digits: the path's 8 and 26 others.
        QVERIFY(read.widths.count(2) && read.widths.at(2) >= 42);
        QVERIFY(read.widths.count(3) && read.widths.at(3) >= 11);
        // The largest width, 255 characters, and the margins the file adds.
        QVERIFY(read.widths.at(4) >= 255 && read.widths.at(4) < 256);
        QCOMPARE(read.text(3, 2), QString::fromStdString(longest[1]));  // values as they were
    }

    // The width of a text in digits, and in the same pass whether it can go
    // into a file as it is (the writer picks the cleaned copy by it).
    void textWidthAndWritable_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("writable");
        QTest::newRow("ascii") << QByteArray("a.txt") << 5 << true;
        QTest::newRow("wide characters") << QByteArray("资料 1") << 6 << true;
        QTest::newRow("full-width and emoji") << QByteArray("\xef\xbc\xa1\xf0\x9f\x98\x80") << 4 << true;
        QTest::newRow("invalid bytes count one each") << QByteArray("a\xff\xfe" "b") << 4 << false;
        QTest::newRow("cut sequence counts one") << QByteArray("x\xe4\xb8") << 2 << false;
        QTest::newRow("nul") << QByteArray("a\0b", 3) << 3 << false;
        QTest::newRow("noncharacter") << QByteArray("\xef\xbf\xbf" "z") << 2 << false;
        QTest::newRow("bad byte last, after valid text") << QByteArray("\xe6\x8a\xa5\x80") << 3 << false;
    }

    void textWidthAndWritable()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, width);
        QFETCH(bool, writable);
        const std::string_view t(text.constData(), size_t(text.size()));
        bool ok = !writable;
        QCOMPARE(int(displayWidth(t, &ok)), width);
        QCOMPARE(ok, writable);
        QCOMPARE(isWritableText(t), writable);
        QCOMPARE(int(displayWidth(t)), width);
    }

    // The widths are measured while the rows are written: texts of a placed
    // table count as well as the worksheet's own, the widest may come last,
    // and a cell written over a table cell counts with its new text only.
    void placedTableColumnsShowTheirTexts_data()
    {
        QTest::addColumn<bool>("transposed");
        QTest::newRow("table rows as rows") << false;
        QTest::newRow("table rows as columns") << true;
    }

    void placedTableColumnsShowTheirTexts()
    {
        QFETCH(bool, transposed);
        struct Grid : CellGrid {
            std::vector<std::array<std::string, 3>> rowsOfText;
            int rows() const override { return int(rowsOfText.size()); }
            int columns() const override { return 3; }
            std::string_view text(int r, int c) const override { return rowsOfText[size_t(r)][size_t(c)]; }
        };
        auto grid = std::make_shared<Grid>();
        for (int r = 0; r < 2000; ++r)
            grid->rowsOfText.push_back({"短", std::to_string(r), std::string(30, 'w')});
        grid->rowsOfText.back()[0] = "最后一行才有的很长很长很长的名字";  // 16 wide characters
        grid->rowsOfText[5][2] = std::string(60, 'w');                   // written over below
        TempDir dir;
        const std::string file = dir.path() + "/placed.xlsx";
        Application app;
        Workbook& book = app.workbooks().add();
        Worksheet& sheet = book.worksheets(1);
        sheet.placeGrid(grid, transposed, kTextFormat);
        // Grid cell (row 5, column 2), as the worksheet shows it.
        auto at = [&](int r, int c) { return transposed ? sheet.cells(c + 1, r + 1) : sheet.cells(r + 1, c + 1); };
        at(5, 2).setValue(std::string(40, 'v'));
        at(7, 1).setValue(std::string(20, 'n'));  // the widest of its column
        saveAs(book, file);
        const ReadBook read = readWorkbook(file);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        if (!transposed) {
            QVERIFY(read.widths.count(1) && read.widths.at(1) >= 32 && read.widths.at(1) < 40);
            QVERIFY(read.widths.count(2) && read.widths.at(2) >= 20 && read.widths.at(2) < 26);
            QVERIFY(read.widths.count(3) && read.widths.at(3) >= 40 && read.widths.at(3) < 50);
        } else {
            // Each table row is a worksheet column: the last one holds the long name.
            QVERIFY(read.widths.count(2000) && read.widths.at(2000) >= 32);
            QVERIFY(read.widths.count(6) && read.widths.at(6) >= 40 && read.widths.at(6) < 50);
            QVERIFY(read.widths.count(8) && read.widths.at(8) >= 30 && read.widths.at(8) < 40);
        }
        QCOMPARE(read.text(transposed ? 3 : 6, transposed ? 6 : 3), QString(40, 'v'));
    }

    // A file that lost data on the way is never taken for a whole one.
    void fileCheckFindsFaults_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("fault");  // "" for none, "*" for any
        QTest::newRow("whole file") << "none" << "";
        QTest::newRow("rows lost inside the worksheet, its end kept") << "rows lost" << "工作表 1 的单元格数不符";
        QTest::newRow("worksheet cut short") << "cut" << "成员“xl/worksheets/sheet1.xml”的内容不完整";
        QTest::newRow("a changed byte") << "byte" << "的数据不完整";
        QTest::newRow("file cut anywhere") << "truncated" << "*";
        QTest::newRow("one entry more in the end record") << "count" << "*";
        QTest::newRow("empty file") << "empty" << "文件结尾的目录记录缺失";
    }

    void fileCheckFindsFaults()
    {
        QFETCH(QString, damage);
        QFETCH(QString, fault);
        TempDir dir;
        const std::string good = dir.path() + "/good.xlsx";
        Application app;
        Worksheet& sheet = app.workbooks().add().worksheets(1);
        for (int r = 1; r <= 300; ++r)
            for (int c = 1; c <= 3; ++c)
                sheet.cells(r, c).setValue("第 " + std::to_string(r) + " 行 " + std::to_string(c * r * 7919));
        saveAs(app.workbooks().item(1), good);
        const std::vector<uint64_t> cells{900};
        std::string data = readFile(good);
        if (damage == "rows lost" || damage == "cut") {
            // The member rewritten as a write that failed half-way leaves it.
            const std::string bad = dir.path() + "/bad.xlsx";
            const char* script = R"(
import sys, zipfile
src, dst, how = sys.argv[1:4]
with zipfile.ZipFile(src) as zin, zipfile.ZipFile(dst, "w", zipfile.ZIP_DEFLATED) as zout:
    for info in zin.infolist():
        data = zin.read(info.filename)
        if info.filename == "xl/worksheets/sheet1.xml":
            end = data.index(b"</sheetData>")
            data = data[:end // 2] + data[end:] if how == "rows lost" else data[:len(data) // 2]
        zout.writestr(info.filename, data)
)";
            QCOMPARE(QProcess::execute("python3", {"-c", script, QString::fromStdString(good),
                                                   QString::fromStdString(bad), damage}),
                     0);
            data = readFile(bad);
        } else if (damage == "byte") {
            data[data.size() / 2] ^= 0x55;
        } else if (damage == "count") {
            data[data.size() - 12] += 1;
        } else if (damage == "empty") {
            data.clear();
        }
        if (damage != "truncated") {
            const QString got = QString::fromStdString(sheetFaultText(workbookFileFault(data, cells)));
            if (fault == "*")
                QVERIFY(!got.isEmpty());
            else if (fault.isEmpty())
                QCOMPARE(got, QString());
            else
                QVERIFY2(got.contains(fault), qPrintable(got));
            return;
        }
        for (size_t keep = 0; keep < data.size(); keep += 97)
            QVERIFY2(workbookFileFault(std::string_view(data).substr(0, keep), cells),
                     qPrintable(QString::number(keep)));
    }

    // The follower reads a file while it is written, in pieces of any size
    // (headers and data cut anywhere), and finds in each member what a
    // reading of the finished file finds; a record of another file is not
    // taken for this one.
    void followerReadsTheFileAsItGrows_data()
    {
        QTest::addColumn<int>("piece");
        QTest::newRow("7 bytes at a time") << 7;
        QTest::newRow("1000 bytes at a time") << 1000;
        QTest::newRow("all at once") << 0;
    }

    void followerReadsTheFileAsItGrows()
    {
        QFETCH(int, piece);
        TempDir dir;
        const std::string good = dir.path() + "/good.xlsx";
        Application app;
        Worksheet& sheet = app.workbooks().add().worksheets(1);
        for (int r = 1; r <= 400; ++r)
            for (int c = 1; c <= 3; ++c)
                sheet.cells(r, c).setValue("第 " + std::to_string(r) + " 行 " + std::to_string(c * r * 7919));
        saveAs(app.workbooks().item(1), good);
        const std::string data = readFile(good);
        const std::vector<uint64_t> cells{1200};

        const std::string copy = dir.path() + "/copy.xlsx";
        const int fd = ::open(copy.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0);
        std::vector<FollowedMember> followed;
        {
            ZipFollower follower(fd);
            const size_t step = piece ? size_t(piece) : data.size();
            for (size_t at = 0; at < data.size(); at += step) {
                const size_t n = std::min(step, data.size() - at);
                QCOMPARE(::pwrite(fd, data.data() + at, n, off_t(at)), ssize_t(n));
                if (piece && at % (step * 50) == 0)
                    ::usleep(200);  // now and then the follower catches up with the writer
            }
            followed = follower.finish();
        }
        ::close(fd);
        const auto sheetMember = std::find_if(followed.begin(), followed.end(), [](const FollowedMember& m) {
            return m.name == "xl/worksheets/sheet1.xml";
        });
        QVERIFY(sheetMember != followed.end());
        QCOMPARE(sheetMember->cells, uint64_t(1200));
        QVERIFY(sheetMember->rootClosed);
        QVERIFY(followed.size() >= 8);  // every member of the workbook
        QVERIFY(!workbookFileFault(data, cells, followed));

        // Records of the good file against a file that lost rows or was cut:
        // they do not lie where its directory puts its members.
        std::string cut = data.substr(0, data.size() / 2);
        QVERIFY(workbookFileFault(cut, cells, followed));
        std::vector<FollowedMember> shifted = followed;
        for (FollowedMember& m : shifted)
            ++m.packed;
        std::string flipped = data;
        flipped[size_t(sheetMember->dataStart + sheetMember->packed / 2)] ^= 0x55;
        QVERIFY(workbookFileFault(flipped, cells, shifted));
        // A record that says the worksheet lacks cells is believed.
        std::vector<FollowedMember> short_ = followed;
        for (FollowedMember& m : short_)
            if (m.name == "xl/worksheets/sheet1.xml")
                m.cells -= 3;
        QCOMPARE(workbookFileFault(data, cells, short_).kind, Fault::Kind::CellCount);
    }

    // A save killed half-way leaves no file and no temporary name behind;
    // killed late, the complete file.
    void killedSaveLeavesNothing_data()
    {
        QTest::addColumn<int>("delayMs");
        for (int ms : {0, 20, 60, 150})
            QTest::addRow("killed %d ms into the save", ms) << ms;
    }

    void killedSaveLeavesNothing()
    {
        QFETCH(int, delayMs);
        TempDir dir;
        const std::string folder = dir.path();
        const std::string file = folder + "/导出列表.xls";
        TempDir scratchDir;
        const std::string scratch = scratchDir.path();
        constexpr int kRows = 20000;
        int started[2];
        QCOMPARE(::pipe(started), 0);
        const pid_t pid = ::fork();
        QVERIFY(pid >= 0);
        if (pid == 0) {
            ::setenv("TMPDIR", scratch.c_str(), 1);
            Application app;
            Worksheet& sheet = app.workbooks().add().worksheets(1);
            for (int r = 1; r <= kRows; ++r)
                for (int c = 1; c <= 7; ++c)
                    sheet.cells(r, c).setValue("第 " + std::to_string(r) + " 行的文字 " + std::to_string(c));
            (void)!::write(started[1], "s", 1);
            try {
                saveAs(app.workbooks().item(1), file);
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
        ::close(started[1]);
        char byte;
        QCOMPARE(::read(started[0], &byte, 1), ssize_t(1));
        ::close(started[0]);
        QTest::qSleep(delayMs);
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
        // A scratch folder the killed save left is cleared by the next save.
        const QByteArray tmpBefore = qgetenv("TMPDIR");
        qputenv("TMPDIR", QByteArray::fromStdString(scratch));
        Application next;
        saveAs(next.workbooks().add(), folder + "/next.xlsx");
        qputenv("TMPDIR", tmpBefore);
        std::string left;
        for (const std::string& name : listNames(scratch))
            left += name + " ";
        QVERIFY2(left.empty(), left.c_str());
        ::unlink((folder + "/next.xlsx").c_str());

        const std::vector<std::string> names = listNames(folder);
        if (names.empty())
            return;
        QCOMPARE(names, std::vector<std::string>{"导出列表.xls"});
        const ReadBook read = readWorkbook(file);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.cells.size(), size_t(kRows * 7));
    }

    // The save writes on the thread that calls it, telling its watcher the
    // cells written; only a large workbook gets a thread beside it, which
    // reads the file while it is written.
    void saveWritesOnTheCallingThread_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("threadsBeside");
        QTest::newRow("small workbook") << 1000 << 0;
        QTest::newRow("large workbook, read while written") << followedRows() << 1;
    }

    void saveWritesOnTheCallingThread()
    {
        QFETCH(int, rows);
        QFETCH(int, threadsBeside);
        TempDir dir;
        const std::string file = dir.path() + "/导出列表.xls";
        Application app;
        const Workbook& book = bookOfRows(app, rows);
        SaveWatch watch(0);
        const int before = threadCount();
        QVERIFY(saveWorkbook(book, file, SaveMode::NoReplace, &watch).ok());
        QCOMPARE(watch.askedOn, std::this_thread::get_id());
        QCOMPARE(watch.threadsAtFirstLook - before, threadsBeside);
        QCOMPARE(threadCount(), before);
        QCOMPARE(watch.lastCount, int64_t(rows) * 7);
        QCOMPARE(watch.looks, rows + 1);  // each row, and once before the name
        QCOMPARE(readWorkbook(file).cells.size(), size_t(rows) * 7);
    }

    // A stopped save, be it in the rows or once the file is written, leaves
    // the earlier file as it was, nothing beside it and nothing open.
    void stoppedSaveKeepsTheEarlierFile_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("stopAt");
        QTest::newRow("small, in the rows") << 1000 << 10;
        QTest::newRow("large, in the rows") << followedRows() << 10;
        QTest::newRow("large, at the last row") << followedRows() << followedRows();
        QTest::newRow("small, once written") << 1000 << 1001;
        QTest::newRow("large, once written") << followedRows() << followedRows() + 1;
    }

    void stoppedSaveKeepsTheEarlierFile()
    {
        QFETCH(int, rows);
        QFETCH(int, stopAt);
        TempDir dir;
        const std::string file = dir.path() + "/导出列表.xls";
        writeFile(file, "earlier");
        Application app;
        const Workbook& book = bookOfRows(app, rows);
        const std::vector<std::string> files = openFiles();
        SaveWatch watch(stopAt);
        const SaveOutcome saved = saveWorkbook(book, file, SaveMode::Replace, &watch);
        QCOMPARE(saved.stage, SaveOutcome::Stage::Stopped);
        QCOMPARE(watch.looks, stopAt);
        QCOMPARE(readFile(file), std::string("earlier"));
        QCOMPARE(listNames(dir.path()), std::vector<std::string>{"导出列表.xls"});
        QCOMPARE(openFiles(), files);
    }

    // Where no thread can be had, a large workbook is saved all the same and
    // read back once it is written.
    void saveWithoutASecondThread()
    {
        TempDir dir;
        QCOMPARE(::chmod(dir.path().c_str(), 0777), 0);
        const std::string file = dir.path() + "/导出列表.xls";
        Application app;
        const Workbook& book = bookOfRows(app, followedRows());
        const int status = runUnprivileged([&] {
            ::setenv("TMPDIR", dir.path().c_str(), 1);
            const rlimit none{0, 0};
            if (::setrlimit(RLIMIT_NPROC, &none) != 0)
                return 10;
            try {
                std::thread([] {}).join();
                return 11;  // threads can still be made: the test proves nothing
            } catch (const std::system_error&) {
            }
            if (ZipFollower(-1).following())
                return 12;
            SaveWatch watch(0);
            const SaveOutcome saved = saveWorkbook(book, file, SaveMode::NoReplace, &watch);
            if (!saved.ok())
                return 13;
            return watch.lastCount == int64_t(followedRows()) * 7 ? 0 : 14;
        });
        QCOMPARE(status, 0);
        const ReadBook read = readWorkbook(file);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.cells.size(), size_t(followedRows()) * 7);
    }

    // The table copied into the export's first worksheet: row by row or
    // column by column, every cell text-formatted but worksheet column 4,
    // whose plain integers become numbers.
    void exportCells_data()
    {
        QTest::addColumn<bool>("byColumns");
        QTest::addColumn<DataRows>("rows");
        using R = DataRows;
        const std::array<std::string, 7> empty{};
        QTest::newRow("start-up table") << false << R{empty};
        QTest::newRow("caption row alone") << false << R{};
        QTest::newRow("listed entries")
            << false << R{{"/w/f.txt", "f.txt", "txt", "5", "2024/05/06", "2024/01/02", "32"},
                          {"/w/sub", "sub", "", "0", "2024/05/06", "2024/01/02", "16"},
                          {"/w/f.jpg", "f.jpg", "jpg", "12345678901", "2024/05/06", "2024/01/02", "32"}};
        QTest::newRow("chinese and broken names")
            << false << R{{"/w/报告.doc", "报告.doc", "doc", "9", "2024/05/06", "2024/01/02", "32"},
                          {"/w/\xff\xfe名", "\xff\xfe名", "", "1", "2024/05/06", "2024/01/02", "33"}};
        for (int n : {2, 3, 5}) {
            R rows;
            for (int i = 0; i < n; ++i) {
                const std::string e = "e" + std::to_string(i);
                rows.push_back({"/w/n." + e, i ? "n." + e : "42", e, std::to_string(100 + i), "2024/05/06",
                                "2024/01/02", "32"});
            }
            QTest::addRow("by columns, %d data rows", n) << true << rows;
        }
    }

    void exportCells()
    {
        QFETCH(bool, byColumns);
        QFETCH(DataRows, rows);
        const Table table = tableWith(rows);
        TempDir dir;
        const std::string file = dir.path() + "/导出列表.xls";
        Application app;
        const SaveOutcome saved = exportTable(app, table, byColumns ? Orientation::Columns : Orientation::Rows,
                                              file, SaveMode::NoReplace);
        QVERIFY(saved.ok());
        const ReadBook book = readWorkbook(file);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(int(book.cells.size()), table.rows() * 7);
        for (int r = 0; r < table.rows(); ++r) {
            for (int c = 0; c < 7; ++c) {
                const int wr = byColumns ? c + 1 : r + 1;
                const int wc = byColumns ? r + 1 : c + 1;
                const ReadCell* got = book.at(wr, wc);
                QVERIFY(got);
                const std::string text = table.data[size_t(r)][size_t(c)];
                QCOMPARE(got->text, QString::fromStdString(text));
                QCOMPARE(got->format, wc == 4 ? QStringLiteral("General") : QStringLiteral("@"));
                // Sizes in column 4 are numbers; column by column that column is
                // the third data row, whose size and attribute are integers, and
                // "42" elsewhere stays text.
                QCOMPARE(got->number, wc == 4 && r > 0 && (byColumns ? c == 3 || c == 6 : !text.empty()));
            }
        }
    }

    // With neither orientation chosen an empty workbook is saved.
    void exportWithoutOrientation()
    {
        TempDir dir;
        const std::string file = dir.path() + "/导出列表.xls";
        Application app;
        QVERIFY(exportTable(app, tableOf({{"txt", "5"}}), Orientation::None, file, SaveMode::NoReplace).ok());
        const ReadBook book = readWorkbook(file);
        QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
        QCOMPARE(book.sheetNames, QStringList{"Sheet1"});
        QVERIFY(book.cells.empty());
    }

    // A full disk where the workbook goes, or where the scratch files go, at
    // many levels of free space, so that the save fails in different phases:
    // either the complete file, or the reason and the earlier workbook byte
    // for byte. Never a leftover entry or descriptor.
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
        {
            Application app;
            QVERIFY(exportTable(app, tableOf({{"txt", "5"}}), Orientation::Rows, file, SaveMode::NoReplace).ok());
        }
        std::string earlier = readFile(file);
        QVERIFY(!earlier.empty());

        // 160 entries with long names that compress badly.
        Table table = tableWith({});
        uint32_t seed = 12345;
        for (int i = 0; i < 160; ++i) {
            std::string name = "第" + std::to_string(i) + "号_";
            for (int k = 0; k < 60; ++k)
                name += "0123456789abcdef"[(seed = seed * 1103515245 + 12345) >> 28];
            table.data.push_back({"/w/" + name, name, "dat", std::to_string(seed % 100000), "2024/05/06",
                                  "2024/01/02", "32"});
        }
        const QByteArray tmpBefore = qgetenv("TMPDIR");
        if (scratchFull)
            qputenv("TMPDIR", QByteArray::fromStdString(disk.path()));
        const std::vector<std::string> files = openFiles();
        QStringList outcomes;
        int saved = 0, failed = 0;
        // The workbook takes about 20 KiB, its scratch files about 170 KiB.
        for (long long kib = scratchFull ? 8 : 0; kib <= 400; kib += scratchFull ? 16 : kib < 40 ? 2 : 60) {
            ::unlink((disk.path() + "/.filler").c_str());
            disk.fillUntil(kib * 1024);
            Application app;
            const SaveOutcome outcome = exportTable(app, table, Orientation::Rows, file, SaveMode::Replace);
            if (outcome.ok()) {
                ++saved;
                const ReadBook book = readWorkbook(file);
                QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
                QCOMPARE(int(book.cells.size()), table.rows() * 7);
                QCOMPARE(book.text(161, 2), QString::fromStdString(table.data[160][1]));
                earlier = readFile(file);
                outcomes << QStringLiteral("%1 KiB: saved").arg(kib);
            } else {
                ++failed;
                const QString text = saveFailureText(file, outcome);
                QVERIFY2(text.contains(QStringLiteral("磁盘空间不足")), qPrintable(text));
                QVERIFY(readFile(file) == earlier);
                outcomes << QStringLiteral("%1 KiB: %2").arg(kib).arg(text.section(u'：', 1));
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

    void formatSummary_data()
    {
        using Rows = std::vector<std::pair<std::string, std::string>>;
        using Totals = std::vector<std::pair<std::string, qint64>>;
        QTest::addColumn<Rows>("rows");
        QTest::addColumn<Totals>("totals");
        QTest::newRow("sums per format") << Rows{{"jpg", "100"}, {"jpg", "50"}, {"txt", "7"}}
                                         << Totals{{"jpg", 150}, {"txt", 7}};
        QTest::newRow("letter case apart") << Rows{{"JPG", "1"}, {"jpg", "2"}, {"JPG", "4"}}
                                           << Totals{{"JPG", 5}, {"jpg", 2}};
        QTest::newRow("folders add an entry with 0") << Rows{{"txt", "5"}, {"d", "0"}, {"txt", "0"}}
                                                     << Totals{{"txt", 5}, {"d", 0}};
        QTest::newRow("empty format counted apart") << Rows{{"", "10"}, {"txt", "1"}, {"", "5"}}
                                                    << Totals{{"(无扩展名)", 15}, {"txt", 1}};
        QTest::newRow("totals beyond 32 bits") << Rows{{"iso", "3000000000"}, {"iso", "3000000000"}}
                                               << Totals{{"iso", 6000000000}};
        // Sparse files reach totals that a cell keeps as text (over 15 digits).
        QTest::newRow("totals beyond 15 digits")
            << Rows{{"img", "999999999999999"}, {"img", "2"}, {"vm", "9000000000000000000"}, {"txt", "5"}}
            << Totals{{"img", 1000000000000001}, {"vm", 9000000000000000000}, {"txt", 5}};
        QTest::newRow("negative sizes lower the total") << Rows{{"a", "10"}, {"a", "-4"}}
                                                        << Totals{{"a", 6}};
        QTest::newRow("a format spelled like the no-format name stays apart")
            << Rows{{"", "10"}, {"(无扩展名)", "3"}, {"", "1"}}
            << Totals{{"(无扩展名)", 11}, {"(无扩展名)", 3}};
        QTest::newRow("caption row alone") << Rows{} << Totals{};
        Rows many;
        Totals manyTotals;
        for (int i = 0; i < 300; ++i) {
            many.push_back({"e" + std::to_string(i), std::to_string(i)});
            manyTotals.push_back({"e" + std::to_string(i), i});
        }
        QTest::newRow("300 formats") << many << manyTotals;
    }

    void formatSummary()
    {
        using Rows = std::vector<std::pair<std::string, std::string>>;
        using Totals = std::vector<std::pair<std::string, qint64>>;
        QFETCH(Rows, rows);
        QFETCH(Totals, totals);
        Totals got;
        for (const FormatTotal& t : sumByFormat(tableOf(rows)).totals)
            got.push_back({t.name, t.total});
        QCOMPARE(got, totals);
        // The chart's slices are those totals, whatever their number of digits.
        Application app;
        std::vector<double> slices, sums;
        if (buildSpaceChart(app, std::make_shared<Table>(tableOf(rows))).placed)
            slices = app.activeChart().series().at(0).values;
        for (const auto& t : totals)
            sums.push_back(double(t.second));
        QCOMPARE(slices, sums);
    }

    void summaryRefusesWhatItCannotAdd_data()
    {
        QTest::addColumn<QByteArray>("size");
        QTest::addColumn<QString>("error");
        QTest::newRow("empty") << QByteArray("") << "'' is not a valid integer value";
        QTest::newRow("word") << QByteArray("12kB") << "'12kB' is not a valid integer value";
        QTest::newRow("beyond 64 bits") << QByteArray("99999999999999999999")
                                        << "'99999999999999999999' is not a valid integer value";
        QTest::newRow("total beyond 64 bits") << QByteArray("9223372036854775807")
                                              << "格式“a”的大小合计超出范围";
    }

    void summaryRefusesWhatItCannotAdd()
    {
        QFETCH(QByteArray, size);
        QFETCH(QString, error);
        const Table t = tableOf({{"a", "1"}, {"a", size.toStdString()}});
        QCOMPARE(QString::fromStdString(sheetFaultText(sumByFormat(t).problem)), error);
    }

    void manyFormatsSumLikeAPlainLoop()
    {
        // 30,000 rows over 10,000 formats (one of them none), sizes that
        // repeat unevenly, against a sum kept in a map and an order list.
        std::vector<std::pair<std::string, std::string>> rows;
        std::map<std::string, int64_t> sums;
        std::vector<std::string> order;
        for (int i = 0; i < 30000; ++i) {
            const int f = (i * 7) % 10000;
            const std::string format = f == 0 ? "" : "x" + std::to_string(f);
            const int64_t size = (int64_t(i) * 104729) % 5000000000LL;
            rows.push_back({format, std::to_string(size)});
            const std::string name = format.empty() ? std::string(kNoFormatName) : format;
            if (!sums.count(name))
                order.push_back(name);
            sums[name] += size;
        }
        const std::vector<FormatTotal> totals = sumByFormat(tableOf(rows)).totals;
        QCOMPARE(totals.size(), size_t(10000));
        for (size_t i = 0; i < totals.size(); ++i) {
            QCOMPARE(totals[i].name, order[i]);
            QCOMPARE(totals[i].total, sums[order[i]]);
        }
    }

    void pieSlices_data()
    {
        using Values = std::vector<double>;
        using Flags = std::vector<char>;
        QTest::addColumn<Values>("values");
        QTest::addColumn<int>("maxSlices");
        QTest::addColumn<Flags>("own");
        QTest::newRow("none") << Values{} << 4 << Flags{};
        QTest::newRow("fewer than slices") << Values{5, 1, 3} << 4 << Flags{1, 1, 1};
        QTest::newRow("exactly as many") << Values{1, 2, 3, 4} << 4 << Flags{1, 1, 1, 1};
        QTest::newRow("one more: the smallest two share")
            << Values{1, 2, 3, 4, 5} << 4 << Flags{0, 0, 1, 1, 1};
        QTest::newRow("all equal: the earliest") << Values{7, 7, 7, 7, 7} << 3 << Flags{1, 1, 0, 0, 0};
        QTest::newRow("tie at the edge: the earlier one")
            << Values{1, 9, 5, 9, 5, 5} << 4 << Flags{0, 1, 1, 1, 0, 0};
        QTest::newRow("zeros") << Values{0, 0, 0, 2, 0} << 3 << Flags{1, 0, 0, 1, 0};
        QTest::newRow("negative below zero") << Values{-5, 0, 3} << 2 << Flags{0, 0, 1};
        QTest::newRow("one slice for all") << Values{4, 8} << 1 << Flags{0, 0};
    }

    void pieSlices()
    {
        QFETCH(std::vector<double>, values);
        QFETCH(int, maxSlices);
        QFETCH(std::vector<char>, own);
        QCOMPARE(ownSlices(values, size_t(maxSlices)), own);
    }

    void pieSlicesOfManyLikeAFullSort()
    {
        // 10,000 values with many repeats against a stable sort by size.
        std::vector<double> values;
        for (int i = 0; i < 10000; ++i)
            values.push_back(double((int64_t(i) * 7919) % 613));
        std::vector<size_t> order(values.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return values[a] > values[b]; });
        std::vector<char> expected(values.size(), 0);
        for (size_t k = 0; k < 19; ++k)
            expected[order[k]] = 1;
        QCOMPARE(ownSlices(values, 20), expected);
    }

    void gridCellsReadInPlace_data()
    {
        QTest::addColumn<bool>("transposed");
        QTest::newRow("rows") << false;
        QTest::newRow("columns") << true;
    }

    void gridCellsReadInPlace()
    {
        QFETCH(bool, transposed);
        TempDir dir;
        auto table = std::make_shared<Table>(tableOf({{"jpg", "100"}, {"txt", "7"}, {"doc", "12"}}));
        Application app;
        Worksheet& s = app.workbooks().add().worksheets(1);
        writeTable(s, table, transposed ? Orientation::Columns : Orientation::Rows);
        auto at = [&](int tableRow, int tableCol) {
            return transposed ? s.cells(tableCol + 1, tableRow + 1) : s.cells(tableRow + 1, tableCol + 1);
        };
        QCOMPARE(s.usedRows(), transposed ? 7 : 4);
        QCOMPARE(s.usedColumns(), transposed ? 4 : 7);
        QCOMPARE(at(2, 1).value(), std::string_view("f.txt"));
        QCOMPARE(at(2, 1).numberFormatLocal(), at(2, 1).column() == 4 ? std::string_view("G/通用格式")
                                                                       : std::string_view("@"));
        QCOMPARE(s.cells(4, 4).numberFormatLocal(), std::string_view("G/通用格式"));
        // Writing a cell makes it the worksheet's own; the table keeps its text.
        at(1, 2).setValue("png");
        at(3, 0).setNumberFormatLocal("0.00");
        s.cells(2, 9).setValue("beside");
        QCOMPARE(at(1, 2).value(), std::string_view("png"));
        QCOMPARE(at(1, 2).numberFormatLocal(), at(1, 2).column() == 4 ? std::string_view("G/通用格式")
                                                                       : std::string_view("@"));
        QCOMPARE(at(3, 0).value(), std::string_view("/d/f.doc"));
        QCOMPARE(table->text(1, 2), std::string_view("jpg"));
        std::vector<uint16_t> cols;
        s.forEachEntry(2, [&](const Worksheet::Entry& e, bool) { cols.push_back(e.col); });
        QCOMPARE(cols, transposed ? (std::vector<uint16_t>{1, 2, 3, 4, 9})
                                  : (std::vector<uint16_t>{1, 2, 3, 4, 5, 6, 7, 9}));

        const std::string file = dir.path() + "/grid.xlsx";
        saveAs(app.workbooks().item(1), file);
        const vemlo::test::ReadBook read = vemlo::test::readWorkbook(file);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        auto readAt = [&](int tableRow, int tableCol) {
            return transposed ? read.text(tableCol + 1, tableRow + 1) : read.text(tableRow + 1, tableCol + 1);
        };
        QCOMPARE(readAt(1, 2), QStringLiteral("png"));
        QCOMPARE(readAt(3, 0), QStringLiteral("/d/f.doc"));
        QCOMPARE(readAt(0, 3), QStringLiteral("大小/B"));
        QCOMPARE(readAt(2, 3), QStringLiteral("7"));
        QCOMPARE(read.text(2, 9), QStringLiteral("beside"));
    }

    void gridBeyondTheSheetIsRefused()
    {
        // 16,384 data rows and the captions do not fit across a worksheet.
        auto table = std::make_shared<Table>();
        table->data.resize(kMaxColumns + 1);
        Application app;
        Worksheet& s = app.workbooks().add().worksheets(1);
        QCOMPARE(errorOf([&] { writeTable(s, table, Orientation::Columns); }),
                 QStringLiteral("单元格 (1, 16385) 超出工作表范围"));
        QCOMPARE(s.usedRows(), 0);
        writeTable(s, table, Orientation::Rows);
        QCOMPARE(s.usedRows(), kMaxColumns + 1);
    }

    void chartSavedAsNativePie()
    {
        TempDir dir;
        const std::string file = dir.path() + "/chart.xlsx";
        Application app;
        QVERIFY(buildSpaceChart(app, std::make_shared<Table>(tableOf({{"jpg", "100"}, {"jpg", "50"}, {"txt", "7"}, {"", "3"}}))).placed);
        Chart& chart = app.activeChart();
        QCOMPARE(chart.titleText(), std::string(kChartTitle));
        QCOMPARE(chart.placedIn(), &app.workbooks().item(1).worksheets(1));
        saveAs(app.workbooks().item(1), file);
        const ReadBook read = readWorkbook(file);
        QVERIFY2(read.error.isEmpty(), qPrintable(read.error));
        QCOMPARE(read.charts.size(), size_t(1));
        const ReadChart& c = read.charts[0];
        QCOMPARE(c.type, QStringLiteral("PieChart"));
        QCOMPARE(c.title, QStringLiteral("各种格式文件所占用空间比例"));
        QCOMPARE(c.categories, QStringList{"Sheet1!$I$1:$I$3"});
        QCOMPARE(c.values, QStringList{"Sheet1!$J$1:$J$3"});
        QCOMPARE(read.categoryCache, (QStringList{"jpg", "txt", "(无扩展名)"}));
        QCOMPARE(read.text(1, 9), QStringLiteral("jpg"));
        QCOMPARE(read.text(1, 10), QStringLiteral("150"));
        QVERIFY(read.at(1, 10)->number);
        QCOMPARE(read.text(3, 10), QStringLiteral("3"));
    }
};

QTEST_GUILESS_MAIN(SheetEngineTest)
#include "test_sheet_engine.moc"
