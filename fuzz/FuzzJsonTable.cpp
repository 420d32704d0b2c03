// JSON text from the user written as a field table: whatever the text, the table written must read back.
#include "kezAMQP_Helpers.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace kez;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
    const std::string_view json(reinterpret_cast<const char*>(aData), aSize);
    TBytes table;
    try {
        WriteFieldTableJSON(json, table);
    } catch (const TkezAMQPException& e) {
        if (e.Code() != -1 || !table.empty()) std::abort();
        return 0;
    }
    try {
        int32_t pos = 0;
        ReadFieldTableText(table, pos);
        if (static_cast<size_t>(pos) != table.size()) std::abort();
    } catch (const TkezAMQPException&) {
        std::abort();
    }
    return 0;
}
