#pragma once

#include "link/serialport.h"

namespace veltra::test {

// The platform's own serial line, with the one fault a pseudo-terminal cannot stage on cue:
// from its `failFrom`-th write frame on, nothing leaves and the write reports failure, as
// when the adapter is pulled between the link check and the frames.
class FaultyLine final : public SerialPort
{
public:
    explicit FaultyLine(int failFrom) : m_line(createSerialPort(this)), m_failFrom(failFrom)
    {
        connect(m_line, &SerialPort::bytesArrived, this, &SerialPort::bytesArrived);
        connect(m_line, &SerialPort::lineLost, this, &SerialPort::lineLost);
    }

    void setPortName(const QString &name) override { m_line->setPortName(name); }
    void setLineSettings() override { m_line->setLineSettings(); }
    bool open() override { return m_line->open(); }
    bool isOpen() const override { return m_line->isOpen(); }
    void close() override { m_line->close(); }
    void write(QByteArrayView bytes) override { m_line->write(bytes); }
    bool writeAndDrain(QByteArrayView bytes) override
    {
        return ++m_frames < m_failFrom && m_line->writeAndDrain(bytes);
    }
    QByteArray takeReceived() override { return m_line->takeReceived(); }
    void discardInput() override { m_line->discardInput(); }
    std::optional<LineSettings> lineSettings() const override { return m_line->lineSettings(); }

private:
    SerialPort *m_line;
    int m_failFrom;
    int m_frames = 0;
};

} // namespace veltra::test
