#include "endtoend.h"
#include "expectedtexts.h"
#include "operations/commands.h"
#include "testmain.h"

#include <QCheckBox>
#include <QSignalSpy>

using namespace veltra;
using namespace veltra::test;

// Reading written pages back and comparing them, against the simulated relay.
namespace {

const QString kVerified = QStringLiteral("設定値の書き込みと照合が終了しました。");
const QString kNotTaken = QStringLiteral("設定値が反映されていない項目があります。");

// Reads the relay and takes its values over as the values to write.
bool readAndCopy(Bench &bench)
{
    button(bench.w(), QStringLiteral("Command12"))->click();
    button(bench.w(), QStringLiteral("Command16"))->click();
    const bool ok = bench.prompts.texts() == QStringList{text::kAllRead};
    bench.prompts.clear();
    return ok;
}

// Commands of the frames received after the first `skip`.
QStringList commandsAfter(const RelaySim &sim, int skip)
{
    return receivedCommands(sim).mid(skip);
}

} // namespace

class TestVerify : public QObject
{
    Q_OBJECT
private slots:
    void offAtStartAndInStepWithItsControl();
    void writeThenReadBack_data();
    void writeThenReadBack();
    void itemTheRelayIgnoredIsReported_data();
    void itemTheRelayIgnoredIsReported();
    void beyondTheListIsVerifiedByCode_data();
    void beyondTheListIsVerifiedByCode();
    void linkErrorDuringReadBack();
    void closingTheWindowEndsTheReadBack();
    void optionOffLeavesTheLineAsItWas();
};

void TestVerify::offAtStartAndInStepWithItsControl()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QCheckBox *option = w.serviceWindow().verifyOption();
    QCOMPARE(option->text(), QStringLiteral("書込後に読み戻して照合"));
    QVERIFY(!option->isChecked());
    QVERIFY(!w.commands().verifyAfterWrite());
    QSignalSpy changed(&w.commands(), &Commands::verifyAfterWriteChanged);
    option->click();
    QVERIFY(w.commands().verifyAfterWrite());
    w.commands().setVerifyAfterWrite(true); // already on: nothing to tell
    QCOMPARE(changed.count(), 1);
    w.commands().setVerifyAfterWrite(false);
    QVERIFY(!option->isChecked());
}

void TestVerify::writeThenReadBack_data()
{
    QTest::addColumn<int>("page"); // -1: write all
    QTest::addColumn<QStringList>("commands");
    QTest::newRow("circuit 3") << 3 << QStringList{"AE0", "B33", "AE3"};
    QTest::newRow("common") << 0 << QStringList{"AE0", "B00", "AE0"};
    QTest::newRow("all pages") << -1 << QStringList{"AE0", "B00", "B11", "B22", "B33", "B44", "B55",
                                                    "B66", "B77", "B88", "AE0", "AE1", "AE2", "AE3",
                                                    "AE4", "AE5", "AE6", "AE7", "AE8"};
}

void TestVerify::writeThenReadBack()
{
    QFETCH(int, page);
    QFETCH(QStringList, commands);
    Bench bench;
    QVERIFY(bench.start());
    QVERIFY(readAndCopy(bench));
    bench.w().commands().setVerifyAfterWrite(true);
    const int before = int(bench.sim.frames().size());
    bench.prompts.answers.enqueue(kAnswerYes);
    // The status line counts the pages read back, as each request goes.
    auto *status = bench.w().findChild<QLabel *>(QStringLiteral("StatusLine"));
    QString atLastRequest;
    connect(&bench.w().link(), &DeviceLink::requestSent, status,
            [&] { atLastRequest = status->text(); });
    if (page < 0)
        button(bench.w(), QStringLiteral("Command13"))->click();
    else
        pageButton(bench.w(), page, 2)->click();
    QVERIFY2(atLastRequest.startsWith(page < 0 ? QStringLiteral("照合中 9/9")
                                               : QStringLiteral("照合中 1/1")),
             qPrintable(atLastRequest));
    QCOMPARE(bench.prompts.texts().mid(1), QStringList{kVerified});
    QCOMPARE(bench.prompts.messages.constLast().style, kStyleNotice);
    QCOMPARE(commandsAfter(bench.sim, before), commands);

    // The read-back comes after the last frame's pause, never sooner.
    const QList<QJsonObject> frames = bench.sim.frames();
    const qsizetype lastWrite = before + (page < 0 ? 9 : 1);
    // (The relay logs a frame as it reads it: on a busy machine a late log brings two frames'
    // stamps nearer, never further apart.)
    QVERIFY(frames[lastWrite + 1].value("t_ms").toDouble() -
                frames[lastWrite].value("t_ms").toDouble() >=
            90.0);
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
}

void TestVerify::itemTheRelayIgnoredIsReported_data()
{
    QTest::addColumn<QString>("ignored"); // page:item for the simulator
    QTest::addColumn<int>("page");        // -1: write all
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("line");
    QTest::newRow("circuit 3 sensitivity, page write")
        << "3:1" << 3 << 1 << "50(mA)"
        << "回路３ 絶縁監視動作感度設定: 設定 50(mA) / 現在 100(mA)";
    QTest::newRow("circuit 3 sensitivity, write all")
        << "3:1" << -1 << 1 << "50(mA)"
        << "回路３ 絶縁監視動作感度設定: 設定 50(mA) / 現在 100(mA)";
    QTest::newRow("common LED reset, write all")
        << "0:2" << -1 << 2 << "手動"
        << "共通設定 動作表示LED復帰方式: 設定 手動 / 現在 自動";
}

void TestVerify::itemTheRelayIgnoredIsReported()
{
    QFETCH(QString, ignored);
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(QString, value);
    QFETCH(QString, line);
    Bench bench;
    QVERIFY(bench.start({QStringLiteral("--ignore-write"), ignored}));
    QVERIFY(readAndCopy(bench));
    const int changedPage = ignored.section(u':', 0, 0).toInt();
    bench.w().setSetValue(changedPage, item, value);
    // Another change on the same page that the relay takes.
    const int other = changedPage == 0 ? 0 : 4;
    const QString otherValue = textOfCode(pageKind(changedPage), other, 1);
    bench.w().setSetValue(changedPage, other, otherValue);
    bench.w().commands().setVerifyAfterWrite(true);
    bench.prompts.answers.enqueue(kAnswerYes);
    if (page < 0)
        button(bench.w(), QStringLiteral("Command13"))->click();
    else
        pageButton(bench.w(), page, 2)->click();
    // One message: the item the relay did not take, and nothing else.
    QCOMPARE(bench.prompts.texts().mid(1), QStringList{line + u'\n' + kNotTaken});
    QCOMPARE(bench.w().presentValue(changedPage, other), otherValue);
    // The window shows what the relay holds, so the row is still a pending change.
    QCOMPARE(bench.w().presentValue(changedPage, item), line.section(QStringLiteral("現在 "), 1));
}

void TestVerify::beyondTheListIsVerifiedByCode_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("1.5(A), code 14") << "1.5(A)";
    QTest::newRow("2.0(A), code 19: beyond one hex digit") << "2.0(A)";
}

void TestVerify::beyondTheListIsVerifiedByCode()
{
    // The relay takes leakage sensitivities the list does not offer; decoding shows them as
    // "ERROR", and the write is still proved by the code that came back.
    QFETCH(QString, value);
    Bench bench;
    QVERIFY(bench.start());
    QVERIFY(readAndCopy(bench));
    bench.w().setSetValue(3, 3, value);
    bench.w().commands().setVerifyAfterWrite(true);
    bench.prompts.answers.enqueue(kAnswerYes);
    pageButton(bench.w(), 3, 2)->click();
    QCOMPARE(bench.prompts.texts().mid(1), QStringList{kVerified});
    QCOMPARE(bench.w().presentValue(3, 3), QStringLiteral("ERROR"));
}

void TestVerify::linkErrorDuringReadBack()
{
    Bench bench;
    QVERIFY(bench.start({QStringLiteral("--fault"), QStringLiteral("no-reply"),
                         QStringLiteral("--fault-page"), QStringLiteral("3")}));
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            bench.w().setSetValue(page, item, expectedTexts(sim::defaultSettings(), page)[item]);
    bench.w().commands().setVerifyAfterWrite(true);
    bench.prompts.answers.enqueue(kAnswerYes);
    pageButton(bench.w(), 3, 2)->click();
    // Written, not verified: never the plain link error, as if nothing had gone out.
    QCOMPARE(bench.prompts.texts().mid(1),
             QStringList{text::kNotVerified + u'\n' + text::kNoReply});
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::NotVerified);
    QCOMPARE(bench.w().commands().outcome().pagesSent, QList<int>{3});
    // The write went out once and is not repeated.
    QCOMPARE(receivedCommands(bench.sim), (QStringList{"AE0", "B33", "AE3"}));
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
}

void TestVerify::closingTheWindowEndsTheReadBack()
{
    Bench bench;
    QVERIFY(bench.start());
    QVERIFY(readAndCopy(bench));
    bench.w().commands().setVerifyAfterWrite(true);
    const int before = int(bench.sim.frames().size());
    // Closed as the first page read back is taken in: the moment is the test's.
    int readBack = 0;
    connect(&bench.w().commands(), &Commands::readingsChanged, bench.window.get(), [&] {
        if (++readBack == 1)
            bench.w().close();
    });
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), QStringLiteral("Command13"))->click();
    QTest::qWait(300); // a second read would have gone by now
    QCOMPARE(
        commandsAfter(bench.sim, before),
        (QStringList{"AE0", "B00", "B11", "B22", "B33", "B44", "B55", "B66", "B77", "B88", "AE0"}));
    QCOMPARE(bench.prompts.texts(), QStringList{text::kWriteAllConfirm}); // nobody left to tell
    QVERIFY(!bench.w().isVisible());
}

void TestVerify::optionOffLeavesTheLineAsItWas()
{
    // With the option off (or switched on and off again) a write is exactly what it was
    // before the option existed: the link check, the frames, one message.
    for (const bool toggled : {false, true}) {
        Bench bench;
        QVERIFY(bench.start());
        QVERIFY(readAndCopy(bench));
        if (toggled) {
            bench.w().commands().setVerifyAfterWrite(true);
            bench.w().commands().setVerifyAfterWrite(false);
        }
        const int before = int(bench.sim.frames().size());
        bench.prompts.answers.enqueue(kAnswerYes);
        button(bench.w(), QStringLiteral("Command13"))->click();
        QCOMPARE(bench.prompts.texts(), (QStringList{text::kWriteAllConfirm, text::kWritten}));
        QVERIFY(bench.sim.waitForFrames(before + 10)); // the relay logs as it reads the line
        QCOMPARE(
            commandsAfter(bench.sim, before),
            (QStringList{"AE0", "B00", "B11", "B22", "B33", "B44", "B55", "B66", "B77", "B88"}));
        bench.prompts.clear();
        bench.prompts.answers.enqueue(kAnswerYes);
        pageButton(bench.w(), 5, 2)->click();
        QCOMPARE(bench.prompts.texts(),
                 (QStringList{QStringLiteral("回路５の設定を書き換えます。よろしいですか？"),
                              text::kWritten}));
        QVERIFY(bench.sim.waitForFrames(before + 12));
        QCOMPARE(commandsAfter(bench.sim, before + 10), (QStringList{"AE0", "B55"}));
    }
}

VELTRA_TEST_MAIN(TestVerify)
#include "tst_verify.moc"
