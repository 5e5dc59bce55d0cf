#include "link/replycollector.h"

#include <algorithm>

namespace veltra {

void ReplyCollector::clear()
{
    m_bytes.clear();
    m_verdict = ReplyVerdict::Incomplete;
}

ReplyVerdict ReplyCollector::feed(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return m_verdict;
    m_bytes.append(bytes.first(std::min(bytes.size(), kMaxReplyBytes - m_bytes.size())));
    m_verdict = judgeReply(m_bytes);
    return m_verdict;
}

} // namespace veltra
