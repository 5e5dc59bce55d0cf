#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace veltra {

// Telnet (RFC 854) and its COM-PORT-OPTION (RFC 2217).
namespace telnet {
inline constexpr unsigned char kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251,
                               kSb = 250, kSe = 240;
inline constexpr unsigned char kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;
} // namespace telnet

// Telnet's receiving side, as a client of a COM-PORT-OPTION server sees it: the bytes off the
// connection in; the server's data, our answers to its options and the bodies of its
// subnegotiations out. Between chunks it holds at most one subnegotiation's worth, however long
// a server keeps one going.
class TelnetReceiver
{
public:
    // Ours are at most six bytes; a longer one is dropped whole rather than grown or cut.
    static constexpr qsizetype kMaxSubnegotiation = 64;

    struct Received
    {
        QByteArray data;                   // the server's data, unescaped
        QByteArray answers;                // to send back: each option is answered once
        QList<QByteArray> subnegotiations; // between IAC SB and IAC SE, unescaped
        bool comPortDeclined = false;      // the server will not let us set its line
    };

    // A new connection: nothing said yet, nothing under way.
    void reset();
    Received take(QByteArrayView bytes);
    // `verb` (WILL or DO) for `option`, unless it was said already, as an answer or an offer;
    // empty then (RFC 1143's loop rule).
    QByteArray offer(unsigned char verb, unsigned char option);
    // What it keeps from one chunk to the next: a subnegotiation not yet ended.
    qsizetype held() const { return m_sub.size(); }

private:
    enum class Parse { Data, Iac, Option, Sub, SubIac };

    void option(unsigned char verb, unsigned char option, Received &out);
    void subByte(char c);

    Parse m_parse = Parse::Data;
    unsigned char m_verb = 0;
    QByteArray m_sub;
    bool m_subTooLong = false;
    bool m_afterCr = false;
    bool m_serverBinary = false;
    QList<unsigned char> m_weSaid;  // options we said WILL or WONT to, once each
    QList<unsigned char> m_weAsked; // options we said DO or DONT to, once each
};

} // namespace veltra
