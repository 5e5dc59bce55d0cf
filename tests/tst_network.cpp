#include "clirun.h"
#include "endtoend.h"
#include "framesplitter.h"
#include "relaymodel.h"
#include "relaysim.h"
#include "ser2net.h"
#include "testmain.h"

#include "link/devicelink.h"
#include "link/serialport.h"
#include "link/telnetreceiver.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace veltra;
using namespace veltra::test;

namespace {

using Result = CliResult;

constexpr char kIac = char(255), kSb = char(250), kSe = char(240);

// A small RFC 2217 server of the test's own, in front of the relay model: it notes every
// COM-PORT command the client sends, acknowledges all but SET-CONTROL (as a pseudo-terminal's
// server may never do), and can spoil a reply with a line-state error, hang up in it, or answer
// the request as a busy server late to say so. A raw client gets the same relay.
class ComPortServer : public QObject
{
public:
    ComPortServer()
    {
        m_server.listen(QHostAddress::LocalHost);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            m_client = m_server.nextPendingConnection();
            connect(m_client, &QTcpSocket::readyRead, this, [this] { take(m_client->readAll()); });
        });
    }
    QString url() const
    {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_server.serverPort());
    }
    QString rawUrl() const
    {
        return QStringLiteral("socket://127.0.0.1:%1").arg(m_server.serverPort());
    }
    void send(const QByteArray &bytes) { m_client->write(bytes); }

    QMap<int, QByteArray> commands; // COM-PORT command → its value, as the client last sent it
    QByteArray data;                // the client's data, unescaped
    bool lineErrorInReply = false;
    int hangUpAfter = -1; // reply bytes sent before the server hangs up; -1: it never does
    QByteArray busy;      // with hangUpAfter: said instead of the reply, when not empty
    QByteArray replied;   // the relay's bytes as sent

private:
    void take(const QByteArray &bytes)
    {
        for (const char c : bytes) {
            if (m_inSub) {
                if (m_iac && c == kSe) {
                    m_inSub = m_iac = false;
                    subnegotiation();
                } else if (m_iac || c != kIac) {
                    m_sub.append(c); // IAC IAC in a value is one 0xFF
                    m_iac = false;
                } else {
                    m_iac = true;
                }
            } else if (m_option) {
                m_option = false;
            } else if (m_iac) {
                m_iac = false;
                if (c == kIac)
                    frame(c);
                else if (c == kSb)
                    m_inSub = true, m_sub.clear();
                else
                    m_option = true; // WILL, WONT, DO, DONT: one option byte follows
            } else if (c == kIac) {
                m_iac = true;
            } else {
                frame(c);
            }
        }
    }
    void subnegotiation()
    {
        if (m_sub.size() < 2 || m_sub[0] != char(44))
            return;
        const int command = quint8(m_sub[1]);
        commands[command] = m_sub.sliced(2);
        if (command != 5) // SET-CONTROL goes unanswered
            send(QByteArray(1, kIac) + kSb + char(44) + char(command + 100) + m_sub.sliced(2) +
                 kIac + kSe);
    }
    void frame(char c)
    {
        data.append(c);
        for (const QByteArray &frame : m_splitter.feed(QByteArrayView(&c, 1))) {
            QByteArray reply = m_model.handleFrame(frame).reply;
            if (reply.isEmpty())
                continue;
            if (lineErrorInReply) // NOTIFY-LINESTATE: a parity error, mid-reply
                reply.insert(10, QByteArray(1, kIac) + kSb + char(44) + char(106) + char(0x04) +
                                     kIac + kSe);
            if (hangUpAfter >= 0)
                reply.truncate(hangUpAfter);
            replied += reply;
            send(busy.isEmpty() ? reply : busy);
            if (hangUpAfter >= 0) // after the request is read, so it is a close, not a reset
                m_client->disconnectFromHost();
        }
    }

    QTcpServer m_server;
    QTcpSocket *m_client = nullptr;
    sim::RelayModel m_model;
    sim::FrameSplitter m_splitter;
    QByteArray m_sub;
    bool m_iac = false, m_inSub = false, m_option = false;
};

// A listener that never accepts, its queue full: the next handshake goes unanswered, so a
// connection neither succeeds nor fails until the client gives up. Empty on failure.
QString unansweredPort(int &listener, int &queued)
{
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
        ::listen(listener, 0) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    queued = ::socket(AF_INET, SOCK_STREAM, 0);
    if (::connect(queued, reinterpret_cast<sockaddr *>(&address), length) != 0)
        return {};
    return QStringLiteral("socket://127.0.0.1:%1").arg(ntohs(address.sin_port));
}

} // namespace

// Serial device servers: the relay's line over raw TCP and over RFC 2217, as the window and
// the command line name it.
class TestNetwork : public QObject
{
    Q_OBJECT
private slots:
    void names_data();
    void names();
    void overSer2net_data();
    void overSer2net();
    void failures_data();
    void failures();
    void comPortOption();
    void telnetReceiver_data();
    void telnetReceiver();
    void windowStaysLiveWhileConnecting();
};

void TestNetwork::names_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("system"); // empty: names nothing, nothing is opened
    QTest::newRow("raw") << "socket://relay-7.plant:4001"
                         << "socket://relay-7.plant:4001";
    QTest::newRow("rfc2217") << " RFC2217://10.0.0.5:2217 "
                             << "rfc2217://10.0.0.5:2217";
    QTest::newRow("IPv6") << "socket://[::1]:7000"
                          << "socket://[::1]:7000";
    QTest::newRow("full width") << "ｓｏｃｋｅｔ：／／ｈｏｓｔ：１"
                                << "socket://host:1";
    QTest::newRow("no port") << "socket://host"
                             << "";
    QTest::newRow("port 0") << "socket://host:0"
                            << "";
    QTest::newRow("port 65536") << "rfc2217://host:65536"
                                << "";
    QTest::newRow("a path") << "socket://host:1/dev/ttyS0"
                            << "";
    QTest::newRow("a user") << "socket://me@host:1"
                            << "";
    QTest::newRow("unbracketed IPv6") << "socket://::1:7000"
                                      << "";
    QTest::newRow("another scheme") << "file:///dev/ttyS0"
                                    << "";
    QTest::newRow("no host") << "rfc2217://:2217"
                             << "";
}

void TestNetwork::names()
{
    QFETCH(QString, field);
    QFETCH(QString, system);
    const std::optional<QString> name = systemPortName(field);
    QCOMPARE(name.value_or(QString()), system);
    QCOMPARE(networkAddress(system).has_value(), !system.isEmpty());
}

void TestNetwork::overSer2net_data()
{
    QTest::addColumn<bool>("rfc2217");
    QTest::newRow("raw") << false;
    QTest::newRow("rfc2217") << true;
}

// Read, write with verify, clear and find, as an engineer runs them against a device server.
void TestNetwork::overSer2net()
{
    QFETCH(bool, rfc2217);
    RelaySim relay;
    QVERIFY2(relay.start(), qPrintable(relay.errorString()));
    Ser2net server;
    // With RFC 2217 the server's own setting is wrong on purpose: the client sets the line.
    QVERIFY2(server.start(relay.portPath(),
                          rfc2217 ? QStringLiteral("115200n81") : QStringLiteral("9600e71")),
             qPrintable(server.errorString()));
    const QString url = rfc2217 ? server.rfc2217Url() : server.rawUrl();
    QTemporaryDir dir;
    const QString read = dir.filePath(QStringLiteral("read.DT"));
    const QString changed = dir.filePath(QStringLiteral("changed.DT"));

    Result r =
        runCli({QStringLiteral("read"), QStringLiteral("--port"), url, QStringLiteral("-o"), read});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = runCli({QStringLiteral("set"), read, QStringLiteral("3:絶縁監視動作感度設定=50(mA)"),
                QStringLiteral("-o"), changed});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = runCli(
        {QStringLiteral("write"), changed, QStringLiteral("--yes"), QStringLiteral("--port"), url});
    QVERIFY2(r.code == 0 &&
                 r.err.contains(QStringLiteral("設定値の書き込みと照合が終了しました。")),
             qPrintable(r.err));
    r = runCli({QStringLiteral("clear"), QStringLiteral("--maximum"), QStringLiteral("--yes"),
                QStringLiteral("--port"), url});
    QVERIFY2(r.code == 0, qPrintable(r.err));
    r = runCli({QStringLiteral("find"), QStringLiteral("--port"), url});
    QVERIFY2(r.code == 0, qPrintable(r.err));

    // The relay got every write frame whole, and the clear.
    QStringList commands;
    for (const QJsonObject &frame : relay.frames())
        if (frame.value(QStringLiteral("command")).toString().startsWith(u'B'))
            commands << frame.value(QStringLiteral("command")).toString();
    // As one text, so that a failure shows which frame is missing.
    QCOMPARE(commands.join(u' '), QStringLiteral("B0 B1 B2 B3 B4 B5 B6 B7 B8 B9"));
}

void TestNetwork::failures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("found"); // what a search says of the port
    const QString silence = QStringLiteral("応答なし (no reply within 3 s)");
    QTest::newRow("refused") << "refused" << 5 << "connection refused"
                             << "(cannot open: connection refused)";
    // Labels of more than 63 characters are refused by the resolver without asking anyone.
    QTest::newRow("no such name") << "name" << 5 << "host not found"
                                  << "(cannot open: host not found)";
    QTest::newRow("no connection in 3 s") << "backlog" << 5 << "no connection within 3 s"
                                          << "(cannot open: no connection within 3 s)";
    QTest::newRow("silent server") << "silent" << 3 << "no complete reply" << silence;
    QTest::newRow("server in use, raw") << "in use raw" << 5 << "device already in use"
                                        << "device already in use)";
    QTest::newRow("server in use, rfc2217") << "in use rfc2217" << 5 << "Port already in use"
                                            << "(cannot open: Port already in use)";
    // As ser2net under load: its words come only after our request.
    QTest::newRow("server in use, says so late") << "late raw" << 5 << "Port already in use"
                                                 << "(cannot open: Port already in use)";
    // Once the relay's bytes came, a hang-up is a line lost, and they are no server's words.
    QTest::newRow("hang-up mid-reply, raw")
        << "mid-reply raw" << 3 << "no complete reply" << silence;
    QTest::newRow("hang-up mid-reply, rfc2217")
        << "mid-reply rfc2217" << 3 << "no complete reply" << silence;
    QTest::newRow("hang-up on the request")
        << "on the request raw" << 5 << "the server closed the connection"
        << "(cannot open: the server closed the connection)";
}

void TestNetwork::failures()
{
    QFETCH(QString, kind);
    QFETCH(int, exit);
    QFETCH(QString, note);
    QFETCH(QString, found);
    RelaySim relay;
    Ser2net server;
    ComPortServer own;
    QTcpServer silent;
    QTcpSocket holder;
    int listener = -1, queued = -1;
    auto cleanup = qScopeGuard([&] {
        for (int fd : {listener, queued})
            if (fd >= 0)
                ::close(fd);
    });
    QString url;
    if (kind == QLatin1String("refused")) {
        url = QStringLiteral("socket://127.0.0.1:%1").arg(freeLoopbackPort());
    } else if (kind == QLatin1String("name")) {
        url = QStringLiteral("rfc2217://%1.example:2217").arg(QString(64, u'a'));
    } else if (kind == QLatin1String("backlog")) {
        url = unansweredPort(listener, queued);
        QVERIFY(!url.isEmpty());
    } else if (kind == QLatin1String("silent")) {
        QVERIFY(silent.listen(QHostAddress::LocalHost)); // accepted by the system, never read
        url = QStringLiteral("socket://127.0.0.1:%1").arg(silent.serverPort());
    } else if (kind.startsWith(QLatin1String("mid-reply")) ||
               kind.startsWith(QLatin1String("on the request")) ||
               kind.startsWith(QLatin1String("late"))) {
        own.hangUpAfter = kind.startsWith(QLatin1String("mid-reply")) ? 10 : 0;
        if (kind.startsWith(QLatin1String("late")))
            own.busy = "Port already in use\r\n";
        url = kind.endsWith(QLatin1String("raw")) ? own.rawUrl() : own.url();
    } else {
        QVERIFY2(relay.start(), qPrintable(relay.errorString()));
        QVERIFY2(server.start(relay.portPath()), qPrintable(server.errorString()));
        // Another engineer's client holds the line; the server's greeting shows it has it.
        holder.connectToHost(QHostAddress::LocalHost, server.telnetPort());
        QVERIFY(holder.waitForConnected(3000));
        QVERIFY(holder.waitForReadyRead(3000));
        url = kind.endsWith(QLatin1String("raw")) ? server.rawUrl() : server.rfc2217Url();
    }
    const Result r = runCli({QStringLiteral("read"), QStringLiteral("--page"), QStringLiteral("0"),
                             QStringLiteral("--port"), url});
    QVERIFY2(r.code == exit, qPrintable(QString::number(r.code) + u' ' + r.err));
    QVERIFY2(r.err.contains(note), qPrintable(r.err));
    // A search names the reason of a port that could not be used.
    const Result f = runCli({QStringLiteral("find"), QStringLiteral("--port"), url});
    QVERIFY2(f.code == 3 && f.out.isEmpty(), qPrintable(QString::number(f.code) + u' ' + f.err));
    QVERIFY2(f.err.contains(url + u'\t') && f.err.contains(found), qPrintable(f.err));
    if (!relay.portPath().isEmpty())
        QVERIFY(relay.frames().isEmpty());
    if (!own.replied.isEmpty())
        QVERIFY2(!(r.err + f.err).contains(QString::fromLatin1(own.replied.sliced(1))),
                 qPrintable(r.err + f.err));
}

// What the client sets on the server's line, and the Telnet escape both ways.
void TestNetwork::comPortOption()
{
    ComPortServer server;
    std::unique_ptr<SerialPort> port(createSerialPort(nullptr));
    DeviceLink link(*port);
    QCOMPARE(link.ReadTransaction(0, server.url()), LinkError::None);
    QCOMPARE(server.commands.value(1), QByteArray::fromHex("00002580")); // 9600 baud
    QCOMPARE(server.commands.value(2), QByteArray(1, 7));                // 7 data bits
    QCOMPARE(server.commands.value(3), QByteArray(1, 3));                // even parity
    QCOMPARE(server.commands.value(4), QByteArray(1, 1));                // 1 stop bit
    QCOMPARE(server.commands.value(5), QByteArray(1, 1));                // no flow control
    QCOMPARE(server.commands.value(10), QByteArray(1, 0x0E)); // report overrun, parity, framing

    // A parity error the server reports during the reply spoils it.
    server.lineErrorInReply = true;
    QCOMPARE(link.ReadTransaction(1, server.url()), LinkError::DataError);
    server.lineErrorInReply = false;

    // 0xFF travels doubled on the wire, and arrives single.
    port->setPortName(server.url());
    QVERIFY(port->open());
    QTRY_VERIFY(port->lineSettings() == kRelayLineSettings);
    QSignalSpy arrived(port.get(), &SerialPort::bytesArrived);
    server.data.clear();
    port->write(QByteArray("A\xff"
                           "B"));
    QTRY_COMPARE(server.data, QByteArray("A\xff"
                                         "B"));
    server.send(QByteArray("x\xff\xff"
                           "y"));
    QVERIFY(arrived.wait(3000));
    QCOMPARE(port->takeReceived(), QByteArray("x\xff"
                                              "y"));
    port->close();
}

void TestNetwork::telnetReceiver_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<int>("chunk"); // bytes handed over at a time
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("answers");
    QTest::addColumn<QByteArrayList>("subnegotiations");
    const QByteArray sb = QByteArray(1, kIac) + kSb, se = QByteArray(1, kIac) + kSe;
    const QByteArray lineState = QByteArray::fromHex("2c6a04"); // NOTIFY-LINESTATE: parity
    // Grew by hundreds of megabytes once: escaped 0xFF bytes went uncounted.
    QTest::newRow("1 MB of escaped 0xFF in a subnegotiation")
        << sb + char(44) + QByteArray(1 << 20, kIac) + se + sb + lineState + se + "x" << 4096
        << QByteArray("x") << QByteArray() << QByteArrayList{lineState};
    const QByteArray longest = char(44) + QByteArray(63, 'a');
    QTest::newRow("64 bytes kept, 65 dropped")
        << sb + longest + se + sb + longest + 'a' + se << 7 << QByteArray() << QByteArray()
        << QByteArrayList{longest};
    QTest::newRow("data byte by byte") << QByteArray("A\xff\xff"
                                                     "B\r\0C",
                                                     7)
                                       << 1
                                       << QByteArray("A\xff"
                                                     "B\rC")
                                       << QByteArray() << QByteArrayList{};
    // DO BINARY twice, WILL ECHO, DONT COM-PORT: each answered once, echo declined.
    QTest::newRow("options answered once")
        << QByteArray::fromHex("fffd00fffd00fffb01fffe2c") << 12 << QByteArray()
        << QByteArray::fromHex("fffb00fffe01fffc2c") << QByteArrayList{};
}

// Telnet's receiving side, without a socket: it keeps at most one subnegotiation's worth.
void TestNetwork::telnetReceiver()
{
    QFETCH(QByteArray, received);
    QFETCH(int, chunk);
    TelnetReceiver telnet;
    TelnetReceiver::Received all;
    for (qsizetype at = 0; at < received.size(); at += chunk) {
        const TelnetReceiver::Received some = telnet.take(
            QByteArrayView(received).sliced(at, std::min<qsizetype>(chunk, received.size() - at)));
        QVERIFY(telnet.held() <= TelnetReceiver::kMaxSubnegotiation);
        all.data += some.data;
        all.answers += some.answers;
        all.subnegotiations += some.subnegotiations;
    }
    QTEST(all.data, "data");
    QTEST(all.answers, "answers");
    QTEST(all.subnegotiations, "subnegotiations");
}

// The window, while it connects to a server that does not answer: events run, a second click
// is ignored, and after 3 s it is a port that cannot be used.
void TestNetwork::windowStaysLiveWhileConnecting()
{
    int listener = -1, queued = -1;
    auto cleanup = qScopeGuard([&] {
        for (int fd : {listener, queued})
            if (fd >= 0)
                ::close(fd);
    });
    const QString url = unansweredPort(listener, queued);
    QVERIFY(!url.isEmpty());
    ScriptedPrompts prompts;
    MainWindow w(&prompts, url);
    w.show();
    bool liveMeanwhile = false;
    QTimer::singleShot(1000, &w, [&] {
        button(w, QStringLiteral("Command12"))->click();
        liveMeanwhile = w.commands().busy();
    });
    button(w, QStringLiteral("Command1_0"))->click();
    QVERIFY(liveMeanwhile);
    QCOMPARE(prompts.texts(), QStringList{QStringLiteral("指定のCOMポートは使用できません。")});
}

VELTRA_TEST_MAIN(TestNetwork)
#include "tst_network.moc"
