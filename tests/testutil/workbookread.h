// Saved workbooks read back by another program, openpyxl
// (tests/read_workbook.py): the cells, charts and column widths it finds.
#pragma once

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace vemlo::test {

struct ReadCell {
    QString text;  // the value as text; empty for a blank cell
    bool number = false;
    QString format;  // "General" when none
    bool operator==(const ReadCell&) const = default;
};

struct ReadChart {
    QString type;  // "PieChart"
    QString title;
    QStringList categories, values;  // one reference per series
    bool operator==(const ReadChart&) const = default;
};

struct ReadBook {
    QString error;  // empty when the reading worked
    QStringList sheetNames;
    std::map<std::pair<int, int>, ReadCell> cells;  // first sheet, (row, col) from 1
    std::vector<ReadChart> charts;                  // of the first sheet
    QStringList categoryCache;                      // cached categories
    std::map<int, double> widths;                   // set column widths

    const ReadCell* at(int row, int col) const
    {
        auto it = cells.find({row, col});
        return it == cells.end() ? nullptr : &it->second;
    }
    QString text(int row, int col) const { return at(row, col) ? at(row, col)->text : QString(); }
    QString format(int row, int col) const { return at(row, col) ? at(row, col)->format : QString(); }
};

inline ReadBook readWorkbook(const std::string& path)
{
    ReadBook book;
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral(VEMLO_TEST_DIR "/read_workbook.py"), QFile::decodeName(path.c_str())});
    if (!p.waitForFinished(60000) || p.exitCode() != 0) {
        book.error = QStringLiteral("openpyxl: ") + QString::fromUtf8(p.readAllStandardError());
        return book;
    }
    const QJsonArray sheets = QJsonDocument::fromJson(p.readAllStandardOutput())["sheets"].toArray();
    for (const QJsonValue& s : sheets)
        book.sheetNames << s["name"].toString();
    if (sheets.isEmpty())
        return book;
    for (const QJsonValue& c : sheets[0]["cells"].toArray()) {
        const QJsonArray a = c.toArray();
        ReadCell cell;
        cell.number = a[2].isDouble();
        cell.text = cell.number ? QString::number(a[2].toDouble(), 'g', 17) : a[2].toString();
        cell.format = a[4].toString();
        book.cells[{a[0].toInt(), a[1].toInt()}] = cell;
    }
    for (const QJsonValue& c : sheets[0]["charts"].toArray()) {
        ReadChart chart{c["type"].toString(), c["title"].toString(), {}, {}};
        for (const QJsonValue& s : c["series"].toArray()) {
            chart.categories << s["cat"].toString();
            chart.values << s["val"].toString();
            for (const QJsonValue& v : s["cat_cache"].toArray())
                book.categoryCache << v.toString();
        }
        book.charts.push_back(chart);
    }
    for (const QJsonValue& w : sheets[0]["widths"].toArray())
        for (int c = w[0].toInt(); c <= w[1].toInt(); ++c)
            book.widths[c] = w[2].toDouble();
    return book;
}

// A folder this process cannot create files in (root ignores permissions,
// so then a read-only system folder stands in).
inline std::string unwritableFolder(const QString& parent)
{
    const QString folder = parent + QStringLiteral("/ro");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    QFile probe(folder + QStringLiteral("/probe"));
    if (probe.open(QIODevice::WriteOnly))
        return "/sys";
    return QFile::encodeName(folder).toStdString();
}

}  // namespace vemlo::test
