// The test main that runs one part of a long program's functions: every function in exactly
// one part, whatever the count.

#include "testmain.h"

#include <QSet>
#include <QTest>

using namespace veltra::test;

// What Qt Test would run of this class: a, b, c, d; not the rest.
class Sample : public QObject
{
    Q_OBJECT
public slots:
    void notATest() {}

private slots:
    void initTestCase() {}
    void init() {}
    void a() {}
    void b_data() {}
    void b() {}
    void takesAnArgument(int) {}
    int returnsAValue() { return 0; }
    void c() {}
    void cleanup() {}
    void cleanupTestCase() {}
    void d() {}
};

class TestTestMain : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void functionsAsQtTestRunsThem();
    void everyFunctionInExactlyOnePart();
};

void TestTestMain::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("index"); // -1: refused
    QTest::addColumn<int>("count");
    QTest::newRow("first of three") << QByteArray("0/3") << 0 << 3;
    QTest::newRow("last of three") << QByteArray("2/3") << 2 << 3;
    QTest::newRow("the only part") << QByteArray("0/1") << 0 << 1;
    QTest::newRow("index past the parts") << QByteArray("3/3") << -1 << 0;
    QTest::newRow("no parts") << QByteArray("0/0") << -1 << 0;
    QTest::newRow("negative") << QByteArray("-1/3") << -1 << 0;
    QTest::newRow("blank") << QByteArray(" 1/3") << -1 << 0;
    QTest::newRow("no slash") << QByteArray("13") << -1 << 0;
    QTest::newRow("no count") << QByteArray("1/") << -1 << 0;
    QTest::newRow("another form") << QByteArray("1of3") << -1 << 0;
    QTest::newRow("too large") << QByteArray("0/99999999999") << -1 << 0;
}

void TestTestMain::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(int, index);
    QFETCH(int, count);
    const std::optional<Shard> shard = parseShard(text);
    QCOMPARE(shard.has_value(), index >= 0);
    if (shard) {
        QCOMPARE(shard->index, index);
        QCOMPARE(shard->count, count);
    }
}

void TestTestMain::functionsAsQtTestRunsThem()
{
    QCOMPARE(testFunctions(Sample::staticMetaObject), (QStringList{"a", "b", "c", "d"}));
    QCOMPARE(testFunctions(staticMetaObject),
             (QStringList{"parse", "functionsAsQtTestRunsThem", "everyFunctionInExactlyOnePart"}));
}

void TestTestMain::everyFunctionInExactlyOnePart()
{
    for (int functions = 0; functions <= 7; ++functions) {
        QStringList all;
        for (int i = 0; i < functions; ++i)
            all << QStringLiteral("f%1").arg(i);
        for (int count = 1; count <= 8; ++count) {
            QStringList joined;
            for (int index = 0; index < count; ++index) {
                const QStringList part = shardFunctions(all, {index, count});
                QVERIFY(part.size() <= (functions + count - 1) / count);
                joined += part;
            }
            QCOMPARE(QSet<QString>(joined.begin(), joined.end()).size(), joined.size());
            joined.sort();
            QStringList sorted = all;
            sorted.sort();
            QCOMPARE(joined, sorted);
        }
    }
}

QTEST_APPLESS_MAIN(TestTestMain)
#include "tst_testmain.moc"
