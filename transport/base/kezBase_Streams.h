// Byte streams: the abstract TStream, the in-memory TMemoryStream that carries message bodies, and the
// TSegmentedStream that joins received blocks without copying them.
#pragma once

#include "kezBase_Classes.h"

#include <cstdint>
#include <vector>

namespace kez {

enum TSeekOrigin : uint8_t { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
public:
    // Copies up to aCount octets out of the stream and returns how many were copied.
    virtual int64_t Read(void* aBuffer, int64_t aCount) = 0;
    // Copies aCount octets into the stream at its position and returns how many were written.
    virtual int64_t Write(const void* aBuffer, int64_t aCount) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t aSize) = 0;

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t aPosition) { Seek(aPosition, soBeginning); }

    // Like Read and Write, but raise std::runtime_error unless all aCount octets move.
    void ReadBuffer(void* aBuffer, int64_t aCount);
    void WriteBuffer(const void* aBuffer, int64_t aCount);
    // Appends aCount octets of aSource, read from its current position, at this stream's position.
    int64_t CopyFrom(TStream& aSource, int64_t aCount);

protected:
    // The position a seek lands on: past the end is allowed (a later write fills the gap with zeros), before
    // the start is not.
    static int64_t SeekTarget(int64_t aOffset, TSeekOrigin aOrigin, int64_t aPosition,
                              int64_t aSize) noexcept {
        const int64_t base = aOrigin == soCurrent ? aPosition : aOrigin == soEnd ? aSize : 0;
        return base + aOffset < 0 ? 0 : base + aOffset;
    }
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    // Adopts the octets without copying them; the position starts at 0.
    explicit TMemoryStream(TBytes aBytes) : FData(std::move(aBytes)) {}

    int64_t Read(void* aBuffer, int64_t aCount) override;
    int64_t Write(const void* aBuffer, int64_t aCount) override;
    int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override;
    int64_t Size() override { return static_cast<int64_t>(FData.size()); }
    void SetSize(int64_t aSize) override;

    void Clear();
    // Grows the capacity so that later writes up to aSize octets do not reallocate.
    void Reserve(int64_t aSize) { FData.reserve(static_cast<size_t>(aSize)); }
    const uint8_t* Memory() const noexcept { return FData.data(); }
    const TBytes& Bytes() const noexcept { return FData; }
    // Hands the octets over and leaves the stream empty.
    TBytes Release();

private:
    TBytes FData;
    int64_t FPosition = 0;
};

// Octets kept as the blocks they came in, so that joining them costs no copy. Reads and seeks see one stream;
// a write anywhere but at the end, or a change of size, first joins the blocks into one.
class TSegmentedStream : public TStream {
public:
    // Adopts aBlock, without copying it, as the next octets.
    void Append(TBytes aBlock);

    int64_t Read(void* aBuffer, int64_t aCount) override;
    int64_t Write(const void* aBuffer, int64_t aCount) override;
    int64_t Seek(int64_t aOffset, TSeekOrigin aOrigin) override;
    int64_t Size() override { return FSize; }
    void SetSize(int64_t aSize) override;
    size_t SegmentCount() const noexcept { return FSegments.size(); }

private:
    void Join();

    std::vector<TBytes> FSegments;
    // Where each segment starts in the stream.
    std::vector<int64_t> FStarts;
    int64_t FSize = 0;
    int64_t FPosition = 0;
};

} // namespace kez
