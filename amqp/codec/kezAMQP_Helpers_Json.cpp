// A field table written from JSON object text, the form in which method arguments and message headers are
// given. Members keep their JSON type on the wire, so brokers see numbers and booleans where they expect them
// (x-message-ttl, x-max-length and x-max-priority are refused when they arrive as strings):
//   string -> S (escapes decoded to UTF-8)     integer -> I, else l, else d     fraction or exponent -> d
//   true / false -> t     null -> V     object -> F (nested table)     array -> A (field array)
// The literals true, false and null are accepted in any letter case. Reading stops at the first syntax error;
// the members completed before it are written and nothing is raised.
#include "kezAMQP_Helpers.h"

#include "kezAMQP_WireBuffer.h"

#include <bit>
#include <charconv>
#include <limits>

namespace kez {

namespace {

class TJsonTableWriter {
public:
    TJsonTableWriter(std::string_view aText, TBytes& aOut) : FText(aText), FOut(aOut) {}

    void Write() {
        const size_t length = wire::BeginLength(FOut);
        SkipBlanks();
        if (Peek() == '{') {
            ++FPos;
            WriteMembers(1, /*aKeepPartial=*/true);
        }
        wire::PatchLength(FOut, length);
    }

private:
    char Peek() const { return FPos < FText.size() ? FText[FPos] : '\0'; }
    bool AtEnd() const { return FPos >= FText.size(); }

    void SkipBlanks() {
        while (FPos < FText.size() &&
               (FText[FPos] == ' ' || FText[FPos] == '\t' || FText[FPos] == '\n' || FText[FPos] == '\r'))
            ++FPos;
    }

    bool Expect(char aChar) {
        SkipBlanks();
        if (Peek() != aChar) return false;
        ++FPos;
        return true;
    }

    // The members of an object whose "{" has been consumed. At the top level a syntax error keeps the members
    // completed before it; inside a value it fails the whole value.
    bool WriteMembers(int aDepth, bool aKeepPartial) {
        SkipBlanks();
        if (Peek() == '}') {
            ++FPos;
            return true;
        }
        for (;;) {
            const size_t memberStart = FOut.size();
            std::string name;
            const bool ok = Expect('"') && ReadString(name) && Expect(':') &&
                            (WriteShortString(name, FOut), true) && WriteValue(aDepth);
            if (!ok) {
                if (aKeepPartial) FOut.resize(memberStart);
                return false;
            }
            SkipBlanks();
            if (Peek() == ',') {
                ++FPos;
                continue;
            }
            return Expect('}');
        }
    }

    bool WriteElements(int aDepth) {
        SkipBlanks();
        if (Peek() == ']') {
            ++FPos;
            return true;
        }
        for (;;) {
            if (!WriteValue(aDepth)) return false;
            SkipBlanks();
            if (Peek() == ',') {
                ++FPos;
                continue;
            }
            return Expect(']');
        }
    }

    // aDepth is the depth of the table or array that receives the value.
    bool WriteValue(int aDepth) {
        SkipBlanks();
        const char c = Peek();
        if (c == '"') {
            ++FPos;
            std::string text;
            if (!ReadString(text)) return false;
            FOut.push_back('S');
            WriteLongString(text, FOut);
            return true;
        }
        if (c == '{' || c == '[') {
            if (aDepth + 1 > AMQPMaxTableDepth) return false;
            ++FPos;
            FOut.push_back(c == '{' ? 'F' : 'A');
            const size_t length = wire::BeginLength(FOut);
            const bool ok = c == '{' ? WriteMembers(aDepth + 1, false) : WriteElements(aDepth + 1);
            wire::PatchLength(FOut, length);
            return ok;
        }
        if (c == '-' || (c >= '0' && c <= '9')) return WriteNumber();
        return WriteLiteral();
    }

    bool WriteLiteral() {
        const size_t start = FPos;
        while (FPos < FText.size() && ((FText[FPos] | 0x20) >= 'a' && (FText[FPos] | 0x20) <= 'z'))
            ++FPos;
        const std::string_view word = FText.substr(start, FPos - start);
        const auto is = [&](std::string_view aLiteral) {
            if (word.size() != aLiteral.size()) return false;
            for (size_t i = 0; i < word.size(); ++i)
                if ((word[i] | 0x20) != aLiteral[i]) return false;
            return true;
        };
        if (is("true") || is("false")) {
            FOut.push_back('t');
            FOut.push_back(is("true") ? 1 : 0);
            return true;
        }
        if (is("null")) {
            FOut.push_back('V');
            return true;
        }
        return false;
    }

    bool WriteNumber() {
        const size_t start = FPos;
        const auto digits = [&] {
            const size_t from = FPos;
            while (FPos < FText.size() && FText[FPos] >= '0' && FText[FPos] <= '9')
                ++FPos;
            return FPos > from;
        };
        bool integer = true;
        if (Peek() == '-') ++FPos;
        if (!digits()) return false;
        if (Peek() == '.') {
            ++FPos;
            integer = false;
            if (!digits()) return false;
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++FPos;
            integer = false;
            if (Peek() == '+' || Peek() == '-') ++FPos;
            if (!digits()) return false;
        }
        const char* first = FText.data() + start;
        const char* last = FText.data() + FPos;
        if (integer) {
            int64_t value = 0;
            if (std::from_chars(first, last, value).ec == std::errc()) {
                if (value >= std::numeric_limits<int32_t>::min() &&
                    value <= std::numeric_limits<int32_t>::max()) {
                    FOut.push_back('I');
                    WriteLong(static_cast<uint32_t>(static_cast<int32_t>(value)), FOut);
                } else {
                    FOut.push_back('l');
                    WriteLongLong(static_cast<uint64_t>(value), FOut);
                }
                return true;
            }
        }
        double value = 0;
        if (std::from_chars(first, last, value).ec != std::errc()) return false;
        FOut.push_back('d');
        WriteLongLong(std::bit_cast<uint64_t>(value), FOut);
        return true;
    }

    static void AppendUtf8(std::string& aText, uint32_t aCode) {
        if (aCode < 0x80) {
            aText.push_back(static_cast<char>(aCode));
        } else if (aCode < 0x800) {
            aText.push_back(static_cast<char>(0xC0 | (aCode >> 6)));
            aText.push_back(static_cast<char>(0x80 | (aCode & 0x3F)));
        } else if (aCode < 0x10000) {
            aText.push_back(static_cast<char>(0xE0 | (aCode >> 12)));
            aText.push_back(static_cast<char>(0x80 | ((aCode >> 6) & 0x3F)));
            aText.push_back(static_cast<char>(0x80 | (aCode & 0x3F)));
        } else {
            aText.push_back(static_cast<char>(0xF0 | (aCode >> 18)));
            aText.push_back(static_cast<char>(0x80 | ((aCode >> 12) & 0x3F)));
            aText.push_back(static_cast<char>(0x80 | ((aCode >> 6) & 0x3F)));
            aText.push_back(static_cast<char>(0x80 | (aCode & 0x3F)));
        }
    }

    bool ReadHex4(uint32_t& aCode) {
        if (FText.size() - FPos < 4) return false;
        aCode = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = FText[FPos++];
            aCode <<= 4;
            if (h >= '0' && h <= '9')
                aCode |= static_cast<uint32_t>(h - '0');
            else if ((h | 0x20) >= 'a' && (h | 0x20) <= 'f')
                aCode |= static_cast<uint32_t>((h | 0x20) - 'a' + 10);
            else
                return false;
        }
        return true;
    }

    // The body of a string whose opening quote has been consumed, escapes decoded. A lone surrogate becomes
    // U+FFFD, so the result is always valid UTF-8 where the input was.
    bool ReadString(std::string& aText) {
        for (;;) {
            if (AtEnd()) return false;
            const char c = FText[FPos++];
            if (c == '"') return true;
            if (c != '\\') {
                aText.push_back(c);
                continue;
            }
            if (AtEnd()) return false;
            const char e = FText[FPos++];
            switch (e) {
            case '"':
            case '\\':
            case '/': aText.push_back(e); break;
            case 'b': aText.push_back('\b'); break;
            case 'f': aText.push_back('\f'); break;
            case 'n': aText.push_back('\n'); break;
            case 'r': aText.push_back('\r'); break;
            case 't': aText.push_back('\t'); break;
            case 'u': {
                uint32_t code = 0;
                if (!ReadHex4(code)) return false;
                if (code >= 0xD800 && code <= 0xDBFF) {
                    const size_t save = FPos;
                    uint32_t low = 0;
                    if (FText.substr(FPos, 2) == "\\u" && (FPos += 2, ReadHex4(low)) && low >= 0xDC00 &&
                        low <= 0xDFFF) {
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else {
                        FPos = save;
                        code = 0xFFFD;
                    }
                } else if (code >= 0xDC00 && code <= 0xDFFF) {
                    code = 0xFFFD;
                }
                AppendUtf8(aText, code);
                break;
            }
            default: return false;
            }
        }
    }

    std::string_view FText;
    size_t FPos = 0;
    TBytes& FOut;
};

} // namespace

void WriteFieldTableJSON(std::string_view aJSON, TBytes& aOut) {
    const size_t start = aOut.size();
    try {
        TJsonTableWriter(aJSON, aOut).Write();
    } catch (...) {
        aOut.resize(start);
        throw;
    }
}

} // namespace kez
