// The import window as a user meets it: first showing, the folder tree, the
// drive chooser, "导入", the keys and closing, on real folders.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <condition_variable>
#include <cstring>
#include <grp.h>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "common/messages.h"
#include "common/progressgate.h"
#include "platform/mounts.h"
#include "testutil/windows.h"

using namespace vemlo;
using namespace vemlo::test;

namespace {

constexpr const char* kChildFlag = "--as-unprivileged-user";
constexpr uid_t kNobody = 65534;

// The row of the entry that opens path; -1 when none does.
int rowFor(const std::string& path)
{
    for (int row = 0; row < Form2->DL->count(); ++row) {
        if (Form2->DL->pathAt(row) == path)
            return row;
    }
    return -1;
}

std::string highlighted() { return Form2->DL->pathAt(Form2->DL->currentIndex().row()); }

std::vector<std::string> subfolderTexts()
{
    std::vector<std::string> out;
    for (int row = Form2->DL->currentFolderRow() + 1; row < Form2->DL->count(); ++row)
        out.push_back(Form2->DL->textAt(row).toStdString());
    return out;
}

// Opens an entry as the user does: double-click, or Enter on the highlighted entry.
void openByMouse(int row)
{
    FolderTreeView* list = Form2->DL;
    const QModelIndex index = list->model()->index(row, 0);
    list->scrollTo(index);
    const QPoint at = list->visualRect(index).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

void openByKey(int row)
{
    Form2->DL->setFocus();
    Form2->DL->setCurrentIndex(Form2->DL->model()->index(row, 0));
    QTest::keyClick(Form2->DL, Qt::Key_Return);
}

// Takes the tree to target entry by entry, from the root of its mount.
void walkTo(const std::string& target)
{
    if (const int row = rowFor(target); row >= 0) {
        Form2->DL->openRow(row);
        return;
    }
    // From another mount, go by the root mount, which reaches every folder.
    if (!fs::isWithin(target, Form2->DL->mount()))
        Form2->DL->setDrive("/");
    Form2->DL->openRow(0);
    while (Form2->DL->folder() != target) {
        int next = -1;
        for (int row = Form2->DL->currentFolderRow() + 1; row < Form2->DL->count(); ++row) {
            if (fs::isWithin(target, Form2->DL->pathAt(row))) {
                next = row;
                break;
            }
        }
        if (next < 0)
            QFAIL(("no way down to " + target).c_str());
        Form2->DL->openRow(next);
    }
}

// Waits, without a clock, until the chooser shows the mounts it was reading.
void waitForDrives()
{
    while (Form2->DC->filling())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void showImportWindow()
{
    Form1->N8Click(Form1);
    QVERIFY(QTest::qWaitForWindowExposed(Form2));
    waitForDrives();
}

bool listsDrive(const std::string& mountPoint)
{
    return Form2->DC->findData(QByteArray::fromStdString(mountPoint)) >= 0;
}

// A volume source that waits until it is let go, as a read of the mounts
// waits on a mount whose server is gone.
struct HeldSource {
    std::mutex mutex;
    std::condition_variable released;
    std::vector<fs::Volume> volumes;
    bool let = false;
    int reads = 0;

    std::vector<fs::Volume> operator()()
    {
        std::unique_lock lock(mutex);
        ++reads;
        released.wait(lock, [&] { return let; });
        return volumes;
    }
    void release(std::vector<fs::Volume> v)
    {
        std::lock_guard lock(mutex);
        volumes = std::move(v);
        let = true;
        released.notify_all();
    }
};

}  // namespace

class ImportWindowTest : public QObject {
    Q_OBJECT
    TempDir dir_;
    std::string work_;  // the folder the run starts in

private slots:
    void initTestCase()
    {
        const std::string base = canonicalPath(dir_.path());
        work_ = base + "/work";
        for (const char* sub : {"/work", "/work/Alpha", "/work/Alpha/inner", "/work/beta",
                                "/work/.hidden", "/work/\xff\xfeold", "/m2", "/m2/deep"})
            QVERIFY(::mkdir((base + sub).c_str(), 0755) == 0);
        writeFile(work_ + "/notes.txt");
        writeFile(work_ + "/Alpha/data1.txt");
        writeFile(work_ + "/Alpha/data2.txt");
        writeFile(work_ + "/beta/other.txt");
        QVERIFY(::chdir(work_.c_str()) == 0);
        QVERIFY(showMainWindow());
    }

    void firstShowingLeavesThePathEmpty()
    {
        QVERIFY(!Form2->isVisible());
        // Hidden, the window has read no subfolders: the tree ends at the
        // start-up folder until it is shown.
        QCOMPARE(Form2->DL->count(), Form2->DL->currentFolderRow() + 1);
        QSignalSpy notified(Form2->DL, &FolderTreeView::changed);
        showImportWindow();
        QCOMPARE(subfolderTexts(), (std::vector<std::string>{"Alpha", "beta", "\uFFFD\uFFFDold"}));
        QCOMPARE(Form2->windowTitle(), QStringLiteral("导入文件夹"));
        QCOMPARE(Form2->edtFP->text(), QString());
        QCOMPARE(Form2->DL->folder(), work_);
        QCOMPARE(highlighted(), work_);
        QCOMPARE(Form2->DC->drive(), Form2->DL->mount());
        QVERIFY(Form2->DC->currentIndex() >= 0);
        QCOMPARE(Form2->DC->currentData().toByteArray().toStdString(), Form2->DC->drive());

        // The start-up folder's own entry and the chooser's own mount change nothing.
        openByMouse(Form2->DL->currentFolderRow());
        Form2->DC->setFocus();
        emit Form2->DC->activated(Form2->DC->currentIndex());
        // Enter in the path box and Escape trigger no button.
        QTest::keyClick(Form2->edtFP, Qt::Key_Return);
        QTest::keyClick(Form2->edtFP, Qt::Key_Escape);
        QCOMPARE(notified.size(), 0);
        QCOMPARE(Form2->edtFP->text(), QString());
        QVERIFY(Form2->isVisible());

        const auto boxes = clickAndCatch(Form2->Button1);
        QCOMPARE(boxes.size(), size_t(1));
        QCOMPARE(boxes[0].text, QStringLiteral("你没有选择文件夹"));
        QVERIFY(Form2->isVisible());
        QCOMPARE(tableRows(), 2);
        QCOMPARE(tableText(1, 0), std::string());
        QCOMPARE(currentDir(), work_);
    }

    void treeMarksTheFocus()
    {
        showImportWindow();
        QVERIFY(focusIsMarked(Form2->DL, Form2->edtFP));
    }

    void treeListsVisibleSubfoldersIgnoringCase()
    {
        QCOMPARE(subfolderTexts(), (std::vector<std::string>{"Alpha", "beta", "\uFFFD\uFFFDold"}));
        QCOMPARE(Form2->DL->textAt(Form2->DL->currentFolderRow()), QStringLiteral("work"));
        QCOMPARE(Form2->DL->textAt(0).toStdString(), Form2->DL->mount());
    }

    void openingAnEntryFillsThePath_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<bool>("byMouse");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("subfolder, double-click") << QByteArray("work") << QByteArray("work/Alpha")
                                                 << true << QByteArray("work/Alpha");
        QTest::newRow("subfolder, Enter") << QByteArray("work") << QByteArray("work/beta") << false
                                          << QByteArray("work/beta");
        QTest::newRow("name that is not UTF-8")
            << QByteArray("work") << QByteArray("work/\xff\xfeold") << false
            << QByteArray("work/\xff\xfeold");
        QTest::newRow("folder on the way down")
            << QByteArray("work/Alpha/inner") << QByteArray("work") << true << QByteArray("work");
        QTest::newRow("root of the mount")
            << QByteArray("work") << QByteArray("<root>") << false << QByteArray("<root>");
    }

    void openingAnEntryFillsThePath()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, entry);
        QFETCH(bool, byMouse);
        QFETCH(QByteArray, expected);
        const std::string base = canonicalPath(dir_.path()) + "/";
        auto full = [&](const QByteArray& p) {
            return p == "<root>" ? Form2->DL->mount() : base + p.toStdString();
        };
        walkTo(full(from));
        QCOMPARE(Form2->DL->folder(), full(from));

        QSignalSpy notified(Form2->DL, &FolderTreeView::changed);
        const int row = rowFor(full(entry));
        QVERIFY(row >= 0);
        byMouse ? openByMouse(row) : openByKey(row);
        QCOMPARE(notified.size(), 1);
        QCOMPARE(Form2->workingFolder(), full(expected));
        QCOMPARE(Form2->edtFP->text(), displayText(full(expected)));
        QCOMPARE(Form2->DL->folder(), full(expected));
        QCOMPARE(currentDir(), full(expected));
        QCOMPARE(highlighted(), full(expected));
    }

    void importingTheRootJoinsWithTwoSlashes()
    {
        walkTo("/");
        QCOMPARE(Form2->workingFolder(), std::string("/"));
        clickAndCatch(Form2->Button1);
        QVERIFY(!Form2->isVisible());
        const auto paths = column(0);
        const auto names = column(1);
        QVERIFY(!paths.empty());
        for (size_t i = 0; i < paths.size(); ++i)
            QCOMPARE(paths[i], "//" + names[i]);
        // Every entry of the root, whatever this machine keeps there.
        std::vector<std::string> sorted = names;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(sorted, listNames("/"));
    }

    void typedTextIsImportedAsTyped_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("prefix");
        const QString alpha = QString::fromStdString(work_ + "/Alpha");
        QTest::newRow("absolute") << alpha << alpha;
        QTest::newRow("relative to the tree's folder") << QStringLiteral("Alpha")
                                                       << QStringLiteral("Alpha");
        QTest::newRow("trailing slash kept") << alpha + u'/' << alpha + u'/';
    }

    void typedTextIsImportedAsTyped()
    {
        QFETCH(QString, typed);
        QFETCH(QString, prefix);
        showImportWindow();
        walkTo(work_);
        Form2->edtFP->clear();
        QTest::keyClicks(Form2->edtFP, typed);
        QCOMPARE(Form2->DL->folder(), work_);  // typing moves neither tree nor chooser
        clickAndCatch(Form2->Button1);
        QVERIFY(!Form2->isVisible());
        auto paths = column(0);
        std::sort(paths.begin(), paths.end());
        const std::string p = prefix.toStdString();
        QCOMPARE(paths,
                 (std::vector<std::string>{p + "/data1.txt", p + "/data2.txt", p + "/inner"}));
    }

    void laterTreeChangesApplyToLaterCommands()
    {
        showImportWindow();
        walkTo(work_ + "/Alpha");
        clickAndCatch(Form2->Button1);
        QCOMPARE(tableRows(), 4);
        showImportWindow();
        openByKey(rowFor(work_));
        openByMouse(rowFor(work_ + "/beta"));
        QCOMPARE(Form1->workingFolder(), work_ + "/beta");
        QCOMPARE(tableText(1, 1).substr(0, 4), std::string("data"));  // the table still shows Alpha
        Form2->edtFP->setText(QStringLiteral("/elsewhere"));
        QCOMPARE(Form1->workingFolder(), std::string("/elsewhere"));
    }

    void changingTheDrive()
    {
        showImportWindow();
        const std::string root = Form2->DL->mount();
        const std::string m2 = canonicalPath(dir_.path()) + "/m2";
        walkTo(work_);
        // The chooser lists a second mount; the user picks it with the keyboard.
        Form2->DC->populate({{root, ""}, {m2, "SECOND"}});
        QCOMPARE(Form2->DC->itemText(1), QString::fromStdString(m2 + " [second]"));
        QCOMPARE(Form2->DL->folder(), work_);
        Form2->DC->setFocus();
        QSignalSpy notified(Form2->DL, &FolderTreeView::changed);
        QTest::keyClick(Form2->DC, Qt::Key_Down);
        QCOMPARE(Form2->DC->drive(), m2);
        QCOMPARE(notified.size(), 1);
        QCOMPARE(Form2->DL->folder(), m2);
        QCOMPARE(Form2->workingFolder(), m2);
        QCOMPARE(Form2->DL->textAt(0).toStdString(), m2);
        openByKey(rowFor(m2 + "/deep"));

        QTest::keyClick(Form2->DC, Qt::Key_Up);  // back: the folder open there before
        QCOMPARE(Form2->DL->folder(), work_);
        QCOMPARE(Form2->workingFolder(), work_);
        QTest::keyClick(Form2->DC, Qt::Key_Down);
        QCOMPARE(Form2->DL->folder(), m2 + "/deep");
        QCOMPARE(currentDir(), m2 + "/deep");
        QCOMPARE(notified.size(), 4);
        QTest::keyClick(Form2->DC, Qt::Key_Up);
        QCOMPARE(Form2->DL->folder(), work_);
    }

    // A folder dropped on either window is listed as 导入 lists it; the
    // dropped entries are copied, never moved, as the file manager hears it.
    // While a command runs, a drop is refused like every other input.
    void droppedFolderIsListed_data()
    {
        QTest::addColumn<QByteArrayList>("urls");  // "~" stands for the start folder
        QTest::addColumn<bool>("onImportWindow");
        QTest::addColumn<QByteArray>("listed");    // "" for nothing, "busy" for a command running
        QTest::addColumn<QString>("box");
        auto row = [](const char* name, QByteArrayList urls, bool onImport, const char* listed,
                      const char* box = "") {
            QTest::newRow(name) << urls << onImport << QByteArray(listed) << QString::fromUtf8(box);
        };
        row("folder on the main window", {"file://~/Alpha"}, false, "~/Alpha");
        row("file on the import window", {"file://~/beta/other.txt"}, true, "~/beta");
        row("not UTF-8", {"file://~/%FF%FEold"}, false, "~/\xff\xfeold");
        row("several: the first folder", {"file://~/notes.txt", "file://~/beta", "file://~/Alpha"},
            false, "~/beta", "拖入了 3 个条目，只打开了一个文件夹：“~/beta”");
        row("share not mounted", {"smb://nas.invalid/photos/2024"}, false, "",
            "无法打开“smb://nas.invalid/photos/2024”：它不是本机上的文件夹");
        row("web address", {"https://example.org/"}, true, "", "无法打开“https://example.org/”");
        row("during a command", {"file://~/Alpha"}, false, "busy");
    }

    void droppedFolderIsListed()
    {
        QFETCH(QByteArrayList, urls);
        QFETCH(bool, onImportWindow);
        QFETCH(QByteArray, listed);
        QFETCH(QString, box);
        const QByteArray start = QByteArray::fromStdString(work_);
        showImportWindow();
        importFolder(work_ + "/Alpha/inner");  // an empty table
        QMimeData mime;
        QList<QUrl> list;
        for (QByteArray u : urls)
            list << QUrl::fromEncoded(u.replace("~", start));
        mime.setUrls(list);
        QWidget* window = onImportWindow ? static_cast<QWidget*>(Form2) : Form1;
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, {});
        enter.setDropAction(Qt::MoveAction);  // as proposed with Shift held
        drop.setDropAction(Qt::MoveAction);
        BoxCatcher catcher;
        QCoreApplication::sendEvent(window, &enter);
        QVERIFY(enter.isAccepted());
        {
            std::optional<ProgressGate> running;  // started after the drag entered
            if (listed == "busy")
                running.emplace(QStringLiteral("正在整理…"));
            QCoreApplication::sendEvent(window, &drop);
        }
        QCOMPARE(drop.isAccepted(), listed != "busy");
        if (drop.isAccepted())
            QCOMPARE(drop.dropAction(), Qt::CopyAction);
        QCoreApplication::processEvents();
        QCOMPARE(catcher.boxes().size(), size_t(box.isEmpty() ? 0 : 1));
        const QString said = box.isEmpty() ? QString() : catcher.texts()[0];
        QVERIFY2(box.isEmpty() || said.startsWith(box.replace(u'~', QString::fromStdString(work_))),
                 qPrintable(said));
        const std::string folder = listed.replace("~", start).toStdString();
        const bool none = listed.isEmpty() || listed == "busy";
        QCOMPARE(Form2->workingFolder(), none ? work_ + "/Alpha/inner" : folder);
        QCOMPARE(tableRows(), none ? 1 : int(listNames(folder).size()) + 1);
        QCOMPARE(Form2->isVisible(), none);
    }

    void ctrlIFromTheImportWindowOnlyRaisesIt()
    {
        showImportWindow();
        Form2->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Form2));
        QSignalSpy triggered(Form1->N8, &QAction::triggered);
        const std::string folder = Form2->DL->folder();
        QTest::keyClick(Form2->DL, Qt::Key_I, Qt::ControlModifier);
        QCOMPARE(triggered.size(), 1);
        QVERIFY(Form2->isVisible());
        QCOMPARE(Form2->DL->folder(), folder);
        int importWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            importWindows += w->inherits("TForm2");
        QCOMPARE(importWindows, 1);
    }

    void closingHidesAndKeepsState()
    {
        Form2->hide();
        showImportWindow();  // the chooser lists the real mounts
        walkTo(work_ + "/beta");
        Form2->edtFP->setText(QStringLiteral("typed text"));
        const int drives = Form2->DC->count();
        const int driveIndex = Form2->DC->currentIndex();
        QPointer<TForm2> window(Form2);
        Form2->close();
        QVERIFY(window);
        QVERIFY(!Form2->isVisible());
        QVERIFY(Form1->isVisible());
        showImportWindow();
        QCOMPARE(Form2->edtFP->text(), QStringLiteral("typed text"));
        QCOMPARE(Form2->DL->folder(), work_ + "/beta");
        QCOMPARE(Form2->DC->count(), drives);
        QCOMPARE(Form2->DC->currentIndex(), driveIndex);
    }

    // Each showing reads the mounts again: one made while the window was
    // hidden is offered at the next showing, one gone is no longer offered,
    // and the chosen drive stays chosen throughout.
    void chooserIsFilledAtEachShowing()
    {
        showImportWindow();
        const std::string chosen = Form2->DC->drive();
        std::string mountPoint;
        {
            ScratchFs fs;
            if (!fs.usable())
                QSKIP(fs.skipReason());
            mountPoint = canonicalPath(fs.path());
            QVERIFY(!listsDrive(mountPoint));
            Form2->hide();
            showImportWindow();
            QVERIFY(listsDrive(mountPoint));
            QCOMPARE(Form2->DC->drive(), chosen);
            QCOMPARE(Form2->DC->currentData().toByteArray().toStdString(), chosen);
            Form2->hide();
        }
        showImportWindow();
        QVERIFY(!listsDrive(mountPoint));
        QCOMPARE(Form2->DC->currentData().toByteArray().toStdString(), chosen);
    }

    // The mounts are read beside the window: while the read waits, the
    // window is shown, the tree opens folders and the chooser keeps the list
    // it had. A showing meanwhile reads once more after it, not beside it.
    void waitingMountReadLeavesTheWindowFree()
    {
        showImportWindow();
        const int before = Form2->DC->count();
        const std::string chosen = Form2->DC->drive();
        const std::string m2 = canonicalPath(dir_.path()) + "/m2";
        auto held = std::make_shared<HeldSource>();
        const auto restore = qScopeGuard(
            [earlier = DriveChooser::setVolumeSource([held] { return (*held)(); })]() mutable {
                DriveChooser::setVolumeSource(std::move(earlier));
            });
        Form2->hide();
        Form1->N8Click(Form1);
        QVERIFY(QTest::qWaitForWindowExposed(Form2));
        QVERIFY(Form2->DC->filling());
        walkTo(work_ + "/Alpha");  // the window's thread is free
        QCOMPARE(Form2->workingFolder(), work_ + "/Alpha");
        QCOMPARE(Form2->DC->count(), before);
        Form2->hide();
        Form1->N8Click(Form1);
        QSignalSpy filled(Form2->DC, &DriveChooser::filled);
        held->release({{chosen, ""}, {m2, "SECOND"}});
        waitForDrives();
        QCOMPARE(held->reads, 2);
        QCOMPARE(filled.size(), 1);
        QCOMPARE(Form2->DC->count(), 2);
        QVERIFY(listsDrive(m2));
        QCOMPARE(Form2->DC->drive(), chosen);
        QCOMPARE(Form2->DC->currentIndex(), 0);
    }

    // A chooser closed while its read still waits: the read ends later and
    // leaves its list nowhere, and the descriptor it would wake the chooser
    // by is not one handed out again meanwhile (a new one stays unwritten).
    void chooserGoneBeforeItsReadEnds()
    {
        auto held = std::make_shared<HeldSource>();
        const auto restore = qScopeGuard(
            [earlier = DriveChooser::setVolumeSource([held] { return (*held)(); })]() mutable {
                DriveChooser::setVolumeSource(std::move(earlier));
            });
        auto* chooser = new DriveChooser("/", nullptr);
        chooser->refill();
        QVERIFY(chooser->filling());
        delete chooser;
        const int later = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        QVERIFY(later >= 0);
        const auto closeLater = qScopeGuard([later] { ::close(later); });
        held->release({{"/", ""}});
        // The ended read lets go of its copy of the source, and with it held.
        while (held.use_count() > 2)
            std::this_thread::yield();
        uint64_t n = 0;
        QCOMPARE(::read(later, &n, sizeof n), ssize_t(-1));
        QCOMPARE(errno, EAGAIN);
    }

    // A folder whose entries cannot be looked at (mode 666) is listed
    // without them, and one box says how many and why; run unprivileged,
    // since root passes every check.
    void unsearchableFolderIsToldInOneBox()
    {
        TempDir tmp;
        const std::string box = tmp.path() + "/box";
        QVERIFY(::chmod(tmp.path().c_str(), 0755) == 0);
        makeEntries(tmp.path(), {"box/", "box/a.txt", "box/b.txt", "box/c"});
        QVERIFY(::chmod(box.c_str(), 0666) == 0);
        const int failed = runUnprivileged([&] {
            BoxCatcher catcher;
            importFolder(box);
            const QString expected = QStringLiteral("文件夹“%1”中有 3 个条目无法读取，未列出：权限不足")
                                         .arg(QString::fromStdString(box));
            return catcher.texts() == QStringList{expected} && tableRows() == 1 ? 0 : 1;
        });
        QCOMPARE(failed, 0);
    }

    void unreadableFolderShowsOneEmptyRowAndSaysWhy_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QStringLiteral("/missing") << QStringLiteral("文件不存在");
        QTest::newRow("a file") << QStringLiteral("/file.txt") << QStringLiteral("不是文件夹");
    }

    void unreadableFolderShowsOneEmptyRowAndSaysWhy()
    {
        QFETCH(QString, suffix);
        QFETCH(QString, reason);
        TempDir tmp;
        const std::string d = tmp.path();
        writeFile(d + "/file.txt");
        importFolder(d);  // leaves texts in row 1 that must not come back
        QCOMPARE(tableRows(), 2);

        BoxCatcher catcher;
        importFolder(d + suffix.toStdString());
        QCOMPARE(tableRows(), 2);
        for (int c = 0; c < 7; ++c)
            QCOMPARE(tableText(1, c), std::string());
        QCOMPARE(catcher.boxes().size(), size_t(1));
        const SeenBox& box = catcher.boxes().front();
        QVERIFY2(box.text.contains(u'“' + tmp.qpath() + suffix + u'”'), qPrintable(box.text));
        QVERIFY2(box.text.contains(reason), qPrintable(box.text));
        QCOMPARE(box.icon, QMessageBox::Warning);
    }
    void folderWithoutPermission()
    {
        // Root passes every permission check, so the case runs in a child
        // process as an unprivileged user.
        TempDir scratch;
        const std::string base = canonicalPath(scratch.path());
        QVERIFY(::chmod(base.c_str(), 0755) == 0);
        for (auto [sub, mode] : {std::pair{"/open", 0755}, {"/open/locked", 0},
                                 {"/open/noread", 0311}, {"/home", 0777}}) {
            QVERIFY(::mkdir((base + sub).c_str(), 0755) == 0);
            QVERIFY(::chmod((base + sub).c_str(), mode_t(mode)) == 0);
        }
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), QString::fromStdString(base + "/home"));
        env.insert(QStringLiteral("VEMLO_DENIED_BASE"), QString::fromStdString(base));
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));  // no display rights
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(QString::fromStdString(base));
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(kChildFlag)});
        QVERIFY(child.waitForFinished(120000));
        const QByteArray output = child.readAll();
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            qWarning().noquote() << output;
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(output.contains("PASS   : DeniedFolderTest::deniedFolderKeepsThePrevious(locked)"));
        QVERIFY(output.contains("PASS   : DeniedFolderTest::deniedFolderKeepsThePrevious(no read)"));
        QVERIFY(output.contains("PASS   : DeniedFolderTest::failedDriveChangeKeepsTheTree"));
        QVERIFY(output.contains("PASS   : DeniedFolderTest::deniedFolderKeepsThePrevious(given, no read)"));
    }
};

// Runs in the child of folderWithoutPermission, as uid 65534 when started by root.
class DeniedFolderTest : public QObject {
    Q_OBJECT
    std::string base_ = qEnvironmentVariable("VEMLO_DENIED_BASE").toStdString();

private slots:
    void initTestCase()
    {
        QVERIFY(!base_.empty());
        QVERIFY(::geteuid() != 0);
        QCOMPARE(currentDir(), base_);
        createFormsOnce();
        showImportWindow();
        openByKey(rowFor(base_ + "/open"));
        QCOMPARE(Form2->workingFolder(), base_ + "/open");
    }

    // Also a folder given from outside (the command line, a drop): one box,
    // nothing else changes.
    void deniedFolderKeepsThePrevious_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("given");
        QTest::newRow("locked") << QByteArray("locked") << false;    // cannot be entered
        QTest::newRow("no read") << QByteArray("noread") << false;   // entered, but not listed
        QTest::newRow("given, no read") << QByteArray("noread") << true;
    }

    void deniedFolderKeepsThePrevious()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, given);
        QSignalSpy notified(Form2->DL, &FolderTreeView::changed);
        const std::string path = base_ + "/open/" + name.toStdString();
        const int row = rowFor(path);
        QVERIFY(row >= 0);
        BoxCatcher catcher;
        if (given)
            QVERIFY(!Form2->openGiven({path}));
        else
            openByKey(row);
        QCOMPARE(catcher.texts(), QStringList{given ? QStringLiteral("无法打开“%1”：权限不足").arg(QString::fromStdString(path))
                                                    : QStringLiteral("File access denied.")});
        QVERIFY(given || catcher.boxes()[0].icon == QMessageBox::Critical);
        QCOMPARE(notified.size(), 0);
        QCOMPARE(Form2->DL->folder(), base_ + "/open");
        QCOMPARE(Form2->workingFolder(), base_ + "/open");
        QCOMPARE(currentDir(), base_ + "/open");
    }

    void failedDriveChangeKeepsTheTree()
    {
        const std::string root = Form2->DL->mount();
        const std::string locked = base_ + "/open/locked";
        Form2->DC->populate({{root, ""}, {locked, ""}});
        Form2->DC->setFocus();
        BoxCatcher catcher;
        QTest::keyClick(Form2->DC, Qt::Key_Down);
        QCOMPARE(catcher.texts(), QStringList{QStringLiteral("File access denied.")});
        QCOMPARE(Form2->DC->drive(), locked);  // the chooser shows the new mount
        QCOMPARE(Form2->DC->currentIndex(), 1);
        QCOMPARE(Form2->DL->mount(), root);
        QCOMPARE(Form2->DL->folder(), base_ + "/open");
        QCOMPARE(Form2->workingFolder(), base_ + "/open");
        QCOMPARE(currentDir(), base_ + "/open");
        QTest::keyClick(Form2->DC, Qt::Key_Up);  // the tree's own mount: nothing
        QCOMPARE(catcher.boxes().size(), size_t(1));
        QCOMPARE(Form2->DL->folder(), base_ + "/open");
    }
};

int main(int argc, char** argv)
{
    const bool child = argc > 1 && std::strcmp(argv[1], kChildFlag) == 0;
    if (child && ::geteuid() == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            std::perror("dropping to an unprivileged user");
            return 2;
        }
    }
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    if (child) {
        DeniedFolderTest test;
        char* args[] = {argv[0], nullptr};
        return QTest::qExec(&test, 1, args);
    }
    ImportWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_gui_import.moc"
