#pragma once

#include "link/frames.h"

#include <QByteArray>
#include <QByteArrayView>

namespace veltra {

// What arrives after a read request, gathered as it comes and judged by the one rule of a
// complete, acceptable reply (judgeReply). It knows no port: bytes go in, a verdict comes out,
// so that every fault of a line can be tried at every position without one. At most
// kMaxReplyBytes are kept, so that a runaway peer cannot grow it without bound.
class ReplyCollector
{
public:
    // Forgets what was collected, for the next request.
    void clear();
    // Adds what arrived; the verdict on everything collected so far. A caller stops feeding
    // once it takes the reply as complete.
    ReplyVerdict feed(QByteArrayView bytes);

    ReplyVerdict verdict() const { return m_verdict; }
    // Accepted or spoiled: there is nothing more to wait for.
    bool complete() const { return m_verdict != ReplyVerdict::Incomplete; }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    ReplyVerdict m_verdict = ReplyVerdict::Incomplete;
};

} // namespace veltra
