// Field tables and field arrays read into text, and written from a name=value list.
#include "kezAMQP_Helpers.h"

#include "kezAMQP_WireBuffer.h"
#include "kezBase_FormatSettings.h"

#include <bit>
#include <charconv>
#include <cmath>

namespace kez {

namespace {

// A value "parses as a number" in the user's locale: sign, digits with one optional decimal separator, and an
// optional exponent. Such values stand bare in table text, everything else in double quotes.
bool IsLocaleNumber(std::string_view aText, char aSeparator) {
    size_t i = 0;
    const size_t n = aText.size();
    if (i < n && (aText[i] == '+' || aText[i] == '-')) ++i;
    size_t digits = 0;
    while (i < n && aText[i] >= '0' && aText[i] <= '9')
        ++i, ++digits;
    if (i < n && aText[i] == aSeparator) {
        ++i;
        while (i < n && aText[i] >= '0' && aText[i] <= '9')
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < n && (aText[i] == 'e' || aText[i] == 'E')) {
        ++i;
        if (i < n && (aText[i] == '+' || aText[i] == '-')) ++i;
        size_t exponentDigits = 0;
        while (i < n && aText[i] >= '0' && aText[i] <= '9')
            ++i, ++exponentDigits;
        if (exponentDigits == 0) return false;
    }
    return i == n;
}

template <typename T>
std::string Decimal(T aValue) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, aValue);
    return std::string(buffer, result.ptr);
}

std::string Hex(TBytesView aBytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(aBytes.size() * 2);
    for (uint8_t b : aBytes) {
        text.push_back(Digits[b >> 4]);
        text.push_back(Digits[b & 15]);
    }
    return text;
}

// The octets of a nested table or array, as a view that ends where the block ends: entries inside cannot read
// past their block, even when a nested length lies.
TBytesView EnterBlock(TBytesView aBytes, int32_t& aPos, int32_t& aEnd) {
    const uint32_t length = ReadLong(aBytes, aPos);
    int32_t probe = aPos;
    wire::Take(aBytes, probe, length);
    aEnd = probe;
    return aBytes.first(static_cast<size_t>(aEnd));
}

void CheckDepth(int aDepth) {
    if (aDepth > AMQPMaxTableDepth) RaiseAMQPException(501);
}

std::string ReadValue(TBytesView aBytes, int32_t& aPos, int aDepth, bool* aIsNested = nullptr);

std::string ReadTableText(TBytesView aBytes, int32_t& aPos, int aDepth);
std::string ReadArrayText(TBytesView aBytes, int32_t& aPos, int aDepth);

void AppendTableTextValue(std::string& aText, const std::string& aValue, bool aNested) {
    if (aNested || aValue == "true" || aValue == "false" || IsLocaleNumber(aValue, DecimalSeparator())) {
        aText += aValue;
    } else {
        aText.push_back('"');
        aText += aValue;
        aText.push_back('"');
    }
}

std::string ReadTableText(TBytesView aBytes, int32_t& aPos, int aDepth) {
    CheckDepth(aDepth);
    int32_t end = 0;
    const TBytesView block = EnterBlock(aBytes, aPos, end);
    std::string text = "{";
    while (aPos < end) {
        if (text.size() > 1) text += ", ";
        text.push_back('"');
        text += ReadShortString(block, aPos);
        text += "\": ";
        bool nested = false;
        const std::string value = ReadValue(block, aPos, aDepth, &nested);
        AppendTableTextValue(text, value, nested);
    }
    text.push_back('}');
    return text;
}

std::string ReadArrayText(TBytesView aBytes, int32_t& aPos, int aDepth) {
    CheckDepth(aDepth);
    int32_t end = 0;
    const TBytesView block = EnterBlock(aBytes, aPos, end);
    std::string text = "[";
    while (aPos < end) {
        if (text.size() > 1) text += ", ";
        bool nested = false;
        const std::string value = ReadValue(block, aPos, aDepth, &nested);
        AppendTableTextValue(text, value, nested);
    }
    text.push_back(']');
    return text;
}

// aDepth is the depth of the table or array that holds the value.
std::string ReadValue(TBytesView aBytes, int32_t& aPos, int aDepth, bool* aIsNested) {
    const char tag = static_cast<char>(ReadOctet(aBytes, aPos));
    switch (tag) {
    case 't': return ReadOctet(aBytes, aPos) == 1 ? "true" : "false";
    case 'b': return Decimal(static_cast<int8_t>(ReadOctet(aBytes, aPos)));
    case 'B': return Decimal(ReadOctet(aBytes, aPos));
    // 's' is a signed 16-bit integer as brokers and clients encode it, not a short string.
    case 's':
    case 'U': return Decimal(static_cast<int16_t>(ReadShort(aBytes, aPos)));
    case 'u': return Decimal(ReadShort(aBytes, aPos));
    case 'I': return Decimal(static_cast<int32_t>(ReadLong(aBytes, aPos)));
    case 'i': return Decimal(ReadLong(aBytes, aPos));
    case 'L':
    case 'l':
    case 'T': return Decimal(static_cast<int64_t>(ReadLongLong(aBytes, aPos)));
    case 'f': return FormatFloatOneDecimal(std::bit_cast<float>(ReadLong(aBytes, aPos)), DecimalSeparator());
    case 'd':
        return FormatFloatOneDecimal(std::bit_cast<double>(ReadLongLong(aBytes, aPos)), DecimalSeparator());
    case 'D': {
        const uint8_t scale = ReadOctet(aBytes, aPos);
        const uint32_t value = ReadLong(aBytes, aPos);
        return FormatFloatOneDecimal(static_cast<double>(value) / std::pow(10.0, scale), '.');
    }
    case 'S': return ReadLongString(aBytes, aPos);
    case 'x': {
        int32_t end = 0;
        const TBytesView block = EnterBlock(aBytes, aPos, end);
        const TBytesView octets = block.subspan(static_cast<size_t>(aPos));
        aPos = end;
        return Hex(octets);
    }
    case 'V': return {};
    case 'A':
        if (aIsNested) *aIsNested = true;
        return ReadArrayText(aBytes, aPos, aDepth + 1);
    case 'F':
        if (aIsNested) *aIsNested = true;
        return ReadTableText(aBytes, aPos, aDepth + 1);
    default:
        // Without knowing the size of an unknown value, the rest of the table cannot be read in step.
        RaiseAMQPException(501);
    }
}

} // namespace

std::string ReadFieldValue(TBytesView aBytes, int32_t& aPos) { return ReadValue(aBytes, aPos, 0); }

void ReadFieldTable(TBytesView aBytes, int32_t& aPos, TkezStringList& aList) {
    int32_t end = 0;
    const TBytesView block = EnterBlock(aBytes, aPos, end);
    while (aPos < end) {
        const std::string name = ReadShortString(block, aPos);
        aList.AddPair(name, ReadValue(block, aPos, 1));
    }
}

std::string ReadFieldTableText(TBytesView aBytes, int32_t& aPos) { return ReadTableText(aBytes, aPos, 1); }

std::string ReadFieldArrayText(TBytesView aBytes, int32_t& aPos) { return ReadArrayText(aBytes, aPos, 1); }

void WriteFieldTable(const TkezStringList& aList, TBytes& aOut) {
    const size_t start = aOut.size();
    const size_t length = wire::BeginLength(aOut);
    try {
        for (int i = 0; i < aList.Count(); ++i) {
            WriteShortString(aList.Names(i), aOut);
            aOut.push_back('S');
            WriteLongString(aList.ValueFromIndex(i), aOut);
        }
    } catch (...) {
        aOut.resize(start);
        throw;
    }
    wire::PatchLength(aOut, length);
}

} // namespace kez
