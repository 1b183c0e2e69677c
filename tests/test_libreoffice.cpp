// The exported workbooks (row by row and column by column) and the chart's
// workbook opened by LibreOffice, the client our users read them with: every
// text it shows, sizes included, is the table's. One headless LibreOffice
// converts all three files to CSV, with the texts as it shows them.
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <array>
#include <map>
#include <sys/stat.h>

#include "common/text.h"
#include "testutil/files.h"
#include "testutil/sheettable.h"

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

class LibreOfficeTest : public QObject {
    Q_OBJECT
private:
    TempDir dir_;
    std::map<QString, Grid> expected_;
    std::map<QString, Grid> converted_;

private slots:
    void initTestCase()
    {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        QVERIFY2(!soffice.isEmpty(), "soffice not found: scripts/install-deps.sh installs libreoffice-calc-nogui");

        const Table source = tableWith({
            {"/w/年度报告 2024（定稿）.docx", "年度报告 2024（定稿）.docx", "docx", "12345678901", "2024/05/06",
             "2024/01/02", "32"},
            {"/w/子文件夹", "子文件夹", "", "0", "2024/05/06", "2024/01/02", "16"},
            {"/w/a,b \"q\".txt", "a,b \"q\".txt", "txt", "2147483648", "2024/05/06", "2024/01/02", "33"},
            {"/w/\xff\xfe名", "\xff\xfe名", "", "5", "2024/05/06", "2024/01/02", "32"},
            {"/w/42", "42", "", "999999999999999", "2024/05/06", "2024/01/02", "128"},
            {"/w/=SUM(1).jpg", "=SUM(1).jpg", "jpg", "7", "2024/05/06", "2024/01/02", "1056"},
            {"/home/user/资料/归档/一个很长很长的文件夹名称/照片与文档_000001.jpg", "照片与文档_000001.jpg", "jpg",
             "1048576", "2023/11/30", "2023/11/30", "32"},
        });

        Grid table;
        for (const auto& r : source.data) {
            table.emplace_back();
            for (const std::string& text : r)
                table.back() << shown(text);
        }
        Grid transposed(7);
        for (const QStringList& r : table)
            for (int c = 0; c < 7; ++c)
                transposed[size_t(c)] << r[c];

        const std::string in = dir_.path() + "/in";
        ::mkdir(in.c_str(), 0755);
        for (const auto& [name, orientation] : {std::pair{"rows", vemlo::Orientation::Rows}, {"cols", vemlo::Orientation::Columns}}) {
            vemlo::Application app;
            const std::string file = in + "/" + name + ".xls";
            QVERIFY(vemlo::exportTable(app, source, orientation, file, vemlo::SaveMode::NoReplace).ok());
        }
        expected_["rows"] = table;
        expected_["cols"] = transposed;

        // The chart's workbook: the table copy and the summary in I-J.
        vemlo::Application app;
        QVERIFY(vemlo::buildSpaceChart(app, std::make_shared<vemlo::test::Table>(source)).placed);
        vemlo::Workbook& book = app.workbooks().item(1);
        QVERIFY(vemlo::saveWorkbook(book, in + "/chart.xlsx", vemlo::SaveMode::NoReplace).ok());
        Grid chart = table;
        vemlo::sheet::Worksheet& sheet = book.worksheets(1);
        for (int r = 1; r <= sheet.usedRows(); ++r) {
            if (size_t(r) > chart.size())
                chart.emplace_back();
            QStringList& line = chart[size_t(r - 1)];
            while (line.size() < 10)
                line << QString();
            line[8] = shown(std::string(sheet.cells(r, 9).value()));
            line[9] = shown(std::string(sheet.cells(r, 10).value()));
        }
        QCOMPARE(chart[0][8], QStringLiteral("docx"));
        expected_["chart"] = chart;

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
        QTest::newRow("the chart's workbook") << "chart";
    }

    void libreOfficeShowsEveryText()
    {
        QFETCH(QString, workbook);
        QString where;
        QVERIFY2(sameTexts(expected_[workbook], converted_[workbook], where), qPrintable(where));
    }
};

QTEST_GUILESS_MAIN(LibreOfficeTest)
#include "test_libreoffice.moc"
