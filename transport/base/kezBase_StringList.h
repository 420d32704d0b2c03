// An ordered list of text lines with name=value helpers (server and client properties, settings).
#pragma once

#include "kezBase_Classes.h"

#include <string>
#include <string_view>
#include <vector>

namespace kez {

class TkezStringList : public TObject {
public:
    using const_iterator = std::vector<std::string>::const_iterator;

    int Count() const noexcept { return static_cast<int>(FLines.size()); }
    const std::string& Strings(int aIndex) const { return FLines.at(static_cast<size_t>(aIndex)); }
    const std::string& operator[](int aIndex) const { return Strings(aIndex); }
    void SetStrings(int aIndex, std::string aLine) {
        FLines.at(static_cast<size_t>(aIndex)) = std::move(aLine);
    }

    int Add(std::string aLine);
    int AddPair(std::string_view aName, std::string_view aValue);
    void Delete(int aIndex);
    void Clear() noexcept { FLines.clear(); }
    int IndexOf(std::string_view aLine) const;

    char NameValueSeparator() const noexcept { return FNameValueSeparator; }
    void SetNameValueSeparator(char aSeparator) noexcept { FNameValueSeparator = aSeparator; }

    // The part before the first separator; a line without separator is all name.
    std::string_view Names(int aIndex) const;
    // The part after the first separator; empty when there is none.
    std::string_view ValueFromIndex(int aIndex) const;
    int IndexOfName(std::string_view aName) const;
    // The value of the first line named aName, or empty.
    std::string Values(std::string_view aName) const;
    // Replaces the value of the first line named aName or appends a line; an empty value deletes the line.
    void SetValues(std::string_view aName, std::string_view aValue);

    // The lines joined by "\n"; SetText splits at "\n" and drops a "\r" before it.
    std::string Text() const;
    void SetText(std::string_view aText);

    const_iterator begin() const noexcept { return FLines.begin(); }
    const_iterator end() const noexcept { return FLines.end(); }

private:
    std::vector<std::string> FLines;
    char FNameValueSeparator = '=';
};

} // namespace kez
