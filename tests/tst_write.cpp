#include "endtoend.h"
#include "expectedtexts.h"
#include "faultyline.h"
#include "file/settingsfile.h"
#include "link/frames.h"
#include "operations/commands.h"
#include "operations/framelog.h"
#include "settings/encode.h"
#include "settings/items.h"
#include "settings/memoryfields.h"
#include "testmain.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

using namespace veltra;
using namespace veltra::test;
using namespace veltra::test::text;

namespace {

QAction *action(MainWindow &w, const QString &name)
{
    auto *found = w.findChild<QAction *>(name);
    if (!found)
        qFatal("no action %s", qPrintable(name));
    return found;
}

// Read everything and take it over as the values to write.
void readAndCopyAll(Bench &bench)
{
    button(bench.w(), "Command12")->click();
    button(bench.w(), "Command16")->click();
    bench.prompts.clear();
}

} // namespace

class TestWrite : public QObject
{
    Q_OBJECT
private slots:
    void copyRightAfterStartUp();
    void copyKeepsInvalidItemsAndCopiesTheRest();
    void copyTwiceEqualsOnce();
    void copyAllWithOnlyCommonRead();
    void invalidSetValuesAreRefused_data();
    void invalidSetValuesAreRefused();
    void answeringNoSendsNothing();
    void relayAbsent();
    void writeCircuit3();
    void writeAll();
    void closingTheWindowStopsAWriteAll();
    void portUnusableAtSendStopsTheWrite_data();
    void portUnusableAtSendStopsTheWrite();
    void frameThatDoesNotLeaveStopsTheWrite_data();
    void frameThatDoesNotLeaveStopsTheWrite();
    void confirmationDetailsNameTheChanges();
    void anotherStationIsNotWritten_data();
    void anotherStationIsNotWritten();
    void aStationWrittenIsTheOneExpected();
    void frameLogShowsAStoppedWrite();
    void frameLogKeepsTheLastEntries();
    void frameLogNamesWhatCameInstead_data();
    void frameLogNamesWhatCameInstead();
    void editDuringPacingIsNotWritten();
    void dropWhileBusyIsSaid();
    void roundTrip();
    void shortcutsAndItemsRunTheButtonsCommands();
    void clear_data();
    void clear();
    void clearNo();
    void clearFrameThatDoesNotLeave();
    void clearWithoutChoice();
    void clearRelayAbsent();
};

void TestWrite::copyRightAfterStartUp()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    pageButton(w, 2, 1)->click();
    QCOMPARE(prompts.texts(), QStringList{kInvalidPresent});
    QCOMPARE(setTexts(w, 2), placeholders(2));
    QCOMPARE(w.commands().settingsPage(), 2);
    prompts.clear();
    button(w, "Command16")->click();
    QCOMPARE(prompts.texts(), QStringList{kInvalidPresent}); // once for all nine pages
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(setTexts(w, page), placeholders(page));
}

void TestWrite::copyKeepsInvalidItemsAndCopiesTheRest()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    const QStringList present{"ﾛｯｸ", "ERROR", "10(秒)", "0.2(A)", "0.3(秒)"};
    for (int k = 0; k < 5; ++k)
        w.setPresentValue(5, k, present[k]);
    w.setSetValue(5, 1, "50(mA)");
    pageButton(w, 5, 1)->click();
    QCOMPARE(prompts.texts(), QStringList{kInvalidPresent});
    QCOMPARE(setTexts(w, 5), (QStringList{"ﾛｯｸ", "50(mA)", "10(秒)", "0.2(A)", "0.3(秒)"}));

    // An empty text and a lower-case "error" are values like any other.
    prompts.clear();
    for (int k = 0; k < 5; ++k)
        w.setPresentValue(4, k, k == 0 ? QString() : QStringLiteral("error"));
    pageButton(w, 4, 1)->click();
    QVERIFY(prompts.messages.isEmpty());
    QCOMPARE(setTexts(w, 4), (QStringList{"", "error", "error", "error", "error"}));
}

void TestWrite::copyTwiceEqualsOnce()
{
    Bench bench;
    QVERIFY(bench.start());
    button(bench.w(), "Command12")->click();
    bench.prompts.clear();
    button(bench.w(), "Command16")->click();
    QStringList once;
    for (int page = 0; page < kPageCount; ++page)
        once << setTexts(bench.w(), page);
    button(bench.w(), "Command16")->click();
    QStringList twice;
    for (int page = 0; page < kPageCount; ++page)
        twice << setTexts(bench.w(), page);
    QCOMPARE(twice, once);
    QVERIFY(bench.prompts.messages.isEmpty());
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(setTexts(bench.w(), page), presentTexts(bench.w(), page));
}

void TestWrite::copyAllWithOnlyCommonRead()
{
    Bench bench;
    QVERIFY(bench.start());
    pageButton(bench.w(), 0, 0)->click();
    bench.prompts.clear();
    button(bench.w(), "Command16")->click();
    QCOMPARE(bench.prompts.texts(), QStringList{kInvalidPresent});
    QCOMPARE(setTexts(bench.w(), 0), expectedTexts(sim::defaultSettings(), 0));
    for (int page = 1; page < kPageCount; ++page)
        QCOMPARE(setTexts(bench.w(), page), placeholders(page));
}

void TestWrite::invalidSetValuesAreRefused_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("item");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("listed"); // the value's line below the message; none: classic
    QTest::newRow("circuit 8 placeholder, write all") << "Command13" << 8 << 4 << "* * * *"
                                                      << "";
    QTest::newRow("circuit 8 ERROR, write circuit 8") << "Command9_2" << 8 << 0 << "ERROR"
                                                      << "";
    QTest::newRow("common placeholder") << "Command1_2" << 0 << 3 << "* * * *"
                                        << "";
    QTest::newRow("station 300") << "Command1_2" << 0 << 6 << "300"
                                 << "共通設定 伝送局番号設定 \"300\"";
    QTest::newRow("station -1, write all") << "Command13" << 0 << 6 << "-1"
                                           << "共通設定 伝送局番号設定 \"-1\"";
    QTest::newRow("station 1.5") << "Command1_2" << 0 << 6 << "1.5"
                                 << "共通設定 伝送局番号設定 \"1.5\"";
    QTest::newRow("station letters") << "Command1_2" << 0 << 6 << "abc"
                                     << "共通設定 伝送局番号設定 \"abc\"";
    // Sent as "E" once, and then announced as written.
    QTest::newRow("typed value in no list") << "Command4_2" << 3 << 1 << "47(mA)"
                                            << "回路３ 絶縁監視動作感度設定 \"47(mA)\"";
    QTest::newRow("empty field, write all") << "Command13" << 2 << 0 << ""
                                            << "回路２ 電気方式の設定 \"\"";
}

void TestWrite::invalidSetValuesAreRefused()
{
    QFETCH(QString, button);
    QFETCH(int, page);
    QFETCH(int, item);
    QFETCH(QString, text);
    QFETCH(QString, listed);
    Bench bench;
    QVERIFY(bench.start());

    // Right after start-up nothing is valid.
    veltra::test::button(bench.w(), button)->click();
    QCOMPARE(bench.prompts.texts(), QStringList{kInvalidSet});

    readAndCopyAll(bench);
    const int framesBefore = bench.sim.frames().size();
    bench.w().setSetValue(page, item, text);
    bench.prompts.answers.enqueue(kAnswerYes);
    veltra::test::button(bench.w(), button)->click();
    const QStringList texts = bench.prompts.texts();
    QCOMPARE(texts.size(), 1); // no confirmation
    if (listed.isEmpty()) {
        QCOMPARE(texts[0], kInvalidSet);
    } else {
        const QStringList lines = texts[0].split(u'\n');
        QCOMPARE(lines.mid(0, 2), (QStringList{kInvalidSet, QString()}));
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[2].startsWith(listed + u':'), qPrintable(lines[2]));
    }
    QCOMPARE(bench.sim.frames().size(), framesBefore); // nothing on the line
}

void TestWrite::answeringNoSendsNothing()
{
    Bench bench;
    QVERIFY(bench.start());
    readAndCopyAll(bench);
    const int framesBefore = bench.sim.frames().size();
    bench.prompts.answers.enqueue(kAnswerNo);
    pageButton(bench.w(), 5, 2)->click();
    QCOMPARE(bench.prompts.texts(), QStringList{"回路５の設定を書き換えます。よろしいですか？"});
    QCOMPARE(bench.prompts.messages.first().style, kStyleConfirm);
    QCOMPARE(bench.w().commands().settingsPage(), 5);
    bench.prompts.clear();
    bench.prompts.answers.enqueue(kAnswerNo);
    button(bench.w(), "Command13")->click();
    QCOMPARE(bench.prompts.texts(), QStringList{kWriteAllConfirm});
    QTest::qWait(150);
    QCOMPARE(bench.sim.frames().size(), framesBefore);
    QVERIFY(bench.writeMonitor().isEmpty());
}

void TestWrite::relayAbsent()
{
    Bench bench;
    QVERIFY(bench.start({"--fault", "no-reply", "--fault-count", "100", "--fault-page", "0"}));
    for (int page = 1; page < kPageCount; ++page)
        pageButton(bench.w(), page, 0)->click(); // circuits answer, the common page does not
    pageButton(bench.w(), 3, 1)->click();
    bench.prompts.clear();
    const int framesBefore = bench.sim.frames().size();
    bench.prompts.answers.enqueue(kAnswerYes);
    pageButton(bench.w(), 3, 2)->click();
    QCOMPARE(bench.prompts.texts(),
             (QStringList{"回路３の設定を書き換えます。よろしいですか？", kNoReply}));
    const QStringList commands = receivedCommands(bench.sim).mid(framesBefore);
    QCOMPARE(commands, QStringList{"AE0"}); // the link check only
    QVERIFY(bench.writeMonitor().isEmpty());
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
    // The line failed: what was read from it before may no longer be what the relay holds.
    for (int page = 1; page < kPageCount; ++page)
        QVERIFY(bench.w().commands().presentValuesOlder(page));
}

void TestWrite::writeCircuit3()
{
    Bench bench;
    QVERIFY(bench.start());
    readAndCopyAll(bench);
    const QStringList values{"3φ3Y", "75(mA)", "20(秒)", "0.9(A)", "1.5(秒)"};
    for (int k = 0; k < 5; ++k)
        bench.w().setSetValue(3, k, values[k]);
    const QByteArray expected = BuildWriteFrame(3, bench.w());
    const int framesBefore = bench.sim.frames().size();
    bench.w().setPresentValue(0, 0, "marker");
    bench.prompts.answers.enqueue(kAnswerYes);
    pageButton(bench.w(), 3, 2)->click();
    QCOMPARE(bench.w().presentValue(0, 0), QStringLiteral("marker")); // the check decodes nothing

    QCOMPARE(bench.prompts.texts(),
             (QStringList{"回路３の設定を書き換えます。よろしいですか？", kWritten}));
    QVERIFY(bench.sim.waitForFrames(framesBefore + 2));
    QCOMPARE(receivedCommands(bench.sim).mid(framesBefore), (QStringList{"AE0", "B33"}));
    QCOMPARE(bench.sim.frames().last().value("frame").toString(), QString::fromLatin1(expected));
    QVERIFY(bench.sim.frames().last().value("accepted").toBool());
    QCOMPARE(bench.writeMonitor(), QString::fromLatin1(expected));
    QVERIFY(!bench.w().link().isPortOpen());
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
    // The relay holds it: reading back shows what was written.
    bench.prompts.clear();
    pageButton(bench.w(), 3, 0)->click();
    QCOMPARE(presentTexts(bench.w(), 3), values);
}

void TestWrite::writeAll()
{
    Bench bench;
    QVERIFY(bench.start());
    readAndCopyAll(bench);
    const int framesBefore = bench.sim.frames().size();
    bench.prompts.answers.enqueue(kAnswerYes);
    // While the first frame goes: the busy pointer, and the status line counting frames.
    auto *status = bench.w().findChild<QLabel *>(QStringLiteral("StatusLine"));
    QString statusAtFirst;
    Qt::CursorShape pointerAtFirst = Qt::ArrowCursor;
    connect(&bench.w().link(), &DeviceLink::writeFrameSent, status, [&] {
        if (statusAtFirst.isEmpty()) {
            statusAtFirst = status->text();
            pointerAtFirst = bench.w().cursor().shape();
        }
    });
    button(bench.w(), "Command13")->click();
    QCOMPARE(statusAtFirst, QStringLiteral("書込中 1/9"));
    QCOMPARE(pointerAtFirst, Qt::WaitCursor);

    QCOMPARE(bench.prompts.texts(), (QStringList{kWriteAllConfirm, kWritten}));
    QVERIFY(bench.sim.waitForFrames(framesBefore + 10));
    const QList<QJsonObject> frames = bench.sim.frames().mid(framesBefore);
    QCOMPARE(frames.size(), 10);
    QCOMPARE(frames[0].value("command").toString(), QStringLiteral("AE"));
    for (int page = 0; page < kPageCount; ++page) {
        const QJsonObject &frame = frames[page + 1];
        QCOMPARE(frame.value("command").toString(), QStringLiteral("B%1").arg(page));
        QVERIFY(frame.value("accepted").toBool()); // whole and valid
        QCOMPARE(frame.value("frame").toString().size(), 17);
    }
    // At least one pause between frames; the relay logs as it reads, so a busy machine can
    // bring one frame's time stamp nearer its neighbour but not shorten the whole span.
    QVERIFY(frames[9].value("t_ms").toDouble() - frames[1].value("t_ms").toDouble() >= 8 * 95.0);
    QCOMPARE(bench.writeMonitor(), frames.last().value("frame").toString());
    QCOMPARE(bench.w().commands().settingsPage(), 8);
    QVERIFY(!bench.w().link().isPortOpen());
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
}

// Closing the window ends a write-all at once: no frame after the one under way.
void TestWrite::closingTheWindowStopsAWriteAll()
{
    Bench bench;
    QVERIFY(bench.start());
    readAndCopyAll(bench);
    const int framesBefore = bench.sim.frames().size();
    int sent = 0;
    connect(&bench.w().link(), &DeviceLink::writeFrameSent, bench.window.get(), [&] {
        if (++sent == 2)
            bench.w().close();
    });
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), "Command13")->click();
    QCOMPARE(sent, 2);
    QVERIFY(bench.sim.waitForFrames(framesBefore + 3));
    QTest::qWait(300); // a third frame would have come by now
    QCOMPARE(receivedCommands(bench.sim).mid(framesBefore), (QStringList{"AE0", "B00", "B11"}));
    QCOMPARE(bench.prompts.texts(), QStringList{kWriteAllConfirm}); // nobody left to tell
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::WriteFailed);
    QCOMPARE(bench.w().commands().outcome().pagesSent, (QList<int>{0, 1}));
    QVERIFY(!bench.w().isVisible());
}

void TestWrite::portUnusableAtSendStopsTheWrite_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("question");
    QTest::newRow("write all") << "Command13" << kWriteAllConfirm;
    QTest::newRow("clear") << "Command11"
                           << QStringLiteral("動作値をクリアします。よろしいですか？");
}

void TestWrite::portUnusableAtSendStopsTheWrite()
{
    QFETCH(QString, button);
    QFETCH(QString, question);
    Bench bench;
    QVERIFY(bench.start({"--delay", "200"}));
    readAndCopyAll(bench);
    bench.w().serviceWindow().clearOption(0)->click();
    const int framesBefore = bench.sim.frames().size();
    // The port field changes while the link check waits: the check passes on the old port,
    // the frames cannot be sent on the new one. Changed as the check's request goes out, so
    // the moment is the test's, not the scheduler's.
    QObject::connect(
        bench.w().serviceWindow().requestMonitor(), &QLineEdit::textChanged, &bench.w(),
        [&] {
            bench.w().findChild<QComboBox *>("Combo10")->setEditText("/dev/veltra-no-such-port");
        },
        Qt::SingleShotConnection);
    bench.prompts.answers.enqueue(kAnswerYes);
    veltra::test::button(bench.w(), button)->click();
    QCOMPARE(bench.prompts.texts(), (QStringList{question, kPortUnusable}));
    QTest::qWait(200);
    QCOMPARE(receivedCommands(bench.sim).mid(framesBefore), QStringList{"AE0"});
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::PortUnusable);
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
}

void TestWrite::frameThatDoesNotLeaveStopsTheWrite_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("failFrom"); // the first write frame that does not leave
    QTest::addColumn<QStringList>("onTheLine");
    QTest::addColumn<QString>("tried"); // the frame the monitor shows
    QTest::addColumn<QString>("message");
    // How far it got, under the classic text: the monitor's last frame was the only sign.
    QTest::newRow("write all, third frame")
        << "Command13" << 3 << QStringList{"AE0", "B00", "B11"} << "B2"
        << kNoReply + "\n書込済み: 共通設定、回路１ / 未書込: 回路２～回路８";
    QTest::newRow("circuit 4") << "Command5_2" << 1 << QStringList{"AE0"} << "B4" << kNoReply;
}

void TestWrite::frameThatDoesNotLeaveStopsTheWrite()
{
    QFETCH(QString, button);
    QFETCH(int, failFrom);
    QFETCH(QStringList, onTheLine);
    QFETCH(QString, tried);
    QFETCH(QString, message);
    Bench bench;
    QVERIFY(bench.start({}, new FaultyLine(failFrom)));
    readAndCopyAll(bench);
    const int framesBefore = bench.sim.frames().size();
    bench.prompts.answers.enqueue(kAnswerYes);
    veltra::test::button(bench.w(), button)->click();
    // The line is not there: never the completion message.
    QCOMPARE(bench.prompts.texts().mid(1), QStringList{message});
    QTest::qWait(150);
    QCOMPARE(receivedCommands(bench.sim).mid(framesBefore), onTheLine);
    QCOMPARE(bench.writeMonitor().mid(3, 2), tried);
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::WriteFailed);
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!bench.w().link().isPortOpen());
}

void TestWrite::confirmationDetailsNameTheChanges()
{
    Bench bench;
    QVERIFY(bench.start());
    readAndCopyAll(bench);
    bench.w().setSetValue(3, 1, QStringLiteral("50(mA)"));
    // A page's first item too: the list is the user's last look before the relay changes.
    const QString first = bench.w().presentValue(3, 0);
    QString changed = textOfCode(PageKind::Circuit, 0, 1);
    if (changed == first)
        changed = textOfCode(PageKind::Circuit, 0, 2);
    bench.w().setSetValue(3, 0, changed);
    bench.prompts.answers.enqueue(kAnswerNo);
    button(bench.w(), "Command13")->click();
    QCOMPARE(bench.prompts.messages.size(), 1);
    QCOMPARE(bench.prompts.messages[0].text, kWriteAllConfirm); // the question as it was
    QCOMPARE(bench.prompts.messages[0].details,
             QStringLiteral("書き込むと変わる設定値 (2 件):\n"
                            "回路３ %2: %3 → %4\n"
                            "回路３ 絶縁監視動作感度設定: 100(mA) → 50(mA)\n"
                            "ポート: %1\n局番号: 012 (書き込む前にリレーの局番号と照合します)")
                 .arg(bench.sim.portPath(), rowLabel(PageKind::Circuit, 0), first, changed));
    bench.w().setSetValue(3, 0, first);

    // Present values read on another port cannot tell what a write here would change.
    QTemporaryDir dir;
    const QString other = dir.filePath(QStringLiteral("other-port"));
    QVERIFY(QFile::link(bench.sim.portPath(), other));
    bench.w().findChild<QComboBox *>(QStringLiteral("Combo10"))->setEditText(other);
    bench.prompts.clear();
    bench.prompts.answers.enqueue(kAnswerNo);
    button(bench.w(), "Command5_2")->click(); // circuit 4 alone
    // They come first, and neither a count of changes nor a station is given as this relay's.
    QCOMPARE(bench.prompts.messages.value(0).details,
             QStringLiteral("現在値は別のポート (%1) で読み込んだ値です。%2 "
                            "のリレーの値ではないため、比べられません: 回路４\n"
                            "ポート: %2\n"
                            "局番号: 未確認 (このポートで読み込んだ局番号がないため、照合しません)")
                 .arg(bench.sim.portPath(), other));

    // A page never read has nothing to compare with, and says so.
    ScriptedPrompts prompts;
    MainWindow fresh(&prompts, bench.sim.portPath());
    for (int item = 0; item < kCircuitItemCount; ++item)
        fresh.setSetValue(3, item, textOfCode(PageKind::Circuit, item, 1));
    button(fresh, "Command4_2")->click();
    QCOMPARE(prompts.messages.value(0).details,
             QStringLiteral("現在値が読み込まれていないため比べられないタブ: 回路３\n"
                            "ポート: %1\n"
                            "局番号: 未確認 (このポートで読み込んだ局番号がないため、照合しません)")
                 .arg(bench.sim.portPath()));
}

void TestWrite::anotherStationIsNotWritten_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("全設定値書替") << "Command13"
                                  << "書き込みを中止しました。";
    QTest::newRow("回路３設定値書替") << "Command4_2"
                                      << "書き込みを中止しました。";
}

// The relay on the port is swapped for another after it was read (a cable moved to the next
// panel): the link check finds its station is not the one read there, and nothing is written.
void TestWrite::anotherStationIsNotWritten()
{
    QFETCH(QString, button);
    QFETCH(QString, refusal);
    QTemporaryDir dir;
    MemoryFields station14;
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            station14.setPresentValue(page, item, textOfCode(pageKind(page), item, 1));
    station14.setPresentValue(kCommonPage, kStationItem, QStringLiteral("014"));
    const QString settings = dir.filePath(QStringLiteral("station14.DT"));
    QCOMPARE(writeSettingsFile(settings, station14), FileProblem::None);
    RelaySim other;
    QVERIFY(other.start({QStringLiteral("--settings"), settings}));

    const QString cable = dir.filePath(QStringLiteral("cable"));
    Bench bench; // station 012
    QVERIFY(bench.sim.start());
    QVERIFY(QFile::link(bench.sim.portPath(), cable));
    bench.window = std::make_unique<MainWindow>(&bench.prompts, cable);
    readAndCopyAll(bench);
    QVERIFY(QFile::remove(cable) && QFile::link(other.portPath(), cable));

    bench.prompts.answers.enqueue(kAnswerYes);
    veltra::test::button(bench.w(), button)->click();
    QCOMPARE(bench.prompts.messages.size(), 2);
    QVERIFY(bench.prompts.messages[0].details.endsWith(
        QStringLiteral("局番号: 012 (書き込む前にリレーの局番号と照合します)")));
    QCOMPARE(bench.prompts.messages[1].text,
             QStringLiteral("%1 のリレーは局番号 014 です (想定 012)。%2").arg(cable, refusal));
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::WrongStation);
    QTest::qWait(150);
    QCOMPARE(receivedCommands(other), QStringList{"AE0"}); // the link check, and nothing else
}

// A new station number written to the relay is the one the next write expects there: no
// refusal of the relay just renumbered, without a read in between.
void TestWrite::aStationWrittenIsTheOneExpected()
{
    Bench bench;
    QVERIFY(bench.start());
    readAndCopyAll(bench);
    bench.w().setSetValue(kCommonPage, kStationItem, QStringLiteral("014"));
    bench.prompts.answers << kAnswerYes << kAnswerYes;
    button(bench.w(), "Command1_2")->click(); // 共通設定値書替
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::Success);
    button(bench.w(), "Command4_2")->click(); // 回路３設定値書替
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::Success);
    QCOMPARE(bench.w().commands().outcome().stationRead, std::optional(14));
    QVERIFY(bench.prompts.messages.value(2).details.endsWith(
        QStringLiteral("局番号: 014 (書き込む前にリレーの局番号と照合します)")));
}

void TestWrite::frameLogShowsAStoppedWrite()
{
    Bench bench;
    QVERIFY(bench.start({}, new FaultyLine(3)));
    readAndCopyAll(bench);
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), "Command13")->click();
    // After the link check, what went out and what did not, one line each.
    const QStringList lines =
        bench.w().serviceWindow().frameLogView()->toPlainText().split(u'\n').mid(18);
    const QStringList expected{
        "送信  共通設定  <ENQ>FFAE0000D2<CR>  送信済み",
        "受信  共通設定  <STX>FF0001020001010C<ETX>47<CR>  正常",
        "送信  共通設定  <ENQ>FFB0",
        "送信  回路１  <ENQ>FFB1",
        "送信  回路２  <ENQ>FFB2",
    };
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i) {
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  "))
                     .match(lines[i])
                     .hasMatch(),
                 qPrintable(lines[i]));
        QVERIFY2(lines[i].mid(14).startsWith(expected[i]), qPrintable(lines[i]));
    }
    QVERIFY(lines[3].endsWith(QStringLiteral("<CR>  送信済み")));
    QVERIFY(lines[4].endsWith(QStringLiteral("<CR>  未送信")));

    // Saved as UTF-8 text, whole; a save that cannot be made says so and makes nothing.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    bench.prompts.clear();
    bench.prompts.logNames << path << dir.filePath(QStringLiteral("missing/log.txt"));
    QPushButton *save = bench.w().serviceWindow().saveLogButton();
    save->click();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             bench.w().serviceWindow().frameLogView()->toPlainText() + u'\n');
    QVERIFY(bench.prompts.texts().isEmpty());
    save->click();
    QCOMPARE(bench.prompts.texts(), QStringList{QStringLiteral("ログを保存できませんでした。")});
    QVERIFY(bench.prompts.proposedLogNames.value(0).startsWith(QStringLiteral("VELTRA通信ログ_")));
}

void TestWrite::frameLogKeepsTheLastEntries()
{
    std::unique_ptr<SerialPort> line(createSerialPort(nullptr));
    DeviceLink link(*line);
    FrameLog log;
    log.follow(link);
    for (int n = 0; n <= FrameLog::kMaxEntries; ++n)
        emit link.writeFrameSent(QByteArray::number(n), true);
    QCOMPARE(int(log.entries().size()), FrameLog::kMaxEntries);
    QCOMPARE(log.entries().front().frame, QByteArray("1"));
    QCOMPARE(log.entries().back().frame, QByteArray::number(FrameLog::kMaxEntries));
}

void TestWrite::frameLogNamesWhatCameInstead_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("result"); // a pattern: how much of a flood arrives varies
    QTest::newRow("nothing") << QStringList{"--fault", "no-reply"} << QStringLiteral("応答なし");
    QTest::newRow("STX, no CR") << QStringList{"--fault", "no-cr"}
                                << QStringLiteral("応答不完全 \\(20 バイト\\)");
    QTest::newRow("garbage flood")
        << QStringList{"--fault", "garbage-flood", "--flood-seconds", "3.5"}
        << QStringLiteral("応答不完全 \\(\\d{3,} バイト\\)");
}

void TestWrite::frameLogNamesWhatCameInstead()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, result);
    Bench bench;
    QVERIFY(bench.start(simArgs));
    pageButton(bench.w(), 0, 0)->click();
    QCOMPARE(bench.prompts.texts(), QStringList{kNoReply});
    const QString saved = bench.w().frameLog().text().split(u'\n').value(1);
    const QString shown =
        bench.w().serviceWindow().frameLogView()->toPlainText().split(u'\n').value(1);
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^(.*  受信  共通設定  )(.*)  (%1)$").arg(result))
            .match(saved);
    QVERIFY2(match.hasMatch(), qPrintable(saved));
    // The list shows a frame's start and its length; the saved log keeps it whole.
    const QByteArray frame = bench.w().frameLog().entries().back().frame;
    if (frame.size() <= ServiceWindow::kShownFrameBytes) {
        QCOMPARE(shown, saved);
    } else {
        QCOMPARE(match.captured(2), QString::fromLatin1(frame));
        QCOMPARE(shown, match.captured(1) +
                            QString::fromLatin1(frame.first(ServiceWindow::kShownFrameBytes)) +
                            QStringLiteral("…(%1 バイト)  ").arg(frame.size()) + match.captured(3));
    }
}

void TestWrite::editDuringPacingIsNotWritten()
{
    Bench bench;
    QVERIFY(bench.start());
    readAndCopyAll(bench);
    QByteArrayList confirmed;
    for (int page = 0; page < kPageCount; ++page)
        confirmed << BuildWriteFrame(page, bench.w());
    const QString before = bench.w().setValue(5, 0);
    // Once the common page's frame has gone, circuit 5 is edited while the write paces.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (bench.writeMonitor().contains(QStringLiteral("FFB0"))) {
            bench.w().setSetValue(5, 0, QStringLiteral("ﾛｯｸ"));
            poll.stop();
        }
    });
    poll.start(5);
    const int framesBefore = bench.sim.frames().size();
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), "Command13")->click();
    QCOMPARE(bench.prompts.texts(), (QStringList{kWriteAllConfirm, kWritten}));
    QVERIFY(!poll.isActive());
    QVERIFY(before != QStringLiteral("ﾛｯｸ"));
    QCOMPARE(bench.w().setValue(5, 0), QStringLiteral("ﾛｯｸ")); // kept for the next write
    QVERIFY(bench.sim.waitForFrames(framesBefore + 10));
    QStringList expected{QString::fromLatin1(readRequest(0))};
    for (const QByteArray &frame : confirmed)
        expected << QString::fromLatin1(frame);
    QCOMPARE(receivedFrames(bench.sim).mid(framesBefore), expected);
}

void TestWrite::dropWhileBusyIsSaid()
{
    Bench bench;
    QVERIFY(bench.start({"--delay", "400"}));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("relay.DT"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    // Dropped while the read waits for the relay's late reply: as its request goes out.
    QObject::connect(
        bench.w().serviceWindow().requestMonitor(), &QLineEdit::textChanged, &bench.w(),
        [&] {
            const QPoint at = bench.w().rect().center();
            QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&bench.w(), &enter);
            QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&bench.w(), &drop);
        },
        Qt::SingleShotConnection);
    pageButton(bench.w(), 0, 0)->click();
    QCOMPARE(bench.prompts.texts(), QStringList{"共通設定値の読み込みが終了しました。"});
    QTest::qWait(50);
    QCOMPARE(bench.prompts.notices.size(), 1);
    QVERIFY(bench.prompts.notices[0].contains(QStringLiteral("relay.DT")));
    QVERIFY(bench.prompts.notices[0].contains(QStringLiteral("実行中")));
}

void TestWrite::roundTrip()
{
    Bench bench;
    QVERIFY(bench.start());
    readAndCopyAll(bench);
    // Changes on several pages, one of them a typed station number.
    bench.w().setSetValue(0, 0, "60Hz");
    bench.w().setSetValue(0, 1, "手動");
    bench.w().setSetValue(0, 2, "自動");
    bench.w().setSetValue(0, 6, "100");
    bench.w().setSetValue(2, 1, "95(mA)");
    bench.w().setSetValue(5, 0, "ﾛｯｸ");
    bench.w().setSetValue(8, 4, "2.0(秒)");
    QStringList wanted;
    for (int page = 0; page < kPageCount; ++page)
        wanted << setTexts(bench.w(), page);
    QByteArrayList expectedFrames;
    for (int page = 0; page < kPageCount; ++page)
        expectedFrames << BuildWriteFrame(page, bench.w());

    const int framesBefore = bench.sim.frames().size();
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), "Command13")->click();
    QVERIFY(bench.sim.waitForFrames(framesBefore + 10));
    bench.prompts.clear();
    button(bench.w(), "Command12")->click();
    QCOMPARE(bench.prompts.texts(), QStringList{"設定値の読み込みが終了しました。"});

    QStringList present;
    for (int page = 0; page < kPageCount; ++page)
        present << presentTexts(bench.w(), page);
    QCOMPARE(present, wanted);
    QStringList expectedLog{QString::fromLatin1(readRequest(0))};
    for (const QByteArray &frame : expectedFrames)
        expectedLog << QString::fromLatin1(frame);
    for (int page = 0; page < kPageCount; ++page)
        expectedLog << QString::fromLatin1(readRequest(page));
    QCOMPARE(receivedFrames(bench.sim).mid(framesBefore), expectedLog);
}

void TestWrite::shortcutsAndItemsRunTheButtonsCommands()
{
    Bench bench;
    QVERIFY(bench.start());
    MainWindow &w = bench.w();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QTest::keyClick(&w, Qt::Key_F5); // read all
    QCOMPARE(bench.prompts.texts(), QStringList{kAllRead});
    QCOMPARE(receivedCommands(bench.sim).size(), 9);

    action(w, "ActionCopyAll")->trigger();
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(setTexts(w, page), presentTexts(w, page));

    bench.prompts.clear();
    bench.prompts.answers.enqueue(kAnswerYes);
    action(w, "ActionWriteAll")->trigger();
    QCOMPARE(bench.prompts.texts(), (QStringList{kWriteAllConfirm, kWritten}));
    QVERIFY(bench.sim.waitForFrames(19));
    QCOMPARE(receivedCommands(bench.sim).mid(9),
             (QStringList{"AE0", "B00", "B11", "B22", "B33", "B44", "B55", "B66", "B77", "B88"}));

    QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(w.serviceWindow().isVisible());
    QTest::keyClick(&w, Qt::Key_F1);
    QVERIFY(w.helpWindow() && w.helpWindow()->isVisible());
}

void TestWrite::clear_data()
{
    QTest::addColumn<int>("option");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("report");
    QTest::addColumn<QString>("frame");
    QTest::newRow("operation values") << 0 << "動作値をクリアします。よろしいですか？"
                                      << "動作値のクリアを送信しました。"
                                      << "\x05"
                                         "FFB9100000000B8\r";
    QTest::newRow("maximum values") << 1 << "最大値をクリアします。よろしいですか？"
                                    << "最大値のクリアを送信しました。"
                                    << "\x05"
                                       "FFB9010000000B8\r";
}

void TestWrite::clear()
{
    QFETCH(int, option);
    QFETCH(QString, confirmation);
    QFETCH(QString, report);
    QFETCH(QString, frame);
    Bench bench;
    QVERIFY(bench.start());
    bench.w().showServiceWindow();
    bench.w().serviceWindow().clearOption(option)->click();
    bench.prompts.answers.enqueue(kAnswerYes);
    Qt::CursorShape pointerAtFrame = Qt::ArrowCursor;
    connect(&bench.w().link(), &DeviceLink::writeFrameSent, bench.window.get(),
            [&] { pointerAtFrame = bench.w().cursor().shape(); });
    button(bench.w(), "Command11")->click();

    QCOMPARE(bench.prompts.texts(), (QStringList{confirmation, report}));
    QCOMPARE(bench.prompts.messages[0].style, kStyleConfirm);
    QCOMPARE(bench.prompts.messages[1].style, kStyleNotice);
    QVERIFY(bench.sim.waitForFrames(2));
    QCOMPARE(receivedCommands(bench.sim), (QStringList{"AE0", "B99"}));
    QCOMPARE(receivedFrames(bench.sim).last(), frame);
    QVERIFY(bench.sim.frames().last().value("accepted").toBool());
    QCOMPARE(bench.writeMonitor(), frame);
    QCOMPARE(bench.w().commands().settingsPage(), 9);
    QVERIFY(bench.w().clearOptionSelected(option)); // the choice stays
    QCOMPARE(pointerAtFrame, Qt::WaitCursor);
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
}

// A clear frame that does not leave is no clear: said as a write's frame would be.
void TestWrite::clearFrameThatDoesNotLeave()
{
    Bench bench;
    QVERIFY(bench.start({}, new FaultyLine(1)));
    bench.w().showServiceWindow();
    bench.w().serviceWindow().clearOption(0)->click();
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), "Command11")->click();
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::WriteFailed);
    QCOMPARE(bench.w().commands().outcome().page, 9); // the command line names the frame by it
    QCOMPARE(bench.prompts.texts().value(1).section(u'\n', 0, 0), kNoReply);
    QCOMPARE(receivedCommands(bench.sim), QStringList{"AE0"}); // the link check alone
}

void TestWrite::clearNo()
{
    Bench bench;
    QVERIFY(bench.start());
    bench.w().serviceWindow().clearOption(0)->click();
    bench.prompts.answers.enqueue(kAnswerNo);
    button(bench.w(), "Command11")->click();
    QCOMPARE(bench.prompts.texts(), QStringList{"動作値をクリアします。よろしいですか？"});
    QTest::qWait(150);
    QVERIFY(bench.sim.frames().isEmpty());
    QCOMPARE(bench.w().commands().settingsPage(), 9);
}

void TestWrite::clearWithoutChoice()
{
    Bench bench;
    QVERIFY(bench.start());
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), "Command11")->click();
    QCOMPARE(bench.prompts.texts(), QStringList{"クリアするデータを選択してください。"});
    QCOMPARE(bench.prompts.messages.first().style, kStyleNotice);
    QTest::qWait(150);
    QVERIFY(bench.sim.frames().isEmpty());
}

void TestWrite::clearRelayAbsent()
{
    Bench bench;
    QVERIFY(bench.start({"--fault", "no-reply"}));
    bench.w().serviceWindow().clearOption(1)->click();
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), "Command11")->click();
    QCOMPARE(bench.prompts.texts(),
             (QStringList{"最大値をクリアします。よろしいですか？", kNoReply}));
    QCOMPARE(receivedCommands(bench.sim), QStringList{"AE0"});
    QVERIFY(bench.writeMonitor().isEmpty());
}

VELTRA_TEST_MAIN(TestWrite)
#include "tst_write.moc"
