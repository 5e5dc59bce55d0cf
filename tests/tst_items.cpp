#include "link/frames.h"
#include "operations/messages.h"
#include "settings/decode.h"
#include "settings/items.h"

#include <QMetaEnum>
#include <QRegularExpression>

#include <QTest>

using namespace veltra;

class TestItems : public QObject
{
    Q_OBJECT
private slots:
    void everyOutcomeHasItsMeaning();
    void codeOfText_data();
    void codeOfText();
    void textOfCode_data();
    void textOfCode();
    void everyListEntryRoundTrips();
    void listsHaveNoPlaceholder();
    void commonScreenOrderSwapsItemsOneAndTwo();
};

void TestItems::codeOfText_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code"); // -1: no code

    const int common = int(PageKind::Common), circuit = int(PageKind::Circuit);
    QTest::newRow("first entry") << common << 0 << "50Hz" << 0;
    QTest::newRow("last entry") << circuit << 4 << "2.0(秒)" << 11;
    QTest::newRow("auto is 0 on item 1") << common << 1 << "自動" << 0;
    QTest::newRow("manual is 1 on item 2") << common << 2 << "手動" << 1;
    QTest::newRow("manual is 1 on item 3") << common << 3 << "手動" << 1;
    QTest::newRow("100mA is code 15") << circuit << 1 << "100(mA)" << 15;
    QTest::newRow("lock is code 0") << circuit << 0 << "ﾛｯｸ" << 0;
    QTest::newRow("phi variant") << circuit << 0 << "3φ3Dw" << 5;
    QTest::newRow("station 001") << common << 6 << "001" << 1;
    QTest::newRow("station 128") << common << 6 << "128" << 128;
    QTest::newRow("station 000 from relay") << common << 6 << "000" << 0;
    QTest::newRow("station 255 from relay") << common << 6 << "255" << 255;
    QTest::newRow("station 256") << common << 6 << "256" << -1;
    QTest::newRow("station two digits") << common << 6 << "12" << -1;
    QTest::newRow("placeholder") << circuit << 0 << "* * * *" << -1;
    QTest::newRow("ERROR") << circuit << 0 << "ERROR" << -1;
    QTest::newRow("trailing blank") << circuit << 0 << "ﾛｯｸ " << -1;
    QTest::newRow("full-width katakana") << circuit << 0 << "ロック" << -1;
    QTest::newRow("leak 1.1A is write-only") << circuit << 3 << "1.1(A)" << -1;
    QTest::newRow("item past the end") << circuit << 5 << "50Hz" << -1;
}

void TestItems::codeOfText()
{
    QFETCH(int, kind);
    QFETCH(int, item);
    QFETCH(QString, text);
    QFETCH(int, code);
    const auto found = veltra::codeOfText(PageKind(kind), item, text);
    QCOMPARE(found.value_or(-1), code);
}

void TestItems::textOfCode_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    const int common = int(PageKind::Common), circuit = int(PageKind::Circuit);
    QTest::newRow("code 0") << circuit << 1 << 0 << "ﾛｯｸ";
    QTest::newRow("last code") << circuit << 1 << 15 << "100(mA)";
    QTest::newRow("last + 1") << circuit << 1 << 16 << "ERROR";
    QTest::newRow("leak sens last") << circuit << 3 << 9 << "1.0(A)";
    QTest::newRow("leak sens 10") << circuit << 3 << 10 << "ERROR";
    QTest::newRow("insulation delay 5") << circuit << 2 << 5 << "ERROR";
    QTest::newRow("negative") << circuit << 0 << -1 << "ERROR";
    QTest::newRow("lookup miss 21") << circuit << 4 << 21 << "ERROR";
    QTest::newRow("station 0") << common << 6 << 0 << "000";
    QTest::newRow("station 5") << common << 6 << 5 << "005";
    QTest::newRow("station 128") << common << 6 << 128 << "128";
    QTest::newRow("station 129") << common << 6 << 129 << "129";
    QTest::newRow("station 255") << common << 6 << 255 << "255";
    QTest::newRow("frequency 1") << common << 0 << 1 << "60Hz";
    QTest::newRow("frequency 2") << common << 0 << 2 << "ERROR";
}

void TestItems::textOfCode()
{
    QFETCH(int, kind);
    QFETCH(int, item);
    QFETCH(int, code);
    QFETCH(QString, text);
    QCOMPARE(veltra::textOfCode(PageKind(kind), item, code), text);
}

void TestItems::everyListEntryRoundTrips()
{
    for (PageKind kind : {PageKind::Common, PageKind::Circuit}) {
        for (int item = 0; item < itemCount(kind); ++item) {
            const QStringList list = valueList(kind, item);
            QVERIFY(!list.isEmpty());
            for (int position = 0; position < list.size(); ++position) {
                const int code = *veltra::codeOfText(kind, item, list[position]);
                QCOMPARE(veltra::textOfCode(kind, item, code), list[position]);
                if (!(kind == PageKind::Common && item == kStationItem))
                    QCOMPARE(code, position);
            }
        }
    }
}

void TestItems::listsHaveNoPlaceholder()
{
    for (PageKind kind : {PageKind::Common, PageKind::Circuit}) {
        for (int item = 0; item < itemCount(kind); ++item) {
            QVERIFY(!valueList(kind, item).contains(notLoadedText()));
            QVERIFY(!valueList(kind, item).contains(errorText()));
        }
    }
}

void TestItems::commonScreenOrderSwapsItemsOneAndTwo()
{
    QList<int> order;
    for (int row = 0; row < kCommonItemCount; ++row)
        order << itemAtScreenRow(PageKind::Common, row);
    QCOMPARE(order, (QList<int>{0, 2, 1, 3, 4, 5, 6}));
    QCOMPARE(rowLabel(PageKind::Common, order[1]), QStringLiteral("動作表示LED復帰方式"));
    QCOMPARE(itemAtScreenRow(PageKind::Circuit, 1), 1);
}

QTEST_APPLESS_MAIN(TestItems)
// Every kind of outcome, of every command: an exit status the help documents, an English note
// whose placeholders the command line fills, and words for the user wherever a command that
// failed or was refused reaches them.
void TestItems::everyOutcomeHasItsMeaning()
{
    const QMetaEnum kinds = QMetaEnum::fromType<Outcome::Kind>();
    QList<int> documented;
    for (const ExitMeaning &exit : messages::exitMeanings())
        documented << exit.code;
    const QRegularExpression placeholder(QStringLiteral("\\{([a-z]+)\\}"));
    const QStringList known{"port", "file", "page", "count",    "s",      "sent",
                            "link", "why",  "read", "expected", "problem"};
    for (int k = 0; k < kinds.keyCount(); ++k) {
        for (int c = int(CommandId::None); c <= int(CommandId::FindRelays); ++c) {
            Outcome outcome(CommandId(c), Outcome::Kind(kinds.value(k)));
            outcome.page = 0;
            outcome.linkFailure = Outcome::Kind::NoReply;
            const OutcomeMeaning meaning = messages::meaningOf(outcome);
            const QString row = QStringLiteral("%1, command %2").arg(kinds.key(k)).arg(c);
            QVERIFY2(documented.contains(meaning.exit), qPrintable(row));
            QCOMPARE(meaning.exit == kSuccess, outcome.succeeded());
            if (!outcome.succeeded()) {
                QVERIFY2(*meaning.note, qPrintable(row));
                QVERIFY2(!meaning.message.isEmpty() || !meaning.terminal.isEmpty(),
                         qPrintable(row));
            }
            for (const char *note : {meaning.note, meaning.noTerminal, meaning.refused})
                for (const auto &match :
                     placeholder.globalMatch(QString::fromUtf8(note ? note : "")))
                    QVERIFY2(known.contains(match.captured(1)), qPrintable(row));
        }
    }
}

#include "tst_items.moc"
