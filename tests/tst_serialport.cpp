#include "link/frames.h"
#include "link/serialport.h"
#include "relaymodel.h"
#include "relaysim.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

#ifdef Q_OS_WIN
#include "link/winserialport.h"
#else
#include <sys/resource.h>
#endif

using namespace veltra;
using veltra::test::RelaySim;

// The serial line through its seam only, so that the Linux backend (Qt SerialPort) and the
// Windows one (Win32, under Wine) pass the very same tests, with the simulated relay at the
// far end of a pseudo-terminal.
namespace {

// Process CPU time in milliseconds, user and system.
double cpuMs()
{
#ifdef Q_OS_WIN
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](FILETIME t) {
        return double((quint64(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](timeval t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
#endif
}

struct Exchange
{
    QByteArray reply;
    int wakeUps = 0;
    qint64 firstByteMs = -1;
    bool lineLost = false;
};

// Sends `request` and collects until STX..CR has come, the line is lost or `timeoutMs` ends,
// waiting in an event loop as the link does.
Exchange transact(SerialPort &port, const QByteArray &request, int timeoutMs = 3000)
{
    Exchange exchange;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto arrived = QObject::connect(&port, &SerialPort::bytesArrived, &loop, [&] {
        ++exchange.wakeUps;
        loop.quit();
    });
    const auto lost = QObject::connect(&port, &SerialPort::lineLost, &loop, [&] {
        exchange.lineLost = true;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    port.discardInput();
    port.write(request);
    timeout.start(timeoutMs);
    const auto complete = [&] {
        const qsizetype stx = exchange.reply.indexOf(kStx);
        return stx >= 0 && exchange.reply.indexOf(kCr, stx) >= 0;
    };
    while (!complete() && !exchange.lineLost && timeout.isActive()) {
        loop.exec();
        const QByteArray chunk = port.takeReceived();
        if (!chunk.isEmpty() && exchange.firstByteMs < 0)
            exchange.firstByteMs = clock.elapsed();
        exchange.reply += chunk;
    }
    QObject::disconnect(arrived);
    QObject::disconnect(lost);
    return exchange;
}

std::unique_ptr<SerialPort> openPort(const QString &name)
{
    std::unique_ptr<SerialPort> port(createSerialPort(nullptr));
    port->setPortName(name);
    port->setLineSettings();
    if (!port->open())
        return nullptr;
    return port;
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT
private slots:
    void lineSettingsAreApplied();
    void readRequestIsAnswered_data();
    void readRequestIsAnswered();
    void lateReplyWakesOnFirstByte();
    void replyArrivingByTheCharacter();
    void drainedFrameLeavesWholeBeforeClose();
    void discardDropsStaleBytes();
    void reopenAfterClose();
    void portHeldElsewhereIsRefused();
    void unusablePortsDoNotOpen_data();
    void unusablePortsDoNotOpen();
    void hangUpIsLostOnceAndClosed();
    void presentPortsAreTheSystems();
};

void TestSerialPort::lineSettingsAreApplied()
{
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    std::unique_ptr<SerialPort> port(createSerialPort(nullptr));
    port->setPortName(sim.portPath());
    port->setLineSettings();
    QVERIFY(!port->lineSettings());
    QVERIFY(port->open());
    QVERIFY(port->isOpen());
    // A pty runs 8N1 whatever is set: the settings are checked where the port keeps them.
    const LineSettings expected{9600, 7, 'E', 1, false};
    QCOMPARE(port->lineSettings(), std::optional(expected));
#ifdef Q_OS_WIN
    // The handshake lines are raised while open, as a POSIX tty raises them.
    const std::optional<DCB> dcb = static_cast<WinSerialPort &>(*port).deviceControlBlock();
    QVERIFY(dcb);
    QCOMPARE(DWORD(dcb->fDtrControl), DWORD(DTR_CONTROL_ENABLE));
    QCOMPARE(DWORD(dcb->fRtsControl), DWORD(RTS_CONTROL_ENABLE));
    QVERIFY(bool(dcb->fBinary));
#endif
    port->close();
    QVERIFY(!port->isOpen());
    QVERIFY(!port->lineSettings());
}

void TestSerialPort::readRequestIsAnswered_data()
{
    QTest::addColumn<int>("page");
    QTest::newRow("common") << 0;
    QTest::newRow("circuit 3") << 3;
    QTest::newRow("circuit 8") << 8;
}

void TestSerialPort::readRequestIsAnswered()
{
    QFETCH(int, page);
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
    QVERIFY(port);
    const Exchange exchange = transact(*port, readRequest(page));
    QVERIFY(!exchange.lineLost);
    QCOMPARE(exchange.reply, sim::RelayModel().replyFrame(page));
    QVERIFY(ReplyChecksumTest(exchange.reply));
    port->close();
    QVERIFY(sim.waitForFrames(1));
    QCOMPARE(sim.frames().constLast().value("frame").toString().toLatin1(), readRequest(page));
}

void TestSerialPort::lateReplyWakesOnFirstByte()
{
    RelaySim sim;
    QVERIFY2(sim.start({QStringLiteral("--delay"), QStringLiteral("500")}),
             qPrintable(sim.errorString()));
    const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
    QVERIFY(port);
    const double cpuBefore = cpuMs();
    const Exchange exchange = transact(*port, readRequest(0));
    const double cpuUsed = cpuMs() - cpuBefore;
    QCOMPARE(exchange.reply, sim::RelayModel().replyFrame(0));
    // Woken by the first byte, not by a poll that happens to come after it: the reply is
    // there within a generous margin of the relay's delay, and the wait costs no processor.
    QVERIFY2(exchange.firstByteMs >= 450 && exchange.firstByteMs < 1500,
             qPrintable(QString::number(exchange.firstByteMs)));
    QVERIFY2(exchange.wakeUps <= exchange.reply.size(),
             qPrintable(QString::number(exchange.wakeUps)));
    QVERIFY2(cpuUsed < 150,
             qPrintable(QStringLiteral("%1 ms of CPU in a 500 ms wait").arg(cpuUsed)));
}

void TestSerialPort::replyArrivingByTheCharacter()
{
    // As a real line delivers it: one character every 1.04 ms.
    RelaySim sim;
    QVERIFY2(sim.start({QStringLiteral("--wire-time")}), qPrintable(sim.errorString()));
    const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
    QVERIFY(port);
    for (int page = 0; page < 9; ++page) {
        const Exchange exchange = transact(*port, readRequest(page));
        QCOMPARE(exchange.reply, sim::RelayModel().replyFrame(page));
    }
}

void TestSerialPort::drainedFrameLeavesWholeBeforeClose()
{
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const QByteArray frame = frameRequest("FFB1000000000");
    {
        const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
        QVERIFY(port);
        QVERIFY(port->writeAndDrain(frame));
        port->close();
    }
    QVERIFY(sim.waitForFrames(1));
    const QJsonObject logged = sim.frames().constLast();
    QCOMPARE(logged.value("frame").toString().toLatin1(), frame);
    QCOMPARE(logged.value("command").toString(), QStringLiteral("B1"));
    QVERIFY(logged.value("accepted").toBool());
    QVERIFY(!std::unique_ptr<SerialPort>(createSerialPort(nullptr))->writeAndDrain(frame));
}

void TestSerialPort::discardDropsStaleBytes()
{
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
    QVERIFY(port);
    // A reply nobody collects, left on the line while events run.
    port->write(readRequest(2));
    QVERIFY(sim.waitForFrames(1));
    QTest::qWait(100);
    port->discardInput();
    QCOMPARE(port->takeReceived(), QByteArray());
    const Exchange next = transact(*port, readRequest(5));
    QCOMPARE(next.reply, sim::RelayModel().replyFrame(5));
}

void TestSerialPort::reopenAfterClose()
{
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    std::unique_ptr<SerialPort> port(createSerialPort(nullptr));
    port->setPortName(sim.portPath());
    port->setLineSettings();
    // The link opens and closes the port around every frame.
    for (int page = 0; page < 9; ++page) {
        QVERIFY(port->open());
        QCOMPARE(transact(*port, readRequest(page)).reply, sim::RelayModel().replyFrame(page));
        port->close();
        QVERIFY(!port->isOpen());
        QCOMPARE(port->takeReceived(), QByteArray());
    }
    port->close(); // twice is harmless
}

void TestSerialPort::portHeldElsewhereIsRefused()
{
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const std::unique_ptr<SerialPort> first = openPort(sim.portPath());
    QVERIFY(first);
    std::unique_ptr<SerialPort> second(createSerialPort(nullptr));
    second->setPortName(sim.portPath());
    second->setLineSettings();
    QVERIFY(!second->open());
    QVERIFY(!second->isOpen());
    // The refusal leaves the holder working.
    QCOMPARE(transact(*first, readRequest(1)).reply, sim::RelayModel().replyFrame(1));
    first->close();
    QVERIFY(second->open());
}

void TestSerialPort::unusablePortsDoNotOpen_data()
{
    QTest::addColumn<QString>("name");
#ifdef Q_OS_WIN
    QTest::newRow("missing COM port") << "COM77";
    QTest::newRow("a file") << "C:\\windows\\win.ini";
    QTest::newRow("a folder") << "C:\\windows";
#else
    QTest::newRow("missing device") << "/dev/veltra-no-such-port";
    QTest::newRow("a file") << "/etc/hostname";
    QTest::newRow("a folder") << "/tmp";
#endif
    QTest::newRow("empty") << "";
}

void TestSerialPort::unusablePortsDoNotOpen()
{
    QFETCH(QString, name);
    std::unique_ptr<SerialPort> port(createSerialPort(nullptr));
    port->setPortName(name);
    port->setLineSettings();
    QVERIFY(!port->open());
    QVERIFY(!port->isOpen());
    QCOMPARE(port->takeReceived(), QByteArray());
    port->close();
}

void TestSerialPort::hangUpIsLostOnceAndClosed()
{
    RelaySim sim;
    QVERIFY2(sim.start({QStringLiteral("--fault"), QStringLiteral("hangup")}),
             qPrintable(sim.errorString()));
    const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
    QVERIFY(port);
    QSignalSpy lost(port.get(), &SerialPort::lineLost);
    QSignalSpy arrived(port.get(), &SerialPort::bytesArrived);
    const Exchange exchange = transact(*port, readRequest(0));
    QVERIFY(exchange.lineLost);
    QVERIFY(!port->isOpen());
    // Once, and nothing after it: a lost line must not flood the event loop.
    const double cpuBefore = cpuMs();
    QTest::qWait(300);
    QCOMPARE(lost.count(), 1);
    QVERIFY2(arrived.count() <= 10, qPrintable(QString::number(arrived.count())));
    const double cpuUsed = cpuMs() - cpuBefore;
    QVERIFY2(cpuUsed < 100, qPrintable(QStringLiteral("%1 ms of CPU in 300 ms").arg(cpuUsed)));
    // What came before the hang-up is the first ten bytes of the reply at most.
    QVERIFY(sim::RelayModel().replyFrame(0).startsWith(exchange.reply));
}

void TestSerialPort::presentPortsAreTheSystems()
{
    const QList<PresentPort> ports = presentPorts();
    for (qsizetype i = 1; i < ports.size(); ++i)
        QVERIFY(portNameLess(ports[i - 1].name, ports[i].name));
#ifdef Q_OS_WIN
    // The test prefix maps COM1 (to the simulated relay while a test runs).
    bool com1 = false;
    for (const PresentPort &port : ports)
        com1 = com1 || port.name == QLatin1String("COM1");
    QVERIFY2(com1, qPrintable(QString::number(ports.size())));
#else
    for (const PresentPort &port : ports)
        QVERIFY2(QFile::exists(port.name), qPrintable(port.name));
#endif
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
