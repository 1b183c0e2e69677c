// Start-up as the program does it, in a locale without Chinese: Qt's own
// dialogs speak Chinese, our message boxes keep their buttons, and both
// windows carry the one 32 px, 16-colour icon.
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QToolButton>

#include <array>
#include <cstdlib>
#include <functional>

#include "common/layout.h"
#include "common/messages.h"
#include "app/startup.h"
#include "app/chartwindow.h"
#include "testutil/windows.h"

using namespace vemlo::test;

namespace {

// Every text a user reads in the dialog: title, labels, buttons, tool tips.
QStringList dialogTexts(QFileDialog* d)
{
    QStringList texts{d->windowTitle()};
    for (QLabel* l : d->findChildren<QLabel*>())
        if (l->isVisible() && !l->text().isEmpty())
            texts << l->text();
    for (QAbstractButton* b : d->findChildren<QAbstractButton*>()) {
        if (!b->isVisible())
            continue;
        if (!b->text().isEmpty())
            texts << b->text();
        if (!b->toolTip().isEmpty())
            texts << b->toolTip();
    }
    return texts;
}

}  // namespace

class StartupTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { createFormsOnce(); }

    void saveDialogSpeaksChinese()
    {
        vemlo::RowStore rows(1);
        rows.emplace_back(std::array<std::string_view, 7>{"/w/a.txt", "a.txt", "txt", "5", "", "", "32"});
        Form1->table()->replaceDataRows(std::move(rows));
        TempDir dir;
        Form2->setWorkingFolder(dir.path());
        QVERIFY(clickAndCatch(Form1->btnanagraph).empty());
        const auto charts = Form1->findChildren<vemlo::ChartWindow*>();
        QCOMPARE(charts.size(), 1);

        QStringList texts;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                texts = dialogTexts(d);
                d->reject();
            }
        });
        poll.start(10);
        QTest::mouseClick(charts[0]->btnSaveAs, Qt::LeftButton);
        poll.stop();
        delete charts[0];

        QVERIFY2(!texts.isEmpty(), "no file dialog opened");
        QCOMPARE(texts.front(), QStringLiteral("另存为"));
        for (const char* chinese : {"查找范围：", "文件名称(&N)：", "文件类型：", "保存(&S)", "取消", "后退",
                                    "新建文件夹"})
            QVERIFY2(texts.contains(QString::fromUtf8(chinese)), qPrintable(texts.join(u'|')));
        // Nothing left in English: every text has Chinese in it.
        static const QRegularExpression han(QStringLiteral("\\p{Han}"));
        for (const QString& t : texts)
            QVERIFY2(t.contains(han), qPrintable(t));
    }

    void messageBoxesKeepTheirButtons_data()
    {
        QTest::addColumn<std::function<void()>>("show");
        QTest::addColumn<QStringList>("buttons");
        QTest::newRow("ShowMessage") << std::function<void()>([] { vemlo::ShowMessage(QStringLiteral("整理完毕")); })
                                     << QStringList{QStringLiteral("OK")};
        QTest::newRow("error display")
            << std::function<void()>([] { vemlo::showErrorBox(QStringLiteral("x")); }) << QStringList{"OK"};
        QTest::newRow("warning") << std::function<void()>([] { vemlo::showWarningBox(QStringLiteral("x")); })
                                 << QStringList{"OK"};
        QTest::newRow("question") << std::function<void()>([] { vemlo::askYesNo(QStringLiteral("x")); })
                                  << QStringList{QStringLiteral("是"), QStringLiteral("否")};
    }

    void messageBoxesKeepTheirButtons()
    {
        QFETCH(std::function<void()>, show);
        QFETCH(QStringList, buttons);
        BoxCatcher catcher;
        show();
        QCOMPARE(catcher.boxes().size(), size_t(1));
        QCOMPARE(catcher.boxes()[0].buttons, buttons);
    }

    // vemlo [FOLDER]: the folder is listed as 导入 lists it, named as given
    // (absolute, links kept), the tree and the chooser on it; bad input is
    // told in one box and changes nothing.
    void commandLineListsTheFolder_data()
    {
        QTest::addColumn<QByteArrayList>("args");
        QTest::addColumn<QByteArray>("shown");  // below the start folder; "-" for nothing
        QTest::addColumn<QString>("box");
        auto row = [](const char* name, QByteArrayList args, const char* shown, const char* box = "") {
            QTest::newRow(name) << args << QByteArray(shown) << QString::fromUtf8(box);
        };
        row("relative", {"照片"}, "/照片");
        row("absolute, dots and slashes", {"<start>/照片/../照片//./"}, "/照片");
        row("a file: its folder", {"照片/a.jpg"}, "/照片");
        row("not UTF-8", {"\xff\xfe"}, "/\xff\xfe");
        row("through a link, not resolved", {"link"}, "/link");
        row("a link, then ..: where the link leads", {"deep/.."}, "/deep/..");
        row("a name after --", {"--", "-x"}, "/-x");
        row("restarted by the session manager", {"-session", "1f2e", "照片"}, "/照片");
        row("missing", {"nothing"}, "-", "无法打开“nothing”：文件不存在");
        row("two paths", {"照片", "--", "-x"}, "-", "只能打开一个文件夹，命令行却给出了 2 个：“照片”、“-x”");
        row("unknown option", {"-x", "照片"}, "-", "不认识的选项：“-x”");
        row("Qt's own option", {"-platform", "xcb"}, "-", "不认识的选项：“-platform”");
    }

    void commandLineListsTheFolder()
    {
        QFETCH(QByteArrayList, args);
        QFETCH(QByteArray, shown);
        QFETCH(QString, box);
        TempDir dir;
        const std::string start = canonicalPath(dir.path());
        makeEntries(start, {"照片/", "照片/a.jpg", "照片/inner/", "\xff\xfe/", "\xff\xfe/b", "-x/"});
        QVERIFY(::symlink("照片", (start + "/link").c_str()) == 0);
        QVERIFY(::symlink("照片/inner", (start + "/deep").c_str()) == 0);
        QVERIFY(::chdir(start.c_str()) == 0);
        // The table and the path box as bad input must leave them.
        Form2->setWorkingFolder("/before");
        Form1->table()->setTableRows(1);
        args.prepend("vemlo");
        std::vector<char*> argv;
        for (QByteArray& a : args)
            argv.push_back(a.replace("<start>", QByteArray::fromStdString(start)).data());

        BoxCatcher catcher;
        vemlo::openCommandLine(vemlo::readCommandLine(int(argv.size()), argv.data()));
        QCOMPARE(catcher.boxes().size(), size_t(box.isEmpty() ? 0 : 1));
        if (shown == "-") {
            QVERIFY2(catcher.texts()[0].startsWith(box), qPrintable(catcher.texts()[0]));
            QCOMPARE(Form2->workingFolder(), std::string("/before"));
            QCOMPARE(tableRows(), 1);
            return;
        }
        const std::string folder = start + shown.toStdString();
        QCOMPARE(Form2->workingFolder(), folder);
        QCOMPARE(Form2->DL->folder(), canonicalPath(folder));
        QCOMPARE(Form2->DC->drive(), Form2->DL->mount());
        std::vector<std::string> expected;
        for (const std::string& name : listNames(folder))
            expected.push_back(folder + "/" + name);
        QCOMPARE(sorted(column(0)), expected);
    }

    void windowIconIsOne32PixelImageIn16Colours()
    {
        const QIcon icon = vemlo::appIcon();
        QCOMPARE(icon.availableSizes(), QList<QSize>{QSize(32, 32)});
        const QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
        QSet<QRgb> colours;
        int opaque = 0;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const QRgb p = image.pixel(x, y);
                QVERIFY(qAlpha(p) == 0 || qAlpha(p) == 255);
                if (qAlpha(p) == 255) {
                    ++opaque;
                    colours.insert(p);
                }
            }
        QVERIFY(colours.size() >= 4 && colours.size() <= 16);
        QVERIFY(opaque > 400 && opaque < 32 * 32);
        for (QWidget* w : {static_cast<QWidget*>(Form1), static_cast<QWidget*>(Form2)})
            QCOMPARE(w->windowIcon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32), image);
    }
};

int main(int argc, char** argv)
{
    // A locale without Chinese: the translations must not depend on it.
    setenv("LANG", "C.UTF-8", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    unsetenv("LANGUAGE");
    QApplication app(argc, argv);
    vemlo::prepareApplication(app);
    StartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_gui_startup.moc"
