// Received octets cut into frames the way the engine cuts them, each frame parsed into its payload kind and,
// for content, assembled into a message. Any input must end in frames or a TkezAMQPException, nothing else.
#include "kezAMQP_Classes.h"

#include <cstddef>
#include <cstdint>

using namespace kez;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize) {
    const TBytesView bytes(aData, aSize);
    TkezAMQPMessageContent message;
    int32_t offset = 0;
    try {
        while (bytes.size() - static_cast<size_t>(offset) >= AMQPFrameOverhead) {
            TkezAMQPFrame frame;
            frame.SetMaxSize(131072);
            const int32_t n = frame.Read(bytes, offset);
            if (n == 0) break;
            offset += n;
            try {
                frame.DoReadPayload();
                switch (frame.Header().Type()) {
                case amqpFrameMethod:
                    if (auto* basic = frame.Payload_Method().PayloadAs<TkezAMQPFramePayload_Method_Basic>()) {
                        message.Clear();
                        message.SetPayload(basic);
                    }
                    break;
                case amqpFrameHeader: message.SetHeader(&frame.Payload_ContentHeader()); break;
                case amqpFrameBody:
                    message.TakeBody(frame.Payload_ContentBody());
                    message.Body().AsString();
                    break;
                default: break;
                }
            } catch (const TkezAMQPException&) {
                // A bad payload spoils one frame, not the stream.
            }
        }
    } catch (const TkezAMQPException&) {}
    return 0;
}
