// The file table: row count, compaction, column lookup and the model
// invariants the grid relies on.
#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include "app/core/filetable.h"

using vemlo::FileTable;
using vemlo::RowStore;

using Row = std::array<std::string, RowStore::kColumns>;
Q_DECLARE_METATYPE(Row)

namespace {

RowStore::Cells views(const Row& r)
{
    RowStore::Cells c;
    for (size_t i = 0; i < c.size(); ++i)
        c[i] = r[i];
    return c;
}

// A table with captions and data rows named by their column-0 texts.
void fill(FileTable& t, const std::vector<std::string>& paths)
{
    for (int c = 0; c < FileTable::kColumns; ++c)
        t.setText(0, c, FileTable::kCaptions[size_t(c)]);
    RowStore rows(1);
    for (const auto& p : paths)
        rows.emplace_back(std::array<std::string_view, 7>{p, p + "-name", "e", "1", "d", "d", "32"});
    t.replaceDataRows(std::move(rows));
}

std::vector<std::string> paths(const FileTable& t)
{
    std::vector<std::string> out;
    for (int r = 1; r < t.tableRows(); ++r)
        out.emplace_back(t.text(r, 0));
    return out;
}

}  // namespace

class TableTest : public QObject {
    Q_OBJECT
private slots:
    void packedRowsKeepAnyBytes()
    {
        const std::string big(300, 'x');
        const std::string binary("a\0b\xff", 4);
        RowStore store;
        store.emplace_back({"", big, binary, "é", "", "7", ""});
        store.emplace_back();
        QCOMPARE(store.cell(0, 1), std::string_view(big));
        QCOMPARE(store.cell(0, 2), std::string_view(binary));
        QCOMPARE(store.cell(0, 5), std::string_view("7"));
        store.setCell(0, 0, "new");     // grows: written anew
        store.setCell(0, 1, "");        // shrinks: in place
        store.setCell(1, 6, "written");  // the shared empty row stays empty for others
        QCOMPARE(store.cell(0, 0), std::string_view("new"));
        QCOMPARE(store.cell(0, 1), std::string_view(""));
        QCOMPARE(store.cell(0, 2), std::string_view(binary));
        QCOMPARE(store.cell(0, 6), std::string_view(""));
        QCOMPARE(store.cell(1, 6), std::string_view("written"));
        store.resize(4);
        QCOMPARE(store.cell(3, 6), std::string_view(""));
        store.setCell(0, 3, store.cell(0, 2));  // a text from the same row
        QCOMPARE(store.cell(0, 3), std::string_view(binary));
        store.setCell(0, 2, store.cell(0, 2).substr(1));
        QCOMPARE(store.cell(0, 2), std::string_view(binary).substr(1));
    }

    void sparseStoreIsRebuiltWithItsTexts()
    {
        RowStore store;
        for (int i = 0; i < 1000; ++i) {
            const std::string n = std::to_string(i);
            store.emplace_back({n, "name" + n, "", "", "", "", ""});
        }
        for (int i = 0; i < 10; ++i)
            store.moveRow(size_t(i), size_t(i * 100));
        store.resize(10);  // few rows left: the blocks are rebuilt
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(store.cell(size_t(i), 0), std::string_view(std::to_string(i * 100)));
            QCOMPARE(std::string(store.cell(size_t(i), 1)), "name" + std::to_string(i * 100));
        }
        for (int i = 0; i < 500; ++i)  // growing writes rebuild too
            store.setCell(size_t(i % 10), 1, std::string(size_t(20 + i % 7), 'y'));
        QCOMPARE(store.cell(3, 0), std::string_view("300"));
        QCOMPARE(store.cell(9, 1), std::string_view(std::string(size_t(20 + 499 % 7), 'y')));
    }

    // Rows whose cells end the cell before them, or nearly do: every cell
    // reads back, also after any one cell is written, in a store shared
    // before the write and in the snapshot itself.
    void cellsEndingThePreviousOne_data()
    {
        QTest::addColumn<Row>("row");
        const std::string longName(200, 'n'), hugeName(20000, 'h');
        QTest::newRow("listed") << Row{"/home/a/photo.jpeg", "photo.jpeg", "jpeg", "12",
                                       "2024/01/02", "2024/01/02", "32"};
        QTest::newRow("name from elsewhere")
            << Row{"/home/a/photo.jpeg", "photo.JPEG", "JPEG", "2", "2024/01/02", "2024/1/02", "2"};
        QTest::newRow("name longer than path")
            << Row{"o.jpeg", "photo.jpeg", "jpeg", "", "", "", ""};
        QTest::newRow("no name, no extension") << Row{"/home/a/", "", "", "0", "d", "", "32"};
        QTest::newRow("extension is the name") << Row{"/a/txt", "txt", "txt", "txt", "xt", "t", "t"};
        QTest::newRow("not UTF-8") << Row{"/a/\xff\xfe.\x80", "\xff\xfe.\x80", "\x80", "",
                                          "\xfe.\x80", ".\x80", std::string("\0", 1)};
        QTest::newRow("long cells")
            << Row{"/a/" + longName, longName, longName.substr(130), longName.substr(137), "", "", ""};
        QTest::newRow("huge cells")
            << Row{"/a/" + hugeName, hugeName, hugeName.substr(3), hugeName.substr(16400), "x",
                   hugeName, hugeName.substr(1)};
    }

    void cellsEndingThePreviousOne()
    {
        QFETCH(Row, row);
        auto checkRow = [](const RowStore& s, size_t r, const Row& want) {
            for (int c = 0; c < RowStore::kColumns; ++c)
                QCOMPARE(std::string(s.cell(r, c)), want[size_t(c)]);
        };
        RowStore store;
        store.emplace_back(views(row));
        checkRow(store, 0, row);
        for (int col = 0; col < RowStore::kColumns; ++col) {
            const std::string old = row[size_t(col)];
            const std::string prev = col ? row[size_t(col) - 1] : "";
            for (const std::string& text :
                 {std::string(), old.substr(old.size() / 2), old + "x", prev, "/q/" + old,
                  std::string(300, 'z')}) {
                for (bool shared : {false, true}) {
                    RowStore s;
                    s.emplace_back(views(row));
                    s.emplace_back(views(row));
                    const RowStore snapshot = shared ? s.share() : RowStore();
                    s.setCell(1, col, text);
                    Row want = row;
                    want[size_t(col)] = text;
                    checkRow(s, 0, row);
                    checkRow(s, 1, want);
                    if (shared)
                        checkRow(snapshot, 1, row);
                    s.setCell(1, col, s.cell(0, col));  // back, from the row beside it
                    checkRow(s, 1, row);
                }
            }
        }
    }

    // Edits, marks, sorting and the rebuild of a sparse store against a plain
    // copy of the texts.
    void editedRowsSurviveSortAndRebuild()
    {
        RowStore store;
        std::vector<Row> model;
        for (int i = 0; i < 600; ++i) {
            const std::string name = "f" + std::to_string((i * 7919) % 600) + (i % 3 ? ".dat" : "");
            Row r{"/w/" + name, name, i % 3 ? "dat" : "", std::to_string(i), "2024/01/02",
                  i % 2 ? "2024/01/02" : "2023/12/31", "32"};
            store.emplace_back(views(r));
            model.push_back(r);
        }
        RowStore snapshot = store.share();
        const std::vector<Row> before = model;
        for (size_t i = 0; i < model.size(); i += 5) {
            const int col = int(i / 5 % 3);
            const std::string text = i % 2 ? std::string() : "x" + model[i][size_t(col)];
            store.setCell(i, col, text);
            model[i][size_t(col)] = text;
        }
        snapshot.setCell(0, 1, "other");
        store.sort(0, [](RowStore::RowView a, RowStore::RowView b) { return a.cell(3) < b.cell(3); });
        std::sort(model.begin(), model.end(), [](const Row& a, const Row& b) { return a[3] < b[3]; });
        size_t w = 0;  // keep one row in ten: the blocks are rebuilt
        for (size_t i = 0; i < model.size(); i += 10) {
            store.moveRow(w, i);
            model[w++] = model[i];
        }
        store.resize(w);
        model.resize(w);
        for (size_t r = 0; r < w; ++r)
            for (int c = 0; c < RowStore::kColumns; ++c)
                QCOMPARE(std::string(store.cell(r, c)), model[r][size_t(c)]);
        QCOMPARE(std::string(snapshot.cell(0, 1)), std::string("other"));
        for (size_t r = 1; r < before.size(); ++r)
            for (int c = 0; c < RowStore::kColumns; ++c)
                QCOMPARE(std::string(snapshot.cell(r, c)), before[r][size_t(c)]);
    }

    void startsWithCaptionAndOneEmptyRow()
    {
        FileTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(t.tableRows(), 2);
        QCOMPARE(t.rowCount(), 1);
        QCOMPARE(t.text(1, 3), std::string_view(""));
    }

    void compaction_data()
    {
        QTest::addColumn<std::vector<int>>("marked");
        QTest::addColumn<std::vector<int>>("dropped");  // given to dropRows
        QTest::addColumn<std::vector<std::string>>("left");
        using Rows = std::vector<int>;
        using Paths = std::vector<std::string>;
        QTest::newRow("none") << Rows{} << Rows{} << Paths{"a", "b", "c", "d", "e"};
        QTest::newRow("all") << Rows{1, 2, 3, 4, 5} << Rows{} << Paths{};
        QTest::newRow("first") << Rows{1} << Rows{} << Paths{"b", "c", "d", "e"};
        QTest::newRow("last") << Rows{5} << Rows{} << Paths{"a", "b", "c", "d"};
        QTest::newRow("adjacent and scattered") << Rows{2, 3, 5} << Rows{} << Paths{"a", "d"};
        QTest::newRow("dropped without marks") << Rows{} << Rows{1, 4} << Paths{"b", "c", "e"};
        QTest::newRow("dropped beside marked") << Rows{2} << Rows{4, 5} << Paths{"a", "c"};
        QTest::newRow("dropped and marked alike") << Rows{1, 3} << Rows{1, 2, 3, 4, 5} << Paths{};
    }

    void compaction()
    {
        QFETCH(std::vector<int>, marked);
        QFETCH(std::vector<int>, dropped);
        QFETCH(std::vector<std::string>, left);
        FileTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        fill(t, {"a", "b", "c", "d", "e"});
        QSignalSpy changes(&t, &FileTable::dataChanged);
        {
            FileTable::Batch batch(t);
            for (int r : marked)
                t.markRow(r);
        }
        QCOMPARE(changes.size(), marked.empty() ? 0 : 1);  // one signal, not one per row
        QSignalSpy resets(&t, &FileTable::modelReset);
        if (dropped.empty())
            t.adjustToTop();
        else
            t.dropRows(dropped);
        QCOMPARE(resets.size(), marked.empty() && dropped.empty() ? 0 : 1);
        QCOMPARE(paths(t), left);
        QCOMPARE(t.tableRows(), int(left.size()) + 1);
        for (int r = 1; r < t.tableRows(); ++r)  // whole rows move, not just column 0
            QCOMPARE(std::string(t.text(r, 1)), std::string(t.text(r, 0)) + "-name");
        QCOMPARE(t.text(0, 1), std::string_view("文件名"));
    }

    void captionRowAloneIsUnchangedByCompaction()
    {
        FileTable t;
        fill(t, {});
        t.setTableRows(1);
        t.adjustToTop();
        QCOMPARE(t.tableRows(), 1);
    }

    void droppedTextsNeverComeBack()
    {
        FileTable t;
        QAbstractItemModelTester tester(&t, QAbstractItemModelTester::FailureReportingMode::QtTest);
        fill(t, {"a", "b", "c"});
        t.setTableRows(2);
        t.setTableRows(4);
        QCOMPARE(paths(t), (std::vector<std::string>{"a", "", ""}));
        t.markRow(1);
        t.adjustToTop();
        t.setTableRows(3);
        QCOMPARE(paths(t), (std::vector<std::string>{"", ""}));
        t.setTableRows(0);  // the caption row always stays
        QCOMPARE(t.tableRows(), 1);
    }

    void columnLookupIsExact()
    {
        FileTable t;
        fill(t, {});
        QCOMPARE(t.findColumn("文件名"), 1);
        QCOMPARE(t.findColumn("属性"), 6);
        QCOMPARE(t.findColumn("大小/B"), 3);
        QCOMPARE(t.findColumn("文件名 "), -1);
        QCOMPARE(t.findColumn(""), -1);
        QCOMPARE(t.findColumn("格"), -1);
    }

    void viewSeesCaptionsAsHeaderAndDecodedCells()
    {
        FileTable t;
        fill(t, {"/tmp/\xff" "bad"});
        QCOMPARE(t.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("位置"));
        QCOMPARE(t.data(t.index(0, 0), Qt::DisplayRole).toString(),
                 QStringLiteral("/tmp/\uFFFDbad"));
        QCOMPARE(t.data(t.index(0, 0), Qt::EditRole), QVariant());
        QVERIFY(!(t.flags(t.index(0, 0)) & Qt::ItemIsEditable));
    }
};

QTEST_GUILESS_MAIN(TableTest)
#include "test_table.moc"
