// A content header payload from the network; what reads must write and read again to the same properties.
#include "kezAMQP_Classes.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

using namespace kez;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
    TkezAMQPFramePayloadType_ContentHeader header;
    try {
        header.Read(TBytesView(aData, aSize));
    } catch (const TkezAMQPException&) {
        return 0;
    }
    TkezAMQPMessageContent message;
    message.SetHeader(&header);
    // Received headers are table text, not JSON; writing them must still never fail or overrun.
    TkezAMQPBasicProperties properties = header.Header();
    properties.SetHeaders("");
    const TBytes written = properties.Write();
    // Start from "all absent", so that a value read as empty or zero compares equal to one not written.
    TkezAMQPBasicProperties again;
    again.SetContentType("");
    again.SetContentEncoding("");
    again.SetDeliveryMode(amqpMDMNone);
    again.SetPriority(0);
    again.Read(written, 0);
    again.SetHeaders("");
    const auto same = [](const TkezAMQPBasicProperties& a, const TkezAMQPBasicProperties& b) {
        return a.ContentType() == b.ContentType() && a.ContentEncoding() == b.ContentEncoding() &&
               a.DeliveryMode() == b.DeliveryMode() && a.Priority() == b.Priority() &&
               a.CorrelationId() == b.CorrelationId() && a.ReplyTo() == b.ReplyTo() &&
               a.Expiration() == b.Expiration() && a.MessageId() == b.MessageId() &&
               a.TimeStamp() == b.TimeStamp() && a.Type() == b.Type() && a.UserId() == b.UserId() &&
               a.AppId() == b.AppId() && a.Reserved() == b.Reserved();
    };
    if (!same(again, properties)) std::abort();
    return 0;
}
