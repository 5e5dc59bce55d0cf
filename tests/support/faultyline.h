#pragma once

#include "link/serialport.h"

#include <functional>

namespace veltra::test {

// The platform's own serial line, with the one fault a pseudo-terminal cannot stage on cue:
// from its `failFrom`-th write frame on, nothing leaves and the write reports failure, as
// when the adapter is pulled between the link check and the frames. `afterFrame` runs once
// each frame has left (numbered from 1), so that a test can make the relay do something at
// that point and not at one the scheduler picks.
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
        const bool sent = ++m_frames < m_failFrom && m_line->writeAndDrain(bytes);
        if (sent && afterFrame)
            afterFrame(m_frames);
        return sent;
    }
    QByteArray takeReceived() override { return m_line->takeReceived(); }
    void discardInput() override { m_line->discardInput(); }
    std::optional<LineSettings> lineSettings() const override { return m_line->lineSettings(); }

    std::function<void(int frame)> afterFrame;

private:
    SerialPort *m_line;
    int m_failFrom;
    int m_frames = 0;
};

} // namespace veltra::test
