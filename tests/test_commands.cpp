// The commands on the file table without windows, on real files: the filter,
// organize, the numbered rename and the attribute change. Each case lists a
// real folder into a table, runs the command and reads the disk back.
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "app/core/batch.h"
#include "app/core/importrows.h"
#include "app/core/keywords.h"
#include "app/core/sheetcommands.h"
#include "common/errtext.h"
#include "platform/attrib.h"
#include "platform/mounts.h"
#include "testutil/files.h"
#include "testutil/share.h"
#include "testutil/workbookread.h"

using namespace vemlo;
using namespace vemlo::test;
using Names = std::vector<std::string>;
using Kind = Failure::Kind;
Q_DECLARE_METATYPE(Failure)
Q_DECLARE_METATYPE(NameProblem)

namespace {

// The listing of dir as the table's data rows; with order, only the rows
// named there (column 1), in that order, the way a filter or a sort leaves
// the table.
void listInto(FileTable& table, const std::string& dir, const Names& order = {})
{
    RowStore listed;
    fs::ListingGaps gaps;
    QVERIFY(listRows(dir, dir, listed, gaps).ok());
    if (order.empty()) {
        table.replaceDataRows(std::move(listed));
        return;
    }
    RowStore rows(1);
    for (std::string name : order) {
        if (name.back() == '/')
            name.pop_back();
        for (size_t r = 1; r < listed.size(); ++r) {
            if (listed.cell(r, 1) != name)
                continue;
            RowStore::Cells c;
            for (int k = 0; k < 7; ++k)
                c[size_t(k)] = listed.cell(r, k);
            rows.emplace_back(c);
        }
    }
    QCOMPARE(rows.size(), order.size() + 1);
    table.replaceDataRows(std::move(rows));
}

Names columnOf(const FileTable& table, int col)
{
    Names out;
    for (int r = 1; r < table.tableRows(); ++r)
        out.emplace_back(table.text(r, col));
    return out;
}

// "name:kind:err", so that failures compare as one list.
QString failure(const std::string& name, Kind kind, int err = 0)
{
    return QString::fromStdString(name) + ":" + QString::number(int(kind)) + ":" + QString::number(err);
}

QStringList failuresOf(const FailureList& list)
{
    QStringList out;
    for (const Failure& f : list.listed())
        out << failure(f.name, f.kind, f.err);
    return out;
}

// The attribute number the listing of dir shows for name, or -1.
int attribListed(const std::string& dir, const std::string& name)
{
    FileTable table;
    listInto(table, dir);
    for (int r = 1; r < table.tableRows(); ++r)
        if (table.text(r, 1) == name)
            return std::stoi(std::string(table.text(r, 6)));
    return -1;
}

// Each entry below dir with its content, mode and stored records: what a
// batch taken back must leave as it found it.
Names stateOf(const std::string& dir)
{
    Names out;
    for (const std::string& p : tree(dir)) {
        const std::string full = dir + "/" + p;
        out.push_back(p + " " + (p.back() == '/' ? "" : describe(full)) + " " +
                      std::to_string(modeOf(full)) + " " + recordOf(full) + " " +
                      xattrOf(full, fs::kWriteBitsXattr) + " " + xattrOf(full, fs::kOldAttribXattr));
    }
    return out;
}

// Stops a pass at its second look.
class StopSoon : public Progress {
protected:
    bool look(int64_t, std::string_view) override { return ++looks_ < 2; }
    void begin(int64_t) override { setStride(1); }
    int looks_ = 0;
};

// The file table as the export reads it.
class TableOf : public TableSource {
public:
    explicit TableOf(const FileTable& table) : table_(table) {}
    int rows() const override { return table_.tableRows(); }
    int columns() const override { return 7; }
    std::string_view text(int row, int col) const override { return table_.text(row, col); }

private:
    const FileTable& table_;
};

}  // namespace

class CommandsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // The attributes live in a user extended attribute: the temporary
        // folders must keep one.
        TempDir dir;
        const std::string probe = dir.path() + "/probe";
        writeFile(probe);
        QVERIFY2(setRecord(probe, "0x2"),
                 "temporary folders do not keep user extended attributes");
    }

    // ---- filter

    void filter_data()
    {
        QTest::addColumn<int>("col");
        QTest::addColumn<Names>("keywords");
        QTest::addColumn<Names>("left");
        QTest::newRow("no keywords") << 1 << Names{} << Names{};
        QTest::newRow("only the empty keyword") << 1 << Names{""} << Names{};
        QTest::newRow("case-sensitive on the format") << 2 << Names{"jp"} << Names{"a.jpg", "b.jpeg"};
        QTest::newRow("Chinese keyword") << 1 << Names{"报告"} << Names{"报告2024.docx"};
        QTest::newRow("any of several, one twice")
            << 1 << Names{"notes", "报", "notes"} << Names{"notes.txt", "报告2024.docx", "报表.txt"};
        QTest::newRow("attribute column") << 6 << Names{"16"} << Names{"jpgs"};
    }

    void filter()
    {
        QFETCH(int, col);
        QFETCH(Names, keywords);
        QFETCH(Names, left);
        TempDir tmp;
        makeEntries(tmp.path(), {"C.JPG", "a.jpg", "b.jpeg", "jpgs/", "notes.txt", "报告2024.docx", "报表.txt"});
        FileTable table;
        listInto(table, tmp.path());
        for (int pass = 0; pass < 2; ++pass) {  // a second pass changes nothing
            filterTable(table, col, keywords);
            QCOMPARE(sorted(columnOf(table, 1)), left);
        }
        for (int r = 1; r < table.tableRows(); ++r)  // whole rows kept
            QCOMPARE(std::string(table.text(r, 0)), tmp.path() + "/" + std::string(table.text(r, 1)));
    }

    // ---- organize

    void organizeMoves_data()
    {
        QTest::addColumn<Names>("files");
        QTest::addColumn<int>("col");
        QTest::addColumn<Names>("keywords");
        QTest::addColumn<Names>("after");
        QTest::addColumn<Names>("left");  // rows without the removal mark
        QTest::newRow("the later keyword wins")
            << Names{"cab.txt", "other.txt"} << 1 << Names{"a", "ab"}
            << Names{"ab/", "ab/cab.txt", "other.txt"} << Names{"other.txt"};
        QTest::newRow("by format, existing folder reused")
            << Names{"jpg/", "jpg/old.jpg", "x.jpg", "y.png", "z.txt"} << 2 << Names{"jpg", "png"}
            << Names{"jpg/", "jpg/old.jpg", "jpg/x.jpg", "png/", "png/y.png", "z.txt"}
            << Names{"jpg", "z.txt"};
        QTest::newRow("a listed folder is moved whole")
            << Names{"holiday-photos/", "holiday-photos/1.jpg"} << 1 << Names{"photos"}
            << Names{"photos/", "photos/holiday-photos/", "photos/holiday-photos/1.jpg"} << Names{};
        QTest::newRow("a name that is not UTF-8")
            << Names{"\xff\xfe.jpg"} << 2 << Names{"jpg"} << Names{"jpg/", "jpg/\xff\xfe.jpg"} << Names{};
        QTest::newRow("an empty list moves nothing")
            << Names{"a.jpg"} << 2 << Names{} << Names{"a.jpg"} << Names{"a.jpg"};
    }

    void organizeMoves()
    {
        QFETCH(Names, files);
        QFETCH(int, col);
        QFETCH(Names, keywords);
        QFETCH(Names, after);
        QFETCH(Names, left);
        TempDir tmp;
        makeEntries(tmp.path(), files);
        FileTable table;
        listInto(table, tmp.path());
        OrganizeResult result = organizeTable(table, col, keywords, tmp.path());
        QCOMPARE(result.stop, OrganizeResult::Stop::None);
        QCOMPARE(result.notMoved.count(), 0);
        QCOMPARE(tree(tmp.path()), after);
        table.adjustToTop();
        QCOMPARE(sorted(columnOf(table, 1)), left);
        for (const std::string& f : after)  // moved files keep their bytes
            if (f.back() != '/')
                QCOMPARE(readFile(tmp.path() + "/" + f), f.substr(f.rfind('/') + 1));
        // Taken back: every entry where it was, the folders made gone.
        QCOMPARE(failuresOf(undoBatch(result.trail).failures), QStringList{});
        QCOMPARE(tree(tmp.path()), sorted(files));
    }

    // A keyword folder made earlier in the run is looked for again once an
    // entry above it has moved away, however the moved entry's path is
    // spelled: the later rows still find their folder.
    void keywordFolderMadeAgainAfterItsParentMoved_data()
    {
        QTest::addColumn<std::string>("spelled");  // the moved folder's path beneath w
        QTest::newRow("plain") << std::string("/2024");
        QTest::newRow("trailing slashes") << std::string("/2024//");
        QTest::newRow("through a link") << std::string("/alias/2024");
    }

    void keywordFolderMadeAgainAfterItsParentMoved()
    {
        QFETCH(std::string, spelled);
        TempDir dir;
        const std::string w = dir.path();
        makeEntries(w, {"2024/", "a.txt", "b.txt"});
        QCOMPARE(::symlink(".", (w + "/alias").c_str()), 0);
        FileTable table;
        table.setTableRows(4);
        const char* rows[][3] = {{"/a.txt", "2024/05", ""}, {"", "2025/01", ""}, {"/b.txt", "2024/05", ""}};
        for (int r = 1; r <= 3; ++r) {
            table.setText(r, 0, w + (r == 2 ? spelled : rows[r - 1][0]));
            table.setText(r, 1, r == 2 ? "2024" : rows[r - 1][0] + 1);
            table.setText(r, 4, rows[r - 1][1]);
        }
        OrganizeResult result = organizeTable(table, 4, {"2024/05", "2025/01"}, w);
        QCOMPARE(result.notMoved.count(), 0);
        QCOMPARE(result.moved, 3);
        QCOMPARE(readFile(w + "/2024/05/b.txt"), std::string("b.txt"));
        QCOMPARE(readFile(w + "/2025/01/2024/05/a.txt"), std::string("a.txt"));
        QCOMPARE(failuresOf(undoBatch(result.trail).failures), QStringList{});
        QCOMPARE(tree(w), (Names{"2024/", "a.txt", "alias", "b.txt"}));
    }
    // Taken names stay with their old content; the count holds them all, the
    // list the first ten.
    void collisionsStay_data()
    {
        QTest::addColumn<int>("colliding");
        QTest::newRow("one") << 1;
        QTest::newRow("more than ten") << 12;
    }

    void collisionsStay()
    {
        QFETCH(int, colliding);
        TempDir tmp;
        const std::string d = tmp.path();
        makeEntries(d, {"jpg/", "free.jpg"});
        for (int i = 0; i < colliding; ++i) {
            const std::string n = "c" + std::to_string(i) + ".jpg";
            writeFile(d + "/" + n, "new");
            writeFile(d + "/jpg/" + n, "old");
        }
        FileTable table;
        listInto(table, d);
        const OrganizeResult result = organizeTable(table, 2, {"jpg"}, d);
        QCOMPARE(result.moved, 1);
        QCOMPARE(result.notMoved.count(), colliding);
        QCOMPARE(int(result.notMoved.listed().size()), std::min(colliding, FailureList::kListed));
        QCOMPARE(failuresOf(result.notMoved).first(), failure("c0.jpg", Kind::Io, EEXIST));
        for (int i = 0; i < colliding; ++i) {
            const std::string n = "c" + std::to_string(i) + ".jpg";
            QCOMPARE(readFile(d + "/" + n), std::string("new"));
            QCOMPARE(readFile(d + "/jpg/" + n), std::string("old"));
        }
        QCOMPARE(readFile(d + "/jpg/free.jpg"), std::string("free.jpg"));
        table.adjustToTop();
        QCOMPARE(table.tableRows(), 1 + colliding + 1);  // the colliding rows and the folder jpg
    }

    // A folder never moves into itself, also when the working folder is the
    // folder reached through a link.
    void neverIntoItself()
    {
        TempDir tmp;
        const std::string d = tmp.path();
        makeEntries(d, {"real/", "real/sub/", "jpg/", "a.jpg"});
        QCOMPARE(::symlink((d + "/real/sub").c_str(), (d + "/alias").c_str()), 0);
        FileTable table;
        listInto(table, d);
        OrganizeResult result = organizeTable(table, 1, {"jpg"}, d);
        QCOMPARE(failuresOf(result.notMoved), QStringList{failure("jpg", Kind::IntoItself)});
        QCOMPARE(tree(d + "/jpg"), Names{"a.jpg"});

        listInto(table, d + "/real");
        result = organizeTable(table, 1, {"sub"}, d + "/alias");  // real/sub itself
        QCOMPARE(failuresOf(result.notMoved), QStringList{failure("sub", Kind::IntoItself)});
        QVERIFY(pathExists(d + "/real/sub"));
        table.adjustToTop();
        QCOMPARE(columnOf(table, 1), Names{"sub"});
    }

    // A keyword folder that is a symbolic link, or lies behind one, takes
    // nothing: the entries and their rows stay, with the reason.
    void neverThroughALink_data()
    {
        QTest::addColumn<Names>("inside");  // made in the working folder
        QTest::addColumn<QString>("link");  // name of the link to the outside folder
        QTest::addColumn<bool>("dangling");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<Failure>("why");  // the reason of every entry that stays
        QTest::newRow("the keyword folder is a link")
            << Names{} << "kw" << false << "kw" << Failure{"", Kind::KeywordFolderIsLink, 0, "kw"};
        QTest::newRow("behind a link")
            << Names{} << "kw" << false << "kw/sub" << Failure{"", Kind::KeywordFolderBehindLink, 0, "kw/sub", "kw"};
        QTest::newRow("a link below a real folder")
            << Names{"a/"} << "a/kw" << false << "a/kw/" << Failure{"", Kind::KeywordFolderIsLink, 0, "a/kw"};
        QTest::newRow("a dangling link")
            << Names{} << "kw" << true << "kw/new" << Failure{"", Kind::KeywordFolderBehindLink, 0, "kw/new", "kw"};
    }

    void neverThroughALink()
    {
        QFETCH(Names, inside);
        QFETCH(QString, link);
        QFETCH(bool, dangling);
        QFETCH(QString, keyword);
        QFETCH(Failure, why);
        TempDir work, outside;
        makeEntries(outside.path(), {"sub/"});
        makeEntries(work.path(), inside);
        makeEntries(work.path(), {"kw1.txt", "kw2.txt"});
        const std::string to = outside.path() + (dangling ? "/missing" : "");
        QCOMPARE(::symlink(to.c_str(), (work.path() + "/" + link.toStdString()).c_str()), 0);
        const Names before = tree(work.path());
        FileTable table;
        listInto(table, work.path(), {"kw1.txt", "kw2.txt"});
        for (int r = 1; r < table.tableRows(); ++r)
            table.setText(r, 2, keyword.toStdString());

        const OrganizeResult result = organizeTable(table, 2, {keyword.toStdString()}, work.path());
        QCOMPARE(result.notMoved.count(), 2);
        for (const Failure& f : result.notMoved.listed())
            QVERIFY(f.kind == why.kind && f.folder == why.folder && f.link == why.link);
        QCOMPARE(tree(work.path()), before);
        QCOMPARE(tree(outside.path()), Names{"sub/"});
        table.adjustToTop();
        QCOMPARE(columnOf(table, 1), (Names{"kw1.txt", "kw2.txt"}));
    }

    // A file with the keyword folder's name, or the name of a folder on its
    // way, stays, and so does every entry bound for that folder, each with
    // the file as the reason (not "into itself").
    void fileInTheKeywordFoldersWay_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("blocker");
        QTest::newRow("the keyword folder's name") << "kw" << "kw";
        QTest::newRow("a folder on its way") << "kw/sub" << "kw";
    }

    void fileInTheKeywordFoldersWay()
    {
        QFETCH(QString, keyword);
        QFETCH(QString, blocker);
        TempDir tmp;
        const std::string d = tmp.path();
        makeEntries(d, {"kw", "kw1.txt"});
        FileTable table;
        listInto(table, d);
        for (int r = 1; r < table.tableRows(); ++r)
            table.setText(r, 2, keyword.toStdString());
        const OrganizeResult result = organizeTable(table, 2, {keyword.toStdString()}, d);
        QCOMPARE(failuresOf(result.notMoved),
                 (QStringList{failure("kw", Kind::KeywordFolderIsFile, ENOTDIR),
                              failure("kw1.txt", Kind::KeywordFolderIsFile, ENOTDIR)}));
        for (const Failure& f : result.notMoved.listed())
            QVERIFY(f.folder == keyword.toStdString() && f.link == blocker.toStdString());
        QCOMPARE(tree(d), (Names{"kw", "kw1.txt"}));
    }

    // ---- numbered rename

    // Entries in table order, the base name, and each entry's new name.
    void renamesInTableOrder_data()
    {
        QTest::addColumn<Names>("entries");
        QTest::addColumn<QString>("base");
        QTest::addColumn<Names>("renamed");
        QTest::addColumn<Names>("taken");  // entries left with their old names
        QTest::newRow("three files") << Names{"a.txt", "b.doc", "c.txt"} << "x"
                                     << Names{"x 1.txt", "x 2.doc", "x 3.txt"} << Names{};
        QTest::newRow("order of the table, not of the names")
            << Names{"c.txt", "a.txt", "b.doc"} << "x" << Names{"x 1.txt", "x 2.txt", "x 3.doc"} << Names{};
        QTest::newRow("empty base name") << Names{"a.txt"} << "" << Names{" 1.txt"} << Names{};
        QTest::newRow("blanks kept") << Names{"p.jpg"} << "  我的 照片 " << Names{"  我的 照片  1.jpg"} << Names{};
        QTest::newRow("no extension, no dot")
            << Names{"a.jpg", "b.jpg", "c"} << "照片" << Names{"照片 1.jpg", "照片 2.jpg", "照片 3"} << Names{};
        QTest::newRow("folders take column 2")
            << Names{"photos.2020/", "docs/", "n.txt"} << "x" << Names{"x 1.2020", "x 2", "x 3.txt"} << Names{};
        QTest::newRow("dot name and double extension")
            << Names{".profile", "a.tar.gz"} << "x" << Names{"x 1.profile", "x 2.gz"} << Names{};
        QTest::newRow("already has its new name")
            << Names{"x 1.txt", "a.txt", "x 3.txt"} << "x" << Names{"x 1.txt", "x 2.txt", "x 3.txt"} << Names{};
        QTest::newRow("names that are not UTF-8")
            << Names{"\xff\xfe.txt", "caf\xe9.\xe9t"} << "中" << Names{"中 1.txt", "中 2.\xe9t"} << Names{};
        // Taken names: nothing is replaced, the entry keeps its old name.
        QTest::newRow("chain: x 2.txt listed after its would-be owner")
            << Names{"a.txt", "b.txt", "x 2.txt"} << "x" << Names{"x 1.txt", "b.txt", "x 3.txt"} << Names{"b.txt"};
        QTest::newRow("swap of two names") << Names{"x 2.txt", "x 1.txt"} << "x" << Names{"x 2.txt", "x 1.txt"} << Names{"x 2.txt", "x 1.txt"};
        QTest::newRow("a folder holds the name") << Names{"a.txt", "x 1.txt/"} << "x" << Names{"a.txt", "x 2.txt"} << Names{"a.txt"};
    }

    void renamesInTableOrder()
    {
        QFETCH(Names, entries);
        QFETCH(QString, base);
        QFETCH(Names, renamed);
        QFETCH(Names, taken);
        TempDir tmp;
        const std::string dir = tmp.path() + "/\xfe\xff dir";  // a folder that is not UTF-8 either
        QCOMPARE(::mkdir(dir.c_str(), 0755), 0);
        makeEntries(dir, entries);
        for (const std::string& e : entries)  // a folder's content follows it too
            if (e.back() == '/')
                writeFile(dir + "/" + e + "inner", e);
        FileTable table;
        listInto(table, dir, entries);

        const BatchOutcome outcome = renameNumbered(table.snapshot(), dir, base.toStdString());
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::string& e = entries[i];
            QCOMPARE(describe(dir + "/" + renamed[i]), e.back() == '/' ? "folder:inner=file:" + e + ";" : "file:" + e);
        }
        QCOMPARE(listNames(dir), sorted(renamed));
        QStringList failed;
        for (const std::string& name : taken)
            failed << failure(name, Kind::Io, EEXIST);
        QCOMPARE(failuresOf(outcome.failures), failed);
        for (const Failure& f : outcome.failures.listed()) {  // the name that was taken
            const int row = 1 + int(std::find(renamed.begin(), renamed.end(), f.name) - renamed.begin());
            QCOMPARE(f.newName, numberedName(base.toStdString(), row, table.text(row, 2)));
        }
        QCOMPARE(outcome.done, int(entries.size()) - taken.size());
    }

    // The working folder is the one given, not the one listed; rows without
    // a path (the empty row of a fresh table) are no entries.
    void renameIntoTheGivenFolder()
    {
        TempDir listed, chosen;
        makeEntries(listed.path(), {"a.txt", "b.txt"});
        FileTable table;
        listInto(table, listed.path(), {"a.txt", "b.txt"});
        QCOMPARE(renameNumbered(table.snapshot(), chosen.path(), "x").done, 2);
        QCOMPARE(listNames(listed.path()), Names{});
        QCOMPARE(listNames(chosen.path()), (Names{"x 1.txt", "x 2.txt"}));
        QCOMPARE(readFile(chosen.path() + "/x 2.txt"), std::string("b.txt"));

        FileTable fresh;
        fresh.setTableRows(2);
        const BatchOutcome none = renameNumbered(fresh.snapshot(), chosen.path(), "y");
        QCOMPARE(none.done + none.failures.count(), 0);
        QCOMPARE(changeAttributes(fresh.snapshot(), fs::AttrArchive).failures.count(), 0);
        QCOMPARE(listNames(chosen.path()), (Names{"x 1.txt", "x 2.txt"}));
    }

    void baseNames_data()
    {
        QTest::addColumn<QByteArray>("base");
        QTest::addColumn<NameProblem>("problem");
        for (const char* ok : {"", "x", " . ", "...", "a.b", "中"})
            QTest::newRow(ok) << QByteArray(ok) << NameProblem::None;
        for (const char* bad : {"a/b", "/", "./"})
            QTest::newRow(bad) << QByteArray(bad) << NameProblem::Slash;
        for (const char* bad : {".", ".."})
            QTest::newRow(bad) << QByteArray(bad) << NameProblem::DotName;
        QTest::newRow("NUL byte") << QByteArray("a\0b", 3) << NameProblem::NulByte;
    }

    void baseNames()
    {
        QFETCH(QByteArray, base);
        QFETCH(NameProblem, problem);
        QCOMPARE(baseNameProblem(std::string_view(base.constData(), size_t(base.size()))), problem);
    }

    // Entries a filter took out of the table keep their names and attributes.
    void filteredOutEntriesUntouched_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("numbered rename") << true;
        QTest::newRow("attribute change") << false;
    }

    void filteredOutEntriesUntouched()
    {
        QFETCH(bool, rename);
        TempDir tmp;
        makeEntries(tmp.path(), {"a.txt", "b.txt", "c.txt"});
        FileTable table;
        listInto(table, tmp.path());
        filterTable(table, 1, {"b"});
        if (rename)
            QCOMPARE(renameNumbered(table.snapshot(), tmp.path(), "x").done, 1);
        else
            QCOMPARE(changeAttributes(table.snapshot(), attributeValue(true, true, false, false)).done, 1);
        const std::string changed = rename ? "x 1.txt" : "b.txt";
        QCOMPARE(listNames(tmp.path()), sorted({"a.txt", changed, "c.txt"}));
        QCOMPARE(attribListed(tmp.path(), "a.txt"), 128);
        QCOMPARE(attribListed(tmp.path(), "c.txt"), 128);
        QCOMPARE(attribListed(tmp.path(), changed), rename ? 128 : 3);
    }


    // ---- taking a batch back

    // Each command, taken back, leaves the folder as it was, also names that
    // are not UTF-8, links and a folder with what it holds; an entry changed
    // since stays and is reported, the rest goes back; a stopped undo keeps
    // what it had not tried, for the next.
    void undo_data()
    {
        QTest::addColumn<int>("command");  // 0 organize, 1 rename, 2 attributes
        QTest::addColumn<bool>("sshfs");
        QTest::addColumn<int>("meddle");  // 0 none, 1 old name taken / bits changed, 2 replaced,
                                           // 3 folder moved, 4 stopped, 5 unmounted
        QTest::addColumn<QString>("skipped");  // the entry that stays
        QTest::addColumn<int>("why");
        const char* commands[] = {"organize", "rename", "attributes"};
        const char* newName[] = {"a.jpg", "x 1.jpg", "a.jpg"};
        for (const bool sshfs : {false, true})
            for (int c = 0; c < 3; ++c) {
                auto row = [&](const char* what, int meddle, const char* skipped, Kind why) {
                    QTest::addRow("%s, %s%s", commands[c], what, sshfs ? ", sshfs" : "")
                        << c << sshfs << meddle << skipped << int(why);
                };
                row("all back", 0, "", Kind::Io);
                row(c == 2 ? "bits changed since" : "old name taken", 1, newName[c],
                    c == 2 ? Kind::AttribsChanged : Kind::NameTaken);
                row("replaced by another of the same name", 2, newName[c], Kind::Gone);
                row("folder moved away", 3, "", Kind::FolderGone);
                row("stopped part-way", 4, "", Kind::Io);
                if (sshfs)
                    row("share no longer mounted", 5, "", Kind::FolderGone);
            }
    }

    void undo()
    {
        QFETCH(int, command);
        QFETCH(bool, sshfs);
        QFETCH(int, meddle);
        QFETCH(QString, skipped);
        QFETCH(int, why);
        TempDir remote;
        std::unique_ptr<SshfsMount> mount;
        if (sshfs) {
            mount = std::make_unique<SshfsMount>(remote.path());
            VEMLO_REQUIRE_SHARE(*mount);
        }
        const std::string served = remote.path() + "/w";  // the folder as the server has it
        const std::string d = (sshfs ? mount->path() : remote.path()) + "/w";
        makeEntries(remote.path(), {"w/", "w/a.jpg", "w/b.jpg", "w/\xff.jpg", "w/sub.jpg/", "w/sub.jpg/in.txt"});
        QCOMPARE(::symlink("a.jpg", (served + "/l.jpg").c_str()), 0);
        QCOMPARE(::chmod((served + "/b.jpg").c_str(), 0640), 0);
        if (!sshfs)
            QVERIFY(setRecord(served + "/a.jpg", "0x20"));
        const Names before = stateOf(served);
        FileTable table;
        listInto(table, d);
        BatchTrail trail;
        if (command == 0)
            trail = std::move(organizeTable(table, 2, {"jpg"}, d).trail);
        else if (command == 1)
            trail = std::move(renameNumbered(table.snapshot(), d, "x").trail);
        else
            trail = std::move(changeAttributes(table.snapshot(), fs::AttrReadOnly).trail);
        QVERIFY(stateOf(served) != before);
        // Meddled with through the mount, as the user's other programs do
        // (what another machine changes on the server, sshfs may hide for
        // the time it keeps its cache).
        const std::string at = d + (command == 0 ? "/jpg/" : "/") + skipped.toStdString();
        if (meddle == 1 && command == 2)
            QCOMPARE(::chmod(at.c_str(), 0600), 0);
        else if (meddle == 1)
            writeFile(d + "/a.jpg", "taken");
        else if (meddle == 2)
            QVERIFY(::unlink(at.c_str()) == 0 && (writeFile(at, "another"), true));
        else if (meddle == 3)
            QCOMPARE(::rename(d.c_str(), (d + "2").c_str()), 0);
        else if (meddle == 5)
            QVERIFY(mount->unmount());
        const Names meddled = stateOf(meddle == 3 ? served + "2" : served);

        StopSoon stop;
        BatchOutcome undone = undoBatch(trail, meddle == 4 ? &stop : nullptr);
        if (meddle == 4) {
            QVERIFY(undone.left > 0 && trail.size() == size_t(undone.left));
            undone = undoBatch(trail);
        }
        QCOMPARE(trail.empty(), true);
        if (meddle == 0 || meddle == 4) {
            QCOMPARE(failuresOf(undone.failures), QStringList{});
            QCOMPARE(stateOf(served), before);
        } else if (meddle == 3 || meddle == 5) {
            QCOMPARE(failuresOf(undone.failures), QStringList{failure(d, Kind::FolderGone, ESTALE)});
            QCOMPARE(stateOf(meddle == 3 ? served + "2" : served), meddled);
        } else {
            QCOMPARE(failuresOf(undone.failures), QStringList{failure(skipped.toStdString(), Kind(why))});
            QVERIFY(pathExists(at));
            const Names now = stateOf(served);
            for (const std::string& line : before)  // every other entry is back
                QVERIFY2(line.rfind("a.jpg ", 0) == 0 || std::count(now.begin(), now.end(), line),
                         line.c_str());
        }
    }

    // An owner who is not root takes back a change on a file that stays
    // read-only: its records are written while it is writable for a moment.
    void undoAsOwner()
    {
        TempDir tmp;
        const std::string path = tmp.path() + "/f.txt";
        writeFile(path, "data");
        QVERIFY(setRecord(path, "0x21"));
        QCOMPARE(::chmod(path.c_str(), 0444), 0);
        QCOMPARE(::chmod(tmp.path().c_str(), 0755), 0);
        if (::geteuid() == 0)
            QCOMPARE(::chown(path.c_str(), 65534, 65534), 0);
        FileTable table;
        listInto(table, tmp.path());
        const Names was = stateOf(tmp.path());
        const int status = runUnprivileged([&] {
            BatchOutcome changed = changeAttributes(table.snapshot(), attributeValue(true, true, false, false));
            return changed.done == 1 && recordOf(path) == "0x3" && undoBatch(changed.trail).done == 1 ? 0 : 1;
        });
        QCOMPARE(status, 0);
        QCOMPARE(stateOf(tmp.path()), was);
    }

    // What a batch reported is on the disk, also when the power goes right
    // after it ended.
    void powerCut_data()
    {
        QTest::addColumn<int>("command");
        QTest::newRow("organize") << 0;
        QTest::newRow("rename") << 1;
        QTest::newRow("attributes") << 2;
        QTest::newRow("rename taken back") << 3;
    }

    void powerCut()
    {
        QFETCH(int, command);
        ScratchFs scratch(65536, ScratchFs::Kind::Ext4);
        if (!scratch.usable())
            QSKIP(scratch.skipReason());
        const std::string d = scratch.path() + "/w";
        Names files{"w/"};
        for (int i = 0; i < 2000; ++i)
            files.push_back("w/f" + std::to_string(i) + ".jpg");
        makeEntries(scratch.path(), files);
        ::sync();
        const Names before = stateOf(d);
        FileTable table;
        listInto(table, d);
        if (command == 3) {
            BatchOutcome renamed = renameNumbered(table.snapshot(), d, "x");
            ::sync();  // what the cut may lose is the undo's alone
            QCOMPARE(undoBatch(renamed.trail).done, 2000);
            QCOMPARE(stateOf(d), before);
        } else if (command == 0)
            QCOMPARE(organizeTable(table, 2, {"jpg"}, d).moved, 2000);
        else if (command == 1)
            QCOMPARE(renameNumbered(table.snapshot(), d, "x").done, 2000);
        else
            QCOMPARE(changeAttributes(table.snapshot(), attributeValue(true, true, false, false)).done, 2000);
        const Names after = stateOf(d);
        QVERIFY(scratch.cutPower());
        QCOMPARE(stateOf(d), after);
    }

    // ---- attributes

    // Ticks -> what the listing shows, the write bits, the stored text.
    void attributesReadBack_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("modeBefore");
        QTest::addColumn<QString>("storedBefore");
        QTest::addColumn<QList<bool>>("ticks");  // 只读 隐藏 存档 系统文件
        QTest::addColumn<int>("shown");
        QTest::addColumn<int>("modeAfter");
        QTest::addColumn<QString>("storedAfter");
        using L = QList<bool>;
        // Samba's v5 record of a hidden, system file, as smbd 4.17 writes it.
        const QString samba = "hex:00000500050000001100000006000000754aaa2da486dd01";
        QTest::newRow("start-up ticks") << false << "f.txt" << 0666 << "" << L{0, 0, 1, 0} << 32 << 0666 << "0x20";
        QTest::newRow("read-only and hidden") << false << "f.txt" << 0666 << "" << L{1, 1, 0, 0} << 3 << 0444 << "0x3";
        QTest::newRow("nothing ticked clears all") << false << "f.txt" << 0444 << "0x27" << L{0, 0, 0, 0} << 128
                                                   << 0644 << "0x0";
        QTest::newRow("all four") << false << "f.txt" << 0640 << "" << L{1, 1, 1, 1} << 39 << 0440 << "0x27";
        QTest::newRow("owner write only, group kept") << false << "f.txt" << 0464 << "0x4" << L{0, 0, 1, 0} << 32
                                                      << 0664 << "0x20";
        QTest::newRow("read-only stays, bits change") << false << "f.txt" << 0444 << "0x21" << L{1, 0, 0, 1} << 5
                                                      << 0444 << "0x5";
        // Read-only set by a Samba client is in the record only.
        QTest::newRow("read-only of the record alone") << false << "f.txt" << 0644 << "0x21" << L{0, 0, 1, 0}
                                                       << 32 << 0644 << "0x20";
        QTest::newRow("bits of the file system kept") << false << "f.txt" << 0644 << "0x2220" << L{0, 1, 0, 0}
                                                      << 0x202 << 0644 << "0x202";
        QTest::newRow("Samba's record keeps its form, its hex text filled")
            << false << "f.txt" << 0644 << samba << L{0, 0, 1, 0} << 32 << 0644
            << "hex:3078323000000500050000001100000020000000754aaa2da486dd01";
        // Longer than a first read takes in: read whole, nothing of it lost.
        const QString tail(1200, 'a');
        QTest::newRow("record over 512 bytes keeps its form")
            << false << "f.txt" << 0644 << "hex:3078323600000300030000000f00000026000000" + tail
            << L{0, 1, 0, 0} << 2 << 0644 << "hex:30783200030003000f00000002000000" + tail;
        QTest::newRow("earlier version's record moves") << false << "f.txt" << 0444 << "old:38" << L{0, 1, 0, 0}
                                                        << 2 << 0644 << "0x2";
        QTest::newRow("folder with archive") << true << "d" << 0755 << "" << L{0, 0, 1, 0} << 48 << 0755 << "0x30";
        // A folder's read-only is a flag: it still takes new entries.
        QTest::newRow("read-only folder") << true << "d" << 0775 << "" << L{1, 0, 0, 0} << 17 << 0775 << "0x11";
        QTest::newRow("read-only folder cleared") << true << "d" << 0755 << "old:3" << L{0, 0, 1, 0} << 48 << 0755
                                                  << "0x30";
        QTest::newRow("folder mode is not read-only") << true << "d" << 0555 << "" << L{0, 1, 0, 0} << 18 << 0555
                                                      << "0x12";
        QTest::newRow("dot name looks hidden") << false << ".rc" << 0644 << "0x2" << L{0, 0, 0, 0} << 2 << 0644
                                               << "0x0";
    }

    void attributesReadBack()
    {
        QFETCH(bool, folder);
        QFETCH(QString, name);
        QFETCH(int, modeBefore);
        QFETCH(QString, storedBefore);
        QFETCH(QList<bool>, ticks);
        QFETCH(int, shown);
        QFETCH(int, modeAfter);
        QFETCH(QString, storedAfter);
        TempDir tmp;
        const std::string n = name.toStdString();
        const std::string path = tmp.path() + "/" + n;
        makeEntries(tmp.path(), {folder ? n + "/" : n});
        QVERIFY(setRecord(path, storedBefore.toStdString()));
        QCOMPARE(::chmod(path.c_str(), mode_t(modeBefore)), 0);
        FileTable table;
        listInto(table, tmp.path());
        const Names was = stateOf(tmp.path());

        BatchOutcome outcome =
            changeAttributes(table.snapshot(), attributeValue(ticks[0], ticks[1], ticks[2], ticks[3]));
        QCOMPARE(failuresOf(outcome.failures), QStringList{});
        QCOMPARE(attribListed(tmp.path(), n), shown);
        QCOMPARE(int(modeOf(path)), modeAfter);
        QCOMPARE(recordOf(path), storedAfter.toStdString());
        QCOMPARE(xattrOf(path, fs::kOldAttribXattr), std::string("<none>"));
        // Taken back: the mode and every record as they were, bit for bit.
        QCOMPARE(failuresOf(undoBatch(outcome.trail).failures), QStringList{});
        QCOMPARE(stateOf(tmp.path()), was);
    }

    // Read-only on a file and off again gives back exactly the write bits it
    // took; when the mode was changed in between, the owner's write only.
    void readOnlyGivesBackTheWriteBits_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("readOnly");
        QTest::addColumn<int>("changedTo");  // chmod between the two changes, or -1
        QTest::addColumn<int>("after");
        QTest::newRow("group write") << 0664 << 0444 << -1 << 0664;
        QTest::newRow("everybody's write") << 0666 << 0444 << -1 << 0666;
        QTest::newRow("owner only") << 0640 << 0440 << -1 << 0640;
        QTest::newRow("group write without the owner's") << 0464 << 0444 << -1 << 0664;
        QTest::newRow("mode changed in between") << 0664 << 0444 << 0440 << 0640;
        QTest::newRow("already read-only") << 0444 << 0444 << -1 << 0644;
    }

    void readOnlyGivesBackTheWriteBits()
    {
        QFETCH(int, before);
        QFETCH(int, readOnly);
        QFETCH(int, changedTo);
        QFETCH(int, after);
        TempDir tmp;
        const std::string path = tmp.path() + "/f.txt";
        writeFile(path, "data");
        QCOMPARE(::chmod(path.c_str(), mode_t(before)), 0);
        FileTable table;
        listInto(table, tmp.path());

        QCOMPARE(changeAttributes(table.snapshot(), fs::AttrReadOnly).done, 1);
        QCOMPARE(int(modeOf(path)), readOnly);
        QCOMPARE(attribListed(tmp.path(), "f.txt"), 1);
        if (changedTo >= 0)
            QCOMPARE(::chmod(path.c_str(), mode_t(changedTo)), 0);
        QCOMPARE(changeAttributes(table.snapshot(), 0).done, 1);
        QCOMPARE(int(modeOf(path)), after);
        QCOMPARE(attribListed(tmp.path(), "f.txt"), 128);
        QCOMPARE(xattrOf(path, fs::kWriteBitsXattr), std::string("<none>"));
    }

    // A read-only folder still takes new entries from its owner, here an
    // unprivileged one when the tests run as root.
    void readOnlyFolderTakesNewFiles()
    {
        TempDir tmp;
        const std::string folder = tmp.path() + "/d";
        QCOMPARE(::chmod(tmp.path().c_str(), 0755), 0);
        QCOMPARE(::mkdir(folder.c_str(), 0755), 0);
        if (::geteuid() == 0)
            QCOMPARE(::chown(folder.c_str(), 65534, 65534), 0);
        FileTable table;
        listInto(table, tmp.path());
        QCOMPARE(changeAttributes(table.snapshot(), fs::AttrReadOnly).done, 1);
        QCOMPARE(attribListed(tmp.path(), "d"), 17);

        const int status = runUnprivileged([&] {
            const int fd = ::open((folder + "/new.txt").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            return fd >= 0 && ::close(fd) == 0 ? 0 : 1;
        });
        QCOMPARE(status, 0);
        QVERIFY(pathExists(folder + "/new.txt"));
    }

    // Links are entries of their own: renamed as links, never followed by an
    // attribute change, which counts them as failed.
    void symbolicLinksLeaveTheirTargets()
    {
        TempDir tmp, outside;
        const std::string dir = tmp.path();
        const std::string target = outside.path() + "/target.txt";
        const std::string targetDir = outside.path() + "/tdir";
        makeEntries(outside.path(), {"target.txt", "tdir/"});
        QCOMPARE(::chmod(target.c_str(), 0644), 0);
        QCOMPARE(::symlink(target.c_str(), (dir + "/l.txt").c_str()), 0);
        QCOMPARE(::symlink(targetDir.c_str(), (dir + "/ld").c_str()), 0);
        makeEntries(dir, {"f.txt"});
        FileTable table;
        listInto(table, dir, {"l.txt", "ld", "f.txt"});

        const BatchOutcome outcome = changeAttributes(table.snapshot(), attributeValue(true, true, true, true));
        QCOMPARE(failuresOf(outcome.failures),
                 (QStringList{failure("l.txt", Kind::Attributes, ELOOP), failure("ld", Kind::Attributes, ELOOP)}));
        QCOMPARE(attribListed(dir, "f.txt"), 39);
        QCOMPARE(attribListed(dir, "l.txt"), int(fs::AttrLink));
        for (const auto& t : {target, targetDir}) {
            QCOMPARE(recordOf(t), std::string("<none>"));
            QVERIFY(modeOf(t) & S_IWUSR);
        }

        QCOMPARE(renameNumbered(table.snapshot(), dir, "x").done, 3);
        QCOMPARE(listNames(dir), (Names{"x 1.txt", "x 2", "x 3.txt"}));
        QCOMPARE(describe(dir + "/x 1.txt"), "link:" + target);
        QCOMPARE(describe(outside.path()), std::string("folder:target.txt=file:target.txt;tdir=folder:;"));
    }

    // Entries that cannot keep the stored bits fail unchanged; read-only
    // alone needs nothing stored and works.
    void unchangeableEntriesFail()
    {
        TempDir tmp;
        for (int i = 0; i < 12; ++i)
            QCOMPARE(::mkfifo((tmp.path() + "/p" + std::to_string(i)).c_str(), 0644), 0);
        FileTable table;
        listInto(table, tmp.path());
        QCOMPARE(changeAttributes(table.snapshot(), fs::AttrReadOnly).done, 12);
        QCOMPARE(attribListed(tmp.path(), "p3"), 1);

        const BatchOutcome outcome = changeAttributes(table.snapshot(), fs::AttrArchive);
        QCOMPARE(outcome.failures.count(), 12);
        QCOMPARE(failuresOf(outcome.failures).first(), failure("p0", Kind::Attributes, ENOTSUP));
        QCOMPARE(attribListed(tmp.path(), "p3"), 1);  // still read-only, nothing half done
    }

    // On a read-only file system every command that changes entries fails
    // with EROFS (not a missing permission) and changes nothing.
    void readOnlyFileSystem_data()
    {
        QTest::addColumn<int>("command");  // 0 organize, 1 rename, 2 attributes
        QTest::newRow("organize") << 0;
        QTest::newRow("rename") << 1;
        QTest::newRow("attributes") << 2;
    }

    void readOnlyFileSystem()
    {
        QFETCH(int, command);
        ScratchFs scratch;
        if (!scratch.usable())
            QSKIP(scratch.skipReason());
        const std::string d = scratch.path();
        makeEntries(d, {"a.jpg", "b.png", "jpg/"});  // jpg exists, png is to be made
        QVERIFY(scratch.setReadOnly(true));
        const Names before = tree(d);
        FileTable table;
        listInto(table, d, {"a.jpg", "b.png"});

        QStringList failures;
        if (command == 0)
            failures = failuresOf(organizeTable(table, 2, {"jpg", "png"}, d).notMoved);
        else if (command == 1)
            failures = failuresOf(renameNumbered(table.snapshot(), d, "x").failures);
        else
            failures = failuresOf(changeAttributes(table.snapshot(), fs::AttrArchive).failures);
        const Kind kind = command == 2 ? Kind::Attributes : Kind::Io;
        QCOMPARE(failures.first(), failure("a.jpg", kind, EROFS));
        QCOMPARE(failures.last(),
                 failure("b.png", command == 0 ? Kind::KeywordFolderNotMade : kind, EROFS));
        QCOMPARE(tree(d), before);
        QVERIFY(scratch.setReadOnly(false));
    }

    // Where names are compared without case (exFAT through FUSE, with
    // neither a rename without replacing nor hard links; FAT; SMB through
    // gvfs) a case-only new name is the entry's own, the keyword folder in
    // another case is used, and a name held by another entry (of the same
    // size and time) is never taken.
    void caseInsensitiveDisks_data()
    {
        QTest::addColumn<int>("disk");  // a ScratchFs kind, -1 for the share
        QTest::newRow("exfat through fuse") << int(ScratchFs::Kind::ExfatFuse);
        QTest::newRow("fat") << int(ScratchFs::Kind::Fat);
        QTest::newRow("gvfs smb") << -1;
    }
    void caseInsensitiveDisks()
    {
        QFETCH(int, disk);
        TempDir remote;
        std::unique_ptr<GvfsSmbMount> smb(disk < 0 ? new GvfsSmbMount(remote.path()) : nullptr);
        std::unique_ptr<ScratchFs> scratch(smb ? nullptr : new ScratchFs(8192, ScratchFs::Kind(disk)));
        if (smb)
            VEMLO_REQUIRE_SHARE(*smb);
        else if (!scratch->usable())
            QSKIP(scratch->skipReason());
        const std::string d = smb ? smb->path() : scratch->path(), seen = smb ? remote.path() : d;
        makeEntries(seen, {"Photo 1.jpg", "Photo 2.jpg", "x.txt", "a.txt", "Photo 5/", "Photo 5/in",
                           "PHOTO/", "PHOTO/old.txt"});
        writeFile(seen + "/PHOTO 4.txt", "a.txt");
        const struct timespec when[2] = {{1700000000, 0}, {1700000000, 0}};
        for (const char* name : {"/a.txt", "/PHOTO 4.txt"})
            QCOMPARE(::utimensat(AT_FDCWD, (seen + name).c_str(), when, 0), 0);
        FileTable table;
        listInto(table, d, {"Photo 1.jpg", "Photo 2.jpg", "x.txt", "a.txt", "Photo 5/"});
        const BatchOutcome renamed = renameNumbered(table.snapshot(), d, "photo");
        QCOMPARE(failuresOf(renamed.failures), QStringList{failure("a.txt", Kind::Io, EEXIST)});
        QCOMPARE(renamed.done, 4);
        QCOMPARE(listNames(seen), (Names{"PHOTO", "PHOTO 4.txt", "a.txt", "photo 1.jpg",
                                         "photo 2.jpg", "photo 3.txt", "photo 5"}));
        QCOMPARE(readFile(seen + "/photo 1.jpg"), std::string("Photo 1.jpg"));
        QCOMPARE(readFile(seen + "/PHOTO 4.txt"), std::string("a.txt"));
        listInto(table, d);
        QCOMPARE(failuresOf(organizeTable(table, 1, {"photo"}, d).notMoved), QStringList{});
        QCOMPARE(tree(seen), (Names{"PHOTO 4.txt", "PHOTO/", "PHOTO/old.txt", "PHOTO/photo 1.jpg",
                                    "PHOTO/photo 2.jpg", "PHOTO/photo 3.txt", "PHOTO/photo 5/",
                                    "PHOTO/photo 5/in", "a.txt"}));
    }

    // A share mounted through sshfs (no rename without replacing, no
    // extended attributes), and a Samba share mounted the way the desktop
    // mounts it, through gvfs (neither extended attributes nor modes): the
    // drive chooser offers each by name; listing, organize, the numbered
    // rename and the export work; entries never replace one another; bits
    // the share cannot keep are reported; nothing is lost.
    void shareKeepsPromises_data()
    {
        QTest::addColumn<bool>("gvfs");
        QTest::addColumn<QStringList>("readOnlyFailures");
        QTest::addColumn<int>("fileBitsAfter");
        QTest::newRow("sshfs") << false << QStringList{failure("jpg", Kind::Attributes, ENOTSUP)} << 1;
        QTest::newRow("gvfs smb") << true
                                  << QStringList{failure("b.jpg", Kind::Attributes, ENOTSUP),
                                                 failure("jpg", Kind::Attributes, ENOTSUP)}
                                  << 128;
    }

    void shareKeepsPromises()
    {
        QFETCH(bool, gvfs);
        QFETCH(QStringList, readOnlyFailures);
        QFETCH(int, fileBitsAfter);
        TempDir remote;
        std::unique_ptr<SshfsMount> sshfs;
        std::unique_ptr<GvfsSmbMount> smb;
        std::string d, label;
        if (gvfs) {
            smb = std::make_unique<GvfsSmbMount>(remote.path());
            VEMLO_REQUIRE_SHARE(*smb);
            d = smb->path();
            label = "share (127.0.0.1)";
        } else {
            sshfs = std::make_unique<SshfsMount>(remote.path());
            VEMLO_REQUIRE_SHARE(*sshfs);
            d = sshfs->path();
            label = remote.path().substr(remote.path().rfind('/') + 1) + " (127.0.0.1)";
        }
        bool offered = false;
        for (const fs::Volume& v : fs::currentVolumes())
            offered |= v.mountPoint == d && v.network && v.label == label;
        QVERIFY(offered);

        makeEntries(d, {"a.jpg", "b.jpg", "pics.jpg/", "pics.jpg/in.png", "jpg/", "jpg/b.jpg"});
        FileTable table;
        listInto(table, d);
        QCOMPARE(columnOf(table, 1), (Names{"a.jpg", "b.jpg", "jpg", "pics.jpg"}));
        QCOMPARE(columnOf(table, 3)[0], std::string("5"));
        const OrganizeResult moved = organizeTable(table, 2, {"jpg"}, d);
        QCOMPARE(failuresOf(moved.notMoved), QStringList{failure("b.jpg", Kind::Io, EEXIST)});
        const Names after{"b.jpg", "jpg/", "jpg/a.jpg", "jpg/b.jpg", "jpg/pics.jpg/",
                          "jpg/pics.jpg/in.png"};
        QCOMPARE(tree(remote.path()), after);
        QCOMPARE(readFile(remote.path() + "/b.jpg"), std::string("b.jpg"));

        listInto(table, d);
        const BatchOutcome hidden = changeAttributes(table.snapshot(), fs::AttrHidden);
        QCOMPARE(hidden.failures.count(), 2);
        QCOMPARE(failuresOf(hidden.failures).first(), failure("b.jpg", Kind::Attributes, ENOTSUP));
        // A file's read-only is its mode where the share keeps modes; a
        // folder's needs the record.
        QCOMPARE(failuresOf(changeAttributes(table.snapshot(), fs::AttrReadOnly).failures),
                 readOnlyFailures);
        QCOMPARE(attribListed(d, "b.jpg"), fileBitsAfter);
        QCOMPARE(attribListed(d, "jpg"), 16);
        QCOMPARE(tree(remote.path()), after);

        // The numbered rename never takes a name that appeared meanwhile.
        writeFile(remote.path() + "/x 2", "taken");
        const BatchOutcome renamed = renameNumbered(table.snapshot(), d, "x");
        QCOMPARE(renamed.done, 1);
        QCOMPARE(failuresOf(renamed.failures), QStringList{failure("jpg", Kind::Io, EEXIST)});
        QCOMPARE(readFile(remote.path() + "/x 2"), std::string("taken"));
        QCOMPARE(readFile(remote.path() + "/x 1.jpg"), std::string("b.jpg"));

        // The export is placed whole, without a file left beside it.
        listInto(table, d);
        const std::string file = d + "/导出列表.xls";
        for (const SaveMode mode : {SaveMode::NoReplace, SaveMode::Replace}) {
            sheet::Application app;
            const SaveOutcome saved = exportTable(app, TableOf(table), Orientation::Rows, file, mode);
            QVERIFY2(saved.ok(), qPrintable(saveFailureText(file, saved)));
            const ReadBook book = readWorkbook(remote.path() + "/导出列表.xls");
            QVERIFY2(book.error.isEmpty(), qPrintable(book.error));
            QCOMPARE(book.text(4, 2), QStringLiteral("x 2"));
        }
        QCOMPARE(tree(remote.path()), (Names{"jpg/", "jpg/a.jpg", "jpg/b.jpg", "jpg/pics.jpg/",
                                             "jpg/pics.jpg/in.png", "x 1.jpg", "x 2", "导出列表.xls"}));
        QVERIFY(gvfs ? smb->unmount() : sshfs->unmount());
    }
};

QTEST_GUILESS_MAIN(CommandsTest)
#include "test_commands.moc"
