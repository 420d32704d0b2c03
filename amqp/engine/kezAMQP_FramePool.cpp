#include "kezAMQP_FramePool.h"

namespace kez {

void TkezAMQPFramePool::TakeAll(TkezAMQPFrames& aStock) {
    std::lock_guard guard(FLock);
    if (aStock.empty()) {
        aStock.swap(FKept);
        return;
    }
    for (auto& frame : FKept)
        aStock.push_back(std::move(frame));
    FKept.clear();
}

void TkezAMQPFramePool::Return(TkezAMQPFrames& aFrames) {
    // Cleared outside the lock; frames that are not kept are freed outside it too.
    size_t kept = 0;
    for (auto& frame : aFrames) {
        if (!frame) continue;
        frame->Clear();
        if (frame->Payload().Payload().capacity() > AMQPFrameKeptPayload) continue;
        aFrames[kept++] = std::move(frame);
    }
    {
        std::lock_guard guard(FLock);
        const size_t room = Capacity > FKept.size() ? Capacity - FKept.size() : 0;
        for (size_t i = 0; i < kept && i < room; ++i)
            FKept.push_back(std::move(aFrames[i]));
    }
    aFrames.clear();
}

} // namespace kez
