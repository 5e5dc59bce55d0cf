// veltra-cli site check against simulated relays, each on a pseudo-terminal of its own: every
// state a relay can be in, rows that share a port, and the site log.

#include "knownfile.h"
#include "relaysim.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <unistd.h>

using namespace veltra::test;

class TestSite : public QObject
{
    Q_OBJECT
private slots:
    void checkNamesEveryState();
    void badSiteFileSendsNothing();
    void stopEndsOnThePageOnTheLine();
};

namespace {

struct Result
{
    int code = -1;
    QString out;
    QString err;
};

Result runCli(const QStringList &arguments)
{
    QProcess process;
    process.setChildProcessModifier([] { ::setsid(); });
    process.start(QStringLiteral(VELTRA_CLI), arguments);
    process.closeWriteChannel();
    Result result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

bool put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestSite::checkNamesEveryState()
{
    QTemporaryDir dir;
    const QString known = dir.filePath(QStringLiteral("known.DT"));
    QVERIFY(put(known, kKnownFile));
    // The design of a relay set up otherwise: circuit 1's insulation sensitivity.
    QByteArray other = kKnownFile;
    other.replace(QByteArray("30(mA),10"), QByteArray("50(mA),10"));
    QVERIFY(other != kKnownFile);
    QVERIFY(put(dir.filePath(QStringLiteral("other.DT")), other));

    RelaySim same, differs, silent, garbled;
    for (RelaySim *sim : {&same, &differs})
        QVERIFY2(sim->start({QStringLiteral("--settings"), known}), qPrintable(sim->errorString()));
    QVERIFY(silent.start({QStringLiteral("--fault"), QStringLiteral("no-reply")}));
    QVERIFY(garbled.start({QStringLiteral("--fault"), QStringLiteral("bad-checksum")}));
    const QString nowhere = dir.filePath(QStringLiteral("no-such-port"));
    // Two rows on one port: read in file order, the second seeing another station.
    const QString site = QStringLiteral("名称,場所,ポート,局番号,設定ファイル,備考\r\n"
                                        "A,盤1,%1,128,known.DT,\"a, b\"\r\n"
                                        "A-old,盤1,%1,014,known.DT,\r\n"
                                        "B,盤2,%2,128,other.DT,\r\n"
                                        "C,盤3,%3,128,known.DT,\r\n"
                                        "D,盤4,%4,128,known.DT,\r\n"
                                        "E,盤5,%5,128,known.DT,\r\n")
                             .arg(same.portPath(), differs.portPath(), silent.portPath(),
                                  garbled.portPath(), nowhere);
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
                                  "D=data-error", "E=port-unusable"}));
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
    QCOMPARE(log.count("\r\n"), 7);
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
    QCOMPARE(after.count("\r\n"), 8);
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

QTEST_GUILESS_MAIN(TestSite)
#include "tst_site.moc"
