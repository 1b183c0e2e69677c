// The numbered rename and the attribute change, clicked on the real window
// with real files: new names, nothing replaced, failures told, attributes
// read back through the listing.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "common/messages.h"
#include "platform/attrib.h"
#include "platform/listing.h"
#include "testutil/windows.h"

using namespace vemlo;
using namespace vemlo::test;

using Names = std::vector<std::string>;

namespace {

// A name without the trailing "/" that marks a folder.
std::string plainName(std::string name)
{
    if (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

// Entries named in names, in that order; a trailing "/" makes a folder. Every
// file holds its own name, every folder a file "inner" holding the folder's
// name, so that contents can be followed through renames.
void makeEntries(const std::string& dir, const Names& names)
{
    for (const auto& n : names) {
        if (const std::string folder = plainName(n); folder != n) {
            QCOMPARE(::mkdir((dir + "/" + folder).c_str(), 0755), 0);
            writeFile(dir + "/" + folder + "/inner", folder);
        } else {
            writeFile(dir + "/" + n, n);
        }
    }
}

// What an entry holds: a file's bytes, or "inner" of a folder.
std::string contentOf(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return "<missing>";
    return S_ISDIR(st.st_mode) ? readFile(path + "/inner") : readFile(path);
}

// Lists dir, then puts the data rows into the order of names (column 1),
// the way a filter or a sort leaves the table.
void importInOrder(const std::string& dir, const Names& names)
{
    importFolder(dir);
    RowStore rows(1);
    for (const auto& n : names) {
        for (int r = 1; r < tableRows(); ++r) {
            if (cell(1, r) == plainName(n)) {
                std::array<std::string, 7> c;
                for (int k = 0; k < 7; ++k)
                    c[size_t(k)] = cell(k, r);
                rows.emplace_back(std::array<std::string_view, 7>{c[0], c[1], c[2], c[3], c[4],
                                                                   c[5], c[6]});
            }
        }
    }
    QCOMPARE(int(rows.size()), tableRows());
    Form1->table()->replaceDataRows(std::move(rows));
}

// Keeps only the data rows whose name is in keep, through the removal mark.
void filterTo(const Names& keep)
{
    for (int r = 1; r < tableRows(); ++r)
        if (std::find(keep.begin(), keep.end(), cell(1, r)) == keep.end())
            Form1->table()->markRow(r);
    Form1->AdjustToTop();
    QCOMPARE(tableRows(), int(keep.size()) + 1);
}

Names sorted(Names v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// Entry i of entries is now called after[i] and keeps its content; nothing
// else is in dir, and the table lists dir again.
void verifyRenamed(const std::string& dir, const Names& entries, const Names& after)
{
    QCOMPARE(listNames(dir), sorted(after));
    for (size_t i = 0; i < entries.size(); ++i)
        QCOMPARE(contentOf(dir + "/" + after[i]), plainName(entries[i]));
    QCOMPARE(sorted(column(1)), sorted(after));
}

// The attribute number the table shows for name, or -1.
int attribShown(const std::string& name)
{
    for (int r = 1; r < tableRows(); ++r)
        if (cell(1, r) == name)
            return std::stoi(cell(6, r));
    return -1;
}

std::string storedXattr(const std::string& path)
{
    char buf[64];
    const ssize_t n = ::lgetxattr(path.c_str(), fs::kAttribXattr, buf, sizeof buf);
    return n < 0 ? std::string("<none>") : std::string(buf, size_t(n));
}

mode_t modeOf(const std::string& path)
{
    struct stat st;
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

void tick(bool readOnly, bool hidden, bool archive, bool system)
{
    Form1->chk1->setChecked(readOnly);
    Form1->chk2->setChecked(hidden);
    Form1->chk3->setChecked(archive);
    Form1->chk4->setChecked(system);
}

std::vector<SeenBox> renameWith(const QString& base)
{
    Form1->edtrnbase->setText(base);
    return clickAndCatch(Form1->btnrn);
}

}  // namespace

class BatchTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(showMainWindow());
        // The attributes live in a user extended attribute: the temporary
        // folders must keep one.
        TempDir dir;
        const std::string probe = dir.path() + "/probe";
        writeFile(probe);
        QVERIFY2(::lsetxattr(probe.c_str(), fs::kAttribXattr, "2", 1, 0) == 0,
                 "temporary folders do not keep user extended attributes");
    }

    void cleanup()
    {
        tick(false, false, true, false);
        Form1->edtrnbase->clear();
        QVERIFY(!QApplication::overrideCursor());
    }

    // Old names in table order, the base name, and old name -> new name.
    void renamesInTableOrder_data()
    {
        QTest::addColumn<Names>("entries");
        QTest::addColumn<QString>("base");
        QTest::addColumn<Names>("renamed");
        QTest::newRow("three files") << Names{"a.txt", "b.doc", "c.txt"} << "x"
                                     << Names{"x 1.txt", "x 2.doc", "x 3.txt"};
        QTest::newRow("order of the table, not of the names")
            << Names{"c.txt", "a.txt", "b.doc"} << "x" << Names{"x 1.txt", "x 2.txt", "x 3.doc"};
        QTest::newRow("empty base name") << Names{"a.txt"} << "" << Names{" 1.txt"};
        QTest::newRow("blanks kept") << Names{"p.jpg"} << "  我的 照片 " << Names{"  我的 照片  1.jpg"};
        QTest::newRow("no extension, no dot")
            << Names{"a.jpg", "b.jpg", "c"} << "照片" << Names{"照片 1.jpg", "照片 2.jpg", "照片 3"};
        QTest::newRow("folders take column 2")
            << Names{"photos.2020/", "docs/", "n.txt"} << "x" << Names{"x 1.2020", "x 2", "x 3.txt"};
        QTest::newRow("dot name and double extension")
            << Names{".profile", "a.tar.gz"} << "x" << Names{"x 1.profile", "x 2.gz"};
        QTest::newRow("already has its new name")
            << Names{"x 1.txt", "a.txt", "x 3.txt"} << "x" << Names{"x 1.txt", "x 2.txt", "x 3.txt"};
    }

    void renamesInTableOrder()
    {
        QFETCH(Names, entries);
        QFETCH(QString, base);
        QFETCH(Names, renamed);
        TempDir dir;
        makeEntries(dir.path(), entries);
        importInOrder(dir.path(), entries);

        const auto boxes = renameWith(base);
        QVERIFY2(boxes.empty(), qPrintable(boxes.empty() ? QString() : boxes[0].text));
        verifyRenamed(dir.path(), entries, renamed);
        for (const auto& path : column(0))
            QVERIFY(path.rfind(dir.path() + "/", 0) == 0);
    }

    // Renames that meet an existing name: nothing is replaced, every entry
    // keeps its content, and one box tells which were not renamed.
    void takenNamesAreReported_data()
    {
        QTest::addColumn<Names>("entries");
        QTest::addColumn<Names>("after");  // entry i is then called after[i]
        QTest::addColumn<QStringList>("reported");
        QTest::newRow("chain: x 2.txt listed after its would-be owner")
            << Names{"a.txt", "b.txt", "x 2.txt"} << Names{"x 1.txt", "b.txt", "x 3.txt"}
            << QStringList{"有 1 个条目未能重命名", "b.txt：目标已存在"};
        QTest::newRow("swap of two names")
            << Names{"x 2.txt", "x 1.txt"} << Names{"x 2.txt", "x 1.txt"}
            << QStringList{"有 2 个条目未能重命名", "x 2.txt：目标已存在", "x 1.txt：目标已存在"};
        QTest::newRow("a folder holds the name")
            << Names{"a.txt", "x 1.txt/"} << Names{"a.txt", "x 2.txt"}
            << QStringList{"有 1 个条目未能重命名", "a.txt：目标已存在"};
    }

    void takenNamesAreReported()
    {
        QFETCH(Names, entries);
        QFETCH(Names, after);
        QFETCH(QStringList, reported);
        TempDir dir;
        makeEntries(dir.path(), entries);
        importInOrder(dir.path(), entries);

        const auto boxes = renameWith("x");
        verifyRenamed(dir.path(), entries, after);
        QCOMPARE(int(boxes.size()), 1);
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
        for (const auto& part : reported)
            QVERIFY2(boxes[0].text.contains(part), qPrintable(boxes[0].text));
    }

    // Refused before anything is changed: one box, files, attributes and
    // table as they were. An empty path box would otherwise reach "/".
    void refusedBeforeAnyChange_data()
    {
        QTest::addColumn<QString>("base");  // empty: the attribute change
        QTest::addColumn<bool>("emptyFolderBox");
        QTest::addColumn<QString>("says");
        QTest::newRow("slash inside") << "a/b" << false << "不能包含“/”";
        QTest::newRow("slash alone") << "/" << false << "不能包含“/”";
        QTest::newRow("dot") << "." << false << "不能是“.”或“..”";
        QTest::newRow("dot dot") << ".." << false << "不能是“.”或“..”";
        QTest::newRow("rename, empty path box") << "x" << true << "你没有选择文件夹";
        QTest::newRow("attributes, empty path box") << "" << true << "你没有选择文件夹";
    }

    void refusedBeforeAnyChange()
    {
        QFETCH(QString, base);
        QFETCH(bool, emptyFolderBox);
        QFETCH(QString, says);
        TempDir dir;
        makeEntries(dir.path(), {"a.txt", "sub/"});
        importFolder(dir.path());
        const Names paths = column(0);
        const mode_t mode = modeOf(dir.path() + "/a.txt");
        if (emptyFolderBox)
            Form2->setWorkingFolder("");

        tick(true, true, true, true);
        const auto boxes = base.isEmpty() ? clickAndCatch(Form1->btnrename) : renameWith(base);
        Form2->setWorkingFolder(dir.path());
        QCOMPARE(int(boxes.size()), 1);
        // The plain box for a missing folder, the error display for a bad name.
        QCOMPARE(boxes[0].icon, emptyFolderBox ? QMessageBox::NoIcon : QMessageBox::Critical);
        QVERIFY2(emptyFolderBox ? boxes[0].text == says : boxes[0].text.contains(says),
                 qPrintable(boxes[0].text));
        QCOMPARE(listNames(dir.path()), (Names{"a.txt", "sub"}));
        QCOMPARE(column(0), paths);
        for (const char* name : {"/a.txt", "/sub"})
            QCOMPARE(storedXattr(dir.path() + name), std::string("<none>"));
        QCOMPARE(modeOf(dir.path() + "/a.txt"), mode);
    }

    // The path box is read when the button is pressed: entries land in the
    // folder chosen after the listing, which is then listed.
    void landsInTheFolderOfTheMoment()
    {
        TempDir listed, chosen;
        makeEntries(listed.path(), {"a.txt", "b.txt"});
        importInOrder(listed.path(), {"a.txt", "b.txt"});
        Form2->setWorkingFolder(chosen.path());

        QVERIFY(renameWith("x").empty());
        QCOMPARE(listNames(listed.path()), Names{});
        QCOMPARE(listNames(chosen.path()), (Names{"x 1.txt", "x 2.txt"}));
        QCOMPARE(contentOf(chosen.path() + "/x 2.txt"), std::string("b.txt"));
        QCOMPARE(sorted(column(0)), (Names{chosen.path() + "/x 1.txt", chosen.path() + "/x 2.txt"}));
    }

    // Names and folders that are not UTF-8 keep their exact bytes.
    void nonUtf8NamesByExactBytes()
    {
        TempDir dir;
        const std::string folder = dir.path() + "/\xfe\xff dir";
        QCOMPARE(::mkdir(folder.c_str(), 0755), 0);
        const Names entries{"\xff\xfe.txt", "caf\xe9.\xe9t", "ok.txt"};
        makeEntries(folder, entries);
        importInOrder(folder, entries);

        QVERIFY(renameWith("中").empty());
        QCOMPARE(listNames(folder), (Names{"中 1.txt", "中 2.\xe9t", "中 3.txt"}));
        QCOMPARE(contentOf(folder + "/中 2.\xe9t"), std::string("caf\xe9.\xe9t"));
        QCOMPARE(sorted(column(2)), sorted({"txt", "\xe9t", "txt"}));
    }

    // A table without entries renames nothing, reports nothing and still
    // lists the folder.
    void tableWithoutEntries()
    {
        TempDir empty, other;
        makeEntries(other.path(), {"keep.txt"});
        importFolder(empty.path());
        QCOMPARE(tableRows(), 1);
        Form2->setWorkingFolder(other.path());
        QVERIFY(renameWith("x").empty());
        QCOMPARE(column(1), Names{"keep.txt"});

        // The empty data row of a fresh table is no entry either.
        Form1->table()->setTableRows(1);
        Form1->table()->setTableRows(2);
        QVERIFY(clickAndCatch(Form1->btnrename).empty());
        QVERIFY(renameWith("x").empty());
        QCOMPARE(listNames(other.path()), Names{"x 1.txt"});
    }

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
        QTest::newRow("start-up ticks") << false << "f.txt" << 0666 << "" << L{0, 0, 1, 0} << 32
                                        << 0666 << "32";
        QTest::newRow("read-only and hidden") << false << "f.txt" << 0666 << "" << L{1, 1, 0, 0}
                                              << 3 << 0444 << "2";
        QTest::newRow("nothing ticked clears all") << false << "f.txt" << 0444 << "38"
                                                   << L{0, 0, 0, 0} << 128 << 0644 << "<none>";
        QTest::newRow("all four") << false << "f.txt" << 0640 << "" << L{1, 1, 1, 1} << 39 << 0440
                                  << "38";
        QTest::newRow("owner write only, group kept") << false << "f.txt" << 0464 << "4"
                                                      << L{0, 0, 1, 0} << 32 << 0664 << "32";
        QTest::newRow("read-only stays, bits change") << false << "f.txt" << 0444 << "32"
                                                      << L{1, 0, 0, 1} << 5 << 0444 << "4";
        QTest::newRow("folder with archive") << true << "d" << 0755 << "" << L{0, 0, 1, 0} << 48
                                             << 0755 << "32";
        // A folder's read-only is a stored flag: it still takes new entries.
        QTest::newRow("read-only folder") << true << "d" << 0775 << "" << L{1, 0, 0, 0} << 17
                                          << 0775 << "1";
        QTest::newRow("read-only folder cleared") << true << "d" << 0755 << "3" << L{0, 0, 1, 0}
                                                  << 48 << 0755 << "32";
        QTest::newRow("folder mode is not read-only") << true << "d" << 0555 << "" << L{0, 1, 0, 0}
                                                      << 18 << 0555 << "2";
        QTest::newRow("dot name looks hidden") << false << ".rc" << 0644 << "2" << L{0, 0, 0, 0}
                                               << 2 << 0644 << "<none>";
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
        TempDir dir;
        const std::string path = dir.path() + "/" + name.toStdString();
        if (folder)
            QCOMPARE(::mkdir(path.c_str(), 0755), 0);
        else
            writeFile(path, "data");
        const std::string before = storedBefore.toStdString();
        if (!before.empty())
            QCOMPARE(::lsetxattr(path.c_str(), fs::kAttribXattr, before.data(), before.size(), 0), 0);
        QCOMPARE(::chmod(path.c_str(), mode_t(modeBefore)), 0);
        importFolder(dir.path());
        tick(ticks[0], ticks[1], ticks[2], ticks[3]);

        const auto boxes = clickAndCatch(Form1->btnrename);
        QVERIFY2(boxes.empty(), qPrintable(boxes.empty() ? QString() : boxes[0].text));
        QCOMPARE(attribShown(name.toStdString()), shown);
        QCOMPARE(int(modeOf(path)), modeAfter);
        QCOMPARE(storedXattr(path), storedAfter.toStdString());
    }

    // Read-only on a file and off again gives back exactly the write bits it
    // took; when the mode was changed in between, the owner's write only.
    void readOnlyGivesBackTheWriteBits_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("readOnly");
        QTest::addColumn<int>("changedTo");  // chmod between the presses, or -1
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
        TempDir dir;
        const std::string path = dir.path() + "/f.txt";
        writeFile(path, "data");
        QCOMPARE(::chmod(path.c_str(), mode_t(before)), 0);
        importFolder(dir.path());

        tick(true, false, false, false);
        QVERIFY(clickAndCatch(Form1->btnrename).empty());
        QCOMPARE(int(modeOf(path)), readOnly);
        QCOMPARE(attribShown("f.txt"), 1);
        if (changedTo >= 0)
            QCOMPARE(::chmod(path.c_str(), mode_t(changedTo)), 0);
        tick(false, false, false, false);
        QVERIFY(clickAndCatch(Form1->btnrename).empty());
        QCOMPARE(int(modeOf(path)), after);
        QCOMPARE(attribShown("f.txt"), 128);
        char buf[32];
        QCOMPARE(::lgetxattr(path.c_str(), fs::kWriteBitsXattr, buf, sizeof buf), ssize_t(-1));
    }

    // A read-only folder still takes new entries from its owner, here an
    // unprivileged one when the tests run as root.
    void readOnlyFolderTakesNewFiles()
    {
        TempDir dir;
        const std::string folder = dir.path() + "/d";
        QCOMPARE(::chmod(dir.path().c_str(), 0755), 0);
        QCOMPARE(::mkdir(folder.c_str(), 0755), 0);
        if (::geteuid() == 0)
            QCOMPARE(::chown(folder.c_str(), 65534, 65534), 0);
        importFolder(dir.path());
        tick(true, false, false, false);
        QVERIFY(clickAndCatch(Form1->btnrename).empty());
        QCOMPARE(attribShown("d"), 17);

        const int status = runUnprivileged([&] {
            const int fd = ::open((folder + "/new.txt").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            return fd >= 0 && ::close(fd) == 0 ? 0 : 1;
        });
        QCOMPARE(status, 0);
        QVERIFY(pathExists(folder + "/new.txt"));
    }

    // A read-only file system is named as such, not as missing permission,
    // by every command that changes entries.
    void readOnlyFileSystemIsNamed_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("organize") << "整理";
        QTest::newRow("rename") << "更改文件名";
        QTest::newRow("attributes") << "更改属性";
    }

    void readOnlyFileSystemIsNamed()
    {
        QFETCH(QString, command);
        ScratchFs scratch;
        if (!scratch.usable())
            QSKIP(scratch.skipReason());
        const std::string d = scratch.path();
        makeEntries(d, {"a.jpg", "b.png", "jpg/"});  // jpg exists, png is to be made
        QVERIFY(scratch.setReadOnly(true));
        importFolder(d);
        const Names before = listNames(d);

        std::vector<SeenBox> boxes;
        if (command == "整理") {
            Form1->cbbspara->setEditText(QStringLiteral("格式"));
            Form1->lstsort->clear();
            Form1->lstsort->addItems({"jpg", "png"});
            boxes = clickAndCatch(Form1->btnsort);
            Form1->lstsort->clear();
        } else if (command == "更改文件名") {
            boxes = renameWith("x");
        } else {
            boxes = clickAndCatch(Form1->btnrename);
        }
        QCOMPARE(int(boxes.size()), 1);
        const QString text = boxes[0].text;
        QVERIFY2(text.contains("a.jpg：文件系统为只读") && !text.contains("权限不足"), qPrintable(text));
        if (command == "整理")
            QVERIFY2(text.contains("b.png：无法创建整理文件夹“png”：文件系统为只读"), qPrintable(text));
        QCOMPARE(listNames(d), before);
        QVERIFY(scratch.setReadOnly(false));
    }

    // Entries a filter removed from the table keep their names and attributes,
    // and all of them show in the new listing.
    void filteredOutEntriesUntouched_data()
    {
        QTest::addColumn<bool>("rename");
        QTest::newRow("numbered rename") << true;
        QTest::newRow("attribute change") << false;
    }

    void filteredOutEntriesUntouched()
    {
        QFETCH(bool, rename);
        TempDir dir;
        makeEntries(dir.path(), {"a.txt", "b.txt", "c.txt"});
        importFolder(dir.path());
        filterTo({"b.txt"});
        tick(true, true, false, false);

        QVERIFY(rename ? renameWith("x").empty() : clickAndCatch(Form1->btnrename).empty());
        const std::string changed = rename ? "x 1.txt" : "b.txt";
        QCOMPARE(listNames(dir.path()), sorted({"a.txt", changed, "c.txt"}));
        QCOMPARE(tableRows(), 4);
        QCOMPARE(attribShown("a.txt"), 128);
        QCOMPARE(attribShown("c.txt"), 128);
        QCOMPARE(attribShown(changed), rename ? 128 : 3);
    }

    // Links are entries of their own: renamed as links, never followed by an
    // attribute change, which reports them.
    void symbolicLinksLeaveTheirTargets()
    {
        TempDir dir, outside;
        const std::string target = outside.path() + "/target.txt";
        const std::string targetDir = outside.path() + "/tdir";
        writeFile(target, "precious");
        QCOMPARE(::mkdir(targetDir.c_str(), 0755), 0);
        QCOMPARE(::chmod(target.c_str(), 0644), 0);
        QCOMPARE(::symlink(target.c_str(), (dir.path() + "/l.txt").c_str()), 0);
        QCOMPARE(::symlink(targetDir.c_str(), (dir.path() + "/ld").c_str()), 0);
        makeEntries(dir.path(), {"f.txt"});
        importInOrder(dir.path(), {"l.txt", "ld", "f.txt"});

        tick(true, true, true, true);
        const auto boxes = clickAndCatch(Form1->btnrename);
        QCOMPARE(int(boxes.size()), 1);
        QVERIFY2(boxes[0].text.contains("有 2 个条目未能更改属性") &&
                     boxes[0].text.contains("l.txt：符号链接，属性不更改") &&
                     boxes[0].text.contains("ld：符号链接"),
                 qPrintable(boxes[0].text));
        QCOMPARE(attribShown("f.txt"), 39);
        QCOMPARE(attribShown("l.txt"), int(fs::AttrLink));
        for (const auto& t : {target, targetDir}) {
            QCOMPARE(storedXattr(t), std::string("<none>"));
            QVERIFY(modeOf(t) & S_IWUSR);
        }

        importInOrder(dir.path(), {"l.txt", "ld", "f.txt"});
        QVERIFY(renameWith("x").empty());
        QCOMPARE(listNames(dir.path()), (Names{"x 1.txt", "x 2", "x 3.txt"}));
        char buf[256];
        const ssize_t n = ::readlink((dir.path() + "/x 1.txt").c_str(), buf, sizeof buf);
        QCOMPARE(std::string(buf, size_t(std::max<ssize_t>(n, 0))), target);
        QCOMPARE(listNames(outside.path()), (Names{"target.txt", "tdir"}));
        QCOMPARE(readFile(target), std::string("precious"));
    }

    // Entries that cannot keep the stored bits are reported unchanged; the
    // box names ten of them at most.
    void unchangeableEntriesReported()
    {
        TempDir dir;
        for (int i = 0; i < 12; ++i) {
            const std::string fifo = dir.path() + "/p" + std::to_string(i);
            QCOMPARE(::mkfifo(fifo.c_str(), 0644), 0);
        }
        importFolder(dir.path());

        tick(true, false, false, false);  // nothing to store: a pipe can take it
        QVERIFY(clickAndCatch(Form1->btnrename).empty());
        QCOMPARE(attribShown("p3"), 1);

        tick(false, false, true, false);
        const auto boxes = clickAndCatch(Form1->btnrename);
        QCOMPARE(int(boxes.size()), 1);
        const QString text = boxes[0].text;
        QVERIFY2(text.startsWith("有 12 个条目未能更改属性") && text.count("：此处不能保存") == 10 &&
                     text.endsWith("另有 2 个未列出"),
                 qPrintable(text));
        QCOMPARE(attribShown("p3"), 1);  // still read-only, nothing half done
        QCOMPARE(tableRows(), 13);
    }
};

QTEST_MAIN(BatchTest)
#include "test_gui_batch.moc"
