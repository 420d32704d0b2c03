// The transport-free core of the AMQP 0-9-1 client. It never touches a socket: Read takes the octets that
// arrived, OnAMQPWriteBytes hands out every block to send. In between it cuts the stream into frames, queues
// each on its channel's worker, and dispatches the parsed frames by type to virtual steps.
//
// Create engines with TkezAMQP_Client::Create: they are shared-owned, and a worker handling a frame holds the
// engine, so releasing it from any thread (even from its own event handler) is safe.
#pragma once

#include "kezAMQP_Channels.h"
#include "kezAMQP_Events.h"
#include "kezAMQP_Options.h"
#include "kezBase_Streams.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace kez {

class TkezAMQP : public TObject, public std::enable_shared_from_this<TkezAMQP> {
public:
    ~TkezAMQP() override;
    TkezAMQP(const TkezAMQP&) = delete;
    TkezAMQP& operator=(const TkezAMQP&) = delete;

    // --- received data: one call per received block, blocks in arrival order, from one thread ---
    void Read(TBytesView aBytes) { DoReadBytes(aBytes); }
    // The octets from the stream's position to its end.
    void Read(TStream& aData);

    // Writes one heartbeat frame.
    void Ping();
    // Forgets the connection-close record and the negotiated values; channels and pending octets stay.
    void Clear() { DoClear(); }

    // --- connection close ---
    void Close(uint16_t aReplyCode, const std::string& aReplyText, TkezAMQPClass aFailClassId,
               TkezAMQPMethod aFailMethodId);
    // Also waits up to aTimeout ms for Connection.CloseOk.
    bool CloseEx(uint16_t aReplyCode, const std::string& aReplyText, TkezAMQPClass aFailClassId,
                 TkezAMQPMethod aFailMethodId, int32_t aTimeout);

    // --- channels (opening is TkezAMQP_Client's) ---
    void CloseChannel(const std::string& aChannel, uint16_t aReplyCode, const std::string& aReplyText,
                      TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId);
    bool CloseChannelEx(const std::string& aChannel, uint16_t aReplyCode, const std::string& aReplyText,
                        TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId, int32_t aTimeout);
    void EnableChannel(const std::string& aChannel);
    bool EnableChannelEx(const std::string& aChannel, int32_t aTimeout);
    void DisableChannel(const std::string& aChannel);
    bool DisableChannelEx(const std::string& aChannel, int32_t aTimeout);

    // --- properties ---
    TkezAMQPChannelThreads& Channels();
    // Configuration: set before Connect.
    TkezAMQPOptions& AMQPOptions() noexcept { return FAMQPOptions; }
    void SetAMQPOptions(const TkezAMQPOptions& aValue) { FAMQPOptions.Assign(aValue); }
    TkezAMQPHeartBeat& HeartBeat() noexcept { return FHeartBeat; }
    void SetHeartBeat(const TkezAMQPHeartBeat& aValue) { FHeartBeat.Assign(aValue); }
    // The values in force: derived from the options until the handshake sets them, and again after Clear.
    TkezAMQPNegotiatedValues& AMQPNegotiatedValues();
    // The last connection close sent or received (a copy).
    TkezAMQPFramePayload_Method_ConnectionClose ConnectionClose() const;
    bool Connected() const noexcept { return FConnected.load(std::memory_order_acquire); }

    // --- events ---
    TkezAMQPBeforeReadFrameEvent OnAMQPBeforeReadFrame;
    TkezAMQPChannelEvent OnAMQPChannelOpen;
    TkezAMQPChannelCloseEvent OnAMQPChannelClose;
    TkezAMQPDisconnectEvent OnAMQPDisconnect;
    TkezAMQPHeartBeatEvent OnAMQPHeartBeat;
    TkezAMQPWriteBytesEvent OnAMQPWriteBytes;
    // Optional: a large message to publish comes here as pieces, to be sent in order as one block, its body
    // not copied. While unassigned, the pieces are joined into one block for OnAMQPWriteBytes.
    TkezAMQPWritePiecesEvent OnAMQPWritePieces;
    TkezAMQPChannelFlowEvent OnAMQPChannelFlow;
    TkezAMQPExceptionEvent OnAMQPException;

protected:
    TkezAMQP();

    using TEntryPtr = std::shared_ptr<TkezAMQPChannelThreadItem>;

    // The entry of a channel name; raises "Channel: %s not exists." when there is none.
    virtual TEntryPtr DoGetChannel(const std::string& aChannel);
    virtual void OnChannelThreadExceptionEvent(TObject* Sender, const std::exception& E);
    // Every parsed frame comes here, on its channel's worker.
    virtual void OnReadFrameEvent(TObject* Sender);
    virtual void DoReadFrameMethod(TkezAMQPFrame& aFrame, TkezAMQPFramePayloadType_Method& aMethod);
    virtual void DoReadFrameContentHeader(TkezAMQPFrame& aFrame,
                                          TkezAMQPFramePayloadType_ContentHeader& aHeader) = 0;
    virtual void DoReadFrameContentBody(TkezAMQPFrame& aFrame,
                                        TkezAMQPFramePayloadType_ContentBody& aBody) = 0;
    virtual void DoReadFrameHeartBeat(TkezAMQPFrame& aFrame);
    virtual void DoReadBytes(TBytesView aBytes);
    virtual void DoClear();
    virtual void DoWriteBytes(const TBytes& aBytes);
    virtual void DoWritePieces(TBytesPieces aPieces);
    // An exception on the receive path: reported, then answered with Connection.Close while connected.
    virtual void DoException(const std::exception& E);

    // Control methods the broker may send on its own.
    virtual void DoConnectionClose(TkezAMQPFrame& aFrame,
                                   TkezAMQPFramePayload_Method_ConnectionClose& aClose);
    virtual void DoConnectionCloseOk(TkezAMQPFrame& aFrame,
                                     TkezAMQPFramePayload_Method_ConnectionCloseOk& aCloseOk);
    virtual void DoChannelFlow(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelFlow& aFlow);
    virtual void DoChannelFlowOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelFlowOk& aFlowOk);
    virtual void DoChannelClose(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelClose& aClose);
    virtual void DoChannelCloseOk(TkezAMQPFrame& aFrame,
                                  TkezAMQPFramePayload_Method_ChannelCloseOk& aCloseOk);

    // --- synchronous requests ---
    void SetWaitRequest(const std::string& aChannel, TkezAMQPMethods aMethods);
    bool WaitForRequest(const std::string& aChannel, int32_t aTimeout, TkezAMQPMethods aFailSet);
    void SetWaitRequest(TkezAMQPChannelThreadItem& aEntry, TkezAMQPMethods aMethods);
    bool WaitForRequest(TkezAMQPChannelThreadItem& aEntry, int32_t aTimeout, TkezAMQPMethods aFailSet);

    // --- writing ---
    // One method frame on aChannel, written with one DoWriteBytes call.
    void WriteMethod(uint16_t aChannel, std::unique_ptr<TkezAMQPFramePayload_Method> aArguments);
    template <typename T, typename Fill>
    void WriteMethod(uint16_t aChannel, Fill&& aFill) {
        auto arguments = std::make_unique<T>();
        aFill(*arguments);
        WriteMethod(aChannel, std::move(arguments));
    }
    // The frame size limit in force, as the signed size a frame check takes.
    int32_t MaxFrameSizeInForce();
    // Copies the connection-close record's four values.
    void SetConnectionClose(uint16_t aReplyCode, const std::string& aReplyText, TkezAMQPClass aFailClassId,
                            TkezAMQPMethod aFailMethodId);
    // Stops every channel worker; descendants call it first in their destructor.
    void ShutdownChannels();

    std::atomic<bool> FConnected{false};

private:
    std::once_flag FChannelsCreated;
    std::unique_ptr<TkezAMQPChannelThreads> FChannels;
    // The incomplete tail of the received stream: a frame whose header has come and whose payload is
    // gathering, or the first octets of a header.
    std::unique_ptr<TkezAMQPFrame> FPending;
    TBytes FHeaderPart;
    // The receiving side's frames: made or reused from the pool, gathered into runs of one channel.
    std::shared_ptr<TkezAMQPFramePool> FFramePool = std::make_shared<TkezAMQPFramePool>();
    TkezAMQPFrames FFrameStock;
    TkezAMQPFrames FRun;
    mutable std::mutex FConnectionCloseLock;
    TkezAMQPFramePayload_Method_ConnectionClose FConnectionClose;
    TkezAMQPHeartBeat FHeartBeat;
    TkezAMQPOptions FAMQPOptions;
    std::mutex FNegotiatedLock;
    std::atomic<bool> FNegotiatedDerived{false};
    TkezAMQPNegotiatedValues FAMQPNegotiatedValues;
};

} // namespace kez
