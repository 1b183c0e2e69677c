// The reports at the end of organize, rename and attribute change: each
// reason in words, the count, ten names at most, names as display text.
#include <QTest>

#include <cerrno>

#include "app/reports.h"
#include "common/errtext.h"

using namespace vemlo;
using Kind = Failure::Kind;

Q_DECLARE_METATYPE(Failure)
Q_DECLARE_METATYPE(SaveOutcome)

class ReportsTest : public QObject {
    Q_OBJECT
private slots:
    void reasons_data()
    {
        QTest::addColumn<Failure>("failure");
        QTest::addColumn<QString>("line");
        QTest::newRow("taken name") << Failure{"b.txt", Kind::Io, EEXIST} << "b.txt：目标已存在";
        QTest::newRow("read-only file system, not permission")
            << Failure{"a.jpg", Kind::Io, EROFS} << "a.jpg：文件系统为只读";
        QTest::newRow("keyword folder not made")
            << Failure{"b.png", Kind::KeywordFolderNotMade, EROFS, "png"}
            << "b.png：无法创建整理文件夹“png”：文件系统为只读";
        QTest::newRow("into itself") << Failure{"jpg", Kind::IntoItself} << "jpg：不能移入自身";
        QTest::newRow("a file has the keyword folder's name")
            << Failure{"kw", Kind::KeywordFolderIsFile, ENOTDIR, "kw", "kw"}
            << "kw：已有与整理文件夹“kw”同名的文件，不移入";
        QTest::newRow("a file on the keyword folder's way")
            << Failure{"b.txt", Kind::KeywordFolderIsFile, ENOTDIR, "kw/sub", "kw"}
            << "b.txt：“kw”是文件，不能建立整理文件夹“kw/sub”，不移入";
        QTest::newRow("rename: both names")
            << Failure{"发票12.txt", Kind::Io, EEXIST, "", "", "票据 4.txt"} << "发票12.txt → 票据 4.txt：目标已存在";
        QTest::newRow("keyword folder is a link")
            << Failure{"kw1.txt", Kind::KeywordFolderIsLink, 0, "a/kw"}
            << "kw1.txt：整理文件夹“a/kw”是符号链接，不移入";
        QTest::newRow("behind a link")
            << Failure{"kw1.txt", Kind::KeywordFolderBehindLink, 0, "kw/sub", "kw"}
            << "kw1.txt：整理文件夹“kw/sub”位于符号链接“kw”之后，不移入";
        QTest::newRow("attributes of a link") << Failure{"l.txt", Kind::Attributes, ELOOP}
                                              << "l.txt：符号链接，属性不更改";
        QTest::newRow("attributes that cannot be kept")
            << Failure{"p0", Kind::Attributes, ENOTSUP} << "p0：此处不能保存隐藏、系统、存档或文件夹的只读属性";
        QTest::newRow("attributes, read-only file system")
            << Failure{"a.jpg", Kind::Attributes, EROFS} << "a.jpg：文件系统为只读";
        QTest::newRow("name that is not UTF-8") << Failure{"\xff.txt", Kind::Io, EEXIST} << "\uFFFD.txt：目标已存在";
        // Taking a batch back.
        QTest::newRow("undo: old name taken")
            << Failure{"x 1.jpg", Kind::NameTaken, 0, "", "", "a.jpg"} << "x 1.jpg → a.jpg：名称已被占用";
        QTest::newRow("undo: entry gone") << Failure{"x 2.jpg", Kind::Gone} << "x 2.jpg：已被移动或删除";
        QTest::newRow("undo: bits changed") << Failure{"a.jpg", Kind::AttribsChanged} << "a.jpg：属性已被改动";
        QTest::newRow("undo: folder gone")
            << Failure{"/mnt/w", Kind::FolderGone, ESTALE}
            << "/mnt/w：文件夹已被移动或删除（或其所在的共享已断开），其中的项目保持原样";
        QTest::newRow("not written to the disk") << Failure{"", Kind::NotSynced, EIO}
                                                 << "更改未能写入磁盘：读写设备出错";
    }

    void reasons()
    {
        QFETCH(Failure, failure);
        QFETCH(QString, line);
        FailureList list;
        list.add(failure);
        QCOMPARE(failureLines(list), "\n" + line);
    }

    // A failed save: the engine's or the check's fault in words, with the
    // reason of its errno where it has one.
    void saveFailures_data()
    {
        using Stage = SaveOutcome::Stage;
        using F = sheet::Fault::Kind;
        QTest::addColumn<SaveOutcome>("outcome");
        QTest::addColumn<QString>("why");
        QTest::newRow("scratch file") << SaveOutcome{Stage::Write, ENOSPC, {F::ScratchFile, ENOSPC}}
                                      << "无法在临时文件夹中建立文件：磁盘空间不足";
        QTest::newRow("closing, errno alone") << SaveOutcome{Stage::Write, EIO, {F::NotClosed, EIO}} << "读写设备出错";
        QTest::newRow("closing, the library's text")
            << SaveOutcome{Stage::Write, 0, {F::NotClosed, 0, "Error creating output xlsx file."}}
            << "Error creating output xlsx file.";
        QTest::newRow("cell") << SaveOutcome{Stage::Write, 0, {F::CellNotWritten, 0, "Parameter error.", 3, 2}}
                              << "单元格 (3, 2)：Parameter error.";
        QTest::newRow("read back")
            << SaveOutcome{Stage::Incomplete, 0, {F::MemberData, 0, "xl/styles.xml"}, "/tmp"}
            << "写入的文件不完整：成员“xl/styles.xml”的数据不完整（临时文件夹“/tmp”中的文件写入失败，可能是磁盘空间不足）";
    }

    void saveFailures()
    {
        QFETCH(SaveOutcome, outcome);
        QFETCH(QString, why);
        QCOMPARE(saveFailureText("/w/导出列表.xls", outcome), "无法保存“/w/导出列表.xls”：" + why);
    }

    // Counts and the cut after ten names, for both report forms.
    void counts_data()
    {
        QTest::addColumn<int>("failed");
        QTest::addColumn<QString>("batch");     // failureReport, its first line
        QTest::addColumn<QString>("organize");  // organizeReport, its first two lines
        QTest::addColumn<int>("lines");         // of either report
        QTest::newRow("none") << 0 << "" << "整理完毕" << 1;
        QTest::newRow("one") << 1 << "有 1 个条目未能重命名：" << "整理完毕\n1 个项目未移动：" << 2;
        QTest::newRow("ten") << 10 << "有 10 个条目未能重命名：" << "整理完毕\n10 个项目未移动：" << 11;
        QTest::newRow("twelve") << 12 << "有 12 个条目未能重命名：" << "整理完毕\n12 个项目未移动：" << 12;
    }

    void counts()
    {
        QFETCH(int, failed);
        QFETCH(QString, batch);
        QFETCH(QString, organize);
        QFETCH(int, lines);
        BatchOutcome outcome;
        OrganizeResult result;
        for (int i = 0; i < failed; ++i) {
            outcome.failures.add({"f" + std::to_string(i), Kind::Io, EEXIST});
            result.notMoved.add({"f" + std::to_string(i), Kind::Io, EEXIST});
        }
        const QString report = failureReport(outcome, QStringLiteral("重命名"));
        QCOMPARE(report.section('\n', 0, 0), batch);
        const QString organized = organizeReport(result);
        QCOMPARE(organized.section('\n', 0, failed ? 1 : 0), organize);
        if (failed) {
            QCOMPARE(report.count('\n'), lines - 1);
            QCOMPARE(organized.count('\n'), lines);
            QCOMPARE(report.endsWith("另有 2 个未列出"), failed == 12);
            QCOMPARE(organized.section('\n', -1), report.section('\n', -1));
        }
    }
};

QTEST_GUILESS_MAIN(ReportsTest)
#include "test_reports.moc"
