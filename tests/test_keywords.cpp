// Keyword matching on bytes and the keyword checks of the organize command.
#include <QTest>

#include <random>

#include "app/core/keywords.h"
#include "platform/paths.h"

using namespace vemlo;
Q_DECLARE_METATYPE(NameProblem)

class KeywordLogicTest : public QObject {
    Q_OBJECT
private slots:
    void matchIsOnBytes_data()
    {
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<QByteArray>("keyword");
        QTest::addColumn<bool>("matches");
        QTest::newRow("inside") << QByteArray("cab.txt") << QByteArray("ab") << true;
        QTest::newRow("case differs") << QByteArray("C.JPG") << QByteArray("jpg") << false;
        QTest::newRow("empty keyword") << QByteArray("abc") << QByteArray() << false;
        QTest::newRow("longer than the cell") << QByteArray("ab") << QByteArray("abc") << false;
        QTest::newRow("whole cell") << QByteArray("报告") << QByteArray("报告") << true;
        // The last byte of 报 and the first of 告: a byte run, not a character.
        QTest::newRow("across two characters") << QByteArray("报告") << QByteArray("\xa5\xe5") << true;
        QTest::newRow("invalid UTF-8") << QByteArray("x\xff\xfey") << QByteArray("\xfe") << true;
    }

    void matchIsOnBytes()
    {
        QFETCH(QByteArray, cell);
        QFETCH(QByteArray, keyword);
        QFETCH(bool, matches);
        const std::string_view c(cell.constData(), size_t(cell.size()));
        const std::string k = keyword.toStdString();
        QCOMPARE(keywordMatches(c, k), matches);
        const KeywordSet set({k});
        QCOMPARE(set.anyMatch(c), matches);
        QCOMPARE(set.lastMatch(c), matches ? 0 : -1);
    }

    // The one-pass scan agrees with trying each keyword on its own, for short
    // and long cells and for lists with few first bytes (block at a time) and
    // many (byte at a time).
    void setAgreesWithOneByOne()
    {
        std::mt19937 random(7);
        const std::string alphabet("abcdefghij\xff\x80\0 ", 14);
        auto text = [&](size_t maxLength) {
            std::string s(random() % (maxLength + 1), ' ');
            for (char& ch : s)
                ch = alphabet[random() % (random() % 2 ? 3 : alphabet.size())];
            return s;
        };
        for (int round = 0; round < 2000; ++round) {
            std::vector<std::string> keywords(random() % 9);
            for (auto& k : keywords)
                k = text(3);
            const KeywordSet set(keywords);
            for (int c = 0; c < 20; ++c) {
                const std::string cell = text(40);
                int last = -1;
                for (size_t i = 0; i < keywords.size(); ++i)
                    if (keywordMatches(cell, keywords[i]))
                        last = int(i);
                QCOMPARE(set.lastMatch(cell), last);
                QCOMPARE(set.anyMatch(cell), last >= 0);
            }
        }
    }

    void keywordFolders_data()
    {
        QTest::addColumn<QByteArray>("keyword");
        QTest::addColumn<NameProblem>("problem");
        for (const char* ok : {"jpg", "a/b", "a//b/", "..a", "a..", "...", ".hidden", ""})
            QTest::newRow(ok) << QByteArray(ok) << NameProblem::None;
        for (const char* bad : {"..", ".", "./a", "a/..", "a/.", "a/./b"})
            QTest::newRow(bad) << QByteArray(bad) << NameProblem::DotPart;
        for (const char* bad : {"/", "//", "/etc"})
            QTest::newRow(bad) << QByteArray(bad) << NameProblem::Absolute;
        QTest::newRow("NUL byte") << QByteArray("a\0b", 3) << NameProblem::NulByte;
    }

    void keywordFolders()
    {
        QFETCH(QByteArray, keyword);
        QFETCH(NameProblem, problem);
        QCOMPARE(keywordFolderProblem(std::string_view(keyword.constData(), size_t(keyword.size()))), problem);
    }

    void lexicalContainment_data()
    {
        QTest::addColumn<QString>("inner");
        QTest::addColumn<QString>("outer");
        QTest::addColumn<bool>("within");
        QTest::newRow("same") << "/w/jpg" << "/w/jpg" << true;
        QTest::newRow("below, doubled slashes") << "/w//jpg/./sub" << "/w/jpg/" << true;
        QTest::newRow("sibling with a longer name") << "/w/jpgs" << "/w/jpg" << false;
        QTest::newRow("root gives two slashes") << "//jpg" << "/jpg" << true;
        QTest::newRow("relative and absolute") << "w/jpg" << "/w/jpg" << false;
    }

    void lexicalContainment()
    {
        QFETCH(QString, inner);
        QFETCH(QString, outer);
        QFETCH(bool, within);
        QCOMPARE(fs::isWithin(inner.toStdString(), outer.toStdString()), within);
    }
};

QTEST_GUILESS_MAIN(KeywordLogicTest)
#include "test_keywords.moc"
