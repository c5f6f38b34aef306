#include "sim/ReceiveQueue.h"

#include <algorithm>

namespace tarnsim {

void CReceiveQueue::Schedule(uint64_t atUs, uint8_t byte) {
    auto later = std::upper_bound(m_onTheWay.begin(), m_onTheWay.end(), atUs,
                                  [](uint64_t t, const Arrival& a) { return t < a.atUs; });
    m_onTheWay.insert(later, Arrival{atUs, byte});
}

void CReceiveQueue::Sync(uint64_t nowUs) {
    while (!m_onTheWay.empty() && m_onTheWay.front().atUs <= nowUs) {
        if (m_queue.size() < m_capacity) {
            m_queue.push_back(m_onTheWay.front().byte);
        }
        m_onTheWay.pop_front();
    }
}

size_t CReceiveQueue::Take(uint8_t* buffer, size_t count) {
    size_t n = std::min(count, m_queue.size());
    std::copy(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(n), buffer);
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

void CReceiveQueue::Clear() {
    m_onTheWay.clear();
    m_queue.clear();
}

} // namespace tarnsim
