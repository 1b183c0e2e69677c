// The buttons of the numbered rename and the attribute change on the real
// window: what they refuse before any change, the path box read at the
// press, the four ticks, the folder listed anew and the report box.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QAction>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include "testutil/windows.h"

using namespace vemlo;
using namespace vemlo::test;
using Names = std::vector<std::string>;

namespace {

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
    void initTestCase() { QVERIFY(showMainWindow()); }

    void cleanup()
    {
        tick(false, false, true, false);
        Form1->edtrnbase->clear();
        QVERIFY(!QApplication::overrideCursor());
    }

    // First, while no batch has run: 编辑 → 撤销 names the newest batch, asks first (否 changes nothing),
    // takes it back and lists the folder; Ctrl+Z reaches it except from a
    // text box, which keeps its own undo.
    void undoFromTheMenu()
    {
        TempDir dir;
        makeEntries(dir.path(), {"a.txt", "b.txt"});
        importFolder(dir.path());
        QCOMPARE(Form1->N9->isEnabled(), false);
        QCOMPARE(renameWith("x").size(), size_t(0));
        QCOMPARE(Form1->N9->text(), QStringLiteral("撤销重命名"));
        QVERIFY(Form1->N9->isEnabled());

        // In the name box Ctrl+Z is the box's own; on the table it asks first.
        for (const QString& answer : {QString(), QStringLiteral("否"), QStringLiteral("是")}) {
            QWidget* at = answer.isEmpty() ? static_cast<QWidget*>(Form1->edtrnbase) : Form1->strgrdM;
            BoxCatcher boxes(answer.isEmpty() ? QStringList{} : QStringList{answer});
            Form1->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(Form1));
            at->setFocus();
            QTest::keyClicks(at, answer.isEmpty() ? "y" : "");
            QTest::keyClick(at, Qt::Key_Z, Qt::ControlModifier);
            QCOMPARE(boxes.texts(), answer.isEmpty() ? QStringList{}
                                    : QStringList{QStringLiteral("撤销重命名：把 2 个项目改回原来的名称？")});
            QCOMPARE(listNames(dir.path()), answer == "是" ? (Names{"a.txt", "b.txt"}) : (Names{"x 1.txt", "x 2.txt"}));
        }
        QCOMPARE(Form1->edtrnbase->text(), QStringLiteral("x"));
        QCOMPARE(column(1), (Names{"a.txt", "b.txt"}));
        QCOMPARE(Form1->N9->text(), QStringLiteral("撤销"));
        QCOMPARE(Form1->N9->isEnabled(), false);
    }

    // Refused before anything is changed: one box, files, attributes and
    // table as they were. An empty path box would otherwise reach "/".
    void refusedBeforeAnyChange_data()
    {
        QTest::addColumn<QString>("base");  // empty: the attribute change
        QTest::addColumn<bool>("emptyFolderBox");
        QTest::addColumn<QString>("says");
        QTest::newRow("slash inside") << "a/b" << false << "基础文件名含有“/”，";
        QTest::newRow("dot dot") << ".." << false << "基础文件名是“.”或“..”，";
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
        const unsigned mode = modeOf(dir.path() + "/a.txt");
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
            QCOMPARE(recordOf(dir.path() + name), std::string("<none>"));
        QCOMPARE(modeOf(dir.path() + "/a.txt"), mode);
    }

    // The path box is read when the button is pressed: entries land in the
    // folder chosen after the listing, which is then listed; an entry whose
    // name is taken there stays and the warning box says so.
    void renameIntoTheFolderOfTheMoment()
    {
        TempDir listed, chosen;
        makeEntries(listed.path(), {"a.txt", "b.txt"});
        makeEntries(chosen.path(), {"x 2.txt"});
        importFolder(listed.path());
        Form2->setWorkingFolder(chosen.path());

        const auto boxes = renameWith("x");
        QCOMPARE(int(boxes.size()), 1);
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes[0].text, QStringLiteral("有 1 个条目未能重命名：\nb.txt → x 2.txt：目标已存在"));
        QCOMPARE(listNames(listed.path()), Names{"b.txt"});
        QCOMPARE(readFile(chosen.path() + "/x 1.txt"), std::string("a.txt"));
        QCOMPARE(column(0), (Names{chosen.path() + "/x 1.txt", chosen.path() + "/x 2.txt"}));
    }

    // Each tick gives its bit; the folder is listed anew; a link is reported.
    void ticksGiveTheirBits_data()
    {
        QTest::addColumn<QList<bool>>("ticks");  // 只读 隐藏 存档 系统文件
        QTest::addColumn<int>("shown");
        using L = QList<bool>;
        QTest::newRow("只读") << L{1, 0, 0, 0} << 1;
        QTest::newRow("隐藏") << L{0, 1, 0, 0} << 2;
        QTest::newRow("存档") << L{0, 0, 1, 0} << 32;
        QTest::newRow("系统文件") << L{0, 0, 0, 1} << 4;
    }

    void ticksGiveTheirBits()
    {
        QFETCH(QList<bool>, ticks);
        QFETCH(int, shown);
        TempDir dir;
        makeEntries(dir.path(), {"f.txt"});
        QCOMPARE(::symlink("f.txt", (dir.path() + "/l.txt").c_str()), 0);
        importFolder(dir.path());
        tick(ticks[0], ticks[1], ticks[2], ticks[3]);

        const auto boxes = clickAndCatch(Form1->btnrename);
        QCOMPARE(int(boxes.size()), 1);
        QCOMPARE(boxes[0].icon, QMessageBox::Warning);
        QCOMPARE(boxes[0].text, QStringLiteral("有 1 个条目未能更改属性：\nl.txt：符号链接，属性不更改"));
        QCOMPARE(column(1), (Names{"f.txt", "l.txt"}));
        QCOMPARE(tableText(1, 6), std::to_string(shown));
    }

};

QTEST_MAIN(BatchTest)
#include "test_gui_batch.moc"
