// The keyword lists, the filter and the organize command, driven through the
// real buttons on real files.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "testutil/windows.h"

using namespace vemlo;
using namespace vemlo::test;
using Names = std::vector<std::string>;

namespace {

struct KeywordGroup {
    QListWidget* list;
    QLineEdit* edit;
    QPushButton *add, *remove, *clear;
};

KeywordGroup organizeGroup()
{
    return {Form1->lstsort, Form1->edtsortadd, Form1->btnsortadd, Form1->btnsortremove,
            Form1->btnsortclear};
}

KeywordGroup filterGroup()
{
    return {Form1->lst, Form1->edtfilterate, Form1->btnaddf, Form1->btnremovef, Form1->btnclearf};
}

void setKeywords(const KeywordGroup& g, const QStringList& keywords)
{
    QTest::mouseClick(g.clear, Qt::LeftButton);
    for (const QString& k : keywords) {
        g.edit->setText(k);
        QTest::mouseClick(g.add, Qt::LeftButton);
    }
}

QStringList items(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

void ctrlClick(QListWidget* list, int row)
{
    const QRect r = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, r.center());
}

Names sorted(Names v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// Every path below root, relative, folders ending in "/", sorted.
Names tree(const std::string& root, const std::string& prefix = "")
{
    Names out;
    for (const std::string& n : listNames(root + "/" + prefix)) {
        const std::string rel = prefix + n;
        struct stat st;
        if (lstat((root + "/" + rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            out.push_back(rel + "/");
            for (std::string& sub : tree(root, rel + "/"))
                out.push_back(std::move(sub));
        } else {
            out.push_back(rel);
        }
    }
    return sorted(out);
}

// Files (names ending in "/" are folders) made in root.
void make(const std::string& root, const Names& paths)
{
    for (const std::string& p : paths) {
        if (p.back() == '/')
            mkdir((root + "/" + p).c_str(), 0755);
        else
            writeFile(root + "/" + p, "content of " + p.substr(p.rfind('/') + 1));
    }
}

std::vector<SeenBox> organize(const QString& selector, const QStringList& keywords)
{
    Form1->cbbspara->setEditText(selector);
    setKeywords(organizeGroup(), keywords);
    return clickAndCatch(Form1->btnsort);
}

}  // namespace

class KeywordsTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { createFormsOnce(); }

    void listEditing_data()
    {
        QTest::addColumn<bool>("organizeList");
        QTest::newRow("organize list") << true;
        QTest::newRow("filter list") << false;
    }

    void listEditing()
    {
        QFETCH(bool, organizeList);
        const KeywordGroup g = organizeList ? organizeGroup() : filterGroup();
        setKeywords(g, {"a", "b", "c", "d", "e", ""});
        QCOMPARE(items(g.list), (QStringList{"a", "b", "c", "d", "e", ""}));

        // The box keeps its text: each press appends it again.
        g.edit->setText(QStringLiteral("jpg"));
        QTest::mouseClick(g.add, Qt::LeftButton);
        QTest::mouseClick(g.add, Qt::LeftButton);
        QCOMPARE(g.edit->text(), QStringLiteral("jpg"));
        QCOMPARE(g.list->count(), 8);

        QTest::mouseClick(g.remove, Qt::LeftButton);  // nothing selected
        QCOMPARE(g.list->count(), 8);
        g.list->clearSelection();
        for (int row : {1, 3, 5, 7})  // b, d, the empty keyword, one jpg
            ctrlClick(g.list, row);
        QCOMPARE(g.list->selectedItems().size(), 4);
        QTest::mouseClick(g.remove, Qt::LeftButton);
        QCOMPARE(items(g.list), (QStringList{"a", "c", "e", "jpg"}));

        QTest::mouseClick(g.clear, Qt::LeftButton);
        QCOMPARE(g.list->count(), 0);
        QTest::mouseClick(g.clear, Qt::LeftButton);
        QCOMPARE(g.list->count(), 0);
    }

    void filter_data()
    {
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<Names>("left");
        const Names all{"C.JPG", "a.jpg", "b.jpeg", "jpgs", "notes.txt", "报告2024.docx", "报表.txt"};
        QTest::newRow("no keywords") << "文件名" << QStringList{} << Names{};
        QTest::newRow("only the empty keyword") << "文件名" << QStringList{""} << Names{};
        QTest::newRow("case-sensitive on the format")
            << "格式" << QStringList{"jp"} << Names{"a.jpg", "b.jpeg"};
        QTest::newRow("Chinese keyword") << "文件名" << QStringList{"报告"} << Names{"报告2024.docx"};
        QTest::newRow("any of several, one twice")
            << "文件名" << QStringList{"notes", "报", "notes"}
            << Names{"notes.txt", "报告2024.docx", "报表.txt"};
        QTest::newRow("typed caption") << "属性" << QStringList{"16"} << Names{"jpgs"};
        QTest::newRow("no such caption") << "大小" << QStringList{"a"} << all;
    }

    void filter()
    {
        QFETCH(QString, selector);
        QFETCH(QStringList, keywords);
        QFETCH(Names, left);
        TempDir tmp;
        make(tmp.path(), {"C.JPG", "a.jpg", "b.jpeg", "jpgs/", "notes.txt", "报告2024.docx", "报表.txt"});
        importFolder(tmp.path());
        Form1->cbbfilterate->setEditText(selector);
        setKeywords(filterGroup(), keywords);
        Form1->chk5->setChecked(false);  // read by nothing
        for (int press = 0; press < 2; ++press) {  // a second press changes nothing
            QVERIFY(clickAndCatch(Form1->btndec).empty());
            QCOMPARE(sorted(column(1)), left);
        }
        for (int r = 1; r < tableRows(); ++r)  // whole rows kept
            QCOMPARE(cell(0, r), tmp.path() + "/" + cell(1, r));
        Form1->chk5->setChecked(true);
    }

    void organizeMoves_data()
    {
        QTest::addColumn<Names>("files");
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<Names>("after");
        QTest::addColumn<Names>("left");
        QTest::newRow("the later keyword wins")
            << Names{"cab.txt", "other.txt"} << "文件名" << QStringList{"a", "ab"}
            << Names{"ab/", "ab/cab.txt", "other.txt"} << Names{"other.txt"};
        QTest::newRow("by format, existing folder reused")
            << Names{"jpg/", "jpg/old.jpg", "x.jpg", "y.png", "z.txt"} << "格式"
            << QStringList{"jpg", "png"}
            << Names{"jpg/", "jpg/old.jpg", "jpg/x.jpg", "png/", "png/y.png", "z.txt"}
            << Names{"jpg", "z.txt"};
        QTest::newRow("a listed folder is moved whole")
            << Names{"holiday-photos/", "holiday-photos/1.jpg"} << "文件名" << QStringList{"photos"}
            << Names{"photos/", "photos/holiday-photos/", "photos/holiday-photos/1.jpg"} << Names{};
        QTest::newRow("a name that is not UTF-8")
            << Names{"\xff\xfe.jpg"} << "格式" << QStringList{"jpg"}
            << Names{"jpg/", "jpg/\xff\xfe.jpg"} << Names{};
        QTest::newRow("an empty list moves nothing")
            << Names{"a.jpg"} << "格式" << QStringList{} << Names{"a.jpg"} << Names{"a.jpg"};
    }

    void organizeMoves()
    {
        QFETCH(Names, files);
        QFETCH(QString, selector);
        QFETCH(QStringList, keywords);
        QFETCH(Names, after);
        QFETCH(Names, left);
        TempDir tmp;
        make(tmp.path(), files);
        importFolder(tmp.path());
        const auto boxes = organize(selector, keywords);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("整理完毕"));
        QCOMPARE(tree(tmp.path()), after);
        QCOMPARE(sorted(column(1)), left);
        for (const std::string& f : after)
            if (f.back() != '/' && f.find('/') != std::string::npos)  // moved files keep their bytes
                QCOMPARE(readFile(tmp.path() + "/" + f), "content of " + f.substr(f.rfind('/') + 1));
    }

    void nestedKeywordFolders()
    {
        TempDir tmp;
        make(tmp.path(), {"a.jpg", "b.jpg"});
        const struct timespec may[2] = {{1714953600, 0}, {1714953600, 0}};  // 2024-05-06
        utimensat(AT_FDCWD, (tmp.path() + "/a.jpg").c_str(), may, 0);
        importFolder(tmp.path());
        const std::string date = cell(4, cell(1, 1) == "a.jpg" ? 1 : 2);
        if (date.size() < 7 || date[4] != '/')
            QSKIP("the date separator is not /");
        organize(QStringLiteral("修改时间"), {QString::fromStdString(date.substr(0, 7))});
        QCOMPARE(tree(tmp.path()), (Names{"2024/", "2024/05/", "2024/05/a.jpg", "b.jpg"}));
    }

    void collisionsStayAndAreReported_data()
    {
        QTest::addColumn<int>("colliding");
        QTest::newRow("one") << 1;
        QTest::newRow("more than ten") << 12;
    }

    void collisionsStayAndAreReported()
    {
        QFETCH(int, colliding);
        TempDir tmp;
        const std::string d = tmp.path();
        make(d, {"jpg/", "free.jpg"});
        for (int i = 0; i < colliding; ++i) {
            const std::string n = "c" + std::to_string(i) + ".jpg";
            writeFile(d + "/" + n, "new");
            writeFile(d + "/jpg/" + n, "old");
        }
        importFolder(d);
        const auto boxes = organize(QStringLiteral("格式"), {"jpg"});
        QCOMPARE(boxes.size(), size_t(1));
        const QStringList lines = boxes[0].text.split('\n');
        QCOMPARE(lines[0], QStringLiteral("整理完毕"));
        QCOMPARE(lines[1], QStringLiteral("%1 个项目未移动：").arg(colliding));
        QCOMPARE(lines.size(), 2 + std::min(colliding, 10) + (colliding > 10 ? 1 : 0));
        QVERIFY(lines[2].endsWith(QStringLiteral(".jpg：目标已存在")));
        for (int i = 0; i < colliding; ++i) {
            const std::string n = "c" + std::to_string(i) + ".jpg";
            QCOMPARE(readFile(d + "/" + n), std::string("new"));
            QCOMPARE(readFile(d + "/jpg/" + n), std::string("old"));
        }
        QVERIFY(pathExists(d + "/jpg/free.jpg"));
        QCOMPARE(tableRows(), 1 + colliding + 1);  // the colliding rows and the folder jpg
    }

    void neverIntoItself()
    {
        TempDir tmp;
        const std::string d = tmp.path();
        make(d, {"real/", "real/sub/", "jpg/", "a.jpg"});
        symlink((d + "/real/sub").c_str(), (d + "/alias").c_str());
        importFolder(d);
        auto boxes = organize(QStringLiteral("文件名"), {"jpg"});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("整理完毕\n1 个项目未移动：\njpg：不能移入自身"));
        QCOMPARE(tree(d + "/jpg"), Names{"a.jpg"});
        QCOMPARE(sorted(column(1)), (Names{"alias", "jpg", "real"}));

        // The same folder reached through a link: the system refuses the move.
        importFolder(d + "/real");
        Form2->setWorkingFolder(d + "/alias");  // real/sub itself
        boxes = organize(QStringLiteral("文件名"), {"sub"});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("整理完毕\n1 个项目未移动：\nsub：不能移入自身"));
        QVERIFY(pathExists(d + "/real/sub"));
        QCOMPARE(column(1), Names{"sub"});
    }

    // A keyword folder that is a symbolic link, or lies behind one, takes
    // nothing: the entries stay, their rows stay, the box says why.
    void neverThroughALink_data()
    {
        QTest::addColumn<Names>("inside");     // made in the working folder
        QTest::addColumn<QString>("link");     // name of the link to the outside folder
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the keyword folder is a link")
            << Names{} << "kw" << "kw" << "整理文件夹“kw”是符号链接，不移入";
        QTest::newRow("behind a link")
            << Names{} << "kw" << "kw/sub" << "整理文件夹“kw/sub”位于符号链接“kw”之后，不移入";
        QTest::newRow("a link below a real folder")
            << Names{"a/"} << "a/kw" << "a/kw/" << "整理文件夹“a/kw”是符号链接，不移入";
        QTest::newRow("a dangling link")
            << Names{} << "kw" << "kw/new" << "整理文件夹“kw/new”位于符号链接“kw”之后，不移入";
    }

    void neverThroughALink()
    {
        QFETCH(Names, inside);
        QFETCH(QString, link);
        QFETCH(QString, keyword);
        QFETCH(QString, reason);
        TempDir work, outside;
        make(outside.path(), {"sub/"});
        make(work.path(), inside);
        make(work.path(), {"kw1.txt", "kw2.txt"});
        const bool dangling = QTest::currentDataTag() == QByteArray("a dangling link");
        const std::string to = outside.path() + (dangling ? "/missing" : "");
        QCOMPARE(symlink(to.c_str(), (work.path() + "/" + link.toStdString()).c_str()), 0);
        importFolder(work.path());
        const Names before = tree(work.path());
        for (int r = 1; r < tableRows(); ++r)  // every row matches the keyword
            Form1->table()->setCell(2, r, keyword.toStdString());

        const auto boxes = organize(QStringLiteral("格式"), {keyword});
        QCOMPARE(boxes.size(), size_t(1));
        const QStringList lines = boxes[0].text.split('\n');
        QVERIFY2(lines.contains("kw1.txt：" + reason) && lines.contains("kw2.txt：" + reason),
                 qPrintable(boxes[0].text));
        QCOMPARE(tree(work.path()), before);
        QCOMPARE(tree(outside.path()), Names{"sub/"});
        const Names rows = column(1);
        for (const char* stays : {"kw1.txt", "kw2.txt"})
            QVERIFY(std::find(rows.begin(), rows.end(), stays) != rows.end());
    }

    void unsafeKeywordsAreRefused_data()
    {
        QTest::addColumn<QString>("keyword");
        for (const char* k : {"..", "a/../b", ".", "./a", "/", "/tmp/abs", "a/."})
            QTest::newRow(k) << QString::fromUtf8(k);
    }

    void unsafeKeywordsAreRefused()
    {
        QFETCH(QString, keyword);
        TempDir tmp;
        make(tmp.path(), {"a.jpg", "b.png"});
        importFolder(tmp.path());
        const auto boxes = organize(QStringLiteral("文件名"), {"a", keyword, "b"});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QVERIFY2(boxes[0].text.contains("“" + keyword + "”"), qPrintable(boxes[0].text));
        QCOMPARE(tree(tmp.path()), (Names{"a.jpg", "b.png"}));
        QCOMPARE(tableRows(), 3);
    }

    void workingFolderForms()
    {
        TempDir tmp;
        const std::string d = tmp.path();
        make(d, {"work/", "work/a.jpg"});
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(tmp.qpath());

        // A relative folder whose first folder is missing ends the command.
        importFolder(d + "/work");
        Form2->setWorkingFolder("missing/work");
        auto boxes = organize(QStringLiteral("格式"), {"jpg"});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("Unable to create directory."));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(tree(d), (Names{"work/", "work/a.jpg"}));
        QCOMPARE(tableRows(), 2);

        // An empty path box names no folder.
        Form2->setWorkingFolder("");
        boxes = organize(QStringLiteral("格式"), {"jpg"});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("你没有选择文件夹"));
        QCOMPARE(tree(d), (Names{"work/", "work/a.jpg"}));

        // A relative folder that exists works, read at the press.
        Form2->setWorkingFolder("work");
        boxes = organize(QStringLiteral("格式"), {"jpg"});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("整理完毕"));
        QCOMPARE(tree(d), (Names{"work/", "work/jpg/", "work/jpg/a.jpg"}));
        QCOMPARE(tableRows(), 1);

        // A selector that names no column: nothing at all.
        make(d, {"work/b.jpg"});
        importFolder(d + "/work");
        Form1->cbbspara->setEditText(QStringLiteral("类型"));
        QVERIFY(clickAndCatch(Form1->btnsort).empty());
        QVERIFY(pathExists(d + "/work/b.jpg"));
        QDir::setCurrent(cwd);
    }
};

QTEST_MAIN(KeywordsTest)
#include "test_gui_keywords.moc"
