// Long commands on the real window: the progress dialog shows for long work
// only, 取消 stops a command part-way with the folder, the table and the
// report agreeing, and closing the window mid-command ends the run.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QListWidget>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <thread>

#include <xcb/xcb.h>

#include "app/chartwindow.h"
#include "common/appclosing.h"
#include "common/command.h"
#include "common/progressgate.h"
#include "import/core/foldertree.h"
#include "testutil/lockstep.h"
#include "testutil/windows.h"

using namespace vemlo;
using namespace vemlo::test;

namespace {

// The progress dialog on screen, or nullptr.
QProgressDialog* shownDialog()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QProgressDialog*>(w); d && d->isVisible())
            return d;
    return nullptr;
}

// The count of finished entries the dialog shows ("12,345 / 100,000").
long long shownCount(const QProgressDialog* d)
{
    const QStringList lines = d->labelText().split(u'\n');
    if (lines.size() < 2)
        return -1;
    return lines[1].section(QStringLiteral(" / "), 0, 0).remove(u',').toLongLong();
}

// Acts once on the progress dialog as soon as it has shown at least `after`
// finished entries: presses 取消 unless told otherwise.
class DialogWatch {
public:
    explicit DialogWatch(long long after, std::function<void(QProgressDialog*)> act = {})
        : after_(after), act_(std::move(act))
    {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    bool seen() const { return seen_; }
    bool acted() const { return acted_; }
    QString label() const { return label_; }

private:
    void poll()
    {
        QProgressDialog* d = shownDialog();
        if (!d)
            return;
        seen_ = true;
        label_ = d->labelText();
        if (acted_ || shownCount(d) < after_)
            return;
        acted_ = true;
        if (act_) {
            act_(d);
            return;
        }
        for (QPushButton* b : d->findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("取消"))
                b->click();
    }
    long long after_;
    std::function<void(QProgressDialog*)> act_;
    QTimer timer_;
    bool seen_ = false;
    bool acted_ = false;
    QString label_;
};

// The dialog at once (or after showAfterMs) and the pass in lockstep with
// the window, so that a few hundred entries are enough to stop a command
// part-way, however fast or slow the machine.
struct EagerDialog {
    explicit EagerDialog(int showAfterMs = 0)
        : before(ProgressGate::setTiming({0, showAfterMs, 0, 0}))
    {
    }
    ~EagerDialog() { ProgressGate::setTiming(before); }
    ProgressGate::Timing before;
    Lockstep lockstep;
};

std::vector<std::string> fileNames(int n)
{
    std::vector<std::string> names;
    char buf[32];
    for (int i = 1; i <= n; ++i) {
        std::snprintf(buf, sizeof buf, "f%05d.txt", i);
        names.emplace_back(buf);
    }
    return names;
}

void makeFiles(const std::string& dir, const std::vector<std::string>& names)
{
    for (const auto& n : names)
        writeFile(dir + "/" + n, n);
}

// "已取消：已<what> N 个，M 个未处理" read out of a report.
bool cancelCounts(const QString& text, const QString& what, int& done, int& left)
{
    const QRegularExpression re(QStringLiteral("已取消：已%1 (\\d+) 个，(\\d+) 个未处理").arg(what));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    done = m.captured(1).toInt();
    left = m.captured(2).toInt();
    return true;
}

// The names column of the table, sorted.
std::vector<std::string> tableNames()
{
    std::vector<std::string> names = column(1);
    std::sort(names.begin(), names.end());
    return names;
}

// A table of n data rows that name no files: enough for the workbook commands.
void fillTable(int n)
{
    RowStore rows(1);
    char name[32], size[16];
    for (int i = 0; i < n; ++i) {
        std::snprintf(name, sizeof name, "f%07d.txt", i);
        std::snprintf(size, sizeof size, "%d", i);
        rows.emplace_back(std::array<std::string_view, 7>{
            std::string_view("/nowhere/x"), name, "txt", size, "2026/01/01", "2026/01/01", "32"});
    }
    Form1->table()->replaceDataRows(std::move(rows));
}

// Asks the window system to close window, as the title bar's × does: the
// client message WM_DELETE_WINDOW, sent from an X connection of its own.
// False where the windows are not on X.
bool askWindowSystemToClose(QWidget* window)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        return false;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const auto disconnect = qScopeGuard([c] { xcb_disconnect(c); });
    if (xcb_connection_has_error(c))
        return false;
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(r);
        return a;
    };
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = xcb_window_t(window->winId());
    message.type = atom("WM_PROTOCOLS");
    message.data.data32[0] = atom("WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    // No event mask: the server hands it to the client that made the window.
    const xcb_void_cookie_t sent = xcb_send_event_checked(
        c, 0, message.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_generic_error_t* error = xcb_request_check(c, sent);
    std::free(error);
    return error == nullptr;
}

// Stops a pass at its look number `at`, every step being looked at.
class StopAtLook : public Progress {
public:
    explicit StopAtLook(int at) : at_(at) { setStride(1); }
    int looks = 0;

protected:
    bool look(int64_t, std::string_view) override { return ++looks < at_; }

private:
    int at_;
};

// An input given to the main window while a command's dialog shows.
enum class Input { Click, Typing, Shortcut, Escape };

}  // namespace

class ProgressTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(showMainWindow()); }

    // The dialog shows, with its texts, once a command has run for the time
    // set, and never for a command that ends before.
    void dialogShowsForLongCommandsOnly()
    {
        TempDir dir;
        Form2->setWorkingFolder(dir.path());
        Form1->rbh->setChecked(true);
        fillTable(1000);
        for (const int showAfterMs : {0, 3'600'000}) {
            removeTree(dir.path() + "/导出列表.xls");
            EagerDialog timing(showAfterMs);
            DialogWatch watch(-2, [](QProgressDialog*) {});  // only looks
            const auto boxes = clickAndCatch(Form1->btnanagrid);
            QCOMPARE(int(boxes.size()), 1);
            QVERIFY(boxes[0].text.startsWith(QStringLiteral("导出Excel表格完毕")));
            QCOMPARE(watch.seen(), showAfterMs == 0);
            if (watch.seen())
                QVERIFY2(watch.label().startsWith(QStringLiteral("正在导出表格…\n")) &&
                             watch.label().contains(QStringLiteral(" / 7,007")),
                         qPrintable(watch.label()));
            QVERIFY(!shownDialog());
        }
    }

    // 取消 part-way through organize, rename and attribute change: the
    // report's counts add up, the folder holds exactly what they say, and
    // the table lists what the folder holds.
    void cancelStopsBatchCommandsConsistently_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("整理") << QStringLiteral("整理");
        QTest::newRow("重命名") << QStringLiteral("重命名");
        QTest::newRow("更改属性") << QStringLiteral("更改属性");
    }
    void cancelStopsBatchCommandsConsistently()
    {
        QFETCH(QString, command);
        constexpr int kEntries = 400;
        TempDir dir;
        const std::string w = dir.path();
        const std::vector<std::string> names = fileNames(kEntries);
        makeFiles(w, names);
        importFolder(w);
        QCOMPARE(tableRows(), kEntries + 1);

        QWidget* button = nullptr;
        if (command == QStringLiteral("整理")) {
            Form1->cbbspara->setEditText(QStringLiteral("文件名"));
            Form1->lstsort->clear();
            Form1->lstsort->addItem(QStringLiteral("kw"));
            Form1->lstsort->addItem(QStringLiteral("f"));
            button = Form1->btnsort;
        } else if (command == QStringLiteral("重命名")) {
            Form1->edtrnbase->setText(QStringLiteral("n"));
            button = Form1->btnrn;
        } else {
            Form1->chk1->setChecked(true);
            Form1->chk2->setChecked(false);
            Form1->chk3->setChecked(false);
            Form1->chk4->setChecked(false);
            button = Form1->btnrename;
        }
        std::vector<SeenBox> boxes;
        {
            EagerDialog eager;
            DialogWatch watch(20);
            boxes = clickAndCatch(button);
            QVERIFY(watch.acted());
        }
        QCOMPARE(int(boxes.size()), 1);
        int done = -1, left = -1;
        QVERIFY2(cancelCounts(boxes[0].text, command, done, left), qPrintable(boxes[0].text));
        QVERIFY2(done >= 20 && done < kEntries, qPrintable(boxes[0].text));
        QCOMPARE(done + left, kEntries);

        const std::vector<std::string> inFolder = listNames(w);
        if (command == QStringLiteral("整理")) {
            QCOMPARE(int(listNames(w + "/f").size()), done);
            QCOMPARE(int(inFolder.size()), left + 1);  // and the folder "f"
            // The moved rows are gone, the rest stay in their order.
            const std::vector<std::string> rest(names.end() - left, names.end());
            QCOMPARE(column(1), rest);
        } else if (command == QStringLiteral("重命名")) {
            QCOMPARE(int(inFolder.size()), kEntries);
            QCOMPARE(int(std::count_if(inFolder.begin(), inFolder.end(),
                                       [](const std::string& n) { return n.rfind("n ", 0) == 0; })),
                     done);
            QCOMPARE(tableNames(), inFolder);
        } else {
            QCOMPARE(tableNames(), inFolder);
            const std::vector<std::string> attribs = column(6);
            QCOMPARE(int(std::count(attribs.begin(), attribs.end(), "1")), done);
        }
    }

    // A stopped listing shows what it read and says it is incomplete.
    void cancelledListingSaysItIsIncomplete()
    {
        constexpr int kEntries = 400;
        TempDir dir;
        makeFiles(dir.path(), fileNames(kEntries));
        std::vector<SeenBox> boxes;
        {
            EagerDialog eager;
            DialogWatch watch(20);
            BoxCatcher catcher;
            importFolder(dir.path());
            boxes = catcher.boxes();
            QVERIFY(watch.acted());
            // The count is out of the number of names read.
            QVERIFY2(watch.label().contains(QStringLiteral(" / 400")), qPrintable(watch.label()));
        }
        QCOMPARE(int(boxes.size()), 1);
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("只列出了 (\\d+) 个条目，列表不完整")).match(boxes[0].text);
        QVERIFY2(m.hasMatch(), qPrintable(boxes[0].text));
        const int listed = m.captured(1).toInt();
        QVERIFY(listed >= 20 && listed < kEntries);
        QCOMPARE(tableRows(), listed + 1);
        const std::vector<std::string> all = listNames(dir.path());
        for (const std::string& n : tableNames())
            QVERIFY(std::binary_search(all.begin(), all.end(), n));
        // Listed again without a stop, the folder is whole.
        importFolder(dir.path());
        QCOMPARE(tableNames(), all);
    }

    // A stopped export, be it in the rows or after the file is written (its
    // whole count shown) but before it takes its name, leaves no file and an
    // earlier workbook as it was.
    void cancelledExportLeavesNoFile_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<long long>("after");
        QTest::addColumn<int>("boxCount");
        QTest::newRow("while looking for the earlier file") << 1000 << 0LL << 1;
        QTest::newRow("in the rows") << 100000 << 20LL << 2;
        QTest::newRow("after the writing") << 20000 << 140007LL << 2;
    }
    void cancelledExportLeavesNoFile()
    {
        QFETCH(int, rows);
        QFETCH(long long, after);
        QFETCH(int, boxCount);
        TempDir dir;
        Form2->setWorkingFolder(dir.path());
        const std::string file = dir.path() + "/导出列表.xls";
        writeFile(file, "older");
        fillTable(rows);
        std::vector<SeenBox> boxes;
        {
            EagerDialog eager;
            DialogWatch watch(after);
            boxes = clickAndCatch(Form1->btnanagrid, {QStringLiteral("是")});
            QVERIFY(watch.acted());
        }
        QCOMPARE(int(boxes.size()), boxCount);  // replace? (unless stopped before), then the report
        QCOMPARE(boxes.back().text, QStringLiteral("已取消：没有导出任何文件"));
        QCOMPARE(listNames(dir.path()), std::vector<std::string>{"导出列表.xls"});
        QCOMPARE(readFile(file), std::string("older"));
    }

    // A stopped filter leaves the table as it was.
    void cancelledFilterKeepsTheTable()
    {
        fillTable(3000);
        const std::vector<std::string> before = column(1);
        Form1->cbbfilterate->setEditText(QStringLiteral("文件名"));
        Form1->lst->clear();
        Form1->lst->addItem(QStringLiteral("f00000"));
        std::vector<SeenBox> boxes;
        {
            EagerDialog eager;
            DialogWatch watch(20);
            boxes = clickAndCatch(Form1->btndec);
            QVERIFY(watch.acted());
        }
        QCOMPARE(int(boxes.size()), 1);
        QVERIFY(boxes[0].text.startsWith(QStringLiteral("已取消")));
        QCOMPARE(column(1), before);
    }

    // The pass runs off the window's thread; what it returns comes back and
    // what it throws is thrown again on the window's thread.
    void passRunsOnAWorker()
    {
        ProgressGate gate(QStringLiteral("正在测试…"));
        const std::thread::id window = std::this_thread::get_id();
        QVERIFY(gate.run([] { return std::this_thread::get_id(); }) != window);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error,
                                 gate.run([] { throw std::runtime_error("in the pass"); }));
    }

    // A command's pass runs on a worker; what it returns is applied on the
    // window's thread under the busy cursor, and comes back with the stop.
    void commandAppliesOnTheWindowThread_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("run whole") << false;
        QTest::newRow("stopped") << true;
    }
    void commandAppliesOnTheWindowThread()
    {
        QFETCH(bool, cancel);
        const std::thread::id window = std::this_thread::get_id();
        std::thread::id passOn, applyOn;
        bool cursorAtApply = false, stoppedAtApply = false;
        int valueAtApply = -1;
        EagerDialog eager(cancel ? 0 : 3'600'000);
        DialogWatch watch(3);
        const Ran<int> ran = runCommand(
            QStringLiteral("正在测试…"),
            [&](Progress* progress) {
                passOn = std::this_thread::get_id();
                int n = 0;
                while (n < 50 && progress->step(n, "x"))
                    ++n;
                return n;
            },
            [&](int& n, bool stopped) {
                applyOn = std::this_thread::get_id();
                cursorAtApply = QApplication::overrideCursor() != nullptr;
                stoppedAtApply = stopped;
                valueAtApply = n;
            });
        QVERIFY(passOn != window);
        QCOMPARE(applyOn, window);
        QVERIFY(cursorAtApply);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(ran.stopped, cancel);
        QCOMPARE(stoppedAtApply, cancel);
        QCOMPARE(valueAtApply, ran.value);
        QVERIFY(cancel ? ran.value >= 3 && ran.value < 50 : ran.value == 50);
    }

    // Opening a folder of many subfolders stops when asked: the tree and
    // the process's current directory stay where they were.
    void stoppedFolderOpenLeavesTheTree()
    {
        TempDir dir;
        const std::string big = dir.path() + "/big";
        writeFile(dir.path() + "/x");
        QCOMPARE(::mkdir(big.c_str(), 0755), 0);
        for (int i = 0; i < 300; ++i)
            QCOMPARE(::mkdir((big + "/d" + std::to_string(i)).c_str(), 0755), 0);
        const std::string before = currentDir();
        FolderTree tree({"/"});
        QVERIFY(tree.open(dir.path()).ok());
        const std::string opened = tree.folder();
        StopAtLook stop(50);
        const TreeStep step = tree.open(big, &stop);
        QCOMPARE(step.status.err, ECANCELED);
        QVERIFY(!step.changed);
        QCOMPARE(tree.folder(), opened);
        QCOMPARE(currentDir(), opened);
        QCOMPARE(tree.subfolders(), std::vector<std::string>{"big"});
        QVERIFY(tree.open(big).ok());  // unwatched, it opens whole
        QCOMPARE(int(tree.subfolders().size()), 300);
        QVERIFY(::chdir(before.c_str()) == 0);
    }

    // While the dialog shows, the other windows take no input: a click, a
    // key typed and a shortcut do nothing until the command has ended, then
    // each does its work. Escape in the dialog stops the command as 取消 does.
    void dialogTakesTheInput_data()
    {
        QTest::addColumn<int>("input");
        QTest::newRow("click on a box") << int(Input::Click);
        QTest::newRow("keys in a text box") << int(Input::Typing);
        QTest::newRow("Ctrl+I") << int(Input::Shortcut);
        QTest::newRow("Escape in the dialog") << int(Input::Escape);
    }
    void dialogTakesTheInput()
    {
        QFETCH(int, input);
        const Input in = Input(input);
        constexpr int kEntries = 300;
        TempDir dir;
        const std::string w = dir.path();
        makeFiles(w, fileNames(kEntries));
        importFolder(w);
        Form2->hide();
        Form1->chk1->setChecked(false);
        Form1->edtrnbase->setText(QStringLiteral("n"));
        const auto give = [in](QWidget* dialog) {
            switch (in) {
            case Input::Click:
                QTest::mouseClick(Form1->chk1, Qt::LeftButton);
                return Form1->chk1->isChecked();
            case Input::Typing:
                QTest::keyClicks(Form1->edtrnbase, QStringLiteral("x"));
                return Form1->edtrnbase->text() != QStringLiteral("n");
            case Input::Shortcut:
                QTest::keyClick(Form1, Qt::Key_I, Qt::ControlModifier);
                return Form2->isVisible();
            case Input::Escape:
                QTest::keyClick(dialog, Qt::Key_Escape);
                return false;
            }
            return false;
        };
        bool tookDuring = true;
        bool active = false;
        std::vector<SeenBox> boxes;
        {
            EagerDialog eager;
            DialogWatch watch(20, [&](QProgressDialog* d) {
                // The keys go to the main window, or to the dialog for Escape.
                QWidget* to = in == Input::Escape ? static_cast<QWidget*>(d) : Form1;
                to->activateWindow();
                active = QTest::qWaitForWindowActive(to);
                tookDuring = give(d);
                if (in != Input::Escape)
                    d->cancel();
            });
            boxes = clickAndCatch(Form1->btnrn);
            QVERIFY(watch.acted());
        }
        QVERIFY(active);
        QVERIFY(!tookDuring);
        QCOMPARE(int(boxes.size()), 1);
        int done = -1, left = -1;
        QVERIFY2(cancelCounts(boxes[0].text, QStringLiteral("重命名"), done, left),
                 qPrintable(boxes[0].text));
        QVERIFY(done >= 20 && done < kEntries);
        QCOMPARE(int(listNames(w).size()), kEntries);
        if (in != Input::Escape) {
            Form1->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(Form1));
            QVERIFY(give(nullptr));  // the same input, with no command running
        }
        Form2->hide();
    }

    // Closing the main window mid-organize stops the command after the entry
    // in hand, shows no box and ends the event loop with status 0; what was
    // moved is moved and nothing is lost. The close comes from the program,
    // or from the window system as the title bar's × sends it (on X only:
    // the offscreen platform has no window system to send it).
    // The same during the chart window's 另存为…: no file placed, the window
    // gone only after its save; its own close refused with a word (allowed
    // during the main window's command).
    void closingMidCommandEndsTheRun_data()
    {
        QTest::addColumn<bool>("fromWindowSystem");
        QTest::addColumn<bool>("chartSave");
        for (const bool chart : {false, true})
            for (const bool x : {false, true})
                QTest::addRow("%s close, %s", x ? "window system" : "program",
                              chart ? "另存为" : "整理") << x << chart;
    }
    void closingMidCommandEndsTheRun()
    {
        QFETCH(bool, fromWindowSystem);
        QFETCH(bool, chartSave);
        if (fromWindowSystem && QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs an X display: run as test_gui_progress_x11");
        setAppClosing(false);
        QVERIFY(showMainWindow());
        constexpr int kEntries = 400;
        TempDir dir;
        const std::string w = dir.path();
        makeFiles(w, fileNames(kEntries));
        if (chartSave || fromWindowSystem) {
            fillTable(3000);
            QVERIFY(clickAndCatch(Form1->btnanagraph).empty());
        }
        QPointer<ChartWindow> chart = Form1->findChild<ChartWindow*>();
        const std::string saved = w + "/chart.xlsx";
        importFolder(w);
        Form1->cbbspara->setEditText(QStringLiteral("文件名"));
        Form1->lstsort->clear();
        Form1->lstsort->addItem(QStringLiteral("f"));
        int status = -1;
        bool chartAtSaveEnd = false;  // the window outlived its save
        QString refusal;  // the dialog's last line after the chart window's own close
        BoxCatcher catcher;
        {
            EagerDialog eager;
            bool sent = true;
            DialogWatch watch(20, [&](QProgressDialog* d) {
                // A chart window closes unless the command is its own.
                if (fromWindowSystem && askWindowSystemToClose(chart)) {
                    QTest::qWaitFor([&] { return !chart || d->labelText().contains(u'：'); });
                    refusal = chart ? d->labelText().section(u'\n', -1) : QStringLiteral("closed");
                }
                if (fromWindowSystem)
                    sent = askWindowSystemToClose(Form1);
                else
                    Form1->close();
            });
            // A close that did not reach the window leaves it shown after the
            // command: the run then ends with 2 rather than hanging.
            QTimer unheard;
            connect(&unheard, &QTimer::timeout, [&] {
                if (watch.acted() && !ProgressGate::running() && Form1->isVisible())
                    QCoreApplication::exit(2);
            });
            unheard.start(0);
            if (chartSave)
                QTimer::singleShot(0, chart, [&] {
                    chart->saveTo(saved);
                    chartAtSaveEnd = chart;
                });
            else
                QTimer::singleShot(0, Form1->btnsort, [] { Form1->btnsort->click(); });
            status = QApplication::exec();
            QVERIFY(watch.acted());
            QVERIFY(sent);
        }
        QCOMPARE(status, 0);
        QVERIFY2(catcher.boxes().empty(), qPrintable(catcher.texts().join(u'|')));
        QVERIFY(!Form1->isVisible());
        QCOMPARE(refusal, !fromWindowSystem ? QString()
                          : chartSave ? QStringLiteral("该窗口的命令正在运行：完成或取消后才能关闭")
                                      : QStringLiteral("closed"));
        if (chartSave) {
            QVERIFY(chartAtSaveEnd && !pathExists(saved));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(!chart);
            return setAppClosing(false);
        }
        const int moved = int(listNames(w + "/f").size());
        QVERIFY(moved >= 20 && moved < kEntries);
        QCOMPARE(int(listNames(w).size()), kEntries - moved + 1);
        setAppClosing(false);
    }
};

QTEST_MAIN(ProgressTest)
#include "test_gui_progress.moc"
