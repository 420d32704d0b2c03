#include "kezBase_FormatSettings.h"

#include <atomic>
#include <clocale>

namespace kez {

namespace {
// 0 until the locale has been read.
std::atomic<char> GDecimalSeparator{0};
} // namespace

char DecimalSeparator() {
    char separator = GDecimalSeparator.load(std::memory_order_relaxed);
    if (separator == 0) {
        const std::lconv* conv = std::localeconv();
        separator = conv && conv->decimal_point && conv->decimal_point[0] ? conv->decimal_point[0] : '.';
        GDecimalSeparator.store(separator, std::memory_order_relaxed);
    }
    return separator;
}

void SetDecimalSeparator(char aSeparator) { GDecimalSeparator.store(aSeparator, std::memory_order_relaxed); }

} // namespace kez
