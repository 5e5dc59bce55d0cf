#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace veltra::sim {

// Cuts a byte stream into frames from ENQ to CR. Bytes outside a frame are skipped; a new ENQ
// restarts the frame. A frame that reaches kMaxFrameLength without CR is handed out as it
// stands (so it can be reported) and the rest up to the next ENQ or CR is skipped, which keeps
// the buffer bounded whatever arrives.
class FrameSplitter
{
public:
    static constexpr qsizetype kMaxFrameLength = 64;

    QList<QByteArray> feed(QByteArrayView bytes);
    qsizetype pendingSize() const { return m_buffer.size(); }
    qint64 skippedBytes() const { return m_skipped; }

private:
    enum class State { Idle, InFrame, Discarding };

    QByteArray m_buffer;
    State m_state = State::Idle;
    qint64 m_skipped = 0;
};

} // namespace veltra::sim
