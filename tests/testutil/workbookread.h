// Saved workbooks read back twice: by openpyxl (tests/read_workbook.py) and by
// a small reader of our own over the unpacked XML parts. readWorkbook returns
// the cells and charts and fails when the two readings disagree.
#pragma once

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QXmlStreamReader>

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
    QStringList categoryCache;                      // openpyxl only: cached categories
    std::map<int, double> widths;                   // own reader only: set column widths

    const ReadCell* at(int row, int col) const
    {
        auto it = cells.find({row, col});
        return it == cells.end() ? nullptr : &it->second;
    }
    QString text(int row, int col) const { return at(row, col) ? at(row, col)->text : QString(); }
    QString format(int row, int col) const { return at(row, col) ? at(row, col)->format : QString(); }
};

inline ReadBook readWithOpenpyxl(const std::string& path)
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
    return book;
}

// One part of the zip file, through unzip.
inline QByteArray unzipPart(const std::string& path, const char* part)
{
    QProcess p;
    p.start(QStringLiteral("unzip"), {QStringLiteral("-p"), QFile::decodeName(path.c_str()),
                                      QString::fromLatin1(part)});
    p.waitForFinished(60000);
    return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray();
}

// "AB12" -> (12, 28)
inline std::pair<int, int> cellPosition(QStringView ref)
{
    int col = 0, i = 0;
    while (i < ref.size() && ref[i].isLetter())
        col = col * 26 + (ref[i++].unicode() - 'A' + 1);
    return {ref.mid(i).toInt(), col};
}

inline ReadBook readWithOwnCode(const std::string& path)
{
    ReadBook book;
    // Number formats by style number.
    std::map<int, QString> codes{{0, QStringLiteral("General")}, {49, QStringLiteral("@")}};
    std::vector<QString> styleFormats;
    QXmlStreamReader styles(unzipPart(path, "xl/styles.xml"));
    bool inXfs = false;
    while (!styles.atEnd()) {
        const auto token = styles.readNext();
        if (token == QXmlStreamReader::EndElement && styles.name() == u"cellXfs")
            inXfs = false;
        if (token != QXmlStreamReader::StartElement)
            continue;
        const auto a = styles.attributes();
        if (styles.name() == u"numFmt")
            codes[a.value(QLatin1String("numFmtId")).toInt()] = a.value(QLatin1String("formatCode")).toString();
        else if (styles.name() == u"cellXfs")
            inXfs = true;
        else if (inXfs && styles.name() == u"xf")
            styleFormats.push_back(codes[a.value(QLatin1String("numFmtId")).toInt()]);
    }
    QXmlStreamReader workbook(unzipPart(path, "xl/workbook.xml"));
    while (!workbook.atEnd())
        if (workbook.readNext() == QXmlStreamReader::StartElement && workbook.name() == u"sheet")
            book.sheetNames << workbook.attributes().value(QLatin1String("name")).toString();

    QXmlStreamReader sheet(unzipPart(path, "xl/worksheets/sheet1.xml"));
    std::pair<int, int> pos;
    ReadCell cell;
    while (!sheet.atEnd()) {
        const auto token = sheet.readNext();
        if (token == QXmlStreamReader::StartElement && sheet.name() == u"col") {
            const auto a = sheet.attributes();
            for (int c = a.value(QLatin1String("min")).toInt(); c <= a.value(QLatin1String("max")).toInt(); ++c)
                book.widths[c] = a.value(QLatin1String("width")).toDouble();
        } else if (token == QXmlStreamReader::StartElement && sheet.name() == u"c") {
            const auto a = sheet.attributes();
            pos = cellPosition(a.value(QLatin1String("r")));
            const size_t style = a.hasAttribute(QLatin1String("s")) ? a.value(QLatin1String("s")).toUInt() : 0;
            cell = ReadCell{{}, a.value(QLatin1String("t")).isEmpty(),
                            style < styleFormats.size() ? styleFormats[style] : QStringLiteral("General")};
        } else if (token == QXmlStreamReader::StartElement && (sheet.name() == u"t" || sheet.name() == u"v")) {
            cell.text = sheet.readElementText();
            if (cell.number)
                cell.text = QString::number(cell.text.toDouble(), 'g', 17);
        } else if (token == QXmlStreamReader::EndElement && sheet.name() == u"c") {
            if (cell.text.isEmpty())
                cell.number = false;
            book.cells[pos] = cell;
        }
    }
    if (sheet.hasError())
        book.error = QStringLiteral("sheet1.xml: ") + sheet.errorString();

    for (int n = 1;; ++n) {
        const std::string part = "xl/charts/chart" + std::to_string(n) + ".xml";
        const QByteArray xml = unzipPart(path, part.c_str());
        if (xml.isEmpty())
            break;
        ReadChart chart;
        QXmlStreamReader r(xml);
        QString where;  // "cat" or "val" while inside one
        while (!r.atEnd()) {
            const auto token = r.readNext();
            if (token == QXmlStreamReader::StartElement) {
                if (r.name() == u"pieChart")
                    chart.type = QStringLiteral("PieChart");
                else if (r.name() == u"cat" || r.name() == u"val")
                    where = r.name().toString();
                else if (r.name() == u"t" && r.namespaceUri().contains(u"drawingml/2006/main"))
                    chart.title += r.readElementText();
                else if (r.name() == u"f")
                    (where == u"cat" ? chart.categories : chart.values) << r.readElementText();
            } else if (token == QXmlStreamReader::EndElement && (r.name() == u"cat" || r.name() == u"val")) {
                where.clear();
            }
        }
        book.charts.push_back(chart);
    }
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

// Both readings; error tells where they differ.
inline ReadBook readWorkbook(const std::string& path)
{
    ReadBook theirs = readWithOpenpyxl(path);
    if (!theirs.error.isEmpty())
        return theirs;
    const ReadBook ours = readWithOwnCode(path);
    if (!ours.error.isEmpty())
        theirs.error = ours.error;
    else if (ours.sheetNames != theirs.sheetNames)
        theirs.error = QStringLiteral("sheet names differ");
    else if (ours.charts != theirs.charts)
        theirs.error = QStringLiteral("charts differ");
    else if (ours.cells != theirs.cells) {
        theirs.error = QStringLiteral("cells differ");
        for (const auto& [p, c] : theirs.cells) {
            const ReadCell* o = ours.at(p.first, p.second);
            if (!o || !(*o == c)) {
                theirs.error += QStringLiteral(" at (%1, %2): openpyxl '%3' %4 %5, ours '%6' %7 %8")
                                    .arg(p.first).arg(p.second).arg(c.text).arg(c.number).arg(c.format)
                                    .arg(o ? o->text : QString()).arg(o ? o->number : false)
                                    .arg(o ? o->format : QString());
                break;
            }
        }
    }
    return theirs;
}

}  // namespace vemlo::test
