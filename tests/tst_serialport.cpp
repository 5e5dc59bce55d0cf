#include "link/frames.h"
#include "link/portlock.h"
#include "link/serialport.h"
#include "processcpu.h"
#include "relaymodel.h"
#include "relaysim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

#ifdef Q_OS_WIN
#include "link/winserialport.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

#ifdef Q_OS_LINUX
#include <dlfcn.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdarg>

// A serial driver that knows ASYNC_LOW_LATENCY, in front of the one pseudo-terminal a test
// names: a pty has no such setting (ENOTTY), and the machine has no USB adapter. This program's
// own ioctl comes before the C library's for every caller in it, and passes on the rest.
namespace {

struct FakeSerialDriver
{
    dev_t device = 0; // the device answered for; 0: nothing is faked
    int flags = 0;    // what TIOCGSERIAL reports
    int refusal = 0;  // errno of TIOCSSERIAL; 0 takes it
    QList<int> set;   // the flags each TIOCSSERIAL asked for
};
FakeSerialDriver fakeDriver;

bool faked(int fd)
{
    using Status = struct stat;
    Status info{};
    return fakeDriver.device != 0 && ::fstat(fd, &info) == 0 && info.st_rdev == fakeDriver.device;
}

} // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept
{
    va_list arguments;
    va_start(arguments, request);
    void *argument = va_arg(arguments, void *);
    va_end(arguments);
    if ((request == TIOCGSERIAL || request == TIOCSSERIAL) && faked(fd)) {
        auto *serial = static_cast<serial_struct *>(argument);
        if (request == TIOCGSERIAL) {
            *serial = serial_struct{};
            serial->flags = fakeDriver.flags;
            return 0;
        }
        fakeDriver.set << serial->flags;
        if (fakeDriver.refusal != 0) {
            errno = fakeDriver.refusal;
            return -1;
        }
        fakeDriver.flags = serial->flags;
        return 0;
    }
    using Ioctl = int (*)(int, unsigned long, ...);
    static const auto next = reinterpret_cast<Ioctl>(::dlsym(RTLD_NEXT, "ioctl"));
    return next(fd, request, argument);
}
#endif

using namespace veltra;
using veltra::test::processCpuMs;
using veltra::test::RelaySim;

// The serial line through its seam only, so that the Linux backend (Qt SerialPort) and the
// Windows one (Win32, under Wine) pass the very same tests, with the simulated relay at the
// far end of a pseudo-terminal.
namespace {

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

// Leaves the line as another program might: 115200 baud, 7 bits even parity, RTS/CTS
// handshake, and on Linux two stop bits. True once the device holds that (a pty holds 8 bits
// without parity). Under Wine a pty then refuses the tool's own 7E1 at the framing and sets
// nothing after it: only the tool's second try puts the handshake off.
bool leaveLineAsAnotherProgramWould(const QString &name)
{
#ifdef Q_OS_WIN
    const std::wstring path = WinSerialPort::devicePath(name).toStdWString();
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    bool held = GetCommState(handle, &dcb);
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.XonChar = 0x01;
    dcb.XoffChar = 0x02;
    held = held && SetCommState(handle, &dcb) && GetCommState(handle, &dcb) &&
           dcb.BaudRate == CBR_115200 && dcb.fOutxCtsFlow && dcb.XonChar == 0x01;
    CloseHandle(handle);
    return held;
#else
    const int fd = ::open(QFile::encodeName(name).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return false;
    termios attributes{};
    bool held = ::tcgetattr(fd, &attributes) == 0;
    ::cfsetspeed(&attributes, B115200);
    attributes.c_cflag = (attributes.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    held = held && ::tcsetattr(fd, TCSANOW, &attributes) == 0 &&
           ::tcgetattr(fd, &attributes) == 0 && ::cfgetospeed(&attributes) == B115200 &&
           (attributes.c_cflag & (CSTOPB | CRTSCTS)) == (CSTOPB | CRTSCTS);
    ::close(fd);
    return held;
#endif
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
    void portNames_data();
    void portNames();
    void lineSettingsAreApplied();
    void readRequestIsAnswered_data();
    void readRequestIsAnswered();
    void lateReplyWakesOnFirstByte();
    void replyArrivingByTheCharacter();
    void drainedFrameLeavesWholeBeforeClose();
    void stalledWriteFailsWithinItsLimit();
    void discardDropsStaleBytes_data();
    void discardDropsStaleBytes();
    void reopenAfterClose();
    void portHeldElsewhereIsRefused();
    void portLockedByAnotherProcessIsUnusable();
    void unusablePortsDoNotOpen_data();
    void unusablePortsDoNotOpen();
#ifdef Q_OS_WIN
    void onlyPortNamesAreOpened();
#endif
    void hangUpIsLostOnceAndClosed();
    void presentPortsAreTheSystems();
    void beginOpenReportsFromTheEventLoop_data();
    void beginOpenReportsFromTheEventLoop();
#ifdef Q_OS_WIN
    void lateOpenIsClosedUnused_data();
    void lateOpenIsClosedUnused();
#endif
#ifdef Q_OS_LINUX
    void lineLeftInAnyStateOpens_data();
    void lineLeftInAnyStateOpens();
    void lowLatencyIsAskedAndPutBack_data();
    void lowLatencyIsAskedAndPutBack();
#endif
};

void TestSerialPort::portNames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("windows");   // the Windows rule alone, or the system's own
    QTest::addColumn<QString>("device"); // empty: none, and nothing is opened
    const QString ideographicSpace(QChar(0x3000));
    auto windows = [](const char *row, const QString &text, const QString &device) {
        QTest::newRow(row) << text << true << device;
    };
    windows("number", "3", "COM3");
    windows("full-width number", "３", "COM3");
    windows("spaces around", ideographicSpace + " 3\t", "COM3");
    windows("leading zero", "03", "COM3");
    windows("COMn in any case", "com12", "COM12");
    windows("device path", R"(\\.\cOm3)", "COM3");
    windows("full-width device path", "＼＼．＼ＣＯＭ３", "COM3");
    windows("listed port", "cnca0", "CNCA0");
    windows("listed port as device path", R"(\\.\CNCA0)", "CNCA0");
    windows("zero", "0", "");
    windows("COM0", "COM0", "");
    windows("digits of another script", QString(QChar(0x0663)), "");
    windows("empty", ideographicSpace, "");
    windows("UNC path", R"(\\fileserver\share)", "");
    windows("pipe", R"(\\.\pipe\veltra)", "");
    windows("disk", R"(\\.\PhysicalDrive0)", "");
    windows("other device namespace", R"(\\?\COM3)", "");
    windows("a path after COMn", R"(COM3\..\PhysicalDrive0)", "");
    windows("a file", R"(C:\windows\win.ini)", "");
    windows("a listed name that is a path", R"(..\PhysicalDrive0)", "");
#ifndef Q_OS_WIN
    auto onLinux = [](const char *row, const QString &text, const QString &device) {
        QTest::newRow(row) << text << false << device;
    };
    onLinux("number", "1", "/dev/ttyS0");
    onLinux("full-width number", "１０", "/dev/ttyS9");
    onLinux("device", ideographicSpace + "/dev/ttyUSB0 ", "/dev/ttyUSB0");
    onLinux("full-width device", "／ｄｅｖ／ｔｔｙＵＳＢ０", "/dev/ttyUSB0");
    onLinux("zero", "0", "");
    onLinux("empty", " ", "");
#endif
}

void TestSerialPort::portNames()
{
    QFETCH(QString, text);
    QFETCH(bool, windows);
    QFETCH(QString, device);
    const QStringList listed{"COM1", "CNCA0", R"(..\PhysicalDrive0)"};
    const std::optional<QString> name =
        windows ? windowsPortName(text, listed) : systemPortName(text);
    QCOMPARE(name.value_or(QString()), device);
}

void TestSerialPort::lineSettingsAreApplied()
{
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QVERIFY(leaveLineAsAnotherProgramWould(sim.portPath()));
    // The platform's own serial line, whose device control block is read below.
    std::unique_ptr<SerialPort> port(createDeviceSerialPort(nullptr));
    QSignalSpy notices(port.get(), &SerialPort::notice);
    port->setPortName(sim.portPath());
    port->setLineSettings();
    QVERIFY(!port->lineSettings());
    QVERIFY(port->open());
    QVERIFY(port->isOpen());
    // Read back from the device, which the other program left at 115200 baud with RTS/CTS.
    // A pseudo-terminal, here or under Wine, holds 8 bits without parity whatever is set.
    const LineSettings pseudoTerminal{9600, 8, 'N', 1, false};
    QCOMPARE(port->lineSettings(), std::optional(pseudoTerminal));
#ifdef Q_OS_WIN
    const std::optional<DCB> dcb = static_cast<WinSerialPort &>(*port).deviceControlBlock();
    QVERIFY(dcb);
    // The handshake lines are raised while open, as a POSIX tty raises them.
    QCOMPARE(DWORD(dcb->fDtrControl), DWORD(DTR_CONTROL_ENABLE));
    QCOMPARE(DWORD(dcb->fRtsControl), DWORD(RTS_CONTROL_ENABLE));
    QCOMPARE(int(dcb->XonChar), 0x11);
    QCOMPARE(int(dcb->XoffChar), 0x13);
    // Tolerated only under Wine, and said once, not at every open.
    const int expectedNotices = WinSerialPort::underWine() ? 1 : 0;
#else
    const int expectedNotices = 0;
#endif
    port->close();
    QVERIFY(!port->isOpen());
    QVERIFY(!port->lineSettings());
    QVERIFY(port->open());
    QCOMPARE(notices.count(), expectedNotices);
}

#ifdef Q_OS_LINUX
void TestSerialPort::lineLeftInAnyStateOpens_data()
{
    // The line's input and control flags as a process left them, killed before it could put
    // them back.
    QTest::addColumn<uint>("iflag");
    QTest::addColumn<uint>("cflag");
    const uint raw8 = B9600 | CS8 | CREAD | CLOCAL;
    QTest::newRow("tool killed mid-read: IGNPAR, raw 9600 8N1") << uint(IGNPAR) << raw8;
    QTest::newRow("IGNPAR with XON/XOFF") << uint(IGNPAR | IXON | IXOFF) << raw8;
    QTest::newRow("IGNPAR at 115200") << uint(IGNPAR) << uint(B115200 | CS8 | CREAD | CLOCAL);
    QTest::newRow("IGNPAR with RTS/CTS") << uint(IGNPAR) << (raw8 | CRTSCTS);
    QTest::newRow("a terminal's ICRNL") << uint(ICRNL | IXON) << raw8;
}

void TestSerialPort::lineLeftInAnyStateOpens()
{
    QFETCH(uint, iflag);
    QFETCH(uint, cflag);
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const int fd = ::open(QFile::encodeName(sim.portPath()).constData(), O_RDWR | O_NOCTTY);
    QVERIFY(fd >= 0);
    termios left{};
    QVERIFY(::tcgetattr(fd, &left) == 0);
    left.c_iflag = iflag;
    left.c_cflag = cflag;
    QVERIFY(::tcsetattr(fd, TCSANOW, &left) == 0);
    QVERIFY(::tcgetattr(fd, &left) == 0);
    ::close(fd);
    QCOMPARE(uint(left.c_iflag), iflag); // the state is really there

    for (int open = 1; open <= 2; ++open) { // and every later open too
        const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
        QVERIFY2(port, qPrintable(QStringLiteral("open %1 failed").arg(open)));
        QCOMPARE(port->lineSettings(), std::optional(LineSettings{9600, 8, 'N', 1, false}));
        const Exchange exchange = transact(*port, readRequest(open));
        QCOMPARE(exchange.reply, sim::RelayModel().replyFrame(open));
    }
}
#endif

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
    const double cpuBefore = processCpuMs();
    const Exchange exchange = transact(*port, readRequest(0));
    const double cpuUsed = processCpuMs() - cpuBefore;
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
        QElapsedTimer clock;
        clock.start();
        QVERIFY(port->writeAndDrain(frame));
#ifdef Q_OS_WIN
        // The flush ends once a USB adapter's chip holds the frame; closing then would drop
        // DTR and RTS under its tail. So the frame's time on the wire is waited out (10 bits
        // a character at 9600 baud), whatever the driver says.
        const double wireMs = frame.size() * 10 * 1000.0 / 9600;
        QVERIFY2(double(clock.nsecsElapsed()) / 1e6 >= wireMs,
                 qPrintable(QStringLiteral("%1 ms").arg(double(clock.nsecsElapsed()) / 1e6)));
#endif
        port->close();
    }
    QVERIFY(sim.waitForFrames(1));
    const QJsonObject logged = sim.frames().constLast();
    QCOMPARE(logged.value("frame").toString().toLatin1(), frame);
    QCOMPARE(logged.value("command").toString(), QStringLiteral("B1"));
    QVERIFY(logged.value("accepted").toBool());
    QVERIFY(!std::unique_ptr<SerialPort>(createSerialPort(nullptr))->writeAndDrain(frame));
}

void TestSerialPort::stalledWriteFailsWithinItsLimit()
{
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
    QVERIFY(port);
    // The far end reads nothing more, so the line's buffers fill and the write cannot end.
    QVERIFY(sim.pause());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!port->writeAndDrain(QByteArray(256 * 1024, '0')));
    // Ended by the port's own limit (1 s), not by the driver's (3 s on Windows), nor never.
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
    port->close();
    QVERIFY(!port->isOpen());
}

void TestSerialPort::discardDropsStaleBytes_data()
{
    QTest::addColumn<bool>("eventsRun");
    // Either the reply was taken in already, or it is still with the driver (and the read
    // pending on the port has its first byte).
    QTest::newRow("taken in") << true;
    QTest::newRow("still with the driver") << false;
}

void TestSerialPort::discardDropsStaleBytes()
{
    QFETCH(bool, eventsRun);
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
    QVERIFY(port);
    // A reply nobody collects.
    port->write(readRequest(2));
    QVERIFY(sim.waitForFrames(1));
    if (eventsRun)
        QTest::qWait(100);
    else
        QThread::msleep(100);
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

// Another process's command holds the port between its transactions: the command line finds the
// port unusable and sends nothing until it is free.
void TestSerialPort::portLockedByAnotherProcessIsUnusable()
{
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    PortLock held;
    QVERIFY(held.tryLock(sim.portPath()));
    const auto readCommonPage = [&sim](const char *command = "read") {
        QProcess cli;
        QStringList arguments{QLatin1String(command), QStringLiteral("--port"), sim.portPath()};
        if (qstrcmp(command, "read") == 0)
            arguments << QStringLiteral("--page") << QStringLiteral("0");
        cli.start(QCoreApplication::applicationDirPath() + QStringLiteral("/veltra-cli"),
                  arguments);
        cli.closeWriteChannel();
        if (!cli.waitForFinished(30000))
            return std::pair(-1, QString());
        return std::pair(cli.exitCode(), QString::fromUtf8(cli.readAllStandardError()));
    };
    const auto [refused, why] = readCommonPage();
    QCOMPARE(refused, 5);
    QVERIFY2(why.contains(QStringLiteral("in use by another command of this tool")),
             qPrintable(why));
    // A relay search sends it nothing either, and says why.
    const auto [searched, found] = readCommonPage("find");
    QCOMPARE(searched, 3);
    QVERIFY2(found.contains(QStringLiteral("in use by another command of this tool")),
             qPrintable(found));
    QVERIFY(sim.frames().isEmpty());
    held.unlock();
    QCOMPARE(readCommonPage().first, 0);
    QVERIFY(sim.waitForFrames(1));
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
    // The test prefix maps COM2 to /dev/null.
    QTest::newRow("a COM port that is no serial line") << "COM2";
    QTest::newRow("a file") << "C:\\windows\\win.ini";
    QTest::newRow("a folder") << "C:\\windows";
#else
    QTest::newRow("missing device") << "/dev/veltra-no-such-port";
    QTest::newRow("a device that is no terminal") << "/dev/null";
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

#ifdef Q_OS_WIN
void TestSerialPort::onlyPortNamesAreOpened()
{
    // A pipe server sees a client the moment one opens the name.
    const std::wstring pipe = LR"(\\.\pipe\veltra-serial-port-test)";
    const HANDLE server = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr);
    QVERIFY(server != INVALID_HANDLE_VALUE);
    std::unique_ptr<SerialPort> port(createSerialPort(nullptr));
    port->setPortName(QString::fromStdWString(pipe));
    port->setLineSettings();
    QVERIFY(!port->open());
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const bool connected = ConnectNamedPipe(server, &overlapped);
    const DWORD error = GetLastError();
    // Still waiting for its first client: the port never opened the pipe.
    QVERIFY(!connected);
    QCOMPARE(error, DWORD(ERROR_IO_PENDING));
    CancelIoEx(server, &overlapped);
    WaitForSingleObject(overlapped.hEvent, 1000);
    CloseHandle(overlapped.hEvent);
    CloseHandle(server);
}
#endif

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
    const double cpuBefore = processCpuMs();
    QTest::qWait(300);
    QCOMPARE(lost.count(), 1);
    QVERIFY2(arrived.count() <= 10, qPrintable(QString::number(arrived.count())));
    const double cpuUsed = processCpuMs() - cpuBefore;
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
    // The kernel's own word, read without Qt: every tty with a device behind it, a built-in
    // UART only when one is fitted (type 0 is none). Each must be listed.
    QStringList listed;
    for (const PresentPort &port : ports) {
        QVERIFY2(QFile::exists(port.name), qPrintable(port.name));
        listed << port.name;
    }
    const QDir ttys(QStringLiteral("/sys/class/tty"));
    for (const QString &name :
         ttys.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (!QFileInfo::exists(ttys.filePath(name + QStringLiteral("/device"))))
            continue;
        QFile type(ttys.filePath(name + QStringLiteral("/type")));
        if (name.startsWith(QLatin1String("ttyS")) && type.open(QIODevice::ReadOnly) &&
            type.readAll().trimmed() == "0")
            continue;
        QVERIFY2(listed.contains(QStringLiteral("/dev/") + name), qPrintable(name));
    }
#endif
}

void TestSerialPort::beginOpenReportsFromTheEventLoop_data()
{
    QTest::addColumn<bool>("relay"); // the simulated relay's line, or a port that is not there
    QTest::newRow("the relay's line") << true;
    QTest::newRow("a port that is not there") << false;
}

void TestSerialPort::beginOpenReportsFromTheEventLoop()
{
    QFETCH(bool, relay);
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    std::unique_ptr<SerialPort> port(createSerialPort(nullptr));
#ifdef Q_OS_WIN
    const QString missing = QStringLiteral("COM77");
#else
    const QString missing = QStringLiteral("/dev/veltra-no-such-port");
#endif
    port->setPortName(relay ? sim.portPath() : missing);
    port->setLineSettings();
    QSignalSpy finished(port.get(), &SerialPort::openFinished);
    port->beginOpen();
    // Callers connect around the call: a report from inside it would be lost.
    QCOMPARE(finished.count(), 0);
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toBool(), relay);
    QCOMPARE(port->isOpen(), relay);
    if (relay)
        QCOMPARE(transact(*port, readRequest(4)).reply, sim::RelayModel().replyFrame(4));
}

#ifdef Q_OS_WIN
void TestSerialPort::lateOpenIsClosedUnused_data()
{
    QTest::addColumn<bool>("closedMeanwhile");
    QTest::newRow("not open within the limit") << false;
    QTest::newRow("closed while opening") << true;
}

void TestSerialPort::lateOpenIsClosedUnused()
{
    QFETCH(bool, closedMeanwhile);
    // The late handle is a pipe's client end: the pipe's server sees it closed, and whether
    // anything was sent on it first.
    const std::wstring pipe = LR"(\\.\pipe\veltra-late-open)";
    const HANDLE server = CreateNamedPipeW(pipe.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                           PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr);
    QVERIFY(server != INVALID_HANDLE_VALUE);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A driver that keeps CreateFileW until the test lets it go, as some Bluetooth ones do for
    // seconds. Left open to the end: the opening thread may still wait on it.
    const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto cleanup = qScopeGuard([&] {
        SetEvent(release);
        CancelIoEx(server, &overlapped);
        WaitForSingleObject(overlapped.hEvent, 1000);
        CloseHandle(overlapped.hEvent);
        CloseHandle(server);
    });
    WinSerialPort port(nullptr, [pipe, release](const std::wstring &) {
        WaitForSingleObject(release, 60000);
        return CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    });
    port.setPortName(QStringLiteral("COM1"));
    port.setLineSettings();
    QSignalSpy finished(&port, &SerialPort::openFinished);
    port.beginOpen();
    if (closedMeanwhile) {
        port.close();
    } else {
        QVERIFY(finished.wait(WinSerialPort::kOpenLimitMs + 5000));
        QCOMPARE(finished.at(0).at(0).toBool(), false);
    }
    QVERIFY(!port.isOpen());

    QVERIFY(!ConnectNamedPipe(server, &overlapped));
    QCOMPARE(GetLastError(), DWORD(ERROR_IO_PENDING));
    SetEvent(release);
    QCOMPARE(WaitForSingleObject(overlapped.hEvent, 10000), DWORD(WAIT_OBJECT_0));
    char byte = 0;
    DWORD got = 0;
    DWORD error = ERROR_SUCCESS;
    overlapped.Internal = overlapped.InternalHigh = 0;
    ResetEvent(overlapped.hEvent);
    if (!ReadFile(server, &byte, 1, nullptr, &overlapped)) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            QCOMPARE(WaitForSingleObject(overlapped.hEvent, 10000), DWORD(WAIT_OBJECT_0));
            error = GetOverlappedResult(server, &overlapped, &got, FALSE) ? ERROR_SUCCESS
                                                                          : GetLastError();
        }
    }
    QCOMPARE(error, DWORD(ERROR_BROKEN_PIPE));
    QCOMPARE(got, DWORD(0));
    // Nor does the port speak of that open again.
    QTest::qWait(100);
    QCOMPARE(finished.count(), closedMeanwhile ? 0 : 1);
    QVERIFY(!port.isOpen());
}
#endif

#ifdef Q_OS_LINUX
void TestSerialPort::lowLatencyIsAskedAndPutBack_data()
{
    QTest::addColumn<bool>("faked");
    QTest::addColumn<int>("flags");   // the driver's, before the open
    QTest::addColumn<int>("refusal"); // errno of TIOCSSERIAL
    QTest::addColumn<QList<int>>("set");
    const int other = int(ASYNC_SKIP_TEST); // a flag of the driver's own, kept
    const int low = int(ASYNC_LOW_LATENCY);
    QTest::newRow("a driver that takes it, then has it put back")
        << true << other << 0 << QList<int>{other | low, other};
    QTest::newRow("already set: left as it is") << true << (other | low) << 0 << QList<int>{};
    QTest::newRow("a driver that refuses it") << true << 0 << EPERM << QList<int>{low};
    QTest::newRow("a pseudo-terminal: ENOTTY") << false << 0 << 0 << QList<int>{};
}

void TestSerialPort::lowLatencyIsAskedAndPutBack()
{
    QFETCH(bool, faked);
    QFETCH(int, flags);
    QFETCH(int, refusal);
    QFETCH(QList<int>, set);
    RelaySim sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    const auto cleanup = qScopeGuard([] { fakeDriver = {}; });
    if (faked) {
        using Status = struct stat;
        Status info{};
        QCOMPARE(::stat(QFile::encodeName(sim.portPath()).constData(), &info), 0);
        fakeDriver = {info.st_rdev, flags, refusal, {}};
    }
    const std::unique_ptr<SerialPort> port = openPort(sim.portPath());
    QVERIFY(port);
    // Whatever the driver said, the line works.
    QCOMPARE(transact(*port, readRequest(2)).reply, sim::RelayModel().replyFrame(2));
    port->close();
    QCOMPARE(fakeDriver.set, set);
}
#endif

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
