#include "link/frames.h"
#include "link/replycollector.h"
#include "relaymodel.h"
#include "replyfaults.h"
#include "settings/decode.h"
#include "settings/items.h"

#include <QTest>

using namespace veltra;

namespace {

// A reply as the relay sends it: STX, four characters, 12 data characters, ETX, the
// checksum over everything after STX up to ETX, CR.
QByteArray reply(QByteArray data)
{
    QByteArray body = "FFAE" + data + kEtx;
    return kStx + body + RequestChecksum(body) + kCr;
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT
private slots:
    void readRequests_data();
    void readRequests();
    void checksum_data();
    void checksum();
    void acceptance_data();
    void acceptance();
    void verdicts_data();
    void verdicts();
    void commonDecoding_data();
    void commonDecoding();
    void circuitDecoding_data();
    void circuitDecoding();
    void readings_data();
    void readings();
    void decodingKeepsRecordsAndIgnoresOtherPages();
    void collectorJudgesEveryFaultAtEveryCut_data();
    void collectorJudgesEveryFaultAtEveryCut();
};

void TestProtocol::readRequests_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("common") << 0 << QByteArray::fromHex("05464641453030303044320D");
    QTest::newRow("circuit 8") << 8 << QByteArray::fromHex("05464641453030303844410D");
    QTest::newRow("circuit 1") << 1
                               << QByteArray("\x05"
                                             "FFAE0001D3\r");
    QTest::newRow("circuit 7") << 7
                               << QByteArray("\x05"
                                             "FFAE0007D9\r");
}

void TestProtocol::readRequests()
{
    QFETCH(int, page);
    QFETCH(QByteArray, frame);
    QCOMPARE(readRequest(page), frame);
}

void TestProtocol::checksum_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("checksum");
    QTest::newRow("read page 0") << QByteArray("FFAE0000") << QByteArray("D2");
    QTest::newRow("write common") << QByteArray("FFB0000000100") << QByteArray("AF");
    QTest::newRow("clear") << QByteArray("FFB9100000000") << QByteArray("B8");
    QTest::newRow("sum under 0x10 keeps one digit") << QByteArray("\x01\x02") << QByteArray("3");
}

void TestProtocol::checksum()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, checksum);
    QCOMPARE(RequestChecksum(body), checksum);
}

void TestProtocol::acceptance_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<bool>("accepted");

    const QByteArray good = reply("010201000107");
    QTest::newRow("well formed") << good << true;
    QTest::newRow("without CR") << good.chopped(1) << true; // CR's place is never examined
    QByteArray lower = reply("0A0B0C0D0E0F");
    const QByteArray sum = lower.sliced(18, 2);
    QVERIFY(sum != sum.toLower()); // the case must matter for this row
    lower.replace(18, 2, sum.toLower());
    QTest::newRow("lower-case checksum") << lower << false;
    QByteArray bad = good;
    bad[18] = bad[18] == '0' ? '1' : '0';
    QTest::newRow("wrong checksum") << bad << false;
    QTest::newRow("stray character before STX") << QByteArray("x" + good) << false;
    QTest::newRow("17 characters") << good.first(17) << false;
    QTest::newRow("ETX at 18 but sum cut off") << good.first(19) << false;
    QByteArray otherStation = good;
    otherStation.replace(1, 4, "1234");
    QByteArray body = otherStation.sliced(1, 17);
    otherStation.replace(18, 2, RequestChecksum(body));
    QTest::newRow("other station and header") << otherStation << true;

    // No ETX at 18: the data alone is summed, its checksum at 18-19.
    QByteArray data = "010201000107";
    QByteArray alt = "\x02"
                     "FFAE" +
                     data + RequestChecksum(data) + "\r";
    QTest::newRow("alternative rule") << alt << true;
    // Sums below 0x10 have one digit; one received character must not pass for it.
    QTest::newRow("one-digit sum, 18 characters") << QByteArray("\x02"
                                                                "FF00" +
                                                                QByteArray(12, '\0') + "0")
                                                  << false;
    QTest::newRow("one-digit sum, ETX rule") << QByteArray("\x02" + QByteArray(16, '\0') +
                                                           "\x03"
                                                           "3")
                                             << false;
    alt[17] = alt[17] == '0' ? '1' : '0';
    QTest::newRow("alternative rule, wrong") << alt << false;
}

void TestProtocol::acceptance()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, accepted);
    QCOMPARE(ReplyChecksumTest(received), accepted);
}

Q_DECLARE_METATYPE(veltra::ReplyVerdict)

void TestProtocol::verdicts_data()
{
    QTest::addColumn<QByteArray>("collected");
    QTest::addColumn<ReplyVerdict>("verdict");
    const QByteArray good = reply("010201000107");
    QByteArray bad = good;
    bad[18] = bad[18] == '0' ? '1' : '0';
    QTest::newRow("accepted") << good << ReplyVerdict::Accepted;
    QTest::newRow("no CR yet") << good.chopped(1) << ReplyVerdict::Incomplete;
    QTest::newRow("no STX yet") << good.sliced(1) << ReplyVerdict::Incomplete;
    QTest::newRow("wrong checksum") << bad << ReplyVerdict::BadChecksum;
    QTest::newRow("stray byte before STX")
        << QByteArray("x" + good) << ReplyVerdict::StrayBeforeStx;
    QTest::newRow("echo then reply")
        << QByteArray(readRequest(0) + good) << ReplyVerdict::StrayBeforeStx;
}

void TestProtocol::verdicts()
{
    QFETCH(QByteArray, collected);
    QFETCH(ReplyVerdict, verdict);
    QCOMPARE(judgeReply(collected), verdict);
}

void TestProtocol::commonDecoding_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("example 01 02 01 00 01 7F")
        << QByteArray("01020100017F")
        << QStringList{"60Hz", "手動", "自動", "手動", "無し", "有り", "127"};
    QTest::newRow("only bit 0 of the frequency")
        << QByteArray("030000000000")
        << QStringList{"60Hz", "自動", "自動", "自動", "無し", "無し", "000"};
    QTest::newRow("reset bits 01")
        << QByteArray("000100000080")
        << QStringList{"50Hz", "自動", "手動", "自動", "無し", "無し", "128"};
    QTest::newRow("reset bits 03, high bits dropped")
        << QByteArray("0003FF0101FF")
        << QStringList{"50Hz", "手動", "手動", "手動", "有り", "有り", "255"};
    // A field nobody can read is shown as such, never as a value that would then be saved.
    QTest::newRow("lower-case hex is unreadable")
        << QByteArray("0a0300000a0c")
        << QStringList{"ERROR", "手動", "手動", "自動", "無し", "ERROR", "ERROR"};
    QTest::newRow("blank-padded fields are unreadable")
        << QByteArray(" 1 3000000 C")
        << QStringList{"ERROR", "ERROR", "ERROR", "自動", "無し", "無し", "ERROR"};
}

void TestProtocol::commonDecoding()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, texts);
    DecodedRecords records;
    QCOMPARE(decodePage(0, reply(data.first(12)), records), texts);
}

void TestProtocol::circuitDecoding_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("all zero") << QByteArray("000000000000")
                              << QStringList{"ﾛｯｸ", "ﾛｯｸ", "5(秒)", "ﾛｯｸ", "0.3(秒)"};
    QTest::newRow("last entries") << QByteArray("050F04090B00")
                                  << QStringList{"3φ3Dw", "100(mA)", "40(秒)", "1.0(A)", "2.0(秒)"};
    QTest::newRow("10 at 6 is decimal ten")
        << QByteArray("100100010000")
        << QStringList{"ERROR", "30(mA)", "5(秒)", "0.2(A)", "0.3(秒)"};
    QTest::newRow("10 and 0a at 8 are no code")
        << QByteArray("0110000a0000") << QStringList{"1φ2W", "ERROR", "5(秒)", "ERROR", "0.3(秒)"};
    QTest::newRow("leak sensitivity 0A")
        << QByteArray("0000000A0000") << QStringList{"ﾛｯｸ", "ﾛｯｸ", "5(秒)", "ERROR", "0.3(秒)"};
    QTest::newRow("blank in a decimal field")
        << QByteArray(" 201 3000000") << QStringList{"ERROR", "30(mA)", "ERROR", "ﾛｯｸ", "0.3(秒)"};
    QTest::newRow("positions 16-17 ignored")
        << QByteArray("0201020304ZZ")
        << QStringList{"1φ3W", "30(mA)", "20(秒)", "0.4(A)", "0.7(秒)"};
    QTest::newRow("blank in a code field")
        << QByteArray("02010203 400") << QStringList{"1φ3W", "30(mA)", "20(秒)", "0.4(A)", "ERROR"};
}

void TestProtocol::circuitDecoding()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, texts);
    DecodedRecords records;
    QCOMPARE(decodePage(3, reply(data.first(12)), records), texts);
}

void TestProtocol::readings_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("hex"); // -1: unreadable
    QTest::addColumn<int>("decimal");
    QTest::addColumn<int>("code");
    QTest::newRow("00") << QByteArray("00") << 0 << 0 << 0;
    QTest::newRow("0A") << QByteArray("0A") << 10 << -1 << 10;
    QTest::newRow("0F") << QByteArray("0F") << 15 << -1 << 15;
    QTest::newRow("0f") << QByteArray("0f") << -1 << -1 << 21;
    QTest::newRow("10") << QByteArray("10") << 16 << 10 << 21;
    QTest::newRow("99") << QByteArray("99") << 153 << 99 << 21;
    QTest::newRow("FF") << QByteArray("FF") << 255 << -1 << 21;
    QTest::newRow("G1") << QByteArray("G1") << -1 << -1 << 21;
    QTest::newRow("1G") << QByteArray("1G") << -1 << -1 << 21;
    QTest::newRow(" 7") << QByteArray(" 7") << -1 << -1 << 21;
    QTest::newRow("7 ") << QByteArray("7 ") << -1 << -1 << 21;
    QTest::newRow("empty") << QByteArray() << -1 << -1 << 21;
    QTest::newRow("one char") << QByteArray("5") << -1 << -1 << 21;
}

void TestProtocol::readings()
{
    QFETCH(QByteArray, field);
    QFETCH(int, hex);
    QFETCH(int, decimal);
    QFETCH(int, code);
    QCOMPARE(readField(field, FieldReading::Hex).value_or(-1), hex);
    QCOMPARE(readField(field, FieldReading::Decimal).value_or(-1), decimal);
    QCOMPARE(HexCodeValue(field), code);
}

void TestProtocol::decodingKeepsRecordsAndIgnoresOtherPages()
{
    DecodedRecords records;
    const auto common = [&records] {
        const CommonSettings &c = records.common;
        return QList<int>{c.frequency,  c.resetModeBits, c.leakageContactReset,
                          c.tripOnTest, c.selfDiagnosis, c.stationNumber};
    };
    decodePage(0, reply("01020100017F"), records);
    QCOMPARE(common(), (QList<int>{1, 2, 1, 0, 1, 127}));
    decodePage(0, reply("00010001002A"), records);
    QCOMPARE(common(), (QList<int>{0, 1, 0, 1, 0, 42}));
    decodePage(0, reply("01010100017F"), records); // frequency and item 1 apart
    QCOMPARE(common(), (QList<int>{1, 1, 1, 0, 1, 127}));
    // An item beyond a page's list, or a page that is none, has no code in any reply.
    for (const auto &[page, item] :
         {std::pair{0, kCommonItemCount}, std::pair{1, kCircuitItemCount}, std::pair{0, -1},
          std::pair{9, 0}})
        QVERIFY(!reportedCode(page, item, reply("01020100017F")).has_value());
    decodePage(4, reply("0310000a0000"), records);
    QCOMPARE(records.circuits[3].codes[0], 3);
    QCOMPARE(records.circuits[3].codes[1], 21);
    QCOMPARE(records.circuits[3].codes[3], 21);
    const DecodedRecords before = records;
    QVERIFY(decodePage(9, reply("000000000000"), records).isEmpty());
    QVERIFY(decodePage(-1, reply("000000000000"), records).isEmpty());
    QCOMPARE(records.circuits[3].codes, before.circuits[3].codes);
    // A reply cut short reads nothing past its end: every field is unreadable.
    const QStringList cut = decodePage(4,
                                       QByteArray("\x02"
                                                  "FFAE0"),
                                       records);
    QCOMPARE(cut, QStringList(kCircuitItemCount, QStringLiteral("ERROR")));
}

void TestProtocol::collectorJudgesEveryFaultAtEveryCut_data()
{
    // What the line delivers, as the simulated relay spoils it, and how a read must take it.
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<ReplyVerdict>("verdict");
    using sim::ReadFault;
    const auto spoiled = [](ReadFault fault) {
        return sim::faultyReply(fault, sim::replyHeader(0),
                                sim::replyData(sim::defaultSettings(), 0));
    };
    const std::tuple<const char *, QByteArray, ReplyVerdict> rows[] = {
        {"a good reply", spoiled(ReadFault::None), ReplyVerdict::Accepted},
        {"no reply", spoiled(ReadFault::NoReply), ReplyVerdict::Incomplete},
        {"STX but no CR", spoiled(ReadFault::NoCr), ReplyVerdict::Incomplete},
        {"bad checksum", spoiled(ReadFault::BadChecksum), ReplyVerdict::BadChecksum},
        {"lower-case checksum", spoiled(ReadFault::LowercaseChecksum), ReplyVerdict::BadChecksum},
        {"stray before STX", spoiled(ReadFault::StrayBeforeStx), ReplyVerdict::StrayBeforeStx},
        {"CR before STX", spoiled(ReadFault::CrBeforeStx), ReplyVerdict::StrayBeforeStx},
        {"hang-up mid-reply", spoiled(ReadFault::Hangup), ReplyVerdict::Incomplete},
        {"10 KB before CR", spoiled(ReadFault::LongReply), ReplyVerdict::BadChecksum},
        // More than the cap of garbage, then a good reply that no longer fits.
        {"garbage flood", QByteArray(kMaxReplyBytes + 1000, 'x') + spoiled(ReadFault::None),
         ReplyVerdict::Incomplete},
    };
    for (const auto &[name, bytes, verdict] : rows)
        QTest::newRow(name) << bytes << verdict;
}

void TestProtocol::collectorJudgesEveryFaultAtEveryCut()
{
    QFETCH(QByteArray, bytes);
    QFETCH(ReplyVerdict, verdict);
    // However the line cuts it up, the first moment it is complete gives one verdict, the one
    // the whole gives; nothing is kept beyond the cap. Cut in two at every position (every 97th
    // in a flood), and byte by byte.
    const auto firstVerdict = [&bytes](const QList<qsizetype> &cuts) {
        ReplyCollector collector;
        qsizetype from = 0;
        for (qsizetype cut : cuts + QList<qsizetype>{bytes.size()}) {
            if (collector.feed(QByteArrayView(bytes).sliced(from, cut - from)) !=
                ReplyVerdict::Incomplete)
                break;
            from = cut;
        }
        return std::pair(collector.verdict(), collector.bytes().size());
    };
    const qsizetype step = bytes.size() > 1000 ? 97 : 1;
    for (qsizetype cut = 0; cut <= bytes.size(); cut += step) {
        const auto [got, kept] = firstVerdict({cut});
        QVERIFY2(got == verdict, qPrintable(QStringLiteral("cut at %1").arg(cut)));
        QVERIFY(kept <= kMaxReplyBytes);
    }
    QList<qsizetype> everyByte;
    for (qsizetype at = 1; at < bytes.size(); at += step == 1 ? 1 : 13)
        everyByte << at;
    QCOMPARE(firstVerdict(everyByte).first, verdict);
}

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
