// Where a block given as pieces stands while sends take it out in parts: each send may stop anywhere, in
// the middle of a piece too, and the next one starts right there.
#pragma once

#include "kezBase_Classes.h"

#include <algorithm>
#include <cstddef>
#include <span>
#include <sys/uio.h>

namespace kez {

class TkezPiecesCursor {
public:
    explicit TkezPiecesCursor(TBytesPieces aPieces) noexcept : FPieces(aPieces) { SkipEmpty(); }

    bool Done() const noexcept { return FNext == FPieces.size(); }

    // Describes up to aLimit octets of what is still to send in up to aVector.size() entries, empty pieces
    // left out, the last one cut short where the limit falls; returns how many it filled. Sets aMore when
    // octets remain beyond them.
    size_t Fill(std::span<iovec> aVector, size_t aLimit, bool& aMore) const noexcept {
        size_t count = 0;
        size_t i = FNext;
        size_t skip = FSent;
        for (; i < FPieces.size() && count < aVector.size() && aLimit > 0; ++i, skip = 0) {
            const size_t size = std::min(FPieces[i].size() - skip, aLimit);
            if (size == 0) continue;
            aVector[count++] = {const_cast<uint8_t*>(FPieces[i].data() + skip), size};
            aLimit -= size;
            if (skip + size < FPieces[i].size()) {
                aMore = true;
                return count;
            }
        }
        while (i < FPieces.size() && FPieces[i].empty())
            ++i;
        aMore = i < FPieces.size();
        return count;
    }

    // Steps over aCount octets that went out.
    void Advance(size_t aCount) noexcept {
        while (!Done() && aCount >= FPieces[FNext].size() - FSent) {
            aCount -= FPieces[FNext].size() - FSent;
            FSent = 0;
            ++FNext;
        }
        if (!Done()) FSent += aCount;
        SkipEmpty();
    }

private:
    void SkipEmpty() noexcept {
        while (!Done() && FPieces[FNext].size() == FSent) {
            FSent = 0;
            ++FNext;
        }
    }

    TBytesPieces FPieces;
    // The first piece not sent whole, and how much of it went out.
    size_t FNext = 0;
    size_t FSent = 0;
};

} // namespace kez
