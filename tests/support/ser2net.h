#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace veltra::test {

// A serial device server (ser2net) serving one line, such as the simulated relay's, on two
// loopback ports at once: raw TCP and Telnet with RFC 2217. Nothing else is ever listened on.
class Ser2net
{
public:
    Ser2net() = default;
    Ser2net(const Ser2net &) = delete;
    Ser2net &operator=(const Ser2net &) = delete;
    ~Ser2net();

    // Serves `device` (the line of a RelaySim) and waits until both ports listen.
    // `lineSettings` is the server's own setting of the line before a client sets it
    // ("9600e71", or another to show that RFC 2217 sets it).
    bool start(const QString &device, const QString &lineSettings = QStringLiteral("9600e71"));
    void stop();

    QString rawUrl() const { return QStringLiteral("socket://127.0.0.1:%1").arg(m_rawPort); }
    QString rfc2217Url() const
    {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(m_telnetPort);
    }
    quint16 rawPort() const { return m_rawPort; }
    quint16 telnetPort() const { return m_telnetPort; }
    QString errorString() const { return m_error; }

private:
    bool startOnce(const QString &device, const QString &lineSettings);

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_rawPort = 0;
    quint16 m_telnetPort = 0;
    QString m_error;
};

// A loopback port nothing listens on now.
quint16 freeLoopbackPort();

} // namespace veltra::test
