#include "link/telnetreceiver.h"

namespace veltra {

using namespace telnet;

namespace {

QByteArray optionCommand(unsigned char verb, unsigned char option)
{
    return QByteArray().append(char(kIac)).append(char(verb)).append(char(option));
}

} // namespace

void TelnetReceiver::reset()
{
    *this = TelnetReceiver();
}

TelnetReceiver::Received TelnetReceiver::take(QByteArrayView bytes)
{
    Received out;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (m_parse) {
        case Parse::Data:
            if (byte == kIac) {
                m_parse = Parse::Iac;
            } else if (!(m_afterCr && byte == 0 && !m_serverBinary)) {
                // Outside binary mode a CR travels as CR NUL.
                out.data.append(c);
            }
            m_afterCr = byte == '\r';
            break;
        case Parse::Iac:
            if (byte == kIac) {
                out.data.append(c);
                m_parse = Parse::Data;
            } else if (byte >= kWill && byte <= kDont) {
                m_verb = byte;
                m_parse = Parse::Option;
            } else if (byte == kSb) {
                m_sub.clear();
                m_subTooLong = false;
                m_parse = Parse::Sub;
            } else {
                m_parse = Parse::Data; // NOP, go-ahead and the like carry nothing for us
            }
            break;
        case Parse::Option:
            option(m_verb, byte, out);
            m_parse = Parse::Data;
            break;
        case Parse::Sub:
            if (byte == kIac)
                m_parse = Parse::SubIac;
            else
                subByte(c);
            break;
        case Parse::SubIac:
            if (byte == kSe) {
                if (!m_subTooLong)
                    out.subnegotiations << m_sub;
                m_sub.clear();
                m_parse = Parse::Data;
            } else {
                subByte(c); // IAC IAC: a 0xFF in the value
                m_parse = Parse::Sub;
            }
            break;
        }
    }
    return out;
}

void TelnetReceiver::subByte(char c)
{
    // A server that never ends one, or pads it with escaped 0xFF, gets no more room.
    if (m_sub.size() < kMaxSubnegotiation)
        m_sub.append(c);
    else
        m_subTooLong = true;
}

void TelnetReceiver::option(unsigned char verb, unsigned char option, Received &out)
{
    // Each option is answered once: what we offer, we keep offering.
    const bool ours = option == kBinary || option == kSuppressGoAhead || option == kComPort;
    const bool theirs = option == kBinary || option == kSuppressGoAhead;
    if (verb == kWill && option == kBinary)
        m_serverBinary = true;
    if (verb == kWont && option == kBinary)
        m_serverBinary = false;
    if ((verb == kDo || verb == kDont) && !m_weSaid.contains(option)) {
        m_weSaid << option;
        out.answers += optionCommand(ours && verb == kDo ? kWill : kWont, option);
    } else if ((verb == kWill || verb == kWont) && !m_weAsked.contains(option)) {
        m_weAsked << option;
        out.answers += optionCommand(theirs && verb == kWill ? kDo : kDont, option);
    }
    if (verb == kDont && option == kComPort)
        out.comPortDeclined = true;
}

QByteArray TelnetReceiver::offer(unsigned char verb, unsigned char option)
{
    QList<unsigned char> &said = verb == kWill ? m_weSaid : m_weAsked;
    if (said.contains(option))
        return {};
    said << option;
    return optionCommand(verb, option);
}

} // namespace veltra
