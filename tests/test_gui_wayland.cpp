// The windows as a Wayland compositor shows them (run by with_weston.sh): the
// main window, the import window, a message box, the progress dialog over a
// long command and the chart window each reach the screen, and the boxes and
// the dialog come up over the window they belong to. With VEMLO_SHOTS set to
// a folder, the compositor's screen is saved there at each step.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QHelpEvent>
#include <QTableView>
#include <QToolTip>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QWindow>

#include <cstdio>
#include <optional>

#include "app/chartwindow.h"
#include "common/progressgate.h"
#include "testutil/lockstep.h"
#include "testutil/windows.h"

using namespace vemlo;
using namespace vemlo::test;

namespace {

// Saves what the compositor shows as VEMLO_SHOTS/<name>.png.
void screenshot(const QString& name)
{
    const QString folder = qEnvironmentVariable("VEMLO_SHOTS");
    if (folder.isEmpty())
        return;
    QTest::qWait(600);  // the last frame and the compositor's fade-in
    QDir dir(folder);
    for (const QString& f : dir.entryList({QStringLiteral("wayland-screenshot*.png")}))
        dir.remove(f);
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("weston-screenshooter"), {});
    p.waitForFinished(10000);
    const QStringList made = dir.entryList({QStringLiteral("wayland-screenshot*.png")});
    if (made.isEmpty())
        std::fprintf(stderr, "no screenshot %s\n", qPrintable(name));
    else
        dir.rename(made.first(), name + QStringLiteral(".png"));
}

// The top-level window of type T on screen, or nullptr.
template <class T>
T* shown()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible())
            return t;
    return nullptr;
}

bool exposed(QWidget* w) { return w && w->windowHandle() && w->windowHandle()->isExposed(); }

// What became of a dialog that opened while a button's command ran.
struct Seen {
    bool exposed = false;
    QWindow* transientParent = nullptr;
    QString text;
};

// Presses button; waits, inside the command, for a visible T to be exposed
// by the compositor, records it, then lets act close it.
template <class T>
Seen pressAndWatch(QWidget* button, const std::function<void(T*)>& act)
{
    Seen seen;
    bool done = false;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        T* d = shown<T>();
        if (done || !d)
            return;
        if (!exposed(d))
            return;  // not on screen yet: the next tick looks again
        done = true;
        seen.exposed = true;
        seen.transientParent = d->windowHandle()->transientParent();
        if constexpr (std::is_same_v<T, QMessageBox>)
            seen.text = d->text();
        else if constexpr (std::is_same_v<T, QProgressDialog>)
            seen.text = d->labelText();
        else
            seen.text = d->windowTitle();
        screenshot(QString::fromLatin1(T::staticMetaObject.className()).mid(1).toLower());
        act(d);
    });
    timer.start();
    QTest::mouseClick(button, Qt::LeftButton);
    timer.stop();
    return seen;
}

}  // namespace

class WaylandTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("wayland"));
        QVERIFY(showMainWindow());
    }

    // The main window and the import window reach the screen; 导入 lists
    // the folder and hides the import window.
    void windowsShow()
    {
        TempDir dir;
        makeEntries(dir.path(), {"a.txt", "b.jpg", "c.txt", "sub/"});
        screenshot(QStringLiteral("main"));
        Form1->N8->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(Form2));
        QVERIFY(Form2->width() > 0 && Form2->height() > 0);
        Form2->setWorkingFolder(dir.path());
        screenshot(QStringLiteral("import"));
        QTest::mouseClick(Form2->Button1, Qt::LeftButton);
        QTRY_VERIFY(!Form2->isVisible());
        QCOMPARE(tableRows(), 5);
        // A path cut at its cell's edge shows whole in a tooltip, a popup
        // the compositor places beside the cell.
        QTableView* grid = Form1->strgrdM;
        grid->setColumnWidth(0, 60);
        const QRect cell = grid->visualRect(Form1->table()->index(0, 0));
        QHelpEvent help(QEvent::ToolTip, cell.center(), grid->viewport()->mapToGlobal(cell.center()));
        QApplication::sendEvent(grid->viewport(), &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QString::fromStdString(tableText(1, 0)));
        QWidget* tip = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->windowType() == Qt::ToolTip && w->isVisible())
                tip = w;
        QVERIFY(tip);
        QTRY_VERIFY(exposed(tip));
        screenshot(QStringLiteral("listed"));
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    // A message box comes up on screen, over the main window, and is answered.
    void messageBoxShows()
    {
        TempDir dir;
        importFolder(dir.path());
        Form2->setWorkingFolder({});
        const Seen seen = pressAndWatch<QMessageBox>(Form1->btnanagrid, [](QMessageBox* b) {
            b->buttons().first()->click();
        });
        QVERIFY(seen.exposed);
        QCOMPARE(seen.text, QStringLiteral("你没有选择文件夹"));
        QCOMPARE(seen.transientParent, Form1->windowHandle());
    }

    // The progress dialog of a long command comes up over the main window,
    // and 取消 on it stops the command.
    void progressDialogShows()
    {
        TempDir dir;
        std::vector<std::string> names;
        for (int i = 0; i < 300; ++i)
            names.push_back("f" + std::to_string(1000 + i) + ".txt");
        makeEntries(dir.path(), names);
        importFolder(dir.path());
        // The dialog at once, the pass in step with the window.
        const ProgressGate::Timing before = ProgressGate::setTiming({0, 0, 0, 0});
        std::optional<Lockstep> lockstep(std::in_place);
        Form1->edtrnbase->setText(QStringLiteral("新"));
        BoxCatcher reports;
        const Seen seen = pressAndWatch<QProgressDialog>(Form1->btnrn, [](QProgressDialog* d) {
            for (QPushButton* b : d->findChildren<QPushButton*>())
                if (b->text() == QStringLiteral("取消"))
                    b->click();
        });
        lockstep.reset();
        ProgressGate::setTiming(before);
        QVERIFY(seen.exposed);
        QCOMPARE(seen.transientParent, Form1->windowHandle());
        QVERIFY2(reports.texts().join(u'\n').contains(QStringLiteral("已取消")),
                 qPrintable(reports.texts().join(u'\n')));
    }

    // The chart window reaches the screen with its pie and table; its file
    // dialog comes up over it.
    void chartWindowShows()
    {
        TempDir dir;
        makeEntries(dir.path(), {"a.txt", "b.jpg", "c.txt"});
        importFolder(dir.path());
        Form1->rbcircle->setChecked(true);
        QTest::mouseClick(Form1->btnanagraph, Qt::LeftButton);
        ChartWindow* chart = shown<ChartWindow>();
        QVERIFY(chart);
        QVERIFY(QTest::qWaitForWindowExposed(chart));
        screenshot(QStringLiteral("chart"));
        const Seen seen = pressAndWatch<QFileDialog>(chart->btnSaveAs, [](QFileDialog* d) { d->reject(); });
        QVERIFY(seen.exposed);
        QCOMPARE(seen.text, QStringLiteral("另存为"));
        QCOMPARE(seen.transientParent, chart->windowHandle());
        chart->close();
    }
};

QTEST_MAIN(WaylandTest)
#include "test_gui_wayland.moc"
