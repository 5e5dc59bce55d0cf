#include "link/networkport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <utility>

#ifdef Q_OS_WIN
#include <winsock2.h>
// After winsock2.h, which it needs.
#include <mstcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace veltra {
namespace {

using namespace telnet;

// The COM-PORT-OPTION's commands.
enum ComPort : unsigned char {
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
    ServerOffset = 100, // the server answers each command with its number plus this
};
constexpr unsigned char kParityEven = 3, kNoFlowControl = 1, kPurgeReceived = 1;
// Line-state bits: overrun, parity and framing errors.
constexpr unsigned char kReceiveErrors = 0x02 | 0x04 | 0x08;

constexpr int kConnectLimitMs = 3000;
// A device server's reason for hanging up is a short text.
constexpr qsizetype kMaxServerText = 200;
constexpr int kWriteLimitMs = 1000;
// 9600 baud, 7E1: a start bit, seven data bits, parity and a stop bit per character.
constexpr double kCharacterMs = 10.0 * 1000.0 / 9600.0;

// A device server that answers our Telnet options in small pieces, with Nagle's algorithm on
// (ser2net's Telnet port unless told tcp(nodelay)), holds the relay's reply until we
// acknowledge those pieces, which a delayed acknowledgement puts off by 40 ms or more: so we
// acknowledge at once. Linux needs this asked again after every read.
void acknowledgeAtOnce(qintptr socket)
{
#if defined(Q_OS_WIN)
    DWORD everySegment = 1, returned = 0;
    WSAIoctl(SOCKET(socket), SIO_TCP_SET_ACK_FREQUENCY, &everySegment, sizeof everySegment, nullptr,
             0, &returned, nullptr, nullptr);
#elif defined(TCP_QUICKACK)
    const int on = 1;
    ::setsockopt(int(socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    Q_UNUSED(socket);
#endif
}

// A line of text, as a device server words why it hangs up ("Port already in use\r\n"). No
// relay frame is one: they end in CR and hold no line feed.
bool isTextLine(QByteArrayView bytes)
{
    return !bytes.isEmpty() && bytes.size() <= kMaxServerText && bytes.back() == '\n' &&
           std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return (c >= ' ' && c <= '~') || c == '\r' || c == '\n'; });
}

QByteArray comPort(unsigned char command, QByteArray value)
{
    QByteArray out;
    out.append(char(kIac)).append(char(kSb)).append(char(kComPort)).append(char(command));
    out.append(value.replace("\xff", "\xff\xff"));
    out.append(char(kIac)).append(char(kSe));
    return out;
}

} // namespace

NetworkPort::NetworkPort(QObject *parent) : SerialPort(parent), m_socket(new QTcpSocket(this))
{
    m_connectLimit.setSingleShot(true);
    m_connectLimit.setTimerType(Qt::PreciseTimer);
    connect(&m_connectLimit, &QTimer::timeout, this, [this] {
        if (m_state == State::Connecting)
            failOpen(QStringLiteral("no connection within 3 s"));
    });
    m_greeting.setSingleShot(true);
    m_greeting.setTimerType(Qt::PreciseTimer);
    connect(&m_greeting, &QTimer::timeout, this, &NetworkPort::onGreeted);
    connect(m_socket, &QTcpSocket::hostFound, this, [this] { m_sinceLookup.start(); });
    connect(m_socket, &QTcpSocket::connected, this, &NetworkPort::onConnected);
    connect(m_socket, &QTcpSocket::readyRead, this, &NetworkPort::onReadyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &NetworkPort::onSocketError);
}

NetworkPort::~NetworkPort() = default;

void NetworkPort::setPortName(const QString &systemName)
{
    m_address = networkAddress(systemName);
}

void NetworkPort::setLineSettings()
{
    // A raw socket cannot set the server's line; RFC 2217 sets it on every connection.
}

bool NetworkPort::open()
{
    std::optional<bool> opened;
    QEventLoop loop;
    const QMetaObject::Connection finished =
        connect(this, &SerialPort::openFinished, &loop, [&](bool ok) {
            opened = ok;
            loop.quit();
        });
    // An open that close() abandons reports nothing: the limit ends the wait then.
    QTimer::singleShot(kConnectLimitMs + 1000, &loop, &QEventLoop::quit);
    beginOpen();
    if (!opened)
        loop.exec();
    disconnect(finished);
    return opened.value_or(false);
}

void NetworkPort::beginOpen()
{
    close();
    if (!m_address) {
        QMetaObject::invokeMethod(
            this, [this] { emit openFinished(false); }, Qt::QueuedConnection);
        return;
    }
    m_state = State::Connecting;
    m_telnet.reset();
    m_confirmedParts = 0;
    m_received.clear();
    m_serverText.clear();
    m_dataSent = false;
    m_afterData.clear();
    m_commands.clear();
    m_answers.clear();
    m_sinceLookup.start();
    m_connectLimit.start(kConnectLimitMs);
    // The name is looked up and connected in the background: the window stays live.
    m_socket->connectToHost(m_address->host, m_address->port);
}

void NetworkPort::onConnected()
{
    if (m_state != State::Connecting)
        return;
    m_connectLimit.stop();
    m_roundTripNs = m_sinceLookup.nsecsElapsed();
    // Frames are small: each goes in one segment at once, never held back for more.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    acknowledgeAtOnce(m_socket->socketDescriptor());
    // A server that serves another client says so as it accepts us and hangs up. Anything we
    // sent before that would turn its hang-up into a reset, which loses what it said: so we
    // listen for one round trip first.
    m_state = State::Greeting;
    m_greeting.start(int(2 * m_roundTripNs / 1'000'000) + 1);
}

void NetworkPort::onGreeted()
{
    if (m_state != State::Greeting)
        return;
    m_state = State::Open;
    QByteArray hello = std::exchange(m_answers, QByteArray());
    if (m_address->kind == NetworkAddress::Kind::Rfc2217) {
        // Offered at once and never waited for: the server applies what comes in order, and
        // some never acknowledge every setting (a pseudo-terminal's flow control).
        for (const unsigned char option : {kBinary, kSuppressGoAhead, kComPort})
            hello += m_telnet.offer(kWill, option);
        for (const unsigned char option : {kBinary, kSuppressGoAhead})
            hello += m_telnet.offer(kDo, option);
        static_assert(kRelayLineSettings == LineSettings{9600, 7, 'E', 1, false});
        hello += comPort(SetBaudRate, QByteArray::fromHex("00002580"));
        hello += comPort(SetDataSize, QByteArray(1, 7));
        hello += comPort(SetParity, QByteArray(1, char(kParityEven)));
        hello += comPort(SetStopSize, QByteArray(1, 1));
        hello += comPort(SetControl, QByteArray(1, kNoFlowControl));
        hello += comPort(SetLineStateMask, QByteArray(1, kReceiveErrors));
        hello += comPort(SetModemStateMask, QByteArray(1, 0));
    }
    if (!hello.isEmpty())
        send(hello);
    if (m_state == State::Open)
        emit openFinished(true);
}

void NetworkPort::failOpen(const QString &why)
{
    m_connectLimit.stop();
    m_greeting.stop();
    m_socket->abort();
    m_state = State::Closed;
    emit refused(why);
    emit openFinished(false);
}

void NetworkPort::onSocketError()
{
    const QAbstractSocket::SocketError error = m_socket->error();
    if (m_state == State::Connecting) {
        failOpen(error == QAbstractSocket::ConnectionRefusedError
                     ? QStringLiteral("connection refused")
                 : error == QAbstractSocket::HostNotFoundError ? QStringLiteral("host not found")
                                                               : m_socket->errorString());
        return;
    }
    if (m_state == State::Closed || error == QAbstractSocket::SocketTimeoutError)
        return;
    std::optional<QString> refusal;
    if (error == QAbstractSocket::RemoteHostClosedError) {
        onReadyRead();
        if (m_state == State::Closed)
            return;
        // What came after our data is the relay's, and a hang-up then is a lost line: never a
        // refusal, nor its reason. A server that will not serve says why as it accepts us,
        // before our data, unless it was too busy to: then in a line no relay sends.
        const bool lateWords = isTextLine(m_afterData);
        if (m_afterData.isEmpty() || lateWords) {
            const QString text =
                QString::fromLatin1(m_serverText + (lateWords ? m_afterData : QByteArray()))
                    .simplified();
            refusal = text.isEmpty() ? QStringLiteral("the server closed the connection") : text;
        }
    }
    if (m_state == State::Greeting)
        failOpen(refusal.value_or(m_socket->errorString()));
    else
        hangUp(refusal);
}

void NetworkPort::hangUp(const std::optional<QString> &refusal)
{
    m_state = State::Closed;
    m_socket->abort();
    if (refusal)
        emit refused(*refusal);
    else
        emit lineLost();
}

void NetworkPort::onReadyRead()
{
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
#ifndef Q_OS_WIN
    acknowledgeAtOnce(m_socket->socketDescriptor());
#endif
    QByteArray data = bytes;
    if (m_address && m_address->kind == NetworkAddress::Kind::Rfc2217) {
        TelnetReceiver::Received telnet = m_telnet.take(bytes);
        data = std::move(telnet.data);
        for (const QByteArray &body : std::as_const(telnet.subnegotiations))
            subnegotiation(body);
        m_answers += telnet.answers;
        if (telnet.comPortDeclined && m_state == State::Open)
            hangUp(QStringLiteral("the server does not set the line (no RFC 2217)"));
    }
    const bool grew = !data.isEmpty();
    m_received += data;
    // Before our data only the server speaks; after it the relay does (but see onSocketError).
    if (!m_dataSent)
        m_serverText = (m_serverText + data).right(kMaxServerText);
    else if (m_afterData.size() <= kMaxServerText)
        m_afterData += data;
    // Answered once the whole chunk is read: a server that has hung up is found out while
    // sending, and what it said before that must be in by then.
    if (m_state == State::Open && !m_answers.isEmpty())
        send(std::exchange(m_answers, QByteArray()));
    if (grew)
        emit bytesArrived();
}

void NetworkPort::subnegotiation(const QByteArray &body)
{
    if (body.size() < 3 || static_cast<unsigned char>(body[0]) != kComPort)
        return;
    const auto command = static_cast<unsigned char>(body[1]);
    const QByteArray value = body.sliced(2);
    if (command == ServerOffset + NotifyLineState && (value[0] & kReceiveErrors)) {
        // NOTIFY-LINESTATE (106): the UART saw a spoiled character.
        emit receiveError();
        return;
    }
    switch (command - ServerOffset) {
    case SetBaudRate:
        if (value.size() == 4) {
            m_confirmed.baudRate =
                int(quint32(quint8(value[0])) << 24 | quint32(quint8(value[1])) << 16 |
                    quint32(quint8(value[2])) << 8 | quint8(value[3]));
            m_confirmedParts |= 1;
        }
        break;
    case SetDataSize:
        m_confirmed.dataBits = value[0];
        m_confirmedParts |= 2;
        break;
    case SetParity:
        m_confirmed.parity = value[0] == 1 ? 'N' : value[0] == 2 ? 'O' : value[0] == 3 ? 'E' : '?';
        m_confirmedParts |= 4;
        break;
    case SetStopSize:
        m_confirmed.stopBits = value[0] == 1 ? 1 : 2;
        m_confirmedParts |= 8;
        break;
    case SetControl:
        m_confirmed.flowControl = value[0] != kNoFlowControl;
        m_confirmedParts |= 16;
        break;
    default:
        break;
    }
}

void NetworkPort::send(QByteArray bytes)
{
    if (m_state != State::Open)
        return;
    m_socket->write(m_commands + bytes);
    m_commands.clear();
    m_socket->flush();
}

bool NetworkPort::isOpen() const
{
    return m_state == State::Open;
}

void NetworkPort::close()
{
    m_connectLimit.stop();
    m_greeting.stop();
    if (m_state == State::Open)
        onReadyRead(); // unread bytes would turn the close into a reset
    m_state = State::Closed;
    m_received.clear();
    m_socket->disconnectFromHost();
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
}

void NetworkPort::write(QByteArrayView bytes)
{
    if (m_state != State::Open)
        return;
    if (!m_dataSent && !bytes.isEmpty()) {
        onReadyRead(); // what the server said so far came before this
        if (m_state != State::Open)
            return;
        m_dataSent = true;
    }
    QByteArray data = bytes.toByteArray();
    if (m_address->kind == NetworkAddress::Kind::Rfc2217)
        data.replace("\xff", "\xff\xff");
    send(data);
}

bool NetworkPort::writeAndDrain(QByteArrayView bytes)
{
    write(bytes);
    const QDeadlineTimer deadline(kWriteLimitMs);
    while (m_state == State::Open && m_socket->bytesToWrite() > 0 && !deadline.hasExpired())
        m_socket->waitForBytesWritten(int(deadline.remainingTime()));
#ifdef Q_OS_LINUX
    // Until the server's end has taken every byte: what our kernel still holds has not left.
    int unacknowledged = 0;
    while (m_state == State::Open && !deadline.hasExpired() &&
           ::ioctl(int(m_socket->socketDescriptor()), SIOCOUTQ, &unacknowledged) == 0 &&
           unacknowledged > 0)
        QThread::msleep(1);
#endif
    if (m_state != State::Open || m_socket->bytesToWrite() > 0 || deadline.hasExpired())
        return false;
    // The server has it; its line takes this long to send it, and a server that fails on the
    // way hangs up meanwhile. Only the socket's own events run while we wait.
    QEventLoop loop;
    QTimer::singleShot(int(std::ceil(bytes.size() * kCharacterMs)), Qt::PreciseTimer, &loop,
                       &QEventLoop::quit);
    connect(this, &SerialPort::refused, &loop, &QEventLoop::quit);
    connect(this, &SerialPort::lineLost, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return m_state == State::Open;
}

QByteArray NetworkPort::takeReceived()
{
    if (m_state == State::Open)
        onReadyRead();
    return std::exchange(m_received, QByteArray());
}

void NetworkPort::discardInput()
{
    if (m_state != State::Open)
        return;
    onReadyRead();
    m_received.clear();
    // The server's receive buffer too, in the same segment as what follows.
    if (m_address->kind == NetworkAddress::Kind::Rfc2217)
        m_commands += comPort(PurgeData, QByteArray(1, kPurgeReceived));
}

std::optional<LineSettings> NetworkPort::lineSettings() const
{
    // Flow control as asked where the server leaves SET-CONTROL unanswered.
    if (m_state != State::Open || (m_confirmedParts & 15) != 15)
        return std::nullopt;
    LineSettings held = m_confirmed;
    if (!(m_confirmedParts & 16))
        held.flowControl = kRelayLineSettings.flowControl;
    return held;
}

} // namespace veltra
