// The keyword lists and the buttons of the filter and organize commands on
// the real window: the column chosen by caption, the refusals and their
// boxes, the path box read at the press.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

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

    // The selector names the column by its caption, typed or chosen; a text
    // that names no column leaves the table alone. A second press changes
    // nothing.
    void filterByCaption_data()
    {
        QTest::addColumn<QString>("selector");
        QTest::addColumn<QStringList>("keywords");
        QTest::addColumn<Names>("left");
        QTest::newRow("格式") << "格式" << QStringList{"jp"} << Names{"a.jpg", "b.jpeg"};
        QTest::newRow("typed caption") << "属性" << QStringList{"16"} << Names{"jpgs"};
        QTest::newRow("no such caption") << "大小" << QStringList{"a"}
                                         << Names{"C.JPG", "a.jpg", "b.jpeg", "jpgs"};
    }

    void filterByCaption()
    {
        QFETCH(QString, selector);
        QFETCH(QStringList, keywords);
        QFETCH(Names, left);
        TempDir tmp;
        makeEntries(tmp.path(), {"C.JPG", "a.jpg", "b.jpeg", "jpgs/"});
        importFolder(tmp.path());
        Form1->cbbfilterate->setEditText(selector);
        setKeywords(filterGroup(), keywords);
        Form1->chk5->setChecked(false);  // read by nothing
        for (int press = 0; press < 2; ++press) {
            QVERIFY(clickAndCatch(Form1->btndec).empty());
            QCOMPARE(sorted(column(1)), left);
        }
        Form1->chk5->setChecked(true);
    }

    // Organize moves, drops the moved rows and says 整理完毕 with what stayed.
    void organizeReportsWhatStayed()
    {
        TempDir tmp;
        const std::string d = tmp.path();
        makeEntries(d, {"jpg/", "jpg/c.jpg", "c.jpg", "free.jpg", "z.txt"});
        importFolder(d);
        const auto boxes = organize(QStringLiteral("格式"), {"jpg"});
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("整理完毕\n1 个项目未移动：\nc.jpg：目标已存在"));
        QCOMPARE(tree(d), (Names{"c.jpg", "jpg/", "jpg/c.jpg", "jpg/free.jpg", "z.txt"}));
        QCOMPARE(column(1), (Names{"c.jpg", "jpg", "z.txt"}));
    }

    void unsafeKeywordsAreRefused_data()
    {
        QTest::addColumn<QString>("keyword");
        for (const char* k : {"..", "a/../b", "/tmp/abs"})
            QTest::newRow(k) << QString::fromUtf8(k);
    }

    void unsafeKeywordsAreRefused()
    {
        QFETCH(QString, keyword);
        TempDir tmp;
        makeEntries(tmp.path(), {"a.jpg", "b.png"});
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
        makeEntries(d, {"work/", "work/a.jpg"});
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
        makeEntries(d, {"work/b.jpg"});
        importFolder(d + "/work");
        Form1->cbbspara->setEditText(QStringLiteral("类型"));
        QVERIFY(clickAndCatch(Form1->btnsort).empty());
        QVERIFY(pathExists(d + "/work/b.jpg"));
        QDir::setCurrent(cwd);
    }
};

QTEST_MAIN(KeywordsTest)
#include "test_gui_keywords.moc"
