// The simulated relay as the process on a pseudo-terminal: it answers over a real serial port,
// keeps writes across closes, injects its faults, hangs up, and starts from a settings file.

#include "examplefile.h"
#include "link/frames.h"
#include "relaymodel.h"
#include "relaysim.h"
#include "settings/decode.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace veltra;
using namespace veltra::sim;
using veltra::test::exampleFileLines;
using veltra::test::writeShiftJisFile;

namespace {

void configureLikeTheTool(QSerialPort &port)
{
    port.setBaudRate(QSerialPort::Baud9600);
    port.setDataBits(QSerialPort::Data7);
    port.setParity(QSerialPort::EvenParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

// Sends `request` and collects until a CR after an STX arrives, or `timeoutMs` passes.
QByteArray transact(QSerialPort &port, const QByteArray &request, int timeoutMs = 3000)
{
    port.clear(QSerialPort::AllDirections);
    port.write(request);
    while (port.bytesToWrite() > 0 && port.waitForBytesWritten(1000)) {
    }
    QByteArray received;
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        const qsizetype stx = received.indexOf(kStx);
        if (stx >= 0 && received.indexOf(kCr, stx) >= 0)
            break;
        if (port.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime()))))
            received += port.readAll();
    }
    return received;
}

// Processor time the process has used so far, in seconds.
double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which sits in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(::sysconf(_SC_CLK_TCK));
}

} // namespace

class TestRelaySim : public QObject
{
    Q_OBJECT
private slots:
    void processAnswersOverRealSerialPort();
    void processAppliesWritesAcrossPortCloses();
    void processFaultOnOnePage();
    void processHangsUpAfterWrites();
    void processStartsFromSettingsFile();
    void processRefusesBadSettingsFile();
};

void TestRelaySim::processAnswersOverRealSerialPort()
{
    test::RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QSerialPort port(sim.portPath());
    configureLikeTheTool(port);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));

    const QByteArray reply = transact(port, readRequest(3));
    QCOMPARE(reply, RelayModel().replyFrame(3));
    QCOMPARE(reply.size(), 21);
    QVERIFY(ReplyChecksumTest(reply));
    port.close();

    QVERIFY(sim.waitForFrames(1));
    const QJsonObject entry = sim.frames().constFirst();
    QCOMPARE(entry.value(QStringLiteral("frame")).toString().toLatin1(), readRequest(3));
    QCOMPARE(entry.value(QStringLiteral("command")).toString(), QStringLiteral("AE"));
    QCOMPARE(entry.value(QStringLiteral("page")).toInt(), 3);
    QVERIFY(entry.value(QStringLiteral("accepted")).toBool());
    QVERIFY(entry.value(QStringLiteral("t_ms")).toDouble() > 0);

    // With the tool's port closed the relay must sleep, not spin on a hung-up line.
    const double before = cpuSeconds(sim.processId());
    QTest::qWait(1000);
    const double used = cpuSeconds(sim.processId()) - before;
    QVERIFY2(used >= 0 && used < 0.5, qPrintable(QString::number(used)));
    QVERIFY(sim.isRunning());
}

void TestRelaySim::processAppliesWritesAcrossPortCloses()
{
    test::RelaySim sim;
    QVERIFY2(sim.start({QStringLiteral("--wire-time")}), qPrintable(sim.errorString()));
    const QByteArray write = writeFrame(3, "1?4C:0000");
    const QByteArray bad = writeFrame(3, "1?4C:00E0");
    for (const QByteArray &frame : {write, bad}) {
        QSerialPort port(sim.portPath());
        configureLikeTheTool(port);
        QVERIFY(port.open(QIODevice::ReadWrite));
        port.write(frame);
        while (port.bytesToWrite() > 0 && port.waitForBytesWritten(1000)) {
        }
        port.close();
    }
    QVERIFY(sim.waitForFrames(2));

    QSerialPort port(sim.portPath());
    configureLikeTheTool(port);
    QVERIFY(port.open(QIODevice::ReadWrite));
    const QByteArray reply = transact(port, readRequest(3));
    QCOMPARE(reply.sliced(5, 12), QByteArray("010F04130A00"));
    QVERIFY(sim.waitForFrames(3));

    const QList<QJsonObject> frames = sim.frames();
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames[0].value(QStringLiteral("command")).toString(), QStringLiteral("B3"));
    QVERIFY(frames[0].value(QStringLiteral("accepted")).toBool());
    QVERIFY(!frames[1].value(QStringLiteral("accepted")).toBool());
    QVERIFY(frames[1].value(QStringLiteral("reason")).toString().contains(QStringLiteral("'E'")));
    QCOMPARE(frames[2].value(QStringLiteral("page")).toInt(), 3);
    for (qsizetype i = 1; i < frames.size(); ++i) {
        QVERIFY(frames[i].value(QStringLiteral("t_ms")).toDouble() >=
                frames[i - 1].value(QStringLiteral("t_ms")).toDouble());
    }
}

void TestRelaySim::processFaultOnOnePage()
{
    test::RelaySim sim;
    QVERIFY2(sim.start({QStringLiteral("--fault"), QStringLiteral("no-reply"),
                        QStringLiteral("--fault-page"), QStringLiteral("2")}),
             qPrintable(sim.errorString()));
    QSerialPort port(sim.portPath());
    configureLikeTheTool(port);
    QVERIFY(port.open(QIODevice::ReadWrite));
    QCOMPARE(transact(port, readRequest(1)), RelayModel().replyFrame(1));
    QCOMPARE(transact(port, readRequest(2), 300), QByteArray());
    QCOMPARE(transact(port, readRequest(3)), RelayModel().replyFrame(3));

    QVERIFY(sim.waitForFrames(3));
    const QList<QJsonObject> frames = sim.frames();
    QVERIFY(frames[1].value(QStringLiteral("accepted")).toBool());
    QCOMPARE(frames[1].value(QStringLiteral("fault")).toString(), QStringLiteral("no-reply"));
    QVERIFY(!frames[2].contains(QStringLiteral("fault")));
}

void TestRelaySim::processHangsUpAfterWrites()
{
    test::RelaySim sim;
    QVERIFY2(sim.start({QStringLiteral("--hangup-after-writes"), QStringLiteral("2")}),
             qPrintable(sim.errorString()));
    QSerialPort port(sim.portPath());
    configureLikeTheTool(port);
    QVERIFY(port.open(QIODevice::ReadWrite));
    port.write(writeFrame(0, "000000100"));
    port.write(writeFrame(1, "000000000"));
    QVERIFY(port.waitForBytesWritten(1000));

    QCOMPARE(sim.waitForExit(), 0);
    const QList<QJsonObject> lines = sim.logLines();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.constLast().value(QStringLiteral("event")).toString(), QStringLiteral("hangup"));
    QCOMPARE(sim.frames().size(), 2);

    // The line is gone with the relay: it cannot be opened again.
    const QString path = sim.portPath();
    port.close();
    QSerialPort again(path);
    QVERIFY(!again.open(QIODevice::ReadWrite));
}

void TestRelaySim::processStartsFromSettingsFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("start.DT"));
    QVERIFY(writeShiftJisFile(path, exampleFileLines()));
    test::RelaySim sim;
    QVERIFY2(sim.start({QStringLiteral("--settings"), path}), qPrintable(sim.errorString()));
    QSerialPort port(sim.portPath());
    configureLikeTheTool(port);
    QVERIFY(port.open(QIODevice::ReadWrite));
    DecodedRecords records;
    QCOMPARE(
        decodePage(8, transact(port, readRequest(8)), records),
        (QStringList{QStringLiteral("ﾛｯｸ"), QStringLiteral("100(mA)"), QStringLiteral("40(秒)"),
                     QStringLiteral("ﾛｯｸ"), QStringLiteral("2.0(秒)")}));
}

void TestRelaySim::processRefusesBadSettingsFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.DT"));
    QVERIFY(writeShiftJisFile(path, exampleFileLines().first(11)));
    test::RelaySim sim;
    QVERIFY(!sim.start({QStringLiteral("--settings"), path}));
    QVERIFY(!sim.isRunning());
}

QTEST_GUILESS_MAIN(TestRelaySim)
#include "tst_relaysim.moc"
