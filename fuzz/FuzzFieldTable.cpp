// A field table from the network, read into a name=value list and into table text.
#include "kezAMQP_Helpers.h"

#include <cstddef>
#include <cstdint>

using namespace kez;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
    const TBytesView bytes(aData, aSize);
    try {
        TkezStringList list;
        int32_t pos = 0;
        ReadFieldTable(bytes, pos, list);
    } catch (const TkezAMQPException&) {}
    try {
        int32_t pos = 0;
        ReadFieldTableText(bytes, pos);
    } catch (const TkezAMQPException&) {}
    try {
        int32_t pos = 0;
        ReadFieldArrayText(bytes, pos);
    } catch (const TkezAMQPException&) {}
    return 0;
}
