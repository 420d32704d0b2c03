// Internal to the codec: the bounds check that every reader goes through, and big-endian loads and stores.
#pragma once

#include "kezAMQP_Exception.h"
#include "kezBase_Classes.h"

#include <bit>
#include <climits>
#include <cstdint>
#include <cstring>

namespace kez::wire {

// Returns the address of aCount octets at aPos and advances aPos past them, or raises 501 when they are not
// all inside aBytes. Compares against what remains, so no sum can overflow. Positions are signed 32-bit, so a
// run that would carry the position past INT32_MAX is refused as well.
inline const uint8_t* Take(TBytesView aBytes, int32_t& aPos, size_t aCount) {
    if (aPos < 0 || static_cast<size_t>(aPos) > aBytes.size() ||
        aCount > aBytes.size() - static_cast<size_t>(aPos) || aCount > static_cast<size_t>(INT32_MAX - aPos))
        RaiseAMQPException(501);
    const uint8_t* p = aBytes.data() + aPos;
    aPos += static_cast<int32_t>(aCount);
    return p;
}

inline uint16_t ByteSwap(uint16_t v) noexcept { return __builtin_bswap16(v); }
inline uint32_t ByteSwap(uint32_t v) noexcept { return __builtin_bswap32(v); }
inline uint64_t ByteSwap(uint64_t v) noexcept { return __builtin_bswap64(v); }

template <typename T>
inline T LoadBE(const uint8_t* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::little) value = ByteSwap(value);
    return value;
}
inline uint16_t LoadBE16(const uint8_t* p) noexcept { return LoadBE<uint16_t>(p); }
inline uint32_t LoadBE32(const uint8_t* p) noexcept { return LoadBE<uint32_t>(p); }
inline uint64_t LoadBE64(const uint8_t* p) noexcept { return LoadBE<uint64_t>(p); }

template <typename T>
inline void StoreBE(uint8_t* p, T aValue) noexcept {
    if constexpr (std::endian::native == std::endian::little) aValue = ByteSwap(aValue);
    std::memcpy(p, &aValue, sizeof aValue);
}

template <typename T>
inline void AppendBE(TBytes& aOut, T aValue) {
    const size_t at = aOut.size();
    aOut.resize(at + sizeof aValue);
    StoreBE(aOut.data() + at, aValue);
}

// Reserves a 32-bit length in aOut and returns where it stands; PatchLength fills in the octets written
// since.
inline size_t BeginLength(TBytes& aOut) {
    const size_t at = aOut.size();
    aOut.resize(at + 4);
    return at;
}
inline void PatchLength(TBytes& aOut, size_t aAt) {
    StoreBE(aOut.data() + aAt, static_cast<uint32_t>(aOut.size() - aAt - 4));
}

} // namespace kez::wire
