// Received frames go from the receiving thread to a channel's worker and come back here once handled, so that
// the receiving thread reuses them. Without it every frame (and its payload octets) is allocated on one
// thread and freed on another: glibc's allocator then has the worker free into the receiving thread's arena
// under its lock, one chunk at a time, and small messages spend more time in malloc than in the protocol.
#pragma once

#include "kezAMQP_Classes_Frame.h"

#include <memory>
#include <mutex>
#include <vector>

namespace kez {

using TkezAMQPFrames = std::vector<std::unique_ptr<TkezAMQPFrame>>;

class TkezAMQPFramePool {
public:
    // Frames kept at most; what comes back beyond this is freed.
    static constexpr size_t Capacity = 4096;

    // Moves every kept frame to the end of aStock (one lock for all of them); for the receiving thread.
    void TakeAll(TkezAMQPFrames& aStock);
    // Takes back handled frames, all at once; each is cleared here, on the thread that handled it, so that
    // what the handling allocated is freed where it was allocated. A frame whose payload buffer has grown
    // beyond AMQPFrameKeptPayload is freed, so that the pool never holds large blocks. Null entries are
    // skipped; aFrames is left empty.
    void Return(TkezAMQPFrames& aFrames);

private:
    std::mutex FLock;
    TkezAMQPFrames FKept;
};

} // namespace kez
