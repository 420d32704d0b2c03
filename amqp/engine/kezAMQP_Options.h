// The engine's option groups and the values negotiated with the broker.
#pragma once

#include "kezBase_Classes.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace kez {

class TkezAMQPOptions : public TObject {
public:
    // The locale asked for in Connection.StartOk.
    KEZ_PROPERTY(std::string, Locale, "en_US")
    // Upper bounds offered in the tune negotiation; MaxFrameSize also limits frames before it.
    KEZ_PROPERTY(uint16_t, MaxChannels, 65535)
    KEZ_PROPERTY(uint32_t, MaxFrameSize, 2147483647)
    KEZ_PROPERTY(std::string, VirtualHost, "/")
public:
    void Assign(const TkezAMQPOptions& aSource) { *this = aSource; }
};

class TkezAMQPHeartBeat : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    // Seconds.
    KEZ_PROPERTY(int32_t, Interval, 0)
public:
    void Assign(const TkezAMQPHeartBeat& aSource) { *this = aSource; }
};

// Written by channel 0's worker during the handshake and read by every thread (the receive path reads
// MaxFrameSize for each frame), so each value is guarded.
class TkezAMQPNegotiatedValues : public TObject {
public:
    // Seconds; 0: no heartbeat.
    uint16_t HeartBeat() const noexcept { return FHeartBeat.load(std::memory_order_acquire); }
    void SetHeartBeat(uint16_t aValue) noexcept { FHeartBeat.store(aValue, std::memory_order_release); }
    uint16_t MaxChannels() const noexcept { return FMaxChannels.load(std::memory_order_acquire); }
    void SetMaxChannels(uint16_t aValue) noexcept { FMaxChannels.store(aValue, std::memory_order_release); }
    uint32_t MaxFrameSize() const noexcept { return FMaxFrameSize.load(std::memory_order_acquire); }
    void SetMaxFrameSize(uint32_t aValue) noexcept { FMaxFrameSize.store(aValue, std::memory_order_release); }
    std::string Locale() const {
        std::lock_guard guard(FLock);
        return FLocale;
    }
    void SetLocale(std::string aValue) {
        std::lock_guard guard(FLock);
        FLocale = std::move(aValue);
    }

private:
    std::atomic<uint16_t> FHeartBeat{0};
    std::atomic<uint16_t> FMaxChannels{0};
    std::atomic<uint32_t> FMaxFrameSize{0};
    mutable std::mutex FLock;
    std::string FLocale;
};

} // namespace kez
