// The workbooks of "生成表格" (横板 and 竖版) and of the chart window's
// "另存为…" opened by LibreOffice, the client our users read them with: every
// text it shows, sizes included, is the table's. One headless LibreOffice
// converts all three files to CSV, with the texts as it shows them.
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardPaths>
#include <QTest>

#include <array>
#include <map>
#include <sys/stat.h>

#include "common/messages.h"
#include "app/chartwindow.h"
#include "testutil/windows.h"

using namespace vemlo::test;
using Grid = std::vector<QStringList>;  // rows of cells

namespace {

// Splits CSV text: "," between fields, quotes around fields that need them.
Grid parseCsv(const QString& text)
{
    Grid rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == u'"' && i + 1 < text.size() && text[i + 1] == u'"')
                field += text[++i];
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            row << field;
            field.clear();
        } else if (c == u'\n') {
            rows.push_back(row << field);
            row.clear();
            field.clear();
        } else if (c != u'\r') {
            field += c;
        }
    }
    if (!row.isEmpty() || !field.isEmpty())
        rows.push_back(row << field);
    return rows;
}

QString at(const Grid& g, size_t row, qsizetype col)
{
    return row < g.size() && col < g[row].size() ? g[row][col] : QString();
}

// Every cell of expected equals LibreOffice's, and every other cell it
// shows is empty; the first difference is described in where.
bool sameTexts(const Grid& expected, const Grid& shown, QString& where)
{
    const size_t rows = std::max(expected.size(), shown.size());
    for (size_t r = 0; r < rows; ++r) {
        const qsizetype cols = std::max(r < expected.size() ? expected[r].size() : 0,
                                        r < shown.size() ? shown[r].size() : 0);
        for (qsizetype c = 0; c < cols; ++c) {
            if (at(expected, r, c) != at(shown, r, c)) {
                where = QStringLiteral("row %1, column %2: expected '%3', LibreOffice shows '%4'")
                            .arg(r + 1).arg(c + 1).arg(at(expected, r, c), at(shown, r, c));
                return false;
            }
        }
    }
    return true;
}

QString shown(const std::string& bytes) { return vemlo::displayText(bytes); }

}  // namespace

class GuiLibreOfficeTest : public QObject {
    Q_OBJECT
private:
    TempDir dir_;
    std::map<QString, Grid> expected_;
    std::map<QString, Grid> converted_;

    // Exports with the chosen orientation into a folder of its own and
    // returns the file.
    std::string exportTo(const std::string& name, QRadioButton* orientation)
    {
        const std::string folder = dir_.path() + "/" + name;
        ::mkdir(folder.c_str(), 0755);
        Form2->setWorkingFolder(folder);
        QTest::mouseClick(orientation, Qt::LeftButton);
        const auto boxes = clickAndCatch(Form1->btnanagrid);
        if (boxes.size() != 1 || !boxes[0].text.startsWith(QStringLiteral("导出Excel表格完毕")))
            qFatal("export failed: %s", boxes.empty() ? "no box" : qPrintable(boxes[0].text));
        return folder + "/导出列表.xls";
    }

private slots:
    void initTestCase()
    {
        createFormsOnce();
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        QVERIFY2(!soffice.isEmpty(), "soffice not found: scripts/install-deps.sh installs libreoffice-calc-nogui");

        vemlo::RowStore rows(1);
        const std::vector<std::array<std::string, 7>> data = {
            {"/w/年度报告 2024（定稿）.docx", "年度报告 2024（定稿）.docx", "docx", "12345678901", "2024/05/06",
             "2024/01/02", "32"},
            {"/w/子文件夹", "子文件夹", "", "0", "2024/05/06", "2024/01/02", "16"},
            {"/w/a,b \"q\".txt", "a,b \"q\".txt", "txt", "2147483648", "2024/05/06", "2024/01/02", "33"},
            {"/w/\xff\xfe名", "\xff\xfe名", "", "5", "2024/05/06", "2024/01/02", "32"},
            {"/w/42", "42", "", "999999999999999", "2024/05/06", "2024/01/02", "128"},
            {"/w/=SUM(1).jpg", "=SUM(1).jpg", "jpg", "7", "2024/05/06", "2024/01/02", "1056"},
            {"/home/user/资料/归档/一个很长很长的文件夹名称/照片与文档_000001.jpg", "照片与文档_000001.jpg", "jpg",
             "1048576", "2023/11/30", "2023/11/30", "32"},
        };
        for (const auto& r : data)
            rows.emplace_back(std::array<std::string_view, 7>{r[0], r[1], r[2], r[3], r[4], r[5], r[6]});
        Form1->table()->replaceDataRows(std::move(rows));

        Grid table;
        for (int r = 0; r < tableRows(); ++r) {
            table.emplace_back();
            for (int c = 0; c < 7; ++c)
                table.back() << shown(cell(c, r));
        }
        Grid transposed(7);
        for (const QStringList& r : table)
            for (int c = 0; c < 7; ++c)
                transposed[size_t(c)] << r[c];

        const std::string in = dir_.path() + "/in";
        ::mkdir(in.c_str(), 0755);
        QVERIFY(QFile::copy(QString::fromStdString(exportTo("rows", Form1->rbh)), QString::fromStdString(in + "/rows.xls")));
        QVERIFY(QFile::copy(QString::fromStdString(exportTo("cols", Form1->rbv)), QString::fromStdString(in + "/cols.xls")));
        expected_["rows"] = table;
        expected_["cols"] = transposed;

        // The chart window's workbook: the table copy and the summary in I-J.
        QVERIFY(clickAndCatch(Form1->btnanagraph).empty());
        auto windows = Form1->findChildren<vemlo::ChartWindow*>();
        QCOMPARE(windows.size(), 1);
        windows[0]->saveTo(in + "/chart.xlsx");
        Grid chart = table;
        const vemlo::sheet::Worksheet& sheet = windows[0]->workbook().worksheets(1);
        for (int r = 1; r <= sheet.usedRows(); ++r) {
            if (size_t(r) > chart.size())
                chart.emplace_back();
            QStringList& line = chart[size_t(r - 1)];
            while (line.size() < 10)
                line << QString();
            line[8] = shown(std::string(windows[0]->workbook().worksheets(1).cells(r, 9).value()));
            line[9] = shown(std::string(windows[0]->workbook().worksheets(1).cells(r, 10).value()));
        }
        QCOMPARE(chart[0][8], QStringLiteral("docx"));
        expected_["chart"] = chart;
        delete windows[0];

        // One LibreOffice for the three files, with a profile of its own.
        QProcess office;
        office.setWorkingDirectory(QString::fromStdString(in));
        office.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + dir_.qpath() + QStringLiteral("/profile"),
                               QStringLiteral("--headless"), QStringLiteral("--norestore"),
                               // comma, quote, UTF-8, from line 1; texts as shown
                               QStringLiteral("--convert-to"),
                               QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,true"),
                               QStringLiteral("--outdir"), dir_.qpath() + QStringLiteral("/out"),
                               QStringLiteral("rows.xls"), QStringLiteral("cols.xls"), QStringLiteral("chart.xlsx")});
        QVERIFY2(office.waitForFinished(240000), "LibreOffice did not finish");
        QVERIFY2(office.exitCode() == 0, office.readAllStandardError().constData());
        for (const auto& [name, grid] : expected_) {
            QFile csv(dir_.qpath() + QStringLiteral("/out/") + name + QStringLiteral(".csv"));
            QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(name + ": " + office.readAllStandardOutput()));
            converted_[name] = parseCsv(QString::fromUtf8(csv.readAll()));
        }
    }

    void libreOfficeShowsEveryText_data()
    {
        QTest::addColumn<QString>("workbook");
        QTest::newRow("横板") << "rows";
        QTest::newRow("竖版") << "cols";
        QTest::newRow("另存为 of the chart window") << "chart";
    }

    void libreOfficeShowsEveryText()
    {
        QFETCH(QString, workbook);
        QString where;
        QVERIFY2(sameTexts(expected_[workbook], converted_[workbook], where), qPrintable(where));
    }
};

QTEST_MAIN(GuiLibreOfficeTest)
#include "test_gui_libreoffice.moc"
