#pragma once

#include "link/serialport.h"
#include "link/telnetreceiver.h"

#include <QElapsedTimer>
#include <QTimer>

class QTcpSocket;

namespace veltra {

// A relay's serial line behind a serial device server, as `socket://HOST:PORT` (the bytes as
// they are, over TCP) or `rfc2217://HOST:PORT` (Telnet with the COM-PORT-OPTION, which sets
// the server's line to 9600 7E1). Like a local port it is connected for one transaction and
// closed after it, so the server's line is free for others in between.
class NetworkPort final : public SerialPort
{
    Q_OBJECT
public:
    explicit NetworkPort(QObject *parent = nullptr);
    ~NetworkPort() override;

    void setPortName(const QString &systemName) override;
    void setLineSettings() override;
    bool open() override;
    void beginOpen() override;
    bool isOpen() const override;
    void close() override;
    void write(QByteArrayView bytes) override;
    bool writeAndDrain(QByteArrayView bytes) override;
    QByteArray takeReceived() override;
    void discardInput() override;
    // With RFC 2217, the line as the server confirmed it; a raw socket tells nothing.
    std::optional<LineSettings> lineSettings() const override;

private:
    enum class State { Closed, Connecting, Greeting, Open };

    void onConnected();
    void onGreeted();
    void onSocketError();
    void onReadyRead();
    void failOpen(const QString &why);
    // The connection is gone: refused by the server (with why), or lost.
    void hangUp(const std::optional<QString> &refusal);
    void subnegotiation(const QByteArray &body);
    void send(QByteArray bytes);

    QTcpSocket *m_socket;
    std::optional<NetworkAddress> m_address;
    State m_state = State::Closed;
    QTimer m_connectLimit;
    QTimer m_greeting;
    QElapsedTimer m_sinceLookup;
    qint64 m_roundTripNs = 0; // the connect's own round trip, to size the wait for a hang-up
    QByteArray m_received;    // data bytes for takeReceived
    QByteArray m_serverText;  // what the server said before our first data, for a hang-up
    bool m_dataSent = false;  // a request or write frame of ours has gone
    QByteArray m_afterData;   // the start of what came after it
    QByteArray m_commands;    // Telnet commands to go ahead of the next data
    QByteArray m_answers;     // answers to the server's options, sent once a chunk is read
    TelnetReceiver m_telnet;  // with RFC 2217
    LineSettings m_confirmed; // what the server acknowledged
    int m_confirmedParts = 0; // bit per acknowledged setting
};

} // namespace veltra
