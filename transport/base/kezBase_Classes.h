// Root types shared by every layer: the polymorphic root, byte arrays, event properties and enum sets.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace kez {

// The polymorphic root: every event passes its raiser as a TObject*.
class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    TObject(TObject&&) = default;
    TObject& operator=(TObject&&) = default;
    virtual ~TObject() = default;
};

using TBytes = std::vector<uint8_t>;
// Read-only view over received octets; a TBytes converts to it implicitly.
using TBytesView = std::span<const uint8_t>;
// One block to send, given as pieces that lie apart in memory: a message's framing of its own and its body
// where the caller keeps it, written without first copying them together.
using TBytesPieces = std::span<const TBytesView>;

inline size_t PiecesSize(TBytesPieces aPieces) noexcept {
    size_t size = 0;
    for (const TBytesView piece : aPieces)
        size += piece.size();
    return size;
}

// The pieces copied together, for a writer that takes one block.
inline TBytes JoinPieces(TBytesPieces aPieces) {
    TBytes block;
    block.reserve(PiecesSize(aPieces));
    for (const TBytesView piece : aPieces)
        block.insert(block.end(), piece.begin(), piece.end());
    return block;
}

// An event property: assign a callable or nullptr; Fire does nothing while unassigned, so raising an
// optional event stays a single line everywhere.
template <typename Signature>
class TkezEvent;

template <typename R, typename... Args>
class TkezEvent<R(Args...)> {
public:
    TkezEvent() = default;
    TkezEvent(std::nullptr_t) {}
    template <typename F, typename = std::enable_if_t<std::is_invocable_r_v<R, F&, Args...> &&
                                                      !std::is_same_v<std::decay_t<F>, TkezEvent>>>
    TkezEvent(F&& aHandler) : FHandler(std::forward<F>(aHandler)) {}

    TkezEvent& operator=(std::nullptr_t) {
        FHandler = nullptr;
        return *this;
    }
    template <typename F, typename = std::enable_if_t<std::is_invocable_r_v<R, F&, Args...> &&
                                                      !std::is_same_v<std::decay_t<F>, TkezEvent>>>
    TkezEvent& operator=(F&& aHandler) {
        FHandler = std::forward<F>(aHandler);
        return *this;
    }

    explicit operator bool() const noexcept { return static_cast<bool>(FHandler); }

    template <typename... CallArgs>
    void Fire(CallArgs&&... aArgs) const {
        if (FHandler) FHandler(std::forward<CallArgs>(aArgs)...);
    }
    template <typename... CallArgs>
    R operator()(CallArgs&&... aArgs) const {
        return FHandler(std::forward<CallArgs>(aArgs)...);
    }

private:
    std::function<R(Args...)> FHandler;
};

using TNotifyEvent = TkezEvent<void(TObject* Sender)>;

// A set over an unscoped enumeration with fewer than 64 values, as a 64-bit mask.
template <typename E>
class TkezSet {
    static_assert(std::is_enum_v<E>);

public:
    constexpr TkezSet() noexcept = default;
    constexpr TkezSet(std::initializer_list<E> aValues) noexcept {
        for (E v : aValues)
            Include(v);
    }

    constexpr void Include(E aValue) noexcept { FMask |= Bit(aValue); }
    constexpr void Exclude(E aValue) noexcept { FMask &= ~Bit(aValue); }
    constexpr bool Contains(E aValue) const noexcept { return (FMask & Bit(aValue)) != 0; }
    constexpr bool Empty() const noexcept { return FMask == 0; }
    constexpr uint64_t Mask() const noexcept { return FMask; }

    friend constexpr bool operator==(TkezSet, TkezSet) noexcept = default;

private:
    static constexpr uint64_t Bit(E aValue) noexcept {
        return uint64_t{1} << static_cast<unsigned>(static_cast<std::underlying_type_t<E>>(aValue));
    }
    uint64_t FMask = 0;
};

} // namespace kez

// Declares a property: the field F<Name> with an optional initialiser, the getter Name() and the setter
// SetName(value). Use it inside a public section; it leaves the class in public access.
#define KEZ_PROPERTY(Type, Name, ...)                                                                        \
private:                                                                                                     \
    Type F##Name{__VA_ARGS__};                                                                               \
                                                                                                             \
public:                                                                                                      \
    const Type& Name() const noexcept { return F##Name; }                                                    \
    void Set##Name(Type aValue) { F##Name = std::move(aValue); }
