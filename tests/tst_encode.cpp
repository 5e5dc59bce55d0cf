#include "link/frames.h"
#include "settings/encode.h"
#include "settings/fingerprint.h"
#include "settings/items.h"
#include "settings/memoryfields.h"
#include "settings/validation.h"
#include "settings/writable.h"

#include <QTest>

using namespace veltra;

class TestEncode : public QObject
{
    Q_OBJECT
private slots:
    void commonFrames_data();
    void commonFrames();
    void circuitFrames_data();
    void circuitFrames();
    void clearFrames_data();
    void clearFrames();
    void stationNumbers_data();
    void stationNumbers();
    void fingerprints_data();
    void fingerprints();
    void writeProblems_data();
    void writeProblems();
    void problemsOfAllPages();
};

namespace {

QByteArray framed(const QByteArray &bodyAndChecksum)
{
    return "\x05" + bodyAndChecksum + "\r";
}

void setPage(MemoryFields &fields, int page, const QStringList &texts)
{
    for (int item = 0; item < texts.size(); ++item)
        fields.setSetValue(page, item, texts[item]);
}

} // namespace

void TestEncode::commonFrames_data()
{
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QByteArray>("data");
    const QStringList base{"50Hz", "自動", "自動", "自動", "無し", "無し", "001"};
    QTest::newRow("documented") << base << QByteArray("000000100");
    QStringList t = base;
    t[1] = "手動";
    QTest::newRow("item 1 manual") << t << QByteArray("020000100");
    t = base;
    t[2] = "手動";
    QTest::newRow("item 2 manual") << t << QByteArray("010000100");
    t = QStringList{"60Hz", "手動", "手動", "手動", "有り", "有り", "128"};
    QTest::newRow("all ones") << t << QByteArray("131118000");
    t = base;
    t[1] = "ERROR";
    QTest::newRow("item 1 unknown") << t << QByteArray("0E0000100");
    t = base;
    t[2] = "自動 ";
    QTest::newRow("item 2 trailing blank") << t << QByteArray("0E0000100");
    t = base;
    t[0] = "60hz";
    QTest::newRow("frequency lower case") << t << QByteArray("E00000100");
    t = base;
    t[6] = "300";
    QTest::newRow("station out of range") << t << QByteArray("00000EE00");
}

void TestEncode::commonFrames()
{
    QFETCH(QStringList, texts);
    QFETCH(QByteArray, data);
    MemoryFields fields;
    setPage(fields, 0, texts);
    const QByteArray frame = BuildWriteFrame(0, fields);
    QCOMPARE(frame.size(), 17);
    QCOMPARE(frame.sliced(1, 13), "FFB0" + data);
    QCOMPARE(frame.first(1), QByteArray("\x05"));
    QCOMPARE(frame.back(), '\r');
    if (QTest::currentDataTag() == QByteArrayLiteral("documented"))
        QCOMPARE(frame, framed("FFB0000000100AF"));
    QCOMPARE(fields.setValue(0, 0), texts[0]); // the encoder changes no field
}

void TestEncode::circuitFrames_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QByteArray>("frame");
    const QStringList zero{"ﾛｯｸ", "ﾛｯｸ", "5(秒)", "ﾛｯｸ", "0.3(秒)"};
    QTest::newRow("circuit 1 all zero") << 1 << zero << framed("FFB1000000000AF");
    QTest::newRow("circuit 8 all zero") << 8 << zero << framed("FFB8000000000B6");
    const QStringList last{"1φ2W", "100(mA)", "40(秒)", "2.0(A)", "1.8(秒)"};
    QByteArray body = "FFB31?4C:0000";
    QTest::newRow("documented data") << 3 << last << framed(body + RequestChecksum(body));
    QStringList t = zero;
    t[0] = "ﾛｯｸ ";
    body = "FFB2E00000000";
    QTest::newRow("trailing blank is E") << 2 << t << framed(body + RequestChecksum(body));
    t = zero;
    t[0] = "ロック";
    QTest::newRow("full-width katakana is E") << 2 << t << framed(body + RequestChecksum(body));
    t = zero;
    t[1] = "30mA";
    body = "FFB20E0000000";
    QTest::newRow("no parentheses is E") << 2 << t << framed(body + RequestChecksum(body));
    t = zero;
    t[3] = "1.1(A)";
    body = "FFB5000:00000";
    QTest::newRow("write-only 1.1(A)") << 5 << t << framed(body + RequestChecksum(body));
    t = zero;
    t[2] = "* * * *";
    body = "FFB500E000000";
    QTest::newRow("placeholder is E") << 5 << t << framed(body + RequestChecksum(body));
}

void TestEncode::circuitFrames()
{
    QFETCH(int, page);
    QFETCH(QStringList, texts);
    QFETCH(QByteArray, frame);
    MemoryFields fields;
    setPage(fields, page, texts);
    QCOMPARE(BuildWriteFrame(page, fields), frame);
}

void TestEncode::clearFrames_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("operation values") << 0 << framed("FFB9100000000B8");
    QTest::newRow("maximum values") << 1 << framed("FFB9010000000B8");
    QTest::newRow("none") << -1 << framed("FFB9000000000B7");
}

void TestEncode::clearFrames()
{
    QFETCH(int, option);
    QFETCH(QByteArray, frame);
    MemoryFields fields;
    setPage(fields, 0, {"60Hz"}); // set values play no part
    fields.setClearOptions(option == 0, option == 1);
    QCOMPARE(BuildWriteFrame(9, fields), frame);
    // Past the clear frame, or before the common page, there is no frame at all.
    QVERIFY(BuildWriteFrame(10, fields).isEmpty());
    QVERIFY(BuildWriteFrame(-1, fields).isEmpty());
}

void TestEncode::stationNumbers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("hex"); // empty: no frame form
    QTest::newRow("001") << "001" << QByteArray("01");
    QTest::newRow("010 is hex 0A") << "010" << QByteArray("0A");
    QTest::newRow("128") << "128" << QByteArray("80");
    QTest::newRow("255") << "255" << QByteArray("FF");
    QTest::newRow("000") << "000" << QByteArray("00");
    QTest::newRow("7 typed") << "7" << QByteArray("07");
    QTest::newRow("256") << "256" << QByteArray();
    QTest::newRow("-1") << "-1" << QByteArray();
    QTest::newRow("1.5") << "1.5" << QByteArray();
    QTest::newRow("blank") << " 12" << QByteArray();
    QTest::newRow("no digits") << "abc" << QByteArray();
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("full-width digits") << "１２" << QByteArray();
    QTest::newRow("huge") << "99999999999999999999" << QByteArray();
}

void TestEncode::stationNumbers()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, hex);
    const auto value = stationNumberValue(text);
    QCOMPARE(value.has_value(), !hex.isEmpty());
    if (value)
        QCOMPARE(hexByte(*value), hex);
}

// The vector stands in the README; its digits were taken with sha256sum over the nine lines,
// not from this code.
void TestEncode::fingerprints_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the README's vector") << 1 << 0 << "1φ3W"
                                         << "D3D69E51";
    QTest::newRow("station left out") << 0 << 6 << "200"
                                      << "D3D69E51";
    QTest::newRow("one item changed") << 3 << 1 << "100(mA)"
                                      << "9510BB42";
    QTest::newRow("beyond the list, by its write code") << 8 << 3 << "1.5(A)"
                                                        << "0C04D208";
    QTest::newRow("a page not read") << 5 << 2 << "* * * *"
                                     << "—";
    QTest::newRow("ERROR") << 0 << 0 << "ERROR"
                           << "—";
    QTest::newRow("a text the relay does not know") << 2 << 4 << "0.5秒"
                                                    << "—";
    QTest::newRow("station out of range") << 0 << 6 << "256"
                                          << "—";
}

void TestEncode::fingerprints()
{
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QStringList common{"50Hz", "自動", "手動", "自動", "有り", "無し", "001"};
    const QStringList circuit{"1φ3W", "50(mA)", "10(秒)", "0.2(A)", "0.5(秒)"};
    auto value = [&](int p, int i) {
        if (p == page && i == item)
            return text;
        return p == kCommonPage ? common[i] : circuit[i];
    };
    QCOMPARE(shownFingerprint(fingerprint(value)), expected);
}

void TestEncode::writeProblems_data()
{
    // -1: the text can be written.
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("problem");
    const int none = -1;
    QTest::newRow("a listed value") << 1 << 0 << "3φ3Dw" << none;
    QTest::newRow("beyond the list, in the write table") << 1 << 3 << "2.0(A)" << none;
    QTest::newRow("station 255") << 0 << int(kStationItem) << "255" << none;
    QTest::newRow("station 256") << 0 << int(kStationItem) << "256"
                                 << int(WriteProblem::StationOutOfRange);
    QTest::newRow("not read") << 1 << 0 << notLoadedText() << int(WriteProblem::NotChosen);
    QTest::newRow("error") << 0 << 0 << errorText() << int(WriteProblem::Error);
    QTest::newRow("empty") << 1 << 4 << "" << int(WriteProblem::Empty);
    QTest::newRow("typed") << 1 << 4 << "9(秒)" << int(WriteProblem::Unknown);
    // No such item: nothing to write it as, whatever the text.
    QTest::newRow("item past the page") << 1 << itemCount(1) << "" << int(WriteProblem::Unknown);
    QTest::newRow("item -1") << 0 << -1 << "" << int(WriteProblem::Unknown);
    QTest::newRow("page 9") << 9 << 0 << "" << int(WriteProblem::Unknown);
}

void TestEncode::writeProblems()
{
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(QString, text);
    QFETCH(int, problem);
    const std::optional<WriteProblem> got = writeProblem(page, item, text);
    QCOMPARE(got ? int(*got) : -1, problem);
    // Only what no write ever took stays refused under the old rule.
    QCOMPARE(got && alwaysRefused(*got),
             problem == int(WriteProblem::NotChosen) || problem == int(WriteProblem::Error));
}

void TestEncode::problemsOfAllPages()
{
    // Nothing read yet: every item of every page, and a range beyond the pages adds none.
    MemoryFields fields;
    const QList<ValueProblem> all = setValueProblems(fields, 0, kPageCount - 1);
    QCOMPARE(all.size(), itemCount(kCommonPage) + (kPageCount - 1) * itemCount(1));
    QCOMPARE(all.constFirst().page, kCommonPage);
    QCOMPARE(all.constLast().page, kPageCount - 1);
    QCOMPARE(setValueProblems(fields, -1, kPageCount), all);
}

QTEST_MAIN(TestEncode)
#include "tst_encode.moc"
