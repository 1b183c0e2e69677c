// The main window as a user meets it: layout, initial states, the radio set,
// the menu keys, the two message boxes and the end of the run.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QToolTip>

#include "common/layout.h"
#include "common/messages.h"
#include "testutil/windows.h"

using namespace vemlo;
using namespace vemlo::test;

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(showMainWindow());
    }

    void startsWithCaptionsAndOneEmptyRow()
    {
        QVERIFY(Form1->isVisible());
        QVERIFY(!Form2->isVisible());
        QCOMPARE(Form1->windowTitle(), QStringLiteral("文件管理器Vemlo"));
        QCOMPARE(tableRows(), 2);
        const char* captions[] = {"位置", "文件名", "格式", "大小/B", "修改时间", "创建时间", "属性"};
        for (int c = 0; c < 7; ++c) {
            QCOMPARE(tableText(0, c), std::string(captions[c]));
            QCOMPARE(tableText(1, c), std::string());
            QCOMPARE(Form1->strgrdM->model()->headerData(c, Qt::Horizontal).toString(),
                     QString::fromUtf8(captions[c]));
        }
        QVERIFY(Form1->chk3->isChecked() && Form1->chk5->isChecked());
        QVERIFY(!Form1->chk1->isChecked() && !Form1->chk2->isChecked() && !Form1->chk4->isChecked());
        QVERIFY(Form1->rbh->isChecked());
        QCOMPARE(Form1->cbbspara->currentText(), QStringLiteral("文件名"));
        QCOMPARE(Form1->cbbfilterate->currentText(), QStringLiteral("文件名"));
        QCOMPARE(Form1->cbbspara->count(), 4);
        QCOMPARE(Form1->lst->count(), 0);
        QCOMPARE(Form1->lstsort->count(), 0);
        QCOMPARE(Form1->N7->shortcut().toString(QKeySequence::NativeText), QStringLiteral("Ctrl+Alt+S"));
    }

    void layoutIsFixedAndScaled()
    {
        const Scale s(Form1->font());
        // The grid and the four groups lie beside each other within the
        // window, and every control of a group that takes input lies whole
        // inside it (a caption may be cut off by its frame).
        const QRect window = Form1->centralWidget()->rect();
        const std::vector<QWidget*> blocks = {Form1->strgrdM, Form1->grp1, Form1->grp2, Form1->grp3,
                                              Form1->grp4};
        for (QWidget* b : blocks) {
            QVERIFY2(window.contains(b->geometry()), qPrintable(b->objectName()));
            for (QWidget* other : blocks)
                QVERIFY2(other == b || !b->geometry().intersects(other->geometry()),
                         qPrintable(b->objectName() + u' ' + other->objectName()));
            if (b == Form1->strgrdM)
                continue;
            for (QWidget* w : b->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                QVERIFY2(qobject_cast<QLabel*>(w) ||
                             QRect(QPoint(0, 0), b->size()).contains(w->geometry()),
                         qPrintable(w->objectName()));
        }
        // The captions fit their columns and the rows their text.
        const QHeaderView* header = Form1->strgrdM->horizontalHeader();
        const QFontMetrics metrics(header->font());
        for (int c = 0; c < 7; ++c) {
            const QString caption = Form1->table()->headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
            QVERIFY2(header->sectionSize(c) >= metrics.horizontalAdvance(caption), qPrintable(caption));
        }
        QVERIFY(Form1->strgrdM->verticalHeader()->defaultSectionSize() >=
                QFontMetrics(Form1->strgrdM->font()).ascent());

        // Resizing moves and stretches nothing.
        const QRect before = Form1->btnanagrid->geometry();
        const QRect grid = Form1->strgrdM->geometry();
        Form1->resize(Form1->width() * 2, Form1->height() * 2);
        QApplication::processEvents();
        QCOMPARE(Form1->btnanagrid->geometry(), before);
        QCOMPARE(Form1->strgrdM->geometry(), grid);
        Form1->resize(Form1->width() / 2, Form1->height() / 2);

        // A window smaller than the design cuts the controls off where they stand.
        const QSize designed = Form1->size();
        Form1->resize(s(300), s(150));
        QApplication::processEvents();
        QCOMPARE(Form1->size(), QSize(s(300), s(150)));
        QVERIFY(Form1->centralWidget()->width() < Form1->grp4->geometry().right());
        QCOMPARE(Form1->btnanagrid->geometry(), before);
        QCOMPARE(Form1->strgrdM->geometry(), grid);
        Form1->resize(designed);
    }

    void everyFrameIsNamedByItsOwnCaption()
    {
        const auto frames = Form1->findChildren<QGroupBox*>();
        QCOMPARE(frames.size(), 6);  // four groups, two radio-group frames
        for (QGroupBox* g : frames) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(g);
            QVERIFY(a);
            QCOMPARE(a->text(QAccessible::Name), g->title());
        }
    }

    void longCellsAreClippedWithTheirTextInATooltip()
    {
        QCOMPARE(Form1->strgrdM->textElideMode(), Qt::ElideNone);
        const std::string longName = "a-name-far-wider-than-its-column.jpeg";
        Form1->table()->setText(1, 1, longName);
        Form1->table()->setText(1, 2, "jpg");
        auto tooltipAt = [](int col) {
            QTableView* grid = Form1->strgrdM;
            const QRect cell = grid->visualRect(Form1->table()->index(0, col));
            QHelpEvent help(QEvent::ToolTip, cell.center(), grid->viewport()->mapToGlobal(cell.center()));
            QApplication::sendEvent(grid->viewport(), &help);
            const QString text = QToolTip::isVisible() ? QToolTip::text() : QString();
            QToolTip::hideText();
            QTest::qWaitFor([] { return !QToolTip::isVisible(); });
            return text;
        };
        QCOMPARE(tooltipAt(1), QString::fromStdString(longName));
        QCOMPARE(tooltipAt(2), QString());  // shown whole: no tooltip
        Form1->table()->setText(1, 1, "");
        Form1->table()->setText(1, 2, "");
    }

    void tabOrderFollowsTheGroups()
    {
        // Next focusable controls after the grid, as Tab visits them.
        QList<QWidget*> seen;
        QWidget* w = Form1->strgrdM;
        for (int i = 0; i < 12; ++i) {
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus) || !w->isVisibleTo(Form1) ||
                   qobject_cast<QComboBox*>(w->parentWidget()));
            seen << w;
        }
        const QList<QWidget*> expected = {Form1->btnsort,   Form1->cbbspara,      Form1->lstsort,
                                          Form1->edtsortadd, Form1->btnsortadd, Form1->btnsortremove,
                                          Form1->btnsortclear, Form1->btnrename, Form1->edtrnbase,
                                          Form1->btnrn,     Form1->chk1,          Form1->chk2};
        QCOMPARE(seen, expected);
    }

    void keywordListsMarkTheFocus()
    {
        QVERIFY(focusIsMarked(Form1->lstsort, Form1->edtsortadd));
        QVERIFY(focusIsMarked(Form1->lst, Form1->edtfilterate));
    }

    void fourRadioButtonsFormOneSet()
    {
        QRadioButton* all[] = {Form1->rbcircle, Form1->rbrect, Form1->rbh, Form1->rbv};
        auto onCount = [&] { return std::count_if(std::begin(all), std::end(all),
                                                  [](QRadioButton* b) { return b->isChecked(); }); };
        for (QRadioButton* b : {Form1->rbcircle, Form1->rbh, Form1->rbrect, Form1->rbv, Form1->rbh}) {
            QTest::mouseClick(b, Qt::LeftButton);
            QVERIFY(b->isChecked());
            QCOMPARE(onCount(), 1);
        }
        QVERIFY(Form1->rbh->isChecked());
    }

    void gridTakesNoTyping()
    {
        Form1->table()->setText(1, 1, "keep");
        Form1->strgrdM->setFocus();
        Form1->strgrdM->setCurrentIndex(Form1->table()->index(0, 1));
        QTest::keyClicks(Form1->strgrdM, "typed");
        QTest::keyClick(Form1->strgrdM, Qt::Key_F2);
        QTest::keyClicks(Form1->strgrdM, "more");
        QTest::keyClick(Form1->strgrdM, Qt::Key_Return);
        QCOMPARE(tableText(1, 1), std::string("keep"));
        Form1->table()->setText(1, 1, "");
    }

    void menuKeysAreTakenByTheMenu_data()
    {
        QTest::addColumn<QString>("actionName");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        const int ctrl = Qt::ControlModifier, ctrlAlt = Qt::ControlModifier | Qt::AltModifier;
        QTest::newRow("Ctrl+O") << "N4" << int(Qt::Key_O) << ctrl;
        QTest::newRow("Ctrl+S") << "N6" << int(Qt::Key_S) << ctrl;
        QTest::newRow("Ctrl+Alt+S") << "N7" << int(Qt::Key_S) << ctrlAlt;
        QTest::newRow("Ctrl+Alt+F") << "N1Key" << int(Qt::Key_F) << ctrlAlt;
        QTest::newRow("Ctrl+Alt+E") << "N2Key" << int(Qt::Key_E) << ctrlAlt;
        QTest::newRow("Ctrl+Alt+X") << "N3Key" << int(Qt::Key_X) << ctrlAlt;
    }

    void menuKeysAreTakenByTheMenu()
    {
        QFETCH(QString, actionName);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        auto* action = Form1->findChild<QAction*>(actionName);
        QVERIFY(action);
        QSignalSpy spy(action, &QAction::triggered);
        Form1->activateWindow();
        Form1->edtrnbase->setText(QStringLiteral("abc"));
        Form1->edtrnbase->setFocus();
        const int rows = tableRows();
        QTest::keyClick(Form1->edtrnbase, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(spy.size(), 1);
        QCOMPARE(Form1->edtrnbase->text(), QStringLiteral("abc"));
        QCOMPARE(tableRows(), rows);
        QVERIFY(!Form2->isVisible());
        Form1->edtrnbase->clear();
    }

    void ctrlIShowsTheOneImportWindow()
    {
        Form1->activateWindow();
        Form1->edtsortadd->setFocus();
        QTest::keyClick(Form1->edtsortadd, Qt::Key_I, Qt::ControlModifier);
        QVERIFY(Form2->isVisible());
        QCOMPARE(Form1->edtsortadd->text(), QString());
        // Again, from the import window itself.
        Form2->activateWindow();
        QTest::keyClick(Form2, Qt::Key_I, Qt::ControlModifier);
        QVERIFY(Form2->isVisible());
        int importWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            importWindows += w->inherits("TForm2");
        QCOMPARE(importWindows, 1);
        Form2->close();  // hides it; the run goes on
        QVERIFY(!Form2->isVisible());
        QVERIFY(Form1->isVisible());
    }

    void errorDisplayAddsAFullStop_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "File access denied" << "File access denied.";
        QTest::newRow("digit") << "I/O error 5" << "I/O error 5.";
        QTest::newRow("chinese") << "出错" << "出错.";
        QTest::newRow("full stop") << "Done." << "Done.";
        QTest::newRow("bang") << "Excel调用出错！" << "Excel调用出错！.";
        QTest::newRow("ascii bang") << "Stop!" << "Stop!";
        QTest::newRow("blank") << "trailing " << "trailing ";
        QTest::newRow("comma") << "a," << "a,";
        QTest::newRow("dash") << "a-" << "a-";
        QTest::newRow("empty") << "" << "";
    }

    void errorDisplayAddsAFullStop()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        BoxCatcher catcher;
        guarded([&] { throw VemloError(text); });
        QCOMPARE(catcher.boxes().size(), size_t(1));
        const SeenBox& box = catcher.boxes().front();
        QCOMPARE(box.text, shown);
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.title, appTitle());
        QCOMPARE(box.buttons, QStringList{QStringLiteral("OK")});
    }

    void showMessageHasTitleAndOneOk()
    {
        BoxCatcher catcher;
        ShowMessage(QStringLiteral("整理完毕"));
        QCOMPARE(catcher.texts(), QStringList{QStringLiteral("整理完毕")});
        QCOMPARE(catcher.boxes().front().icon, QMessageBox::NoIcon);
        QCOMPARE(catcher.boxes().front().buttons, QStringList{QStringLiteral("OK")});
        QCOMPARE(catcher.boxes().front().title, appTitle());
    }

    void titleComesFromTheProgramName_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << "vemlo" << "vemlo";
        QTest::newRow("upper with suffix") << "VEMLO.exe" << "Vemlo";
        QTest::newRow("several dots") << "My.Tool.bin" << "My";
        QTest::newRow("one letter") << "V" << "V";
    }

    void titleComesFromTheProgramName()
    {
        QFETCH(QString, file);
        QFETCH(QString, title);
        QCOMPARE(titleFromFileName(file), title);
    }

    // Last: closing the main window ends the run, also with the import window shown.
    void closingTheMainWindowEndsTheRun()
    {
        Form1->N8Click(Form1);
        QVERIFY(Form2->isVisible());
        QApplication::setQuitOnLastWindowClosed(false);
        QTimer::singleShot(50, Form1, [] { Form1->close(); });
        bool timedOut = false;
        QTimer watchdog;  // gone with this function, and its call with it
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [&] { timedOut = true; QCoreApplication::exit(1); });
        watchdog.start(5000);
        const int status = QCoreApplication::exec();
        QVERIFY(!timedOut);
        QCOMPARE(status, 0);
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_gui_main.moc"
