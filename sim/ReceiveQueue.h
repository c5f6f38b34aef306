// The receive side of a virtual COM driver: bytes on their way (each with the virtual moment its last bit
// arrives) and the driver's input queue, which holds at most its size; what arrives beyond that is lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace tarnsim {

class CReceiveQueue {
public:
    struct Arrival {
        uint64_t atUs;
        uint8_t byte;
    };

    // A byte that will arrive at atUs; arrivals stay in time order (equal times keep their order).
    void Schedule(uint64_t atUs, uint8_t byte);
    // Moves every byte that has arrived by nowUs into the input queue, dropping those that do not fit.
    void Sync(uint64_t nowUs);
    // Takes up to count bytes from the input queue.
    size_t Take(uint8_t* buffer, size_t count);
    void Clear();

    size_t Queued() const { return m_queue.size(); }
    void SetCapacity(size_t bytes) { m_capacity = bytes; }

private:
    std::deque<Arrival> m_onTheWay;
    std::deque<uint8_t> m_queue;
    size_t m_capacity = 4096; // the input queue of a Windows serial driver before SetupComm
};

} // namespace tarnsim
