// The simulated relay's model: its frames against the tool's own codec, its refusals, its
// framing and its settings file (the process on a pseudo-terminal: tst_relaysim).

#include "dtimport.h"
#include "examplefile.h"
#include "file/sjis.h"
#include "framesplitter.h"
#include "link/frames.h"
#include "relaymodel.h"
#include "replyfaults.h"
#include "settings/decode.h"
#include "settings/items.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace veltra;
using namespace veltra::sim;
using veltra::test::exampleFileLines;
using veltra::test::writeShiftJisFile;

Q_DECLARE_METATYPE(veltra::sim::RelaySettings)
Q_DECLARE_METATYPE(veltra::sim::ReadFault)

namespace {

// The texts the tool must show for the relay's codes of `page`.
QStringList expectedTexts(const RelaySettings &s, int page)
{
    QStringList texts;
    if (page == kCommonPage) {
        const CommonCodes &c = s.common;
        const int codes[] = {c.frequency,  (c.resetBits >> 1) & 1, c.resetBits & 1, c.leakageReset,
                             c.tripOnTest, c.selfDiagnosis,        c.station};
        for (int item = 0; item < kCommonItemCount; ++item)
            texts << textOfCode(PageKind::Common, item, codes[item]);
        return texts;
    }
    const CircuitCodes &c = s.circuits[std::size_t(page - 1)];
    const int codes[] = {c.wiring, c.insulationSensitivity, c.insulationDelay, c.leakageSensitivity,
                         c.leakageDelay};
    for (int item = 0; item < kCircuitItemCount; ++item)
        texts << textOfCode(PageKind::Circuit, item, codes[item]);
    return texts;
}

RelaySettings edgeSettings()
{
    RelaySettings s;
    s.common = {.frequency = 0,
                .resetBits = 1,
                .leakageReset = 1,
                .tripOnTest = 0,
                .selfDiagnosis = 0,
                .station = 255};
    for (int n = 0; n < kCircuitCount; ++n)
        s.circuits[std::size_t(n)] = {5, 15, 4, 9, 11};
    s.circuits[1] = {0, 0, 0, 0, 0};
    s.circuits[2] = {1, 10, 3, 19, 10}; // leakage sensitivity 19: written, but no list text
    return s;
}

QList<QByteArray> allReplies(const RelayModel &model)
{
    QList<QByteArray> replies;
    for (int page = 0; page < kPageCount; ++page)
        replies << model.replyFrame(page);
    return replies;
}

} // namespace

class TestRelayModel : public QObject
{
    Q_OBJECT

private slots:
    void replyKnownAnswers_data();
    void replyKnownAnswers();
    void repliesDecodeToTheRelaysSettings_data();
    void repliesDecodeToTheRelaysSettings();
    void writeAppliedAndReadBack_data();
    void writeAppliedAndReadBack();
    void ignoredItemKeepsItsValue_data();
    void ignoredItemKeepsItsValue();
    void rejectedFrameChangesNothing_data();
    void rejectedFrameChangesNothing();
    void readRequestsOfEveryPageAccepted();
    void clearFrame_data();
    void clearFrame();
    void splitterByteByByteEqualsBulk_data();
    void splitterByteByByteEqualsBulk();
    void splitterStaysBounded();
    void faultyReplies_data();
    void faultyReplies();
    void lowercaseFaultAlwaysShowsALetter();
    void loadSettingsFile();
    void loadSettingsFileRefused_data();
    void loadSettingsFileRefused();
    void documentedDefaultsReadBack();
};

void TestRelayModel::replyKnownAnswers_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QByteArray>("reply");
    // Worked by hand: e.g. page 0 sums "FF00", 010200010 10C and ETX to 0x347.
    QTest::newRow("common") << 0
                            << QByteArray("\x02"
                                          "FF00"
                                          "01020001010C"
                                          "\x03"
                                          "47\r");
    QTest::newRow("circuit 3") << 3
                               << QByteArray("\x02"
                                             "FF03"
                                             "050F04090B00"
                                             "\x03"
                                             "6C\r");
    QTest::newRow("circuit 6 locked") << 6
                                      << QByteArray("\x02"
                                                    "FF06"
                                                    "000000000000"
                                                    "\x03"
                                                    "35\r");
    QTest::newRow("circuit 8") << 8
                               << QByteArray("\x02"
                                             "FF08"
                                             "010C02050900"
                                             "\x03"
                                             "5B\r");
}

void TestRelayModel::replyKnownAnswers()
{
    QFETCH(int, page);
    QFETCH(QByteArray, reply);
    RelayModel model;
    const FrameResult result = model.handleFrame(readRequest(page));
    QCOMPARE(result.kind, FrameKind::Read);
    QVERIFY(result.accepted);
    QCOMPARE(result.page, page);
    QCOMPARE(result.command, QByteArray("AE"));
    QCOMPARE(result.reply, reply);
    QCOMPARE(result.reply.size(), 21);
    QVERIFY(ReplyChecksumTest(result.reply));
}

void TestRelayModel::repliesDecodeToTheRelaysSettings_data()
{
    QTest::addColumn<RelaySettings>("settings");
    QTest::addColumn<int>("page");
    for (int page = 0; page < kPageCount; ++page) {
        QTest::addRow("defaults page %d", page) << defaultSettings() << page;
        QTest::addRow("edge codes page %d", page) << edgeSettings() << page;
    }
    RelaySettings station0 = defaultSettings();
    station0.common.station = 0;
    station0.common.resetBits = 3;
    QTest::newRow("station 0, both resets manual") << station0 << 0;
}

void TestRelayModel::repliesDecodeToTheRelaysSettings()
{
    QFETCH(RelaySettings, settings);
    QFETCH(int, page);
    const RelayModel model(settings);
    const QByteArray reply = model.replyFrame(page);
    QVERIFY(ReplyChecksumTest(reply));
    DecodedRecords records;
    QCOMPARE(decodePage(page, reply, records), expectedTexts(settings, page));
}

void TestRelayModel::writeAppliedAndReadBack_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("replyData");

    QTest::newRow("common, all first values")
        << 0 << QByteArray("000000100") << QByteArray("000000000001");
    QTest::newRow("common, highest codes")
        << 0 << QByteArray("13110FF00") << QByteArray("0103010100FF");
    QTest::newRow("common, station 128")
        << 0 << QByteArray("120118000") << QByteArray("010200010180");
    QTest::newRow("circuit 1, all locked")
        << 1 << QByteArray("000000000") << QByteArray("000000000000");
    QTest::newRow("circuit 3, code characters")
        << 3 << QByteArray("1?4C:0000") << QByteArray("010F04130A00");
    QTest::newRow("circuit 8, highest codes")
        << 8 << QByteArray("5?49;0000") << QByteArray("050F04090B00");
}

void TestRelayModel::writeAppliedAndReadBack()
{
    QFETCH(int, page);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, replyData);
    RelayModel model;
    const QList<QByteArray> before = allReplies(model);

    const FrameResult result = model.handleFrame(writeFrame(page, data));
    QCOMPARE(result.kind, FrameKind::Write);
    QVERIFY(result.accepted);
    QCOMPARE(result.page, page);
    QVERIFY(result.reply.isEmpty()); // the relay never answers a write

    const QList<QByteArray> after = allReplies(model);
    for (int p = 0; p < kPageCount; ++p) {
        if (p == page)
            QCOMPARE(after[p].sliced(5, 12), replyData);
        else
            QCOMPARE(after[p], before[p]);
    }
    QCOMPARE(model.storedValues(), defaultStoredValues());
}

void TestRelayModel::ignoredItemKeepsItsValue_data()
{
    // Written over the default settings (README): the ignored item keeps the old code.
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("item");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("replyData");
    // Default common page: 60 Hz, reset bits 2 (item 1 manual, item 2 auto), station 0C.
    QTest::newRow("common frequency")
        << 0 << 0 << QByteArray("000000100") << QByteArray("010000000001");
    QTest::newRow("common item 1 is reset bit 1")
        << 0 << 1 << QByteArray("010000100") << QByteArray("000300000001");
    QTest::newRow("common item 2 is reset bit 0")
        << 0 << 2 << QByteArray("000000100") << QByteArray("000000000001");
    QTest::newRow("common station")
        << 0 << 6 << QByteArray("000000100") << QByteArray("00000000000C");
    // Default circuit 3: 3φ3Dw (5), 100(mA) (15), 40(秒) (4), 1.0(A) (9), 2.0(秒) (11).
    QTest::newRow("circuit 3 insulation sensitivity")
        << 3 << 1 << QByteArray("000000000") << QByteArray("000F00000000");
    QTest::newRow("circuit 3 leakage delay")
        << 3 << 4 << QByteArray("100000000") << QByteArray("010000000B00");
}

void TestRelayModel::ignoredItemKeepsItsValue()
{
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, replyData);
    RelayModel model;
    model.ignoreWrittenItem(page, item);
    const FrameResult result = model.handleFrame(writeFrame(page, data));
    QVERIFY(result.accepted);
    QVERIFY2(result.reason.endsWith(QStringLiteral("item %1 ignored").arg(item)),
             qPrintable(result.reason));
    QCOMPARE(model.replyFrame(page).sliced(5, 12), replyData);
    // Another page takes its write whole.
    const int other = page == 0 ? 1 : 0;
    QVERIFY(model
                .handleFrame(writeFrame(other, other == 0 ? QByteArray("000000100")
                                                          : QByteArray("000000000")))
                .accepted);
    QCOMPARE(model.replyFrame(other).sliced(5, 12),
             other == 0 ? QByteArray("000000000001") : QByteArray("000000000000"));
}

void TestRelayModel::rejectedFrameChangesNothing_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("reason");

    // One character out of range at every data position, each in a frame with a right checksum.
    struct PageCase
    {
        int page;
        QByteArray valid;
        QByteArray bad; // a character that is no code at that position
    };
    const PageCase pages[] = {
        {0, "000000100", "24222Ga11"},
        {4, "000000000", "6@5D<1111"},
        {9, "100000000", "221111111"},
    };
    for (const PageCase &c : pages) {
        for (int pos = 0; pos < 9; ++pos) {
            QByteArray data = c.valid;
            data[pos] = c.bad[pos];
            QTest::addRow("B%d data %d '%c'", c.page, pos + 1, c.bad[pos])
                << writeFrame(c.page, data) << QStringLiteral("data character %1").arg(pos + 1);
        }
        QByteArray withE = c.valid;
        withE[0] = 'E';
        QTest::addRow("B%d E", c.page)
            << writeFrame(c.page, withE) << QStringLiteral("data character 1 'E'");
    }
    QTest::newRow("below '0'") << writeFrame(2, "0/0000000") << QStringLiteral("data character 2");
    QTest::newRow("control character") << writeFrame(2, QByteArray("00\x01"
                                                                   "000000"))
                                       << QStringLiteral("\\x01");

    QByteArray badSum = writeFrame(2, "123450000");
    badSum[15] = badSum[15] == '0' ? '1' : '0';
    QTest::newRow("write, wrong checksum") << badSum << QStringLiteral("wrong checksum");
    QByteArray lowerSum = writeFrame(0, "000000100"); // checksum AF
    lowerSum.replace(14, 2, "af");
    QTest::newRow("write, lower-case checksum") << lowerSum << QStringLiteral("wrong checksum");
    QTest::newRow("write, 16 bytes") << frameRequest("FFB212345000") << QStringLiteral("16 bytes");
    QTest::newRow("write, 18 bytes")
        << frameRequest("FFB21234500000") << QStringLiteral("18 bytes");
    QTest::newRow("write, other station")
        << frameRequest("FEB2123450000") << QStringLiteral("not addressed");

    QByteArray readBadSum = readRequest(3);
    readBadSum[10] = 'F';
    QTest::newRow("read, wrong checksum") << readBadSum << QStringLiteral("wrong checksum");
    QTest::newRow("read, page 9") << frameRequest("FFAE0009") << QStringLiteral("no such page");
    QTest::newRow("read, other station")
        << frameRequest("FEAE0001") << QStringLiteral("not addressed");
    QTest::newRow("read, 13 bytes") << frameRequest("FFAE00011") << QStringLiteral("13 bytes");
    QTest::newRow("unknown command")
        << frameRequest("FFAF0001") << QStringLiteral("unknown command");
    QTest::newRow("no ENQ") << readRequest(1).sliced(1) << QStringLiteral("ENQ");
    QTest::newRow("no CR") << readRequest(1).chopped(1) << QStringLiteral("no CR");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("ENQ");
}

void TestRelayModel::rejectedFrameChangesNothing()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, reason);
    RelayModel model;
    const QList<QByteArray> before = allReplies(model);

    const FrameResult result = model.handleFrame(frame);
    QCOMPARE(result.kind, FrameKind::Rejected);
    QVERIFY(!result.accepted);
    QVERIFY(result.reply.isEmpty());
    QVERIFY2(result.reason.contains(reason), qPrintable(result.reason));
    QCOMPARE(allReplies(model), before);
    QCOMPARE(model.settings(), defaultSettings());
    QCOMPARE(model.storedValues(), defaultStoredValues());
}

void TestRelayModel::readRequestsOfEveryPageAccepted()
{
    RelayModel model;
    for (int page = 0; page < kPageCount; ++page) {
        const FrameResult result = model.handleFrame(readRequest(page));
        QVERIFY2(result.accepted, qPrintable(result.reason));
        QCOMPARE(result.page, page);
        QCOMPARE(result.reply, model.replyFrame(page));
    }
}

void TestRelayModel::clearFrame_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("operationCleared");
    QTest::addColumn<bool>("maximumCleared");
    QTest::newRow("operation values") << QByteArray("100000000") << true << false;
    QTest::newRow("maximum values") << QByteArray("010000000") << false << true;
    QTest::newRow("both") << QByteArray("110000000") << true << true;
    QTest::newRow("neither") << QByteArray("000000000") << false << false;
}

void TestRelayModel::clearFrame()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, operationCleared);
    QFETCH(bool, maximumCleared);
    RelayModel model;
    const StoredValues initial = model.storedValues();

    const FrameResult result = model.handleFrame(writeFrame(kClearPage, data));
    QCOMPARE(result.kind, FrameKind::Clear);
    QVERIFY(result.accepted);
    QCOMPARE(result.page, kClearPage);
    QVERIFY(result.reply.isEmpty());

    const StoredValues &after = model.storedValues();
    const std::array<int, kCircuitCount> zeros{};
    QCOMPARE(after.operationValues, operationCleared ? zeros : initial.operationValues);
    QCOMPARE(after.maximumValues, maximumCleared ? zeros : initial.maximumValues);
    QCOMPARE(after.operationClears, operationCleared ? 1 : 0);
    QCOMPARE(after.maximumClears, maximumCleared ? 1 : 0);
    QCOMPARE(model.settings(), defaultSettings()); // a clear never touches the settings
}

void TestRelayModel::splitterByteByByteEqualsBulk_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("frames");

    const QByteArray r1 = readRequest(1);
    const QByteArray w3 = writeFrame(3, "123450000");
    QTest::newRow("one frame") << r1 << QList<QByteArray>{r1};
    QTest::newRow("junk around frames")
        << "xx\r" + r1 + "\x02junk" + w3 + "tail" << QList<QByteArray>{r1, w3};
    QTest::newRow("ENQ restarts a frame") << r1.first(6) + w3 << QList<QByteArray>{w3};
    QTest::newRow("CR alone is junk") << QByteArray("\r\r") + r1 << QList<QByteArray>{r1};
    const QByteArray overlong = kEnq + QByteArray(100, 'A');
    QTest::newRow("over-long frame cut, then resync")
        << overlong + "\r" + r1
        << QList<QByteArray>{overlong.first(FrameSplitter::kMaxFrameLength), r1};
    QTest::newRow("nothing but junk") << QByteArray(500, 'Z') << QList<QByteArray>{};
}

void TestRelayModel::splitterByteByByteEqualsBulk()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, frames);

    FrameSplitter bulk;
    QCOMPARE(bulk.feed(stream), frames);

    FrameSplitter single;
    QList<QByteArray> got;
    for (char c : stream)
        got += single.feed(QByteArrayView(&c, 1));
    QCOMPARE(got, frames);
    QCOMPARE(single.skippedBytes(), bulk.skippedBytes());

    FrameSplitter chunked;
    got.clear();
    QRandomGenerator random(42);
    for (qsizetype pos = 0; pos < stream.size();) {
        const qsizetype n = std::min<qsizetype>(random.bounded(1, 8), stream.size() - pos);
        got += chunked.feed(QByteArrayView(stream).sliced(pos, n));
        pos += n;
    }
    QCOMPARE(got, frames);
}

void TestRelayModel::splitterStaysBounded()
{
    FrameSplitter splitter;
    QByteArray flood(4096, 'G');
    flood[0] = kEnq;
    flood[2000] = kEnq; // restarts keep it bounded too
    qsizetype largest = 0;
    int pieces = 0;
    for (int i = 0; i < 256; ++i) { // 1 MiB without a CR
        for (const QByteArray &frame : splitter.feed(flood)) {
            largest = std::max(largest, frame.size());
            ++pieces;
        }
        QVERIFY(splitter.pendingSize() <= FrameSplitter::kMaxFrameLength);
    }
    QCOMPARE(largest, FrameSplitter::kMaxFrameLength);
    QCOMPARE(pieces, 512); // each cut piece is handed out once, to be logged as rejected
    QCOMPARE(splitter.feed(readRequest(2)), QList<QByteArray>{readRequest(2)});
}

void TestRelayModel::faultyReplies_data()
{
    QTest::addColumn<ReadFault>("fault");
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("checksumAccepted");
    const RelayModel model;
    QTest::newRow("none") << ReadFault::None << 3 << true;
    QTest::newRow("no-cr") << ReadFault::NoCr << 3 << true; // the tool waits for a CR instead
    QTest::newRow("bad-checksum") << ReadFault::BadChecksum << 3 << false;
    QTest::newRow("lowercase-checksum, letters") << ReadFault::LowercaseChecksum << 3 << false;
    QTest::newRow("lowercase-checksum, digits only") << ReadFault::LowercaseChecksum << 0 << false;
    QTest::newRow("stray-before-stx") << ReadFault::StrayBeforeStx << 3 << false;
    QTest::newRow("cr-before-stx") << ReadFault::CrBeforeStx << 3 << false;
    QTest::newRow("long-reply") << ReadFault::LongReply << 3 << false;
    // Spoiled fields, not a spoiled frame: only the strict reading of a field catches these.
    QTest::newRow("lowercase-hex") << ReadFault::LowercaseHex << 3 << true;
    QTest::newRow("blank-in-field") << ReadFault::BlankInField << 3 << true;
}

void TestRelayModel::faultyReplies()
{
    QFETCH(ReadFault, fault);
    QFETCH(int, page);
    QFETCH(bool, checksumAccepted);
    const RelaySettings settings = defaultSettings();
    const QByteArray good = RelayModel(settings).replyFrame(page);
    const QByteArray bad = faultyReply(fault, replyHeader(page), replyData(settings, page));

    QCOMPARE(ReplyChecksumTest(bad), checksumAccepted);
    switch (fault) {
    case ReadFault::NoCr:
        QCOMPARE(bad, good.chopped(1));
        break;
    case ReadFault::StrayBeforeStx:
        QCOMPARE(bad.sliced(1), good);
        QVERIFY(bad[0] != kStx && bad[0] != kCr);
        break;
    case ReadFault::CrBeforeStx:
        QCOMPARE(bad, kCr + good);
        break;
    case ReadFault::LongReply:
        QVERIFY(bad.size() > kLongReplyDataLength);
        QCOMPARE(bad.front(), kStx);
        QCOMPARE(bad.back(), kCr);
        QCOMPARE(bad.count(kCr), 1);
        break;
    case ReadFault::LowercaseHex:
        QCOMPARE(bad.sliced(5, 12), good.sliced(5, 12).toLower());
        QVERIFY(bad.sliced(5, 12) != good.sliced(5, 12)); // page 3 holds 0F
        break;
    case ReadFault::BlankInField:
        QCOMPARE(bad.sliced(5, 12), QByteArray(" 5 F 4 9 B 0"));
        break;
    case ReadFault::BadChecksum:
    case ReadFault::LowercaseChecksum:
        QCOMPARE(bad.size(), 21);
        QCOMPARE(bad.sliced(5, 12), good.sliced(5, 12)); // the data stay right
        break;
    default:
        QCOMPARE(bad, good);
    }
}

void TestRelayModel::lowercaseFaultAlwaysShowsALetter()
{
    // A checksum of digits alone would read the same in lower case and pass; every page of
    // both setting sets must come out with a lower-case letter that upper case would accept.
    for (const RelaySettings &settings : {defaultSettings(), edgeSettings()}) {
        for (int page = 0; page < kPageCount; ++page) {
            QByteArray bad = faultyReply(ReadFault::LowercaseChecksum, replyHeader(page),
                                         replyData(settings, page));
            const QByteArray sum = bad.sliced(18, 2);
            QVERIFY2(sum != sum.toUpper(), sum.constData());
            bad.replace(18, 2, sum.toUpper());
            QVERIFY(ReplyChecksumTest(bad));
        }
    }
}

void TestRelayModel::loadSettingsFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("relay.DT"));
    QVERIFY(writeShiftJisFile(path, exampleFileLines()));

    RelayModel model;
    QString error;
    QVERIFY2(model.loadSettingsFile(path, &error), qPrintable(error));
    const RelaySettings &s = model.settings();
    // Column 3 is item 1 and column 4 item 2 whatever the heading says: 自動, 手動 -> bits 01.
    QCOMPARE(s.common, (CommonCodes{.frequency = 0,
                                    .resetBits = 1,
                                    .leakageReset = 0,
                                    .tripOnTest = 0,
                                    .selfDiagnosis = 1,
                                    .station = 1}));
    QCOMPARE(s.circuits[0], (CircuitCodes{2, 1, 1, 1, 0}));
    QCOMPARE(s.circuits[6], (CircuitCodes{2, 1, 1, 1, 0}));
    QCOMPARE(s.circuits[7], (CircuitCodes{0, 15, 4, 0, 11}));
}

void TestRelayModel::loadSettingsFileRefused_data()
{
    QTest::addColumn<int>("line");       // 1-based line to replace, 0 none
    QTest::addColumn<QString>("text");   // its new text
    QTest::addColumn<int>("keepLines");  // lines written
    QTest::addColumn<QString>("reason"); // part of the error

    QTest::newRow("marker with a blank")
        << 1 << QStringLiteral("VELTRA設定ファイル ") << 12 << QStringLiteral("first line");
    QTest::newRow("eleven lines") << 0 << QString() << 11 << QStringLiteral("line 12");
    QTest::newRow("ERROR on circuit 3")
        << 7 << QStringLiteral("回路３,ERROR,30(mA),10(秒),0.2(A),0.3(秒)") << 12
        << QStringLiteral("line 7 (circuit 3)");
    QTest::newRow("not loaded value")
        << 3 << QStringLiteral("共通設定,50Hz,* * * *,自動,自動,無し,有り,001") << 12
        << QStringLiteral("line 3");
    QTest::newRow("station 256") << 3
                                 << QStringLiteral("共通設定,50Hz,自動,自動,自動,無し,有り,256")
                                 << 12 << QStringLiteral("局番号");
    QTest::newRow("too few fields")
        << 12 << QStringLiteral("回路８,ﾛｯｸ,ﾛｯｸ") << 12 << QStringLiteral("line 12 (circuit 8)");
    QTest::newRow("empty line") << 5 << QString() << 12 << QStringLiteral("line 5");
}

void TestRelayModel::loadSettingsFileRefused()
{
    QFETCH(int, line);
    QFETCH(QString, text);
    QFETCH(int, keepLines);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.DT"));
    QStringList lines = exampleFileLines();
    if (line > 0)
        lines[line - 1] = text;
    QVERIFY(writeShiftJisFile(path, lines.first(keepLines)));

    RelayModel model;
    QString error;
    QVERIFY(!model.loadSettingsFile(path, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    QVERIFY(error.contains(path));
    QCOMPARE(model.settings(), defaultSettings());
}

// The default settings as tools/relay-sim/README.md writes them, texts typed from there: read
// with the simulator's own lists they must give its defaults. Between them the circuits hold the
// first and the last value of every list. Circuit 6 is separated by blanks.
void TestRelayModel::documentedDefaultsReadBack()
{
    const QStringList lines{
        QStringLiteral("共通設定,60Hz,手動,自動,自動,有り,有り,012"),
        QStringLiteral("回路１,1φ3W,30(mA),10(秒),0.2(A),0.3(秒)"),
        QStringLiteral("回路２,1φ2W,40(mA),5(秒),0.3(A),0.4(秒)"),
        QStringLiteral("回路３,3φ3Dw,100(mA),40(秒),1.0(A),2.0(秒)"),
        QStringLiteral("回路４,3φ3Du,50(mA),20(秒),0.5(A),0.6(秒)"),
        QStringLiteral("回路５,3φ3Y,65(mA),30(秒),0.7(A),1.0(秒)"),
        QStringLiteral("回路６ ﾛｯｸ ﾛｯｸ 5(秒) ﾛｯｸ 0.3(秒)"),
        QStringLiteral("回路７,1φ3W,75(mA),10(秒),0.4(A),0.8(秒)"),
        QStringLiteral("回路８,1φ2W,85(mA),20(秒),0.6(A),1.5(秒)"),
    };
    QString error;
    const std::optional<RelaySettings> settings = settingsFromLines(lines, &error);
    QVERIFY2(settings, qPrintable(error));
    QCOMPARE(*settings, defaultSettings());
}

QTEST_GUILESS_MAIN(TestRelayModel)
#include "tst_relaymodel.moc"
