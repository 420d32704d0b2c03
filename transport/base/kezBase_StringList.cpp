#include "kezBase_StringList.h"

namespace kez {

int TkezStringList::Add(std::string aLine) {
    FLines.push_back(std::move(aLine));
    return Count() - 1;
}

int TkezStringList::AddPair(std::string_view aName, std::string_view aValue) {
    std::string line;
    line.reserve(aName.size() + 1 + aValue.size());
    line.append(aName).push_back(FNameValueSeparator);
    line.append(aValue);
    return Add(std::move(line));
}

void TkezStringList::Delete(int aIndex) {
    FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(aIndex));
}

int TkezStringList::IndexOf(std::string_view aLine) const {
    for (int i = 0; i < Count(); ++i)
        if (FLines[static_cast<size_t>(i)] == aLine) return i;
    return -1;
}

std::string_view TkezStringList::Names(int aIndex) const {
    const std::string_view line = Strings(aIndex);
    return line.substr(0, line.find(FNameValueSeparator));
}

std::string_view TkezStringList::ValueFromIndex(int aIndex) const {
    const std::string_view line = Strings(aIndex);
    const size_t separator = line.find(FNameValueSeparator);
    return separator == std::string_view::npos ? std::string_view() : line.substr(separator + 1);
}

int TkezStringList::IndexOfName(std::string_view aName) const {
    for (int i = 0; i < Count(); ++i)
        if (Names(i) == aName) return i;
    return -1;
}

std::string TkezStringList::Values(std::string_view aName) const {
    const int index = IndexOfName(aName);
    return index < 0 ? std::string() : std::string(ValueFromIndex(index));
}

void TkezStringList::SetValues(std::string_view aName, std::string_view aValue) {
    const int index = IndexOfName(aName);
    if (aValue.empty()) {
        if (index >= 0) Delete(index);
        return;
    }
    std::string line;
    line.append(aName).push_back(FNameValueSeparator);
    line.append(aValue);
    if (index >= 0)
        FLines[static_cast<size_t>(index)] = std::move(line);
    else
        Add(std::move(line));
}

std::string TkezStringList::Text() const {
    std::string text;
    for (const std::string& line : FLines)
        text.append(line).push_back('\n');
    return text;
}

void TkezStringList::SetText(std::string_view aText) {
    Clear();
    while (!aText.empty()) {
        const size_t eol = aText.find('\n');
        std::string_view line = aText.substr(0, eol);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        Add(std::string(line));
        if (eol == std::string_view::npos) break;
        aText.remove_prefix(eol + 1);
    }
}

} // namespace kez
