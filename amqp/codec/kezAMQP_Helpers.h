// Primitive readers and writers of the AMQP 0-9-1 wire format, field tables in their two text forms, and the
// conversions between enumerations and wire values.
//
// Readers take the whole array and a position that they advance. Every reader checks the octets it needs
// against the end of the array and raises TkezAMQPException 501 ("Frame Error") instead of reading past it.
// Writers append to the end of a byte array.
#pragma once

#include "kezAMQP_Exception.h"
#include "kezAMQP_Types.h"
#include "kezBase_Classes.h"
#include "kezBase_StringList.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kez {

// Tables and arrays nested deeper than this are refused (501 when reading, end of input when writing from
// JSON), so that a hostile table cannot exhaust the stack.
inline constexpr int AMQPMaxTableDepth = 64;
inline constexpr size_t AMQPMaxShortString = 255;

// --- readers ---
uint8_t ReadOctet(TBytesView aBytes, int32_t& aPos);
// True only for the octet 1.
bool ReadBooleanOctet(TBytesView aBytes, int32_t& aPos);
uint16_t ReadShort(TBytesView aBytes, int32_t& aPos);
uint32_t ReadLong(TBytesView aBytes, int32_t& aPos);
uint64_t ReadLongLong(TBytesView aBytes, int32_t& aPos);
// Short strings carry UTF-8 and are returned as the octets they are.
std::string ReadShortString(TBytesView aBytes, int32_t& aPos);
// A length of 0 or below gives an empty result and consumes only the length.
TBytes ReadLongBytes(TBytesView aBytes, int32_t& aPos);
// The octets of a long string unchanged: text written as UTF-8 reads back identical.
std::string ReadLongString(TBytesView aBytes, int32_t& aPos);
// One tag octet and its value, rendered as text. A tag outside the supported set raises 501.
std::string ReadFieldValue(TBytesView aBytes, int32_t& aPos);
// Appends one name=value line per entry, in wire order; nested tables and arrays as table text.
void ReadFieldTable(TBytesView aBytes, int32_t& aPos, TkezStringList& aList);
// The table as text close to JSON: {"name": value, ...}.
std::string ReadFieldTableText(TBytesView aBytes, int32_t& aPos);
// The array as text close to JSON: [value, ...].
std::string ReadFieldArrayText(TBytesView aBytes, int32_t& aPos);

// --- writers ---
void WriteOctet(uint8_t aValue, TBytes& aOut);
void WriteBooleanOctet(bool aValue, TBytes& aOut);
void WriteShort(uint16_t aValue, TBytes& aOut);
void WriteLong(uint32_t aValue, TBytes& aOut);
void WriteLongLong(uint64_t aValue, TBytes& aOut);
// Raises TkezAMQPException (code -1) when the text needs more than 255 octets; aOut is then unchanged.
void WriteShortString(std::string_view aText, TBytes& aOut);
void WriteLongBytes(TBytesView aBytes, TBytes& aOut);
void WriteLongString(std::string_view aText, TBytes& aOut);
// Every line becomes an entry of tag S: the name before the first separator, the value after it.
void WriteFieldTable(const TkezStringList& aList, TBytes& aOut);
// Each member of a JSON object becomes an entry whose tag follows the JSON type of its value (see the .cpp).
// Text that is not an object writes an empty table; a syntax error ends the table after the members before
// it.
void WriteFieldTableJSON(std::string_view aJSON, TBytes& aOut);
// ORs bit aBit (0-7) into the octet at aIndex; other bit numbers do nothing.
void SetFlagBit(TBytes& aOut, size_t aIndex, int aBit);

// --- conversions ---
TkezAMQPFrameType GetAMQPFrameType(uint8_t aId) noexcept;
uint8_t GetAMQPFrameTypeId(TkezAMQPFrameType aType) noexcept;
TkezAMQPClass GetAMQPClass(uint16_t aId) noexcept;
uint16_t GetAMQPClassId(TkezAMQPClass aClass) noexcept;
TkezAMQPMethod GetAMQPMethod(TkezAMQPClass aClass, uint16_t aId) noexcept;
uint16_t GetAMQPMethodId(TkezAMQPMethod aMethod) noexcept;
// The class a method value belongs to (amqpClassNone for amqpMethodNone).
TkezAMQPClass GetAMQPMethodClass(TkezAMQPMethod aMethod) noexcept;
TkezAMQPAuthentication GetAMQPAuthentication(std::string_view aName) noexcept;
std::string GetAMQPAuthenticationName(TkezAMQPAuthentication aAuthentication);
// Splits the broker's mechanism list at white space; an unknown word adds amqpAuthNone.
TkezAMQPAuthentications GetAMQPAuthentications(std::string_view aList);

// Renders a number as the format "0.#" does: no grouping, one fractional digit at most, no trailing zero.
std::string FormatFloatOneDecimal(double aValue, char aDecimalSeparator);

} // namespace kez
