// The site file: a plant's relays as a spreadsheet saves them, every problem named by line and
// column before anything could be sent.

#include "file/sjis.h"
#include "knownfile.h"
#include "site/sitefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace veltra;

class TestSiteFile : public QObject
{
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void quotedFields();
};

namespace {

const QByteArray kHeader = "名称,場所,ポート,局番号,設定ファイル\r\n";

QByteArray utf8(const char *text)
{
    return QByteArray(text);
}

} // namespace

void TestSiteFile::read_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("tags");     // the relays read, in file order
    QTest::addColumn<QStringList>("problems"); // line<TAB>column<TAB>problem

    const QStringList none;
    QTest::newRow("two relays, CRLF, a column of our own kept out of the way")
        << kHeader.chopped(2) + ",備考\r\nA1,盤1,COM3,014,good.DT,新設\r\n"
                                "A2,,socket://gw1:4001,255,sub/good.DT,\r\n"
        << QStringList{"A1", "A2"} << none;
    QTest::newRow("columns in another order, LF, a BOM")
        << "\xEF\xBB\xBF" +
               utf8("設定ファイル,局番号,ポート,名称\nGOOD.DT,000,rfc2217://gw1:4002,B\n")
                   .replace("GOOD", "good")
        << QStringList{"B"} << none;
    QTest::newRow("Shift-JIS, as a Japanese spreadsheet saves it")
        << *encodeShiftJis(QString::fromUtf8(kHeader + "盤Ａ,電気室,COM4,1,good.DT\r\n"))
        << QStringList{"盤Ａ"} << none;
    QTest::newRow("blank lines are no rows") << kHeader + "\r\nA1,,COM4,1,good.DT\r\n\r\n"
                                             << QStringList{"A1"} << none;
    QTest::newRow("missing columns, each named")
        << utf8("名称,ポート\r\nA1,COM4\r\n") << none
        << QStringList{"1\t局番号\t列がありません", "1\t設定ファイル\t列がありません"};
    QTest::newRow("a duplicate tag names its first line")
        << kHeader + "A1,,COM4,1,good.DT\r\nA1,,COM5,2,good.DT\r\n"
        << QStringList{"A1"} << QStringList{"3\t名称\t2 行目と同じ名称です"};
    QTest::newRow("stations outside 000..255, and no tag")
        << kHeader + "A1,,COM4,256,good.DT\r\nA2,,COM4,-1,good.DT\r\n"
                     ",,COM4,1,good.DT\r\n"
        << none
        << QStringList{"2\t局番号\t局番号は 000～255 です: \"256\"",
                       "3\t局番号\t局番号は 000～255 です: \"-1\"", "4\t名称\t名称がありません"};
    QTest::newRow("ports that name nothing")
        << kHeader +
               "A1,,,1,good.DT\r\nA2,,socket://gw1,1,good.DT\r\nA3,,ftp://gw1:21,1,good.DT\r\n"
        << none
        << QStringList{"2\tポート\tポートを指していません: \"\"",
                       "3\tポート\tポートを指していません: \"socket://gw1\"",
                       "4\tポート\tポートを指していません: \"ftp://gw1:21\""};
    QTest::newRow("design files missing, not settings files, or with circuits swapped")
        << kHeader + "A1,,COM4,1,\r\nA2,,COM4,1,gone.DT\r\n"
                     "A3,,COM4,1,notes.txt\r\nA4,,COM4,1,swapped.DT\r\n"
        << QStringList{"A1!", "A2!", "A3!", "A4!"}
        << QStringList{
               "2\t設定ファイル\t設定ファイルの指定がありません",
               "3\t設定ファイル\t設定ファイルがありません: gone.DT",
               "4\t設定ファイル\t設定ファイルを確認できません: 設定ファイルではありません",
               "5\t設定ファイル\t設定ファイルを確認できません: 回路１ の行が位置と合いません"};
    QTest::newRow("a row longer than the header")
        << kHeader + "A1,,COM4,1,good.DT,extra\r\n"
        << none << QStringList{"2\t\t見出しより多い 6 個の欄があります"};
    QTest::newRow("a quote that never closes names the line it opens on")
        << kHeader + "A1,\"盤1,COM4,1,good.DT\r\nA2,,COM5,2,good.DT\r\n"
        << none << QStringList{"2\t\tこの行で始まる引用符が閉じていません"};
    QTest::newRow("an empty file")
        << QByteArray() << none << QStringList{"0\t\t見出しの行がありません"};
}

void TestSiteFile::read()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, tags);
    QFETCH(QStringList, problems);

    QTemporaryDir dir;
    const auto put = [&](const QString &name, const QByteArray &content) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    };
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("sub")));
    put(QStringLiteral("good.DT"), test::kKnownFile);
    put(QStringLiteral("sub/good.DT"), test::kKnownFile);
    put(QStringLiteral("notes.txt"), "not a settings file\r\n");
    QStringList swapped = test::kKnownLines;
    swapped.swapItemsAt(4, 5); // circuit 2's line where circuit 1's belongs
    put(QStringLiteral("swapped.DT"),
        *encodeShiftJis(swapped.join(QStringLiteral("\r\n")) + "\r\n"));
    put(QStringLiteral("plant.csv"), bytes);
    const QByteArray before = bytes;

    const SiteFile site = readSiteFile(dir.filePath(QStringLiteral("plant.csv")));
    QStringList read, found;
    for (const SiteRelay &relay : site.relays) // "!": listed only to show its design's problem
        read << relay.tag + (relay.designValid ? QString() : QStringLiteral("!"));
    for (const SiteProblem &problem : site.problems)
        found << QStringLiteral("%1\t%2\t%3")
                     .arg(problem.line)
                     .arg(problem.column, siteProblemText(problem));
    QCOMPARE(found, problems);
    QCOMPARE(read, tags);
    for (const SiteRelay &relay : site.relays)
        QVERIFY2(!relay.designValid || QFile::exists(relay.designPath),
                 qPrintable(relay.designPath));
    QFile file(dir.filePath(QStringLiteral("plant.csv")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before); // never rewritten
}

void TestSiteFile::quotedFields()
{
    int unterminated = 0;
    const auto records =
        parseCsv(QStringLiteral("a,\"b,\"\"c\"\"\",\"d\r\ne\"\r\n\r\nf\n"), &unterminated);
    QVERIFY(records);
    QCOMPARE(records->size(), 2);
    QCOMPARE(records->at(0).fields, (QStringList{"a", "b,\"c\"", "d\r\ne"}));
    QCOMPARE(records->at(1).line, 4); // the quoted line end counts
    QCOMPARE(records->at(1).fields, QStringList{"f"});
}

QTEST_GUILESS_MAIN(TestSiteFile)
#include "tst_sitefile.moc"
