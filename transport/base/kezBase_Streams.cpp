#include "kezBase_Streams.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kez {

int64_t TStream::Size() {
    const int64_t saved = Position();
    const int64_t size = Seek(0, soEnd);
    Seek(saved, soBeginning);
    return size;
}

void TStream::ReadBuffer(void* aBuffer, int64_t aCount) {
    if (aCount > 0 && Read(aBuffer, aCount) != aCount) throw std::runtime_error("Stream read error");
}

void TStream::WriteBuffer(const void* aBuffer, int64_t aCount) {
    if (aCount > 0 && Write(aBuffer, aCount) != aCount) throw std::runtime_error("Stream write error");
}

int64_t TStream::CopyFrom(TStream& aSource, int64_t aCount) {
    constexpr int64_t BlockSize = 1048576;
    std::vector<uint8_t> block(static_cast<size_t>(std::min(std::max<int64_t>(aCount, 0), BlockSize)));
    int64_t copied = 0;
    while (copied < aCount) {
        const int64_t n = std::min(BlockSize, aCount - copied);
        aSource.ReadBuffer(block.data(), n);
        WriteBuffer(block.data(), n);
        copied += n;
    }
    return copied;
}

int64_t TMemoryStream::Read(void* aBuffer, int64_t aCount) {
    const int64_t available = Size() - FPosition;
    const int64_t n = std::clamp<int64_t>(aCount, 0, std::max<int64_t>(available, 0));
    if (n > 0) std::memcpy(aBuffer, FData.data() + FPosition, static_cast<size_t>(n));
    FPosition += n;
    return n;
}

int64_t TMemoryStream::Write(const void* aBuffer, int64_t aCount) {
    if (aCount <= 0) return 0;
    const int64_t end = FPosition + aCount;
    if (end > Size()) FData.resize(static_cast<size_t>(end));
    std::memcpy(FData.data() + FPosition, aBuffer, static_cast<size_t>(aCount));
    FPosition = end;
    return aCount;
}

int64_t TMemoryStream::Seek(int64_t aOffset, TSeekOrigin aOrigin) {
    FPosition = SeekTarget(aOffset, aOrigin, FPosition, Size());
    return FPosition;
}

void TMemoryStream::SetSize(int64_t aSize) {
    FData.resize(static_cast<size_t>(std::max<int64_t>(aSize, 0)));
    FPosition = std::min(FPosition, Size());
}

void TMemoryStream::Clear() {
    FData.clear();
    FPosition = 0;
}

TBytes TMemoryStream::Release() {
    TBytes result = std::move(FData);
    Clear();
    return result;
}

// --- segmented ---

void TSegmentedStream::Append(TBytes aBlock) {
    if (aBlock.empty()) return;
    FStarts.push_back(FSize);
    FSize += static_cast<int64_t>(aBlock.size());
    FSegments.push_back(std::move(aBlock));
}

int64_t TSegmentedStream::Read(void* aBuffer, int64_t aCount) {
    auto* out = static_cast<uint8_t*>(aBuffer);
    int64_t copied = 0;
    if (aCount <= 0 || FPosition >= FSize) return 0;
    // The segment that holds the position: the last one starting at or before it.
    auto segment = static_cast<size_t>(std::upper_bound(FStarts.begin(), FStarts.end(), FPosition) -
                                       FStarts.begin() - 1);
    while (copied < aCount && segment < FSegments.size()) {
        const TBytes& block = FSegments[segment];
        const int64_t offset = FPosition - FStarts[segment];
        const int64_t n = std::min(aCount - copied, static_cast<int64_t>(block.size()) - offset);
        std::memcpy(out + copied, block.data() + offset, static_cast<size_t>(n));
        copied += n;
        FPosition += n;
        ++segment;
    }
    return copied;
}

int64_t TSegmentedStream::Write(const void* aBuffer, int64_t aCount) {
    if (aCount <= 0) return 0;
    const auto* in = static_cast<const uint8_t*>(aBuffer);
    if (FPosition == FSize) {
        Append(TBytes(in, in + aCount));
    } else {
        Join();
        TBytes& block = FSegments.front();
        const int64_t end = FPosition + aCount;
        if (end > FSize) block.resize(static_cast<size_t>(end));
        std::memcpy(block.data() + FPosition, in, static_cast<size_t>(aCount));
        FSize = static_cast<int64_t>(block.size());
    }
    FPosition += aCount;
    return aCount;
}

int64_t TSegmentedStream::Seek(int64_t aOffset, TSeekOrigin aOrigin) {
    FPosition = SeekTarget(aOffset, aOrigin, FPosition, FSize);
    return FPosition;
}

void TSegmentedStream::SetSize(int64_t aSize) {
    Join();
    const auto size = static_cast<size_t>(std::max<int64_t>(aSize, 0));
    if (FSegments.empty() && size > 0)
        Append(TBytes(size));
    else if (!FSegments.empty())
        FSegments.front().resize(size);
    FSize = static_cast<int64_t>(size);
    if (FSize == 0) {
        FSegments.clear();
        FStarts.clear();
    }
    FPosition = std::min(FPosition, FSize);
}

void TSegmentedStream::Join() {
    if (FSegments.size() <= 1) {
        if (FSegments.empty()) {
            FSegments.emplace_back();
            FStarts.push_back(0);
        }
        return;
    }
    TBytes joined;
    joined.reserve(static_cast<size_t>(FSize));
    for (const TBytes& block : FSegments)
        joined.insert(joined.end(), block.begin(), block.end());
    FSegments.clear();
    FSegments.push_back(std::move(joined));
    FStarts.assign(1, 0);
}

} // namespace kez
