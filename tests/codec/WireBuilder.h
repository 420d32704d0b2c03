// Builds expected or scripted octets in wire order, so that test tables read like the layouts they check.
#pragma once

#include "kezBase_Classes.h"

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <string_view>

namespace kez::test {

class Wire {
public:
    Wire() = default;
    Wire(std::initializer_list<int> aOctets) { Octets(aOctets); }

    Wire& Octet(int aValue) {
        FBytes.push_back(static_cast<uint8_t>(aValue));
        return *this;
    }
    Wire& Octets(std::initializer_list<int> aOctets) {
        for (int v : aOctets)
            Octet(v);
        return *this;
    }
    Wire& Short(uint16_t aValue) { return Be(aValue, 2); }
    Wire& Long(uint32_t aValue) { return Be(aValue, 4); }
    Wire& LongLong(uint64_t aValue) { return Be(aValue, 8); }
    Wire& Raw(std::string_view aText) {
        FBytes.insert(FBytes.end(), aText.begin(), aText.end());
        return *this;
    }
    Wire& Raw(const TBytes& aBytes) {
        FBytes.insert(FBytes.end(), aBytes.begin(), aBytes.end());
        return *this;
    }
    Wire& ShortStr(std::string_view aText) { return Octet(static_cast<int>(aText.size())).Raw(aText); }
    Wire& LongStr(std::string_view aText) { return Long(static_cast<uint32_t>(aText.size())).Raw(aText); }
    // A field table or array: the 32-bit length of the given entries, then the entries.
    Wire& Table(const Wire& aEntries) {
        return Long(static_cast<uint32_t>(aEntries.FBytes.size())).Raw(aEntries.FBytes);
    }
    Wire& Double(double aValue) { return LongLong(std::bit_cast<uint64_t>(aValue)); }
    Wire& Float(float aValue) { return Long(std::bit_cast<uint32_t>(aValue)); }

    // A whole frame around the given payload.
    static Wire Frame(int aType, uint16_t aChannel, const Wire& aPayload) {
        Wire w;
        w.Octet(aType)
            .Short(aChannel)
            .Long(static_cast<uint32_t>(aPayload.FBytes.size()))
            .Raw(aPayload.FBytes);
        return w.Octet(0xCE);
    }
    // A method payload: class id, method id, arguments.
    static Wire Method(uint16_t aClass, uint16_t aMethod, const Wire& aArguments = {}) {
        Wire w;
        return w.Short(aClass).Short(aMethod).Raw(aArguments.FBytes);
    }

    const TBytes& Bytes() const noexcept { return FBytes; }
    operator const TBytes&() const noexcept { return FBytes; }
    operator TBytesView() const noexcept { return FBytes; }
    size_t Size() const noexcept { return FBytes.size(); }

private:
    Wire& Be(uint64_t aValue, int aOctets) {
        for (int i = aOctets - 1; i >= 0; --i)
            FBytes.push_back(static_cast<uint8_t>(aValue >> (8 * i)));
        return *this;
    }
    TBytes FBytes;
};

} // namespace kez::test
