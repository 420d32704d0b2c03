#include "kezApp_Integer.h"

#include <charconv>
#include <climits>

namespace kez {

int64_t IntegerOfBox(const std::string& aText, const std::string& aWhat, int64_t aMin, int64_t aMax) {
    // Leading and trailing blanks are not part of a number, as the user sees it.
    const size_t first = aText.find_first_not_of(' ');
    const size_t last = aText.find_last_not_of(' ');
    const std::string text =
        first == std::string::npos ? std::string() : aText.substr(first, last - first + 1);
    int64_t value = 0;
    const char* begin = text.data();
    if (!text.empty() && text[0] == '+') ++begin;
    const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        throw EConvertError("'" + aText + "' is not a valid integer value");
    if (value < aMin || value > aMax)
        throw EConvertError("'" + aText + "' is not a valid " + aWhat + ": it must lie between " +
                            std::to_string(aMin) + " and " + std::to_string(aMax));
    return value;
}

} // namespace kez
