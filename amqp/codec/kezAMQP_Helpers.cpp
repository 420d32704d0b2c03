// Primitive readers and writers, and the enumeration conversions.
#include "kezAMQP_Helpers.h"

#include "kezAMQP_Const.h"
#include "kezAMQP_WireBuffer.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace kez {

void RaiseAMQPException(int32_t aCode) { throw TkezAMQPException(aCode, GetAMQPReplyText(aCode)); }

// --- readers ---

uint8_t ReadOctet(TBytesView aBytes, int32_t& aPos) {
    const uint8_t* p = wire::Take(aBytes, aPos, 1);
    return p[0];
}

bool ReadBooleanOctet(TBytesView aBytes, int32_t& aPos) { return ReadOctet(aBytes, aPos) == 1; }

uint16_t ReadShort(TBytesView aBytes, int32_t& aPos) { return wire::LoadBE16(wire::Take(aBytes, aPos, 2)); }

uint32_t ReadLong(TBytesView aBytes, int32_t& aPos) { return wire::LoadBE32(wire::Take(aBytes, aPos, 4)); }

uint64_t ReadLongLong(TBytesView aBytes, int32_t& aPos) {
    return wire::LoadBE64(wire::Take(aBytes, aPos, 8));
}

std::string ReadShortString(TBytesView aBytes, int32_t& aPos) {
    const uint8_t length = ReadOctet(aBytes, aPos);
    const uint8_t* p = wire::Take(aBytes, aPos, length);
    return std::string(reinterpret_cast<const char*>(p), length);
}

namespace {
// The octets of a long string or block: a signed length, where 0 or below means empty.
TBytesView TakeLongBlock(TBytesView aBytes, int32_t& aPos) {
    const auto length = static_cast<int32_t>(ReadLong(aBytes, aPos));
    if (length <= 0) return {};
    return {wire::Take(aBytes, aPos, static_cast<uint32_t>(length)), static_cast<size_t>(length)};
}
} // namespace

TBytes ReadLongBytes(TBytesView aBytes, int32_t& aPos) {
    const TBytesView block = TakeLongBlock(aBytes, aPos);
    return TBytes(block.begin(), block.end());
}

std::string ReadLongString(TBytesView aBytes, int32_t& aPos) {
    const TBytesView block = TakeLongBlock(aBytes, aPos);
    return std::string(reinterpret_cast<const char*>(block.data()), block.size());
}

// --- writers ---

void WriteOctet(uint8_t aValue, TBytes& aOut) { aOut.push_back(aValue); }

void WriteBooleanOctet(bool aValue, TBytes& aOut) { aOut.push_back(aValue ? 1 : 0); }

void WriteShort(uint16_t aValue, TBytes& aOut) { wire::AppendBE(aOut, aValue); }

void WriteLong(uint32_t aValue, TBytes& aOut) { wire::AppendBE(aOut, aValue); }

void WriteLongLong(uint64_t aValue, TBytes& aOut) { wire::AppendBE(aOut, aValue); }

void WriteShortString(std::string_view aText, TBytes& aOut) {
    if (aText.size() > AMQPMaxShortString)
        throw TkezAMQPException(-1, "AMQP short string too long: " + std::to_string(aText.size()) +
                                        " octets of UTF-8, the limit is 255.");
    aOut.push_back(static_cast<uint8_t>(aText.size()));
    aOut.insert(aOut.end(), aText.begin(), aText.end());
}

void WriteLongBytes(TBytesView aBytes, TBytes& aOut) {
    WriteLong(static_cast<uint32_t>(aBytes.size()), aOut);
    aOut.insert(aOut.end(), aBytes.begin(), aBytes.end());
}

void WriteLongString(std::string_view aText, TBytes& aOut) {
    WriteLong(static_cast<uint32_t>(aText.size()), aOut);
    aOut.insert(aOut.end(), aText.begin(), aText.end());
}

void SetFlagBit(TBytes& aOut, size_t aIndex, int aBit) {
    if (aBit < 0 || aBit > 7 || aIndex >= aOut.size()) return;
    aOut[aIndex] |= static_cast<uint8_t>(1u << aBit);
}

// --- conversions ---

TkezAMQPFrameType GetAMQPFrameType(uint8_t aId) noexcept {
    switch (aId) {
    case 1: return amqpFrameMethod;
    case 2: return amqpFrameHeader;
    case 3: return amqpFrameBody;
    case 8: return amqpFrameHeartBeat;
    default: return amqpFrameNone;
    }
}

uint8_t GetAMQPFrameTypeId(TkezAMQPFrameType aType) noexcept {
    static constexpr std::array<uint8_t, 5> Ids = {0, 1, 2, 3, 8};
    return aType < Ids.size() ? Ids[aType] : 0;
}

namespace {

constexpr std::array<uint16_t, 7> ClassIds = {0, 10, 20, 40, 50, 60, 90};
constexpr std::array<TkezAMQPMethod, 7> ClassNoneMethods = {
    amqpMethodNone, amqpConnNone, amqpChannNone, amqpExchNone, amqpQueueNone, amqpBasicNone, amqpTxNone};

struct TMethodWire {
    TkezAMQPClass ClassId;
    uint16_t MethodId;
};

// Indexed by TkezAMQPMethod.
constexpr std::array<TMethodWire, AMQPMethodCount> MethodWire = {{
    {amqpClassNone, 0},                                                              // amqpMethodNone
    {amqpClassConnection, 0},  {amqpClassConnection, 10}, {amqpClassConnection, 11}, // None, Start, StartOk
    {amqpClassConnection, 20}, {amqpClassConnection, 21}, {amqpClassConnection, 30}, // Secure(Ok), Tune
    {amqpClassConnection, 31}, {amqpClassConnection, 40}, {amqpClassConnection, 41}, // TuneOk, Open(Ok)
    {amqpClassConnection, 50}, {amqpClassConnection, 51},                            // Close(Ok)
    {amqpClassChannel, 0},     {amqpClassChannel, 10},    {amqpClassChannel, 11},    // None, Open(Ok)
    {amqpClassChannel, 20},    {amqpClassChannel, 21},    {amqpClassChannel, 40},    // Flow(Ok), Close
    {amqpClassChannel, 41},                                                          // CloseOk
    {amqpClassExchange, 0},    {amqpClassExchange, 10},   {amqpClassExchange, 11},   // None, Declare(Ok)
    {amqpClassExchange, 20},   {amqpClassExchange, 21},                              // Delete(Ok)
    {amqpClassQueue, 0},       {amqpClassQueue, 10},      {amqpClassQueue, 11},      // None, Declare(Ok)
    {amqpClassQueue, 20},      {amqpClassQueue, 21},      {amqpClassQueue, 50},      // Bind(Ok), UnBind
    {amqpClassQueue, 51},      {amqpClassQueue, 30},      {amqpClassQueue, 31},      // UnBindOk, Purge(Ok)
    {amqpClassQueue, 40},      {amqpClassQueue, 41},                                 // Delete(Ok)
    {amqpClassBasic, 0},       {amqpClassBasic, 10},      {amqpClassBasic, 11},      // None, Qos(Ok)
    {amqpClassBasic, 20},      {amqpClassBasic, 21},      {amqpClassBasic, 30},      // Consume(Ok), Cancel
    {amqpClassBasic, 31},      {amqpClassBasic, 40},      {amqpClassBasic, 50},  // CancelOk, Publish, Return
    {amqpClassBasic, 60},      {amqpClassBasic, 70},      {amqpClassBasic, 71},  // Deliver, Get, GetOk
    {amqpClassBasic, 72},      {amqpClassBasic, 80},      {amqpClassBasic, 90},  // GetEmpty, Ack, Reject
    {amqpClassBasic, 100},     {amqpClassBasic, 110},     {amqpClassBasic, 111}, // Recover*, RecoverOk
    {amqpClassTx, 0},          {amqpClassTx, 10},         {amqpClassTx, 11},     // None, Select(Ok)
    {amqpClassTx, 20},         {amqpClassTx, 21},         {amqpClassTx, 30},     // Commit(Ok), Rollback
    {amqpClassTx, 31},                                                           // RollbackOk
}};

constexpr uint16_t MaxMethodId = 111;

// Wire method id to method, per class; ids a class does not have give that class's "none" value.
constexpr auto BuildMethodLookup() {
    std::array<std::array<TkezAMQPMethod, MaxMethodId + 1>, ClassIds.size()> lookup{};
    for (size_t c = 0; c < ClassIds.size(); ++c)
        lookup[c].fill(ClassNoneMethods[c]);
    for (size_t m = 0; m < MethodWire.size(); ++m)
        if (MethodWire[m].MethodId != 0)
            lookup[MethodWire[m].ClassId][MethodWire[m].MethodId] = static_cast<TkezAMQPMethod>(m);
    return lookup;
}
constexpr auto MethodLookup = BuildMethodLookup();

static_assert(MethodWire[amqpQueueUnBind].MethodId == 50 && MethodWire[amqpBasicRecoverOk].MethodId == 111 &&
              MethodWire[amqpTxRollbackOk].MethodId == 31 && MethodWire[amqpChannCloseOk].MethodId == 41);

constexpr std::array<const char*, 5> AuthenticationNames = {"", "ANONYMOUS", "PLAIN", "AMQPLAIN", "EXTERNAL"};

} // namespace

TkezAMQPClass GetAMQPClass(uint16_t aId) noexcept {
    switch (aId) {
    case 10: return amqpClassConnection;
    case 20: return amqpClassChannel;
    case 40: return amqpClassExchange;
    case 50: return amqpClassQueue;
    case 60: return amqpClassBasic;
    case 90: return amqpClassTx;
    default: return amqpClassNone;
    }
}

uint16_t GetAMQPClassId(TkezAMQPClass aClass) noexcept {
    return aClass < ClassIds.size() ? ClassIds[aClass] : 0;
}

TkezAMQPMethod GetAMQPMethod(TkezAMQPClass aClass, uint16_t aId) noexcept {
    if (aClass >= ClassIds.size()) return amqpMethodNone;
    if (aId > MaxMethodId) return ClassNoneMethods[aClass];
    return MethodLookup[aClass][aId];
}

uint16_t GetAMQPMethodId(TkezAMQPMethod aMethod) noexcept {
    return aMethod < MethodWire.size() ? MethodWire[aMethod].MethodId : 0;
}

TkezAMQPClass GetAMQPMethodClass(TkezAMQPMethod aMethod) noexcept {
    return aMethod < MethodWire.size() ? MethodWire[aMethod].ClassId : amqpClassNone;
}

TkezAMQPAuthentication GetAMQPAuthentication(std::string_view aName) noexcept {
    for (size_t i = 1; i < AuthenticationNames.size(); ++i)
        if (aName == AuthenticationNames[i]) return static_cast<TkezAMQPAuthentication>(i);
    return amqpAuthNone;
}

std::string GetAMQPAuthenticationName(TkezAMQPAuthentication aAuthentication) {
    return aAuthentication < AuthenticationNames.size() ? AuthenticationNames[aAuthentication] : "";
}

TkezAMQPAuthentications GetAMQPAuthentications(std::string_view aList) {
    TkezAMQPAuthentications result;
    constexpr std::string_view Blanks = " \t\r\n\f\v";
    size_t start = aList.find_first_not_of(Blanks);
    while (start != std::string_view::npos) {
        const size_t end = aList.find_first_of(Blanks, start);
        result.Include(GetAMQPAuthentication(aList.substr(start, end - start)));
        start = end == std::string_view::npos ? end : aList.find_first_not_of(Blanks, end);
    }
    return result;
}

std::string FormatFloatOneDecimal(double aValue, char aDecimalSeparator) {
    if (std::isnan(aValue)) return "NAN";
    if (std::isinf(aValue)) return aValue < 0 ? "-INF" : "INF";

    // Round the decimal digits, not the binary value: 15 significant digits first (what a double holds
    // reliably), then half away from zero at the first fractional digit, so 0.35 gives 0.4 and 1.25
    // gives 1.3.
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.14e", std::fabs(aValue));
    std::string digits;
    const char* p = buffer;
    for (; *p != 'e'; ++p)
        if (*p != '.') digits.push_back(*p);
    int exponent = std::atoi(p + 1);

    // Keep the integer digits and one fractional digit.
    const int keep = exponent + 2;
    if (keep <= 0) {
        const bool roundsUp = keep == 0 && digits[0] >= '5';
        digits.assign(1, roundsUp ? '1' : '0');
        exponent = roundsUp ? -1 : 0;
    } else if (keep < static_cast<int>(digits.size())) {
        const bool up = digits[static_cast<size_t>(keep)] >= '5';
        digits.resize(static_cast<size_t>(keep));
        if (up) {
            int i = keep - 1;
            while (i >= 0 && digits[static_cast<size_t>(i)] == '9')
                digits[static_cast<size_t>(i--)] = '0';
            if (i >= 0)
                ++digits[static_cast<size_t>(i)];
            else {
                digits.insert(digits.begin(), '1');
                ++exponent;
            }
        }
    }

    std::string integer;
    char fraction = '0';
    if (exponent < 0) {
        integer = "0";
        if (exponent == -1) fraction = digits[0];
    } else {
        const auto integerDigits = static_cast<size_t>(exponent) + 1;
        integer = digits.substr(0, integerDigits);
        integer.resize(integerDigits, '0');
        if (digits.size() > integerDigits) fraction = digits[integerDigits];
    }

    std::string result;
    if (aValue < 0 && (integer != "0" || fraction != '0')) result.push_back('-');
    result += integer;
    if (fraction != '0') {
        result.push_back(aDecimalSeparator);
        result.push_back(fraction);
    }
    return result;
}

} // namespace kez
