#include "endtoend.h"
#include "expectedtexts.h"
#include "knownfile.h"
#include "link/frames.h"
#include "link/serialport.h"
#include "operations/commands.h"
#include "testmain.h"
#include "ui/changemarks.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

using namespace veltra;
using namespace veltra::test;
using namespace veltra::test::text;

class TestRead : public QObject
{
    Q_OBJECT
private slots:
    void readOnePage_data();
    void readOnePage();
    void readAll();
    void statusLineTellsProgressAndProvenance();
    void escEndsAReadAllBetweenPages();
    void linkFaults_data();
    void linkFaults();
    void portCannotBeOpened_data();
    void portCannotBeOpened();
    void portHeldByAnotherProgram();
    void dataErrorDuringReadAllKeepsEarlierPages();
    void lineLostMidReply();
    void clickDuringWaitIsIgnored();
    void closingTheWindowDuringWaitEndsCleanly();
    void exitClosesAnOpenPort();
    void portFieldChangeTakesEffectNextTime();
    void snapshotHoldsOneRelay();
    void clearAfterARefusedCopyIsSent();
    void readFromRelayUpdatesMarks();
    void relayReadBackSavesTheSameBytes();
};

void TestRead::readOnePage_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("message");
    QTest::newRow("common") << 0 << "共通設定値の読み込みが終了しました。";
    QTest::newRow("circuit 3") << 3 << "回路３設定値の読み込みが終了しました。";
    QTest::newRow("circuit 8") << 8 << "回路８設定値の読み込みが終了しました。";
}

void TestRead::readOnePage()
{
    QFETCH(int, page);
    QFETCH(QString, message);
    Bench bench;
    QVERIFY(bench.start());
    QString status; // as the request goes out
    connect(&bench.w().link(), &DeviceLink::requestSent, &bench.w(),
            [&] { status = bench.w().findChild<QLabel *>(QStringLiteral("StatusLine"))->text(); });
    pageButton(bench.w(), page, 0)->click();

    QCOMPARE(status, QStringLiteral("読込中 1/1"));
    QCOMPARE(bench.prompts.texts(), QStringList{message});
    QCOMPARE(bench.prompts.messages.first().style, kStyleNotice);
    QCOMPARE(presentTexts(bench.w(), page), expectedTexts(sim::defaultSettings(), page));
    for (int other = 0; other < kPageCount; ++other) {
        if (other != page)
            QCOMPARE(presentTexts(bench.w(), other), placeholders(other));
        QCOMPARE(setTexts(bench.w(), other), placeholders(other)); // set values untouched
    }
    QCOMPARE(bench.requestMonitor(), QString::fromLatin1(readRequest(page)));
    QCOMPARE(bench.replyMonitor(), QString::fromLatin1(sim::RelayModel().replyFrame(page)));
    QCOMPARE(bench.w().serviceWindow().stationCaption()->text(), QStringLiteral("局番号=FFH"));
    QCOMPARE(bench.w().commands().settingsPage(), page);
    QVERIFY(!bench.w().link().isPortOpen());
    QCOMPARE(receivedFrames(bench.sim), QStringList{QString::fromLatin1(readRequest(page))});
}

void TestRead::statusLineTellsProgressAndProvenance()
{
    Bench bench;
    QVERIFY(bench.start({"--delay", "600"})); // long enough for the wait to show
    auto *status = bench.w().findChild<QLabel *>(QStringLiteral("StatusLine"));
    QVERIFY(status);
    QCOMPARE(status->text(), QStringLiteral("現在値: 未読込"));
    // What the line says while the read runs, each time a reply arrives.
    QStringList seen;
    connect(
        &bench.w().link(), &DeviceLink::replyReceived, status, [&] { seen << status->text(); },
        Qt::DirectConnection);
    QTimer sampler; // and once during the first wait
    sampler.setSingleShot(true);
    connect(&sampler, &QTimer::timeout, status, [&] { seen.prepend(status->text()); });
    connect(&bench.w().link(), &DeviceLink::requestSent, &sampler, [&] {
        if (seen.isEmpty())
            sampler.start(500);
    });
    // The line is at rest by the time the completion message stands, not once it is closed.
    QString whileTheBoxStands;
    bench.prompts.onMessage = [&] { whileTheBoxStands = status->text(); };
    button(bench.w(), "Command12")->click();
    QCOMPARE(whileTheBoxStands, status->text());
    QVERIFY2(QRegularExpression(QStringLiteral("^読込中 1/9　応答待ち 0\\.[3-6] s$"))
                 .match(seen.value(0))
                 .hasMatch(),
             qPrintable(seen.value(0)));
    QCOMPARE(seen.size(), 10);
    QVERIFY2(seen.last().startsWith(QStringLiteral("読込中 9/9")), qPrintable(seen.last()));
    // At rest: where and when, the station, and the fingerprint of what was read.
    const QRegularExpressionMatch rest =
        QRegularExpression(QStringLiteral("^現在値: (.+) から \\d\\d:\\d\\d:\\d\\d に読込 \\(9/9\\)"
                                          "　局番号 012　フィンガープリント ([0-9A-F]{8})$"))
            .match(status->text());
    QVERIFY2(rest.hasMatch(), qPrintable(status->text()));
    QCOMPARE(rest.captured(1), bench.sim.portPath());
    QCOMPARE(status->accessibleName(), QStringLiteral("状態: ") + status->text());
    // A port typed since makes every page older, counted apart.
    bench.w().findChild<QComboBox *>(QStringLiteral("Combo10"))->setEditText(QStringLiteral("7"));
    QVERIFY2(status->text().contains(QStringLiteral("(9/9)、うち 9 ページは古い値")),
             qPrintable(status->text()));
}

void TestRead::escEndsAReadAllBetweenPages()
{
    Bench bench;
    QVERIFY(bench.start());
    // Esc while page 2 is being read: it is read to its end, and no page after it.
    int requests = 0;
    connect(&bench.w().link(), &DeviceLink::requestSent, &bench.w(), [&] {
        if (++requests == 3)
            QTest::keyClick(bench.w().findChild<QPushButton *>(QStringLiteral("Command12")),
                            Qt::Key_Escape);
    });
    button(bench.w(), "Command12")->click();
    QVERIFY(bench.prompts.texts().isEmpty()); // no box to dismiss
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::Stopped);
    QCOMPARE(bench.w().commands().outcome().pagesRead, (QList<int>{0, 1, 2}));
    QCOMPARE(receivedCommands(bench.sim), (QStringList{"AE0", "AE1", "AE2"}));
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(presentTexts(bench.w(), page) == expectedTexts(sim::defaultSettings(), page),
                 page <= 2);
    auto *status = bench.w().findChild<QLabel *>(QStringLiteral("StatusLine"));
    QVERIFY2(status->text().startsWith(
                 QStringLiteral("全現在設定値取得を中止しました (3/9 ページ読込済み)。　現在値: ")),
             qPrintable(status->text()));
    QVERIFY(status->text().contains(QStringLiteral("(3/9)")));
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);

    // The next read-all is not ended by the last one's Esc.
    button(bench.w(), "Command12")->click();
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::Success);
    QCOMPARE(bench.w().commands().outcome().pagesRead.size(), kPageCount);
}

void TestRead::readAll()
{
    Bench bench;
    QVERIFY(bench.start());
    // The pause after each page keeps the command going far past this: the pointer is busy.
    Qt::CursorShape meanwhile = Qt::ArrowCursor;
    QTimer::singleShot(50, &bench.w(), [&] { meanwhile = bench.w().cursor().shape(); });
    button(bench.w(), "Command12")->click();
    QCOMPARE(meanwhile, Qt::WaitCursor);

    QCOMPARE(bench.prompts.texts(), QStringList{kAllRead});
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(presentTexts(bench.w(), page), expectedTexts(sim::defaultSettings(), page));
    const QList<QJsonObject> frames = bench.sim.frames();
    QCOMPARE(frames.size(), kPageCount);
    for (int page = 0; page < kPageCount; ++page) {
        QCOMPARE(frames[page].value("page").toInt(), page);
        QVERIFY(frames[page].value("accepted").toBool());
        // Each accepted reply is followed by the 100 ms pause.
        if (page > 0)
            QVERIFY2(frames[page].value("t_ms").toDouble() -
                             frames[page - 1].value("t_ms").toDouble() >=
                         99.0,
                     qPrintable(QStringLiteral("page %1").arg(page)));
    }
    QCOMPARE(bench.w().commands().settingsPage(), 0); // read-all leaves the page alone
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!bench.w().link().isPortOpen());
}

void TestRead::linkFaults_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("waitsForTimeout");
    QTest::addColumn<QString>("replyStart"); // what Text11 shows first

    QTest::newRow("no reply") << QStringList{"--fault", "no-reply"} << kNoReply << true << "";
    QTest::newRow("no CR") << QStringList{"--fault", "no-cr"} << kNoReply << true << "\x02";
    QTest::newRow("bad checksum") << QStringList{"--fault", "bad-checksum"} << kDataError << false
                                  << "\x02";
    QTest::newRow("lower-case checksum")
        << QStringList{"--fault", "lowercase-checksum"} << kDataError << false << "\x02";
    QTest::newRow("stray character")
        << QStringList{"--fault", "stray-before-stx"} << kDataError << false << "";
}

void TestRead::linkFaults()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, message);
    QFETCH(bool, waitsForTimeout);
    QFETCH(QString, replyStart);
    Bench bench;
    QVERIFY(bench.start(simArgs));
    QElapsedTimer clock;
    clock.start();
    pageButton(bench.w(), 2, 0)->click();
    const qint64 elapsed = clock.elapsed();

    QCOMPARE(bench.prompts.texts(), QStringList{message});
    QCOMPARE(presentTexts(bench.w(), 2), placeholders(2));
    if (waitsForTimeout)
        QVERIFY2(elapsed >= 2950 && elapsed < 6000, qPrintable(QString::number(elapsed)));
    else
        QVERIFY2(elapsed < 2500, qPrintable(QString::number(elapsed)));
    QVERIFY(bench.replyMonitor().startsWith(replyStart));
    if (QTest::currentDataTag() == QByteArrayLiteral("no CR")) {
        QVERIFY(bench.replyMonitor().size() > 10); // the partial reply is there to see
        QVERIFY(!bench.replyMonitor().contains('\r'));
    }
    QVERIFY(!bench.w().link().isPortOpen());
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
}

void TestRead::portCannotBeOpened_data()
{
    QTest::addColumn<QString>("port");
    QTest::newRow("missing device") << "/dev/veltra-no-such-port";
    QTest::newRow("letters") << "abc";
    QTest::newRow("zero") << "0";
    QTest::newRow("empty") << "";
}

void TestRead::portCannotBeOpened()
{
    QFETCH(QString, port);
    ScriptedPrompts prompts;
    MainWindow w(&prompts, port.isEmpty() ? QStringLiteral("x") : port);
    if (port.isEmpty())
        w.findChild<QComboBox *>("Combo10")->setEditText(QString());
    w.serviceWindow().requestMonitor()->setText("before");
    QElapsedTimer clock;
    clock.start();
    pageButton(w, 1, 0)->click();
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(prompts.texts(), QStringList{kPortUnusable});
    QCOMPARE(w.serviceWindow().requestMonitor()->text(), QStringLiteral("before"));
    QVERIFY(!w.link().isPortOpen());

    // Read all stops at the first page with the same single message.
    prompts.clear();
    button(w, "Command12")->click();
    QCOMPARE(prompts.texts(), QStringList{kPortUnusable});
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
}

void TestRead::portHeldByAnotherProgram()
{
    RelaySim sim;
    QVERIFY(sim.start());
    // Another program holds the line (Qt's serial layer locks the device).
    QSerialPort other;
    other.setPortName(sim.portPath());
    QVERIFY(other.open(QIODevice::ReadWrite));

    ScriptedPrompts prompts;
    MainWindow w(&prompts, sim.portPath());
    pageButton(w, 0, 0)->click();
    QCOMPARE(prompts.texts(), QStringList{kPortUnusable});
    QVERIFY(sim.frames().isEmpty());
    other.close();

    prompts.clear();
    pageButton(w, 0, 0)->click();
    QCOMPARE(prompts.texts(), QStringList{"共通設定値の読み込みが終了しました。"});
}

void TestRead::dataErrorDuringReadAllKeepsEarlierPages()
{
    Bench bench;
    QVERIFY(bench.start({"--fault", "bad-checksum", "--fault-page", "4"}));
    button(bench.w(), "Command12")->click();
    // Which tabs hold new values is said, not left to be guessed.
    QCOMPARE(
        bench.prompts.texts(),
        QStringList{kDataError + "\n読込済み: 共通設定、回路１～回路３ / 未読込: 回路４～回路８"});
    for (int page = 0; page < 4; ++page)
        QCOMPARE(presentTexts(bench.w(), page), expectedTexts(sim::defaultSettings(), page));
    for (int page = 4; page < kPageCount; ++page)
        QCOMPARE(presentTexts(bench.w(), page), placeholders(page));
    QCOMPARE(bench.sim.frames().size(), 5); // pages after the failure are not asked for
    QCOMPARE(bench.w().cursor().shape(), Qt::ArrowCursor);
}

void TestRead::lineLostMidReply()
{
    Bench bench;
    QVERIFY(bench.start({"--fault", "hangup"}));
    QElapsedTimer clock;
    clock.start();
    const double cpuBefore = processCpuMs();
    pageButton(bench.w(), 1, 0)->click();
    const qint64 elapsed = clock.elapsed();
    const double cpu = processCpuMs() - cpuBefore;

    QCOMPARE(bench.prompts.texts(), QStringList{kNoReply});
    QVERIFY(!bench.w().link().isPortOpen());
    QCOMPARE(presentTexts(bench.w(), 1), placeholders(1));
    // A lost line ends the wait at once, not after the time-out, and never spins.
    QVERIFY2(elapsed < 2500, qPrintable(QString::number(elapsed)));
    QVERIFY2(cpu < 0.5 * double(elapsed) + 100, qPrintable(QString::number(cpu)));

    // Idle afterwards: nothing left firing.
    const double idleBefore = processCpuMs();
    QTest::qWait(500);
    QVERIFY(processCpuMs() - idleBefore < 100);
    QCOMPARE(bench.prompts.messages.size(), 1);
}

void TestRead::clickDuringWaitIsIgnored()
{
    Bench bench;
    QVERIFY(bench.start({"--fault", "no-reply"}));
    int clicksDone = 0;
    QTimer::singleShot(300, [&] {
        pageButton(bench.w(), 0, 0)->click();
        button(bench.w(), "Command12")->click();
        button(bench.w(), "Command16")->click();
        ++clicksDone;
    });
    pageButton(bench.w(), 5, 0)->click();
    QCOMPARE(clicksDone, 1);
    QCOMPARE(bench.prompts.texts(), QStringList{kNoReply});
    QCOMPARE(bench.sim.frames().size(), 1);
    QCOMPARE(bench.w().commands().settingsPage(), 5);
}

void TestRead::closingTheWindowDuringWaitEndsCleanly()
{
    Bench bench;
    QVERIFY(bench.start({"--fault", "no-reply"}));
    QSignalSpy exit(bench.window.get(), &MainWindow::exitRequested);
    QTimer::singleShot(300, [&] { bench.w().close(); });
    QElapsedTimer clock;
    clock.start();
    button(bench.w(), "Command12")->click();
    QVERIFY(clock.elapsed() < 2500);
    QCOMPARE(exit.count(), 1);
    QVERIFY(bench.prompts.messages.isEmpty());
    QVERIFY(!bench.w().isVisible());
    QVERIFY(!bench.w().link().isPortOpen());
}

// 終了 with the port open (another way than a transaction left it so): said, then closed.
void TestRead::exitClosesAnOpenPort()
{
    Bench bench;
    SerialPort *line = createSerialPort(nullptr); // the window's own, held here too
    QVERIFY(bench.start({}, line));
    SerialPort &port = *line;
    port.setPortName(bench.sim.portPath());
    port.setLineSettings();
    QVERIFY(port.open());
    QVERIFY(bench.w().commands().CloseAndExit());
    QCOMPARE(bench.prompts.texts(), QStringList{QStringLiteral("COMポートを閉じます")});
    QVERIFY(!port.isOpen());

    // Not in the middle of a read: 終了 (the menu's too) waits for it to end.
    bench.prompts.clear();
    bool refused = false;
    connect(
        &bench.w().link(), &DeviceLink::requestSent, &bench.w(),
        [&] { refused = !bench.w().commands().CloseAndExit() && port.isOpen(); },
        Qt::SingleShotConnection);
    pageButton(bench.w(), 0, 0)->click();
    QVERIFY(refused);
    QCOMPARE(bench.prompts.texts(),
             QStringList{QStringLiteral("共通設定値の読み込みが終了しました。")});
}

void TestRead::portFieldChangeTakesEffectNextTime()
{
    Bench bench;
    QVERIFY(bench.start());
    auto *field = bench.w().findChild<QComboBox *>("Combo10");
    field->setEditText("/dev/veltra-no-such-port");
    pageButton(bench.w(), 0, 0)->click();
    QCOMPARE(bench.prompts.texts(), QStringList{kPortUnusable});
    field->setEditText(bench.sim.portPath());
    bench.prompts.clear();
    pageButton(bench.w(), 0, 0)->click();
    QCOMPARE(bench.prompts.texts(), QStringList{"共通設定値の読み込みが終了しました。"});
}

namespace {

bool greyed(MainWindow &w, int page)
{
    const QLineEdit *field =
        w.findChild<QLineEdit *>(QStringLiteral("Text%1_0").arg(page ? page : 9));
    return field->palette().color(QPalette::Text) == MainWindow::olderTextColor() &&
           !field->toolTip().isEmpty();
}

} // namespace

void TestRead::snapshotHoldsOneRelay()
{
    // Relay A read whole; then the port names relay B, whose read-all stops at page 5.
    RelaySim relayB;
    QVERIFY(relayB.start({"--fault", "bad-checksum", "--fault-page", "5"}));
    Bench bench;
    QVERIFY(bench.start({"--fault", "bad-checksum", "--fault-page", "5", "--fault-count", "1"}));
    MainWindow &w = bench.w();
    const QString portA = bench.sim.portPath();
    // The same port, a read that fails (a cable moved to another relay looks alike): the
    // pages read before it, the first one too, are older now.
    pageButton(w, 0, 0)->click();
    pageButton(w, 6, 0)->click();
    pageButton(w, 5, 0)->click();
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(greyed(w, page), page == 0 || page == 6);
    button(w, "Command12")->click();
    pageButton(w, 3, 0)->click(); // reads page by page on a working line mark nothing
    for (int page = 0; page < kPageCount; ++page)
        QVERIFY(!greyed(w, page));

    // Another port named: every page is another relay's until read again.
    auto *port = w.findChild<QComboBox *>("Combo10");
    port->setEditText(relayB.portPath());
    for (int page = 0; page < kPageCount; ++page)
        QVERIFY(greyed(w, page));
    QVERIFY(w.findChild<QLineEdit *>("Text3_2")->toolTip().contains(portA));
    bench.prompts.clear();
    button(w, "Command15")->click();
    QCOMPARE(bench.prompts.texts(), QStringList{kSaveRefused});
    port->setEditText(portA);
    QVERIFY(!greyed(w, 4));

    // B's read-all fails at page 5: pages 0..4 are B's, 5..8 still A's, and said to be.
    port->setEditText(relayB.portPath());
    bench.prompts.clear();
    button(w, "Command12")->click();
    QCOMPARE(bench.prompts.texts().size(), 1);
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(greyed(w, page), page >= 5);
    QVERIFY2(w.findChild<QLineEdit *>("Text6_1")->toolTip().contains(portA),
             qPrintable(w.findChild<QLineEdit *>("Text6_1")->toolTip()));
    // Under the name chosen for B, neither A's values nor a mix of both are saved.
    QTemporaryDir dir;
    bench.prompts.clear();
    bench.prompts.saveNames << dir.filePath(QStringLiteral("relayB.DT"));
    button(w, "Command15")->click();
    QCOMPARE(bench.prompts.texts(), QStringList{kSaveRefused});
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestRead::clearAfterARefusedCopyIsSent()
{
    // A copy refused for want of present values once left its flag for the clear's link
    // check, which then refused to clear with the copy's message.
    Bench bench;
    QVERIFY(bench.start());
    pageButton(bench.w(), 2, 1)->click();
    QCOMPARE(bench.prompts.texts(), QStringList{kInvalidPresent});
    bench.prompts.clear();
    bench.w().serviceWindow().clearOption(0)->click();
    bench.prompts.answers.enqueue(kAnswerYes);
    button(bench.w(), "Command11")->click();
    QCOMPARE(bench.prompts.texts(), (QStringList{"動作値をクリアします。よろしいですか？",
                                                 "動作値のクリアを送信しました。"}));
    QVERIFY(bench.sim.waitForFrames(2));
    QCOMPARE(receivedCommands(bench.sim), (QStringList{"AE0", "B99"}));
}

void TestRead::readFromRelayUpdatesMarks()
{
    Bench bench;
    QVERIFY(bench.start());
    MainWindow &w = bench.w();
    for (int page = 0; page < kPageCount; ++page)
        for (int item = 0; item < itemCount(page); ++item)
            w.setSetValue(page, item, expectedTexts(sim::defaultSettings(), page).at(item));
    w.setSetValue(2, 4, QStringLiteral("2.0(秒)")); // the relay has 0.4(秒) there
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(w.changeMarks().pageMark(page), FieldMark::None); // nothing read yet
    button(w, QStringLiteral("Command12"))->click();
    QCOMPARE(bench.prompts.texts(),
             QStringList{QStringLiteral("設定値の読み込みが終了しました。")});
    for (int page = 0; page < kPageCount; ++page)
        QCOMPARE(w.changeMarks().pageMark(page), page == 2 ? FieldMark::Pending : FieldMark::None);
    QCOMPARE(w.findChild<QComboBox *>(QStringLiteral("Combo3_4"))->toolTip(),
             QStringLiteral("書込で 0.4(秒) → 2.0(秒) に変わります。"));
}

void TestRead::relayReadBackSavesTheSameBytes()
{
    // A relay set up from the known file, read over the line and saved again.
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.DT"));
    const QString saved = dir.filePath(QStringLiteral("saved.DT"));
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kKnownFile) == kKnownFile.size());
    }
    RelaySim sim;
    QVERIFY2(sim.start({QStringLiteral("--settings"), source}), qPrintable(sim.errorString()));
    ScriptedPrompts prompts;
    MainWindow window(&prompts, sim.portPath());
    button(window, "Command12")->click();
    QCOMPARE(prompts.texts(), QStringList{QStringLiteral("設定値の読み込みが終了しました。")});
    prompts.clear();
    prompts.saveNames << saved;
    button(window, "Command15")->click();
    QCOMPARE(prompts.texts(), QStringList());
    QFile file(saved);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kKnownFile);
}

VELTRA_TEST_MAIN(TestRead)
#include "tst_read.moc"
