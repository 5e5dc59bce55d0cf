#include "framesplitter.h"

#include "protocol.h"

#include <utility>

namespace veltra::sim {

using namespace protocol;

QList<QByteArray> FrameSplitter::feed(QByteArrayView bytes)
{
    QList<QByteArray> frames;
    for (char c : bytes) {
        if (c == kEnq) {
            // A new ENQ abandons an unfinished frame: the relay resynchronises on it.
            if (m_state == State::InFrame)
                m_skipped += m_buffer.size();
            m_buffer.clear();
            m_buffer.append(c);
            m_state = State::InFrame;
            continue;
        }
        switch (m_state) {
        case State::Idle:
            ++m_skipped;
            break;
        case State::Discarding:
            ++m_skipped;
            if (c == kCr)
                m_state = State::Idle;
            break;
        case State::InFrame:
            m_buffer.append(c);
            if (c == kCr) {
                frames.append(std::exchange(m_buffer, {}));
                m_state = State::Idle;
            } else if (m_buffer.size() >= kMaxFrameLength) {
                frames.append(std::exchange(m_buffer, {}));
                m_state = State::Discarding;
            }
            break;
        }
    }
    return frames;
}

} // namespace veltra::sim
