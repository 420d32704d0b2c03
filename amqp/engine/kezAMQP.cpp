#include "kezAMQP.h"

#include "kezBase_Format.h"

#include <algorithm>
#include <climits>
#include <typeinfo>

namespace kez {

TkezAMQP::TkezAMQP() = default;

TkezAMQP::~TkezAMQP() { ShutdownChannels(); }

void TkezAMQP::ShutdownChannels() {
    if (FChannels) FChannels->Shutdown();
}

TkezAMQPChannelThreads& TkezAMQP::Channels() {
    // Created on first use by the receiving thread or an application thread, whichever comes first.
    std::call_once(FChannelsCreated, [this] {
        auto channels = std::make_unique<TkezAMQPChannelThreads>();
        channels->OnException = [this](TObject* aSender, const std::exception& E) {
            OnChannelThreadExceptionEvent(aSender, E);
        };
        // A worker holds the engine while it handles a frame; null once the engine is going.
        channels->SetOwnerGuard([this]() -> std::shared_ptr<void> { return weak_from_this().lock(); });
        channels->SetFramePool(FFramePool);
        FChannels = std::move(channels);
    });
    return *FChannels;
}

TkezAMQPNegotiatedValues& TkezAMQP::AMQPNegotiatedValues() {
    if (!FNegotiatedDerived.load(std::memory_order_acquire)) {
        std::lock_guard guard(FNegotiatedLock);
        if (!FNegotiatedDerived.load(std::memory_order_relaxed)) {
            FAMQPNegotiatedValues.SetHeartBeat(
                FHeartBeat.Enabled() ? static_cast<uint16_t>(FHeartBeat.Interval()) : 0);
            FAMQPNegotiatedValues.SetMaxChannels(FAMQPOptions.MaxChannels());
            FAMQPNegotiatedValues.SetMaxFrameSize(FAMQPOptions.MaxFrameSize());
            FAMQPNegotiatedValues.SetLocale(FAMQPOptions.Locale());
            FNegotiatedDerived.store(true, std::memory_order_release);
        }
    }
    return FAMQPNegotiatedValues;
}

int32_t TkezAMQP::MaxFrameSizeInForce() {
    return static_cast<int32_t>(std::min<uint32_t>(AMQPNegotiatedValues().MaxFrameSize(), INT32_MAX));
}

TkezAMQPFramePayload_Method_ConnectionClose TkezAMQP::ConnectionClose() const {
    std::lock_guard guard(FConnectionCloseLock);
    return FConnectionClose;
}

void TkezAMQP::SetConnectionClose(uint16_t aReplyCode, const std::string& aReplyText,
                                  TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId) {
    std::lock_guard guard(FConnectionCloseLock);
    FConnectionClose.SetReplyCode(aReplyCode);
    FConnectionClose.SetReplyText(aReplyText);
    FConnectionClose.SetFailClassId(aFailClassId);
    FConnectionClose.SetFailMethodId(aFailMethodId);
}

void TkezAMQP::DoClear() {
    SetConnectionClose(0, {}, amqpClassNone, amqpMethodNone);
    FNegotiatedDerived.store(false, std::memory_order_release);
}

// --- receiving ---

void TkezAMQP::Read(TStream& aData) {
    if (auto* memory = dynamic_cast<TMemoryStream*>(&aData)) {
        const int64_t position = std::min(memory->Position(), memory->Size());
        DoReadBytes(TBytesView(memory->Memory() + position, static_cast<size_t>(memory->Size() - position)));
        memory->Seek(0, soEnd);
        return;
    }
    TBytes bytes(static_cast<size_t>(std::max<int64_t>(aData.Size() - aData.Position(), 0)));
    bytes.resize(static_cast<size_t>(aData.Read(bytes.data(), static_cast<int64_t>(bytes.size()))));
    DoReadBytes(bytes);
}

void TkezAMQP::DoReadBytes(TBytesView aBytes) {
    // Frames are read straight from the block. A frame cut by the block's end gathers its payload in its own
    // buffer as the following blocks bring it; only a header cut in two is set aside.
    TBytesView rest = aBytes;
    size_t offset = 0;
    // Consecutive frames of one channel go to its worker together.
    TkezAMQPFrames& run = FRun;
    const auto flush = [&] {
        Channels().AddFrames(run);
        run.clear();
    };
    const auto addToRun = [&](std::unique_ptr<TkezAMQPFrame> aFrame) {
        if (!run.empty() && run.front()->Header().Channel() != aFrame->Header().Channel()) flush();
        run.push_back(std::move(aFrame));
    };
    try {
        const int32_t maxSize = MaxFrameSizeInForce();
        const auto newFrame = [&] {
            if (FFrameStock.empty()) FFramePool->TakeAll(FFrameStock);
            std::unique_ptr<TkezAMQPFrame> frame;
            if (FFrameStock.empty()) {
                frame = std::make_unique<TkezAMQPFrame>();
                frame->OnReadFrame = [this](TObject* aSender) { OnReadFrameEvent(aSender); };
            } else {
                frame = std::move(FFrameStock.back());
                FFrameStock.pop_back();
            }
            frame->SetMaxSize(maxSize);
            return frame;
        };
        // The header is checked as soon as it is whole, before more octets are gathered for its frame.
        const auto beginPending = [&](TBytesView aHeader) {
            FPending = newFrame();
            FPending->BeginRead(aHeader);
        };
        constexpr size_t headerSize = AMQPFrameHeaderSize;
        if (!FHeaderPart.empty()) {
            const size_t take = std::min(headerSize - FHeaderPart.size(), rest.size());
            FHeaderPart.insert(FHeaderPart.end(), rest.begin(),
                               rest.begin() + static_cast<std::ptrdiff_t>(take));
            rest = rest.subspan(take);
            if (FHeaderPart.size() < headerSize) return;
            beginPending(FHeaderPart);
            FHeaderPart.clear();
        }
        for (;;) {
            if (FPending) {
                size_t taken = 0;
                const bool whole = FPending->ContinueRead(rest.subspan(offset), taken);
                offset += taken;
                if (!whole) break;
                addToRun(std::move(FPending));
            }
            while (rest.size() - offset >= static_cast<size_t>(AMQPFrameOverhead)) {
                auto frame = newFrame();
                // Offsets stay within one block; a block beyond 2 GiB is cut into views the frame reader can
                // address.
                const size_t window = std::min<size_t>(rest.size() - offset, INT32_MAX);
                const int32_t consumed = frame->Read(rest.subspan(offset, window), 0);
                if (consumed == 0) {
                    FFrameStock.push_back(std::move(frame));
                    break;
                }
                offset += static_cast<size_t>(consumed);
                addToRun(std::move(frame));
            }
            const TBytesView tail = rest.subspan(offset);
            if (tail.size() < headerSize) {
                FHeaderPart.assign(tail.begin(), tail.end());
                break;
            }
            beginPending(tail);
            offset += headerSize;
        }
        flush();
    } catch (const std::exception& e) {
        // Frames read before the failing one are delivered as they would have been one by one.
        try {
            flush();
        } catch (...) {}
        // The rest of the block is dropped with the frame that failed.
        FHeaderPart.clear();
        FPending.reset();
        DoException(e);
    }
}

void TkezAMQP::DoException(const std::exception& E) {
    try {
        OnAMQPException.Fire(this, E);
    } catch (...) {
        // A failing exception handler has nothing left to report to.
    }
    if (!Connected() || typeid(E) != typeid(TkezAMQPException)) return;
    const auto& amqp = static_cast<const TkezAMQPException&>(E);
    try {
        Close(static_cast<uint16_t>(amqp.Code()), amqp.what(), amqpClassNone, amqpMethodNone);
    } catch (const std::exception& closeError) {
        try {
            OnAMQPException.Fire(this, closeError);
        } catch (...) {}
    }
}

void TkezAMQP::OnChannelThreadExceptionEvent(TObject* /*Sender*/, const std::exception& E) {
    try {
        OnAMQPException.Fire(this, E);
    } catch (...) {}
}

void TkezAMQP::OnReadFrameEvent(TObject* Sender) {
    auto& frame = *static_cast<TkezAMQPFrame*>(Sender);
    if (OnAMQPBeforeReadFrame) {
        bool handled = false;
        OnAMQPBeforeReadFrame(this, frame, handled);
        if (handled) return;
    }
    switch (frame.Header().Type()) {
    case amqpFrameMethod: DoReadFrameMethod(frame, frame.Payload_Method()); break;
    case amqpFrameHeader: DoReadFrameContentHeader(frame, frame.Payload_ContentHeader()); break;
    case amqpFrameBody: DoReadFrameContentBody(frame, frame.Payload_ContentBody()); break;
    case amqpFrameHeartBeat:
        if (!HeartBeat().Enabled()) break;
        DoReadFrameHeartBeat(frame);
        OnAMQPHeartBeat.Fire(this);
        break;
    case amqpFrameNone: break;
    }
}

void TkezAMQP::DoReadFrameHeartBeat(TkezAMQPFrame& aFrame) {
    if (aFrame.Header().Size() > 0) RaiseAMQPException(501);
}

void TkezAMQP::DoReadFrameMethod(TkezAMQPFrame& aFrame, TkezAMQPFramePayloadType_Method& aMethod) {
    TkezAMQPFramePayload_Method* arguments = aMethod.Payload();
    if (!arguments) return; // a method without an argument class (Basic.Ack or Basic.Cancel from the broker)
    switch (aMethod.MethodId()) {
    case amqpConnClose:
        DoConnectionClose(aFrame, static_cast<TkezAMQPFramePayload_Method_ConnectionClose&>(*arguments));
        break;
    case amqpConnCloseOk:
        DoConnectionCloseOk(aFrame, static_cast<TkezAMQPFramePayload_Method_ConnectionCloseOk&>(*arguments));
        break;
    case amqpChannFlow:
        DoChannelFlow(aFrame, static_cast<TkezAMQPFramePayload_Method_ChannelFlow&>(*arguments));
        break;
    case amqpChannFlowOk:
        DoChannelFlowOk(aFrame, static_cast<TkezAMQPFramePayload_Method_ChannelFlowOk&>(*arguments));
        break;
    case amqpChannClose:
        DoChannelClose(aFrame, static_cast<TkezAMQPFramePayload_Method_ChannelClose&>(*arguments));
        break;
    case amqpChannCloseOk:
        DoChannelCloseOk(aFrame, static_cast<TkezAMQPFramePayload_Method_ChannelCloseOk&>(*arguments));
        break;
    default: break;
    }
}

// --- sending ---

void TkezAMQP::DoWriteBytes(const TBytes& aBytes) { OnAMQPWriteBytes.Fire(this, aBytes); }

void TkezAMQP::DoWritePieces(TBytesPieces aPieces) {
    if (OnAMQPWritePieces) {
        OnAMQPWritePieces(this, aPieces);
        return;
    }
    DoWriteBytes(JoinPieces(aPieces));
}

void TkezAMQP::WriteMethod(uint16_t aChannel, std::unique_ptr<TkezAMQPFramePayload_Method> aArguments) {
    TkezAMQPFrame frame;
    frame.Header().SetType(amqpFrameMethod);
    frame.Header().SetChannel(aChannel);
    frame.Payload_Method().SetPayload(std::move(aArguments));
    DoWriteBytes(frame.Write());
}

void TkezAMQP::Ping() {
    TkezAMQPFrame frame;
    frame.Header().SetType(amqpFrameHeartBeat);
    DoWriteBytes(frame.Write());
}

// --- synchronous requests ---

TkezAMQP::TEntryPtr TkezAMQP::DoGetChannel(const std::string& aChannel) {
    if (auto entry = Channels().GetChannel(aChannel)) return entry;
    throw std::runtime_error(Format("Channel: %s not exists.", {aChannel}));
}

void TkezAMQP::SetWaitRequest(TkezAMQPChannelThreadItem& aEntry, TkezAMQPMethods aMethods) {
    aEntry.WaitRequest().Initialize();
    aEntry.WaitRequest().SetMethods(aMethods);
}

bool TkezAMQP::WaitForRequest(TkezAMQPChannelThreadItem& aEntry, int32_t aTimeout, TkezAMQPMethods aFailSet) {
    TkezAMQPChannelThreadWaitRequest& request = aEntry.WaitRequest();
    bool result = false;
    if (aTimeout > 0 && request.WaitUntil(TkezClock::now() + std::chrono::milliseconds(aTimeout), FConnected))
        result = request.Methods().Contains(request.Method()) && !aFailSet.Contains(request.Method());
    request.Initialize();
    return result;
}

void TkezAMQP::SetWaitRequest(const std::string& aChannel, TkezAMQPMethods aMethods) {
    SetWaitRequest(*DoGetChannel(aChannel), aMethods);
}

bool TkezAMQP::WaitForRequest(const std::string& aChannel, int32_t aTimeout, TkezAMQPMethods aFailSet) {
    return WaitForRequest(*DoGetChannel(aChannel), aTimeout, aFailSet);
}

// --- connection close ---

void TkezAMQP::Close(uint16_t aReplyCode, const std::string& aReplyText, TkezAMQPClass aFailClassId,
                     TkezAMQPMethod aFailMethodId) {
    SetConnectionClose(aReplyCode, aReplyText, aFailClassId, aFailMethodId);
    WriteMethod<TkezAMQPFramePayload_Method_ConnectionClose>(0, [&](auto& aClose) {
        aClose.SetReplyCode(aReplyCode);
        aClose.SetReplyText(aReplyText);
        aClose.SetFailClassId(aFailClassId);
        aClose.SetFailMethodId(aFailMethodId);
    });
}

bool TkezAMQP::CloseEx(uint16_t aReplyCode, const std::string& aReplyText, TkezAMQPClass aFailClassId,
                       TkezAMQPMethod aFailMethodId, int32_t aTimeout) {
    // Channel 0's entry is the unnamed one that the first received frame created.
    TEntryPtr entry = Channels().GetChannel(uint16_t{0});
    if (!entry) throw std::runtime_error(Format("Channel: %s not exists.", {""}));
    SetWaitRequest(*entry, {amqpConnCloseOk});
    Close(aReplyCode, aReplyText, aFailClassId, aFailMethodId);
    return WaitForRequest(*entry, aTimeout, {});
}

void TkezAMQP::DoConnectionClose(TkezAMQPFrame& /*aFrame*/,
                                 TkezAMQPFramePayload_Method_ConnectionClose& aClose) {
    WriteMethod<TkezAMQPFramePayload_Method_ConnectionCloseOk>(0, [](auto&) {});
    SetConnectionClose(aClose.ReplyCode(), aClose.ReplyText(), aClose.FailClassId(), aClose.FailMethodId());
    OnAMQPDisconnect.Fire(this, ConnectionClose(), false);
}

void TkezAMQP::DoConnectionCloseOk(TkezAMQPFrame& /*aFrame*/,
                                   TkezAMQPFramePayload_Method_ConnectionCloseOk&) {
    // A waiting CloseEx has its answer now: the handler below may well take the connection down.
    if (const TEntryPtr entry = Channels().GetChannel(uint16_t{0}))
        entry->WaitRequest().Complete(amqpConnCloseOk);
    OnAMQPDisconnect.Fire(this, ConnectionClose(), true);
}

// --- channel flow and close ---

void TkezAMQP::CloseChannel(const std::string& aChannel, uint16_t aReplyCode, const std::string& aReplyText,
                            TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    WriteMethod<TkezAMQPFramePayload_Method_ChannelClose>(entry->Number(), [&](auto& aClose) {
        aClose.SetReplyCode(aReplyCode);
        aClose.SetReplyText(aReplyText);
        aClose.SetFailClassId(aFailClassId);
        aClose.SetFailMethodId(aFailMethodId);
    });
}

bool TkezAMQP::CloseChannelEx(const std::string& aChannel, uint16_t aReplyCode, const std::string& aReplyText,
                              TkezAMQPClass aFailClassId, TkezAMQPMethod aFailMethodId, int32_t aTimeout) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    SetWaitRequest(*entry, {amqpChannCloseOk});
    CloseChannel(aChannel, aReplyCode, aReplyText, aFailClassId, aFailMethodId);
    return WaitForRequest(*entry, aTimeout, {});
}

void TkezAMQP::EnableChannel(const std::string& aChannel) {
    WriteMethod<TkezAMQPFramePayload_Method_ChannelFlow>(DoGetChannel(aChannel)->Number(),
                                                         [](auto& aFlow) { aFlow.SetActive(true); });
}

bool TkezAMQP::EnableChannelEx(const std::string& aChannel, int32_t aTimeout) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    SetWaitRequest(*entry, {amqpChannFlowOk});
    EnableChannel(aChannel);
    return WaitForRequest(*entry, aTimeout, {});
}

void TkezAMQP::DisableChannel(const std::string& aChannel) {
    WriteMethod<TkezAMQPFramePayload_Method_ChannelFlow>(DoGetChannel(aChannel)->Number(),
                                                         [](auto& aFlow) { aFlow.SetActive(false); });
}

bool TkezAMQP::DisableChannelEx(const std::string& aChannel, int32_t aTimeout) {
    const TEntryPtr entry = DoGetChannel(aChannel);
    SetWaitRequest(*entry, {amqpChannFlowOk});
    DisableChannel(aChannel);
    return WaitForRequest(*entry, aTimeout, {});
}

void TkezAMQP::DoChannelFlow(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelFlow& aFlow) {
    const bool active = aFlow.Active();
    WriteMethod<TkezAMQPFramePayload_Method_ChannelFlowOk>(aFrame.Header().Channel(),
                                                           [&](auto& aFlowOk) { aFlowOk.SetActive(active); });
    if (const TEntryPtr entry = Channels().GetChannel(aFrame.Header().Channel())) {
        entry->SetFlow(active);
        OnAMQPChannelFlow.Fire(this, entry->Channel(), active, false);
    }
}

void TkezAMQP::DoChannelFlowOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelFlowOk& aFlowOk) {
    if (const TEntryPtr entry = Channels().GetChannel(aFrame.Header().Channel())) {
        entry->SetFlow(aFlowOk.Active());
        OnAMQPChannelFlow.Fire(this, entry->Channel(), aFlowOk.Active(), true);
    }
}

void TkezAMQP::DoChannelClose(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelClose& aClose) {
    WriteMethod<TkezAMQPFramePayload_Method_ChannelCloseOk>(aFrame.Header().Channel(), [](auto&) {});
    if (const TEntryPtr entry = Channels().GetChannel(aFrame.Header().Channel())) {
        entry->SetChannelClose(aClose);
        entry->SetMethodId(amqpChannClose);
        // A request on this channel gets no reply now; its waiter must not sit out the time-out. A close of
        // our own crossing the broker's still waits for its CloseOk.
        if (!entry->WaitRequest().Methods().Contains(amqpChannCloseOk))
            entry->WaitRequest().Abandon(amqpChannClose);
        OnAMQPChannelClose.Fire(this, entry->Channel(), aClose, false);
    }
}

void TkezAMQP::DoChannelCloseOk(TkezAMQPFrame& aFrame, TkezAMQPFramePayload_Method_ChannelCloseOk&) {
    const TEntryPtr entry = Channels().GetChannel(aFrame.Header().Channel());
    if (!entry) return;
    entry->SetMethodId(amqpChannCloseOk);
    OnAMQPChannelClose.Fire(this, entry->Channel(), entry->ChannelClose(), true);
    // Complete a waiting CloseChannelEx before the entry leaves the table.
    entry->WaitRequest().Complete(amqpChannCloseOk);
    entry->Terminate();
}

} // namespace kez
