// veltra-cli site check, site write and site report against simulated relays, each on a
// pseudo-terminal of its own: every state a relay can be in, rows that share a port, the history,
// the site log and the record.

#include "clirun.h"
#include "knownfile.h"
#include "link/portlock.h"
#include "pdftext.h"
#include "relaysim.h"
#include "ser2net.h"
#include "site/sitelog.h"
#include "sitefiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/resource.h>
#include <unistd.h>

using namespace veltra::test;

class TestSite : public QObject
{
    Q_OBJECT
private slots:
    void checkNamesEveryState();
    void badSiteFileSendsNothing();
    void stopEndsOnThePageOnTheLine();
    void writeOnlyWhereItDiffers();
    void stopFinishesTheRelayBeingWritten();
    void fileFaultsAreReported();
    void throughSerialDeviceServers();
    void reportRecordsEachRelay();
};

namespace {

using Result = CliResult;

} // namespace

void TestSite::checkNamesEveryState()
{
    QTemporaryDir dir;
    putDesigns(dir);
    const QString known = dir.filePath(QStringLiteral("known.DT"));

    RelaySim same, differs, silent, garbled, busy;
    for (RelaySim *sim : {&same, &differs, &busy})
        QVERIFY2(sim->start({QStringLiteral("--settings"), known}), qPrintable(sim->errorString()));
    QVERIFY(silent.start({QStringLiteral("--fault"), QStringLiteral("no-reply")}));
    QVERIFY(garbled.start({QStringLiteral("--fault"), QStringLiteral("bad-checksum")}));
    const QString nowhere = dir.filePath(QStringLiteral("no-such-port"));
    // Another command of this tool has the port: its relay is not asked.
    veltra::PortLock held;
    QVERIFY(held.tryLock(busy.portPath()));
    // Two rows on one port: read in file order, the second seeing another station.
    const QString site = QStringLiteral("名称,場所,ポート,局番号,設定ファイル,備考\r\n"
                                        "A,盤1,%1,128,known.DT,\"a, b\"\r\n"
                                        "A-old,盤1,%1,014,known.DT,\r\n"
                                        "B,盤2,%2,128,other.DT,\r\n"
                                        "C,盤3,%3,128,known.DT,\r\n"
                                        "D,盤4,%4,128,known.DT,\r\n"
                                        "E,盤5,%5,128,known.DT,\r\n"
                                        "F,盤6,%6,128,known.DT,\r\n")
                             .arg(same.portPath(), differs.portPath(), silent.portPath(),
                                  garbled.portPath(), nowhere, busy.portPath());
    const QString sitePath = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(sitePath, site.toUtf8()));

    const Result json =
        runCli({QStringLiteral("site"), QStringLiteral("check"), sitePath, QStringLiteral("--json"),
                QStringLiteral("--engineer"), QStringLiteral("山田")});
    QCOMPARE(json.code, 12); // a relay could not be read: that decides
    const QJsonArray relays = QJsonDocument::fromJson(json.out.toUtf8()).array();
    QStringList states;
    for (const QJsonValue &relay : relays)
        states << relay[QLatin1String("tag")].toString() + u'=' +
                      relay[QLatin1String("status")].toString();
    QCOMPARE(states, (QStringList{"A=match", "A-old=wrong-station", "B=differs", "C=no-reply",
                                  "D=data-error", "E=port-unusable", "F=port-unusable"}));
    QVERIFY(busy.frames().isEmpty());
    const QJsonObject b = relays[2].toObject();
    QCOMPARE(b[QLatin1String("station_read")].toString(), QStringLiteral("128"));
    const QJsonArray differences = b[QLatin1String("differences")].toArray();
    QCOMPARE(differences.size(), 1);
    QCOMPARE(differences[0][QLatin1String("design")].toString(), QStringLiteral("50(mA)"));
    QCOMPARE(differences[0][QLatin1String("relay")].toString(), QStringLiteral("30(mA)"));
    QCOMPARE(differences[0][QLatin1String("page")].toInt(), 1);
    QVERIFY(b[QLatin1String("fingerprint_design")].toString() !=
            b[QLatin1String("fingerprint_relay")].toString());
    QCOMPARE(relays[0][QLatin1String("fingerprint_design")].toString(),
             relays[0][QLatin1String("fingerprint_relay")].toString());
    QCOMPARE(relays[1][QLatin1String("station_read")].toString(), QStringLiteral("128"));

    // A, then A-old on the same line: nine reads, then the common page alone.
    QList<int> pages;
    for (const QJsonObject &frame : same.frames())
        pages << frame[QLatin1String("page")].toInt();
    QCOMPARE(pages, (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 0}));

    // The site log: a BOM and a header once, then a line per relay, appended run after run.
    const QString logPath = dir.filePath(QStringLiteral("plant.log.csv"));
    QByteArray log = readAll(logPath);
    QVERIFY(log.startsWith("\xEF\xBB\xBF"));
    QCOMPARE(log.count("\r\n"), 8);
    QVERIFY(log.contains(",山田,B,"));
    QVERIFY(log.contains(",check,"));
    const Result text = runCli({QStringLiteral("site"), QStringLiteral("check"), sitePath,
                                QStringLiteral("--tag"), QStringLiteral("A")});
    QCOMPARE(text.code, 0);
    QVERIFY2(text.out.startsWith(QStringLiteral("A\tmatch\t")), qPrintable(text.out));
    QCOMPARE(text.out.count(u'\n'), 1);
    const QByteArray after = readAll(logPath);
    QVERIFY(after.startsWith(log));
    QCOMPARE(after.count("\xEF\xBB\xBF"), 1);
    QCOMPARE(after.count("\r\n"), 9);
    QCOMPARE(readAll(sitePath), site.toUtf8()); // never rewritten
}

void TestSite::badSiteFileSendsNothing()
{
    QTemporaryDir dir;
    QVERIFY(put(dir.filePath(QStringLiteral("known.DT")), kKnownFile));
    RelaySim sim;
    QVERIFY(sim.start());
    const QString sitePath = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(sitePath, QStringLiteral("名称,ポート,局番号,設定ファイル\n"
                                         "A,%1,128,known.DT\nB,%1,300,known.DT\n")
                              .arg(sim.portPath())
                              .toUtf8()));
    const Result result = runCli({QStringLiteral("site"), QStringLiteral("check"), sitePath});
    QCOMPARE(result.code, 6);
    QVERIFY2(result.err.startsWith(QStringLiteral("3\t局番号\t")), qPrintable(result.err));
    QVERIFY(sim.frames().isEmpty());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("plant.log.csv"))));
}

void TestSite::stopEndsOnThePageOnTheLine()
{
    QTemporaryDir dir;
    QVERIFY(put(dir.filePath(QStringLiteral("known.DT")), kKnownFile));
    RelaySim sim; // at the wire's pace, so that the stop comes amid the first relay's pages
    QVERIFY(sim.start({QStringLiteral("--settings"), dir.filePath(QStringLiteral("known.DT")),
                       QStringLiteral("--wire-time")}));
    const QString sitePath = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(sitePath, QStringLiteral("名称,ポート,局番号,設定ファイル\n"
                                         "A,%1,128,known.DT\nB,%1,128,known.DT\n")
                              .arg(sim.portPath())
                              .toUtf8()));
    QProcess cli;
    cli.setChildProcessModifier([] { ::setsid(); });
    cli.start(QStringLiteral(VELTRA_CLI), {QStringLiteral("site"), QStringLiteral("check"),
                                           sitePath, QStringLiteral("--json")});
    QVERIFY(cli.waitForStarted());
    QVERIFY(sim.waitForFrames(2));
    ::kill(pid_t(cli.processId()), SIGINT);
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 11);
    const QJsonArray relays = QJsonDocument::fromJson(cli.readAllStandardOutput()).array();
    QCOMPARE(relays.size(), 2);
    for (const QJsonValue &relay : relays)
        QCOMPARE(relay[QLatin1String("status")].toString(), QStringLiteral("not-reached"));
    // The page on the line was answered, and no other was asked for.
    const qsizetype asked = sim.frames().size();
    QVERIFY2(asked >= 2 && asked < 9, qPrintable(QString::number(asked)));
}

void TestSite::writeOnlyWhereItDiffers()
{
    QTemporaryDir dir;
    putDesigns(dir);
    const QString known = dir.filePath(QStringLiteral("known.DT"));
    RelaySim differs, same, stubborn, silent;
    for (RelaySim *sim : {&differs, &same})
        QVERIFY(sim->start({QStringLiteral("--settings"), known}));
    // Circuit 1's insulation sensitivity is written and kept as it was.
    QVERIFY(stubborn.start({QStringLiteral("--settings"), known, QStringLiteral("--ignore-write"),
                            QStringLiteral("1:1")}));
    QVERIFY(silent.start({QStringLiteral("--fault"), QStringLiteral("no-reply")}));
    const QString sitePath = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(sitePath, QStringLiteral("名称,ポート,局番号,設定ファイル\n"
                                         "W,%1,128,other.DT\n"
                                         "M,%2,128,known.DT\n"
                                         "S,%2,014,other.DT\n"
                                         "T,%3,128,other.DT\n"
                                         "N,%4,128,other.DT\n")
                              .arg(differs.portPath(), same.portPath(), stubborn.portPath(),
                                   silent.portPath())
                              .toUtf8()));
    const QStringList write{QStringLiteral("site"), QStringLiteral("write"), sitePath};

    // Not confirmed: the check's reads, and nothing written.
    const Result declined = onTerminal(write, "n\n");
    QCOMPARE(declined.code, 12); // the silent relay outranks the refusal
    QVERIFY2(declined.out.contains(
                 QStringLiteral("  W  %1  局番号 128  変更 1 項目").arg(differs.portPath())),
             qPrintable(declined.out));
    QVERIFY(declined.out.contains(
        QStringLiteral("  T  %1  局番号 128  変更 1 項目").arg(stubborn.portPath())));
    QVERIFY(!declined.out.contains(QStringLiteral("  M  ")));
    QVERIFY(writtenPages(differs).isEmpty());
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("plant.history"))));

    const Result result =
        runCli(write + QStringList{QStringLiteral("--yes"), QStringLiteral("--json")});
    QCOMPARE(result.code, 12);
    QStringList outcomes;
    QString history;
    for (const QJsonValue &relay : QJsonDocument::fromJson(result.out.toUtf8()).array()) {
        outcomes << relay[QLatin1String("tag")].toString() + u'=' +
                        relay[QLatin1String("write")].toString();
        if (relay[QLatin1String("tag")].toString() == QLatin1String("W"))
            history = relay[QLatin1String("history")].toString();
    }
    QCOMPARE(outcomes, (QStringList{"W=verified", "M=left-alone", "S=left-alone", "T=not-taken",
                                    "N=left-alone"}));
    QVERIFY2(
        result.err.contains(QStringLiteral("written 2, verified 1, left alone 3, not reached 0")),
        qPrintable(result.err));
    const QList<int> allPages{0, 1, 2, 3, 4, 5, 6, 7, 8};
    QCOMPARE(writtenPages(differs), allPages);
    QCOMPARE(writtenPages(stubborn), allPages);
    QVERIFY(writtenPages(same).isEmpty()); // neither the match nor the other station's row

    // The relay's values before, kept as a settings file holding what it held.
    QVERIFY2(QFileInfo(history).fileName().startsWith(QStringLiteral("W_")), qPrintable(history));
    QCOMPARE(QFileInfo(history).absolutePath(), dir.filePath(QStringLiteral("plant.history")));
    const Result before = runCli({QStringLiteral("diff"), history, known});
    QCOMPARE(before.code, 0);
    // And the relay holds its design now.
    const Result again = runCli({QStringLiteral("site"), QStringLiteral("check"), sitePath,
                                 QStringLiteral("--tag"), QStringLiteral("W")});
    QCOMPARE(again.code, 0);

    // The site log: a check line per relay and run, a write and a verify line per relay written.
    const QByteArray log = readAll(dir.filePath(QStringLiteral("plant.log.csv")));
    QCOMPARE(log.count(",check,"), 11);
    QCOMPARE(log.count(",write,"), 2);
    QVERIFY(log.contains(",verify,") && log.contains(",verified\r\n") &&
            log.contains(",not-taken\r\n"));
}

void TestSite::stopFinishesTheRelayBeingWritten()
{
    QTemporaryDir dir;
    putDesigns(dir);
    RelaySim first, second;
    for (RelaySim *sim : {&first, &second})
        QVERIFY(sim->start({QStringLiteral("--settings"), dir.filePath(QStringLiteral("known.DT")),
                            QStringLiteral("--wire-time")}));
    const QString sitePath = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(sitePath, QStringLiteral("名称,ポート,局番号,設定ファイル\n"
                                         "A,%1,128,other.DT\nB,%2,128,other.DT\n")
                              .arg(first.portPath(), second.portPath())
                              .toUtf8()));
    QProcess cli;
    cli.setChildProcessModifier([] { ::setsid(); });
    cli.start(QStringLiteral(VELTRA_CLI),
              {QStringLiteral("site"), QStringLiteral("write"), sitePath, QStringLiteral("--yes")});
    QVERIFY(cli.waitForStarted());
    // The first relay's first write frame: the stop comes amid its write.
    QVERIFY(QTest::qWaitFor([&] { return !writtenPages(first).isEmpty(); }, 20000));
    ::kill(pid_t(cli.processId()), SIGINT);
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 11);
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    QVERIFY2(out.startsWith(QStringLiteral("A\tverified\t")), qPrintable(out));
    QVERIFY2(out.contains(QStringLiteral("\nB\tnot-reached\t")), qPrintable(out));
    QCOMPARE(writtenPages(first), (QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));
    QVERIFY(writtenPages(second).isEmpty());
}

void TestSite::fileFaultsAreReported()
{
    QTemporaryDir dir;
    putDesigns(dir);
    RelaySim sim;
    QVERIFY(sim.start({QStringLiteral("--settings"), dir.filePath(QStringLiteral("known.DT"))}));
    const QString sitePath = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(sitePath, QStringLiteral("名称,ポート,局番号,設定ファイル\nA,%1,128,other.DT\n")
                              .arg(sim.portPath())
                              .toUtf8()));
    const QString logPath = dir.filePath(QStringLiteral("plant.log.csv"));
    QVERIFY(put(logPath, QByteArrayLiteral("\xEF\xBB\xBF") + "x\r\n"));

    // A history folder that cannot be made: the relay is left as it is.
    QVERIFY(put(dir.filePath(QStringLiteral("plant.history")), "a file, not a folder"));
    const Result history = runCli(
        {QStringLiteral("site"), QStringLiteral("write"), sitePath, QStringLiteral("--yes")});
    QCOMPARE(history.code, 7);
    QVERIFY2(history.out.startsWith(QStringLiteral("A\thistory-unsaved\t")),
             qPrintable(history.out));
    QVERIFY(writtenPages(sim).isEmpty());

    // A full medium under the site log: its lines are missing, and the exit says so.
    const QByteArray logBefore = readAll(logPath);
    QProcess cli;
    cli.setChildProcessModifier([size = logBefore.size()] {
        ::setsid();
        ::signal(SIGXFSZ, SIG_IGN); // EFBIG, as a full disk gives ENOSPC, not a killed process
        const rlimit limit{rlim_t(size), rlim_t(size)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    cli.start(QStringLiteral(VELTRA_CLI), {QStringLiteral("site"), QStringLiteral("check"),
                                           sitePath, QStringLiteral("--tag"), QStringLiteral("A")});
    QVERIFY(cli.waitForFinished(20000));
    QCOMPARE(cli.exitCode(), 1); // it differs: that verdict stands, the log's failure is said
    QVERIFY(QString::fromUtf8(cli.readAllStandardError()).contains(logPath));
    QCOMPARE(readAll(logPath), logBefore);
}

void TestSite::reportRecordsEachRelay()
{
    QTemporaryDir dir;
    putDesigns(dir);
    const QString known = dir.filePath(QStringLiteral("known.DT"));
    RelaySim same, differs, silent;
    for (RelaySim *sim : {&same, &differs})
        QVERIFY(sim->start({QStringLiteral("--settings"), known}));
    QVERIFY(silent.start({QStringLiteral("--fault"), QStringLiteral("no-reply")}));
    const QString sitePath = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(sitePath, QStringLiteral("名称,場所,ポート,局番号,設定ファイル\n"
                                         "P1-01,第1電気室,%1,128,known.DT\n"
                                         "P1-02,第1電気室,%2,128,other.DT\n"
                                         "P2-01,第2電気室,%3,128,known.DT\n")
                              .arg(same.portPath(), differs.portPath(), silent.portPath())
                              .toUtf8()));
    // An earlier write of P1-02, as site write logs it.
    const QString logPath = veltra::siteLogPath(sitePath);
    {
        veltra::SiteLog log;
        QCOMPARE(log.open(logPath), veltra::FileProblem::None);
        veltra::SiteLogEntry entry{
            QDateTime::fromString(QStringLiteral("2026-04-01T09:30:15+09:00"), Qt::ISODate),
            QStringLiteral("佐藤"),
            QStringLiteral("P1-02"),
            differs.portPath(),
            QStringLiteral("128"),
            QString::fromUtf16(veltra::siteoperation::kWrite),
            {},
            {},
            QString::fromUtf16(veltra::siteoperation::kWritten)};
        QVERIFY(log.append(entry));
        entry.operation = QString::fromUtf16(veltra::siteoperation::kVerify);
        entry.result = veltra::siteWriteWord(veltra::RelayWrite::Status::Verified);
        QVERIFY(log.append(entry));
    }

    // As over ssh: no display, and no platform named.
    for (const char *variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        qunsetenv(variable);
    const QString record = dir.filePath(QStringLiteral("rec.pdf"));
    const QStringList report{
        QStringLiteral("site"),       QStringLiteral("report"), sitePath,
        QStringLiteral("--engineer"), QStringLiteral("山田"),   QStringLiteral("-o")};
    const Result result = runCli(report + QStringList{record});
    QCOMPARE(result.code, 12); // the silent relay decides, as for site check
    QVERIFY2(result.out.startsWith(QStringLiteral("P1-01\tmatch\t")), qPrintable(result.err));
    QCOMPARE(readAll(logPath).count(",check,"), 3);

    QCOMPARE(pdfPageCount(record), 2); // the summary, then the three relays
    const QString text = pdfLines(record).join(u'\n');
    for (const QString &expected :
         {QStringLiteral("P1-01\\s+第1電気室\\s+\\S+\\s+128 / 128\\s+○ 一致"),
          QStringLiteral("P1-02\\s+第1電気室\\s+\\S+\\s+128 / 128\\s+△ 相違あり"),
          QStringLiteral("P2-01\\s+第2電気室\\s+\\S+\\s+128 / \\S+\\s+× 応答なし"),
          QStringLiteral("回路1\\s+絶縁監視動作感度設定\\s+50\\(mA\\)\\s+30\\(mA\\)"),
          QStringLiteral("最後の書込\\s+2026-04-01 09:30:15\\s+佐藤\\s+書込済み"),
          QStringLiteral("最後の照合\\s+2026-04-01 09:30:15\\s+佐藤\\s+書込・照合済み"),
          QStringLiteral("氏名: 山田"), QStringLiteral("2 / 2")})
        QVERIFY2(text.contains(QRegularExpression(comparable(expected))), qPrintable(expected));
    QCOMPARE(text.count(QRegularExpression(QStringLiteral("最後の書込\\s+なし"))), 2);

    // A read-only record, a folder and the site file are refused before anything is sent.
    const QString kept = dir.filePath(QStringLiteral("kept.pdf"));
    QVERIFY(put(kept, "an older record"));
    QVERIFY(QFile::setPermissions(kept, QFileDevice::ReadOwner));
    for (const QString &target : {kept, dir.path(), sitePath}) {
        const QByteArray before = readAll(target);
        const qsizetype asked = same.frames().size();
        const Result refused = runCli(report + QStringList{target});
        QCOMPARE(refused.code, 7);
        QVERIFY2(refused.err.contains(target), qPrintable(refused.err));
        QCOMPARE(readAll(target), before);
        QCOMPARE(same.frames().size(), asked);
    }
    // A medium that fills up as the record is saved, after the check: the earlier record stays
    // whole, and the exit says so whatever the check found.
    const QByteArray earlier = readAll(record);
    QProcess cli;
    cli.setChildProcessModifier([] {
        ::setsid();
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16384, 16384}; // the site log stays below it
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    cli.start(QStringLiteral(VELTRA_CLI), report + QStringList{record});
    const Result full = finished(cli);
    QCOMPARE(full.code, 7);
    QVERIFY2(full.out.startsWith(QStringLiteral("P1-01\tmatch\t")), qPrintable(full.err));
    QVERIFY2(full.err.contains(QStringLiteral("PDFを保存できませんでした。")),
             qPrintable(full.err));
    QCOMPARE(readAll(record), earlier);
}

void TestSite::throughSerialDeviceServers()
{
    QTemporaryDir dir;
    putDesigns(dir);
    const QString known = dir.filePath(QStringLiteral("known.DT"));
    RelaySim raw, telnet;
    for (RelaySim *sim : {&raw, &telnet})
        QVERIFY(sim->start({QStringLiteral("--settings"), known}));
    Ser2net rawServer, telnetServer;
    QVERIFY2(rawServer.start(raw.portPath()), qPrintable(rawServer.errorString()));
    QVERIFY2(telnetServer.start(telnet.portPath()), qPrintable(telnetServer.errorString()));
    const QString sitePath = dir.filePath(QStringLiteral("plant.csv"));
    QVERIFY(put(sitePath, QStringLiteral("名称,ポート,局番号,設定ファイル\n"
                                         "R,%1,128,known.DT\nT,%2,128,other.DT\n")
                              .arg(rawServer.rawUrl(), telnetServer.rfc2217Url())
                              .toUtf8()));
    const Result written = runCli(
        {QStringLiteral("site"), QStringLiteral("write"), sitePath, QStringLiteral("--yes")});
    QCOMPARE(written.code, 0);
    QVERIFY2(written.out.startsWith(QStringLiteral("R\tleft-alone\tmatch: ")),
             qPrintable(written.out));
    QVERIFY2(written.out.contains(QStringLiteral("\nT\tverified\t")), qPrintable(written.out));
    QVERIFY(writtenPages(raw).isEmpty());
    QCOMPARE(writtenPages(telnet).size(), 9);
    const Result checked = runCli({QStringLiteral("site"), QStringLiteral("check"), sitePath});
    QCOMPARE(checked.code, 0);
}

QTEST_GUILESS_MAIN(TestSite)
#include "tst_site.moc"
