#include "endtoend.h"
#include "expectedtexts.h"
#include "operations/commands.h"
#include "testmain.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

using namespace veltra;
using namespace veltra::test;

// 通信 → リレーを探す in the real window, against simulated relays on several lines at once.
class TestFindRelay : public QObject
{
    Q_OBJECT
private slots:
    void threePortsAtOnce();
    void menuItemProbesTheFieldToo();
    void closingTheWindowEndsTheSearch();
    void escEndsTheSearch();
};

void TestFindRelay::threePortsAtOnce()
{
    RelaySim relay, silent, held;
    QVERIFY(relay.start());
    QVERIFY(silent.start({QStringLiteral("--fault"), QStringLiteral("no-reply")}));
    QVERIFY(held.start());
    std::unique_ptr<SerialPort> holder(createSerialPort(nullptr)); // another program has it
    holder->setPortName(held.portPath());
    QVERIFY(holder->open());
    ScriptedPrompts prompts;
    MainWindow w(&prompts, QStringLiteral("1"));
    w.show();

    // A command clicked during the search is ignored, as during any command; the status line
    // names the silent port, whose 3 s are far from over.
    QString status;
    QTimer::singleShot(200, &w, [&] {
        button(w, QStringLiteral("Command12"))->click();
        QVERIFY(w.commands().busy());
        status = w.findChild<QLabel *>(QStringLiteral("StatusLine"))->text();
    });
    QElapsedTimer clock;
    clock.start();
    w.commands().findRelays({silent.portPath(), held.portPath(), relay.portPath()});
    QVERIFY2(clock.elapsed() < 4500, qPrintable(QString::number(clock.elapsed())));

    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages[0].text,
             QStringLiteral("リレーが見つかりました。COMポートを %1 にしました。\n\n"
                            "応答したリレー:\n  %1　局番号 012　60Hz\n\n"
                            "使用中か、開けないポート:\n  %2\n\n"
                            "応答がなかったポート:\n  %3")
                 .arg(relay.portPath(), held.portPath(), silent.portPath()));
    QCOMPARE(w.portText(), relay.portPath());
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    // Only the read request went out, once to each line that opened.
    QCOMPARE(receivedCommands(relay), QStringList{"AE0"});
    QCOMPARE(receivedCommands(silent), QStringList{"AE0"});
    QVERIFY(held.frames().isEmpty());

    QVERIFY2(status.startsWith(QStringLiteral("リレーを探しています　応答待ち: ")) &&
                 status.contains(silent.portPath()) && !status.contains(held.portPath()),
             qPrintable(status));
    // Each line of the frame log names its port: what went where, and what came back.
    const QStringList log = w.serviceWindow().frameLogView()->toPlainText().split(u'\n');
    const auto logged = [&](const QString &port, const QString &rest) {
        return std::any_of(log.begin(), log.end(), [&](const QString &line) {
            return line.contains(QStringLiteral("  %1  %2").arg(port, rest));
        });
    };
    const QString request = QStringLiteral("送信  共通設定  <ENQ>FFAE0000D2<CR>  ");
    QVERIFY2(logged(silent.portPath(), request + QStringLiteral("送信済み")) &&
                 logged(relay.portPath(), request + QStringLiteral("送信済み")) &&
                 logged(held.portPath(), request + QStringLiteral("未送信(ポートを開けません)")) &&
                 logged(relay.portPath(), QStringLiteral("受信  共通設定  <STX>FF")) &&
                 logged(silent.portPath(), QStringLiteral("受信  共通設定    応答なし")),
             qPrintable(log.join(u'\n')));
}

void TestFindRelay::menuItemProbesTheFieldToo()
{
    // A pseudo-terminal is listed by no system: found only because the field names it.
    Bench bench;
    QVERIFY(bench.start());
    auto *search = bench.w().findChild<QAction *>(QStringLiteral("ActionFindRelay"));
    QVERIFY(search);
    QCOMPARE(search->text(), QStringLiteral("リレーを探す"));
    search->trigger();
    QVERIFY2(bench.prompts.texts().value(0).contains(bench.sim.portPath() +
                                                     QStringLiteral("　局番号 012　60Hz")),
             qPrintable(bench.prompts.texts().join(u'|')));
    QCOMPARE(receivedCommands(bench.sim), QStringList{"AE0"});

    // Nothing answering at all: said so, and the field left as it was.
    bench.prompts.clear();
    bench.w().setPortText(QStringLiteral("/dev/veltra-no-such-port"));
    search->trigger();
    QVERIFY(bench.prompts.texts().value(0).startsWith(
        QStringLiteral("リレーは見つかりませんでした。")));
    QCOMPARE(bench.w().portText(), QStringLiteral("/dev/veltra-no-such-port"));
}

void TestFindRelay::closingTheWindowEndsTheSearch()
{
    Bench bench;
    QVERIFY(bench.start({"--fault", "no-reply"}));
    // Closed as soon as the request is out: the search ends then, not at its 3 s time-out.
    connect(
        &bench.w().commands().finder(), &RelayFinder::stillWaiting, &bench.w(),
        [&] { bench.w().close(); }, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    bench.w().commands().findRelays({bench.sim.portPath()});
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(bench.prompts.messages.isEmpty());
}

// Esc while a silent port is awaited: the search ends then, says so on the status line, and
// sets no port; the pointer was busy meanwhile.
void TestFindRelay::escEndsTheSearch()
{
    Bench bench;
    QVERIFY(bench.start({"--fault", "no-reply"}));
    Qt::CursorShape pointer = Qt::ArrowCursor;
    connect(
        &bench.w().commands().finder(), &RelayFinder::stillWaiting, &bench.w(),
        [&] {
            pointer = bench.w().cursor().shape();
            QTest::keyClick(bench.w().findChild<QPushButton *>(QStringLiteral("Command12")),
                            Qt::Key_Escape);
        },
        Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    bench.w().commands().findRelays({bench.sim.portPath()});
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(pointer, Qt::WaitCursor);
    QCOMPARE(bench.w().commands().outcome().kind, Outcome::Kind::Stopped);
    QVERIFY2(bench.prompts.messages.isEmpty(), qPrintable(bench.prompts.texts().join(u'|')));
    QVERIFY(bench.w()
                .findChild<QLabel *>(QStringLiteral("StatusLine"))
                ->text()
                .startsWith(QStringLiteral("リレーの検索を中止しました。")));
}

VELTRA_TEST_MAIN(TestFindRelay)
#include "tst_findrelay.moc"
