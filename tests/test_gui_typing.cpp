// Chinese typed as a user types it: real key presses on an X display go
// through the fcitx5 input method (run by with_fcitx5.sh), pinyin becomes a
// word, and the word works as a keyword.
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "testutil/windows.h"

using namespace vemlo::test;
using Names = std::vector<std::string>;

namespace {

// Runs xdotool, which sends its events through the X server as a keyboard
// and a mouse would.
bool xdotool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

// Switches the input method on for the focused box; returns its state then,
// 2 when it turns keys into Chinese.
int chineseOn()
{
    QProcess::execute(QStringLiteral("fcitx5-remote"), {QStringLiteral("-o")});
    QProcess p;
    p.start(QStringLiteral("fcitx5-remote"), {});
    p.waitForFinished(5000);
    return p.readAllStandardOutput().trimmed().toInt();
}

}  // namespace

class TypingTest : public QObject {
    Q_OBJECT
private slots:
    void pinyinWordBecomesAKeyword()
    {
        TempDir dir;
        makeEntries(dir.path(), {"文件1.txt", "文件2.jpg", "other.txt"});
        QVERIFY(showMainWindow());
        importFolder(dir.path());

        // A click gives the box the X focus, as it would for a user.
        QLineEdit* box = Form1->edtsortadd;
        const QPoint at = box->mapToGlobal(box->rect().center());
        QVERIFY(xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"}));
        QTRY_VERIFY(box->hasFocus());
        // Chinese on, as the user's switch key would (which key that is
        // depends on the desktop), once the box's focus has reached fcitx5.
        QTRY_COMPARE_WITH_TIMEOUT(chineseOn(), 2, 10000);
        QVERIFY(xdotool({"type", "--delay", "50", "wenjian"}));
        QVERIFY(xdotool({"key", "space"}));  // the first candidate
        QTRY_COMPARE_WITH_TIMEOUT(box->text(), QStringLiteral("文件"), 10000);

        QTest::mouseClick(Form1->btnsortadd, Qt::LeftButton);
        QCOMPARE(Form1->lstsort->count(), 1);
        QCOMPARE(Form1->lstsort->item(0)->text(), QStringLiteral("文件"));
        const auto boxes = clickAndCatch(Form1->btnsort);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("整理完毕"));
        QCOMPARE(tree(dir.path()), (Names{"other.txt", "文件/", "文件/文件1.txt", "文件/文件2.jpg"}));
    }
};

QTEST_MAIN(TypingTest)
#include "test_gui_typing.moc"
