// Message texts with %s placeholders, filled in order.
#pragma once

#include <cctype>
#include <initializer_list>
#include <string>
#include <string_view>

namespace kez {

// Replaces each "%s" of aFormat with the next argument; "%%" stands for "%".
inline std::string Format(std::string_view aFormat, std::initializer_list<std::string_view> aArgs) {
    std::string text;
    text.reserve(aFormat.size() + 32);
    auto arg = aArgs.begin();
    for (size_t i = 0; i < aFormat.size(); ++i) {
        if (aFormat[i] == '%' && i + 1 < aFormat.size()) {
            if (aFormat[i + 1] == 's') {
                if (arg != aArgs.end()) text += *arg++;
                ++i;
                continue;
            }
            if (aFormat[i + 1] == '%') {
                text.push_back('%');
                ++i;
                continue;
            }
        }
        text.push_back(aFormat[i]);
    }
    return text;
}

// ASCII lower case: for protocol words (URL schemes, header names), never for user text.
inline std::string LowerCase(std::string aText) {
    for (char& c : aText)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return aText;
}

} // namespace kez
