// Moves that never replace, on real files: the way taken where the file
// system refuses RENAME_NOREPLACE, called directly, with paths relative to
// folder descriptors as organize uses them.
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fileops.h"
#include "testutil/files.h"

using namespace vemlo;
using namespace vemlo::test;

namespace {

// Makes an entry of kind ("file", "empty folder", "full folder", "link") at path.
void make(const std::string& kind, const std::string& path, const std::string& tag)
{
    if (kind == "file") {
        writeFile(path, tag);
    } else if (kind == "link") {
        QCOMPARE(::symlink(("elsewhere-" + tag).c_str(), path.c_str()), 0);
    } else if (kind != "nothing") {
        QCOMPARE(::mkdir(path.c_str(), 0755), 0);
        if (kind == "full folder")
            writeFile(path + "/inner", tag);
    }
}

}  // namespace

class MovesTest : public QObject {
    Q_OBJECT
private slots:
    void fallbackNeverReplaces_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("err");
        // What the caller says the source is: nothing, or a kind that may be
        // wrong (the entry changed since it was listed).
        QTest::addColumn<int>("told");
        const char* toldNames[] = {"", ", told a file", ", told a folder"};
        for (int told : {0, 1, 2}) {
            for (const char* s : {"full folder", "empty folder", "file", "link"}) {
                QTest::addRow("%s onto nothing%s", s, toldNames[told]) << s << "nothing" << 0 << told;
                for (const char* t : {"empty folder", "full folder", "file", "link"})
                    QTest::addRow("%s onto %s%s", s, t, toldNames[told]) << s << t << EEXIST << told;
            }
        }
    }

    void fallbackNeverReplaces()
    {
        QFETCH(QString, source);
        QFETCH(QString, target);
        QFETCH(int, err);
        QFETCH(int, told);
        TempDir tmp;
        const std::string a = tmp.path() + "/a", b = tmp.path() + "/b";
        QCOMPARE(::mkdir(a.c_str(), 0755), 0);
        QCOMPARE(::mkdir(b.c_str(), 0755), 0);
        make(source.toStdString(), a + "/src", "source");
        make(target.toStdString(), b + "/dst", "target");
        const std::string src = describe(a + "/src"), dst = describe(b + "/dst");
        fs::FileDescriptor fa(::open(a.c_str(), O_PATH | O_DIRECTORY)),
            fb(::open(b.c_str(), O_PATH | O_DIRECTORY));

        QCOMPARE(fs::moveNoReplaceFallback(fa.get(), "src", fb.get(), "dst", fs::EntryKind(told)).err,
                 err);
        if (err == 0) {
            QCOMPARE(describe(a + "/src"), std::string());
            QCOMPARE(describe(b + "/dst"), src);
        } else {
            QCOMPARE(describe(a + "/src"), src);
            QCOMPARE(describe(b + "/dst"), dst);
        }
        QCOMPARE(listNames(b), (std::vector<std::string>{"dst"}));
    }

    // A folder moved into itself fails and leaves no placeholder behind.
    void fallbackFolderIntoItself()
    {
        TempDir tmp;
        const std::string src = tmp.path() + "/src";
        make("full folder", src, "source");
        const std::string before = describe(src);
        fs::FileDescriptor inner(::open(src.c_str(), O_PATH | O_DIRECTORY));
        QCOMPARE(fs::moveNoReplaceFallback(AT_FDCWD, src.c_str(), inner.get(), "x").err, EINVAL);
        QCOMPARE(describe(src), before);
    }
};

QTEST_MAIN(MovesTest)
#include "test_moves.moc"
