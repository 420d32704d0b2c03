// The connection object: every byte of a socket client's connection passes through it, and it is handed to
// every transport event. In raw TCP mode it reads whatever bytes have arrived and hands them on unframed,
// and writes go out as one buffered socket write under its main lock.
//
// Connections are held in shared ownership: a handler that received one may use it until it returns (and keep
// it longer by copying the pointer), and a reader or writer racing a disconnect never touches freed memory.
#pragma once

#include "kezBase_Clock.h"
#include "kezBase_Streams.h"
#include "kezSocket_Errors.h"
#include "kezTCP_Client.h"
#include "kezWebSocket_Classes_Options.h"
#include "kezWebSocket_Classes_Queues.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace kez {

enum TwsTransport : uint8_t { trpUndefined, trpRFC6455, trpHixie76, trpRFC8441, trpTCP };
enum TwsSpecification : uint8_t { spRFC6455, spHixie76, spRFC8441 };
enum TtcpEOFScanBuffer : uint8_t { eofScanNone, eofScanLatestBytes, eofScanAllBytes };
enum TwsStreaming : uint8_t { stmNone, stmFirst, stmContinue, stmLast, stmContinueAndLast };
enum TOpcode : uint8_t { opContinuation, opText, opBinary, opClose, opPing, opPong, opNone };

// Wall-clock time of the ping book-keeping; the epoch (zero) means "never".
using TkezDateTime = std::chrono::system_clock::time_point;

// The transport's own exception, raised by a disconnect that is given a message.
class TkezWSException : public EkezSocketLayerError {
public:
    using EkezSocketLayerError::EkezSocketLayerError;
    std::shared_ptr<std::exception> Clone() const override {
        return std::make_shared<TkezWSException>(*this);
    }
};

class TkezWSConnection;
using TkezWSConnectionPtr = std::shared_ptr<TkezWSConnection>;

class TkezWSConnection : public TObject, public std::enable_shared_from_this<TkezWSConnection> {
public:
    TkezWSConnection();
    ~TkezWSConnection() override;
    TkezWSConnection(const TkezWSConnection&) = delete;
    TkezWSConnection& operator=(const TkezWSConnection&) = delete;

    // --- locks: the main lock is held for one whole write ---
    void EnterCS() { DoEnterCS(); }
    void LeaveCS() { DoLeaveCS(); }
    void EnterCS(int aIndex) { DoEnterCS(aIndex); }
    void LeaveCS(int aIndex) { DoLeaveCS(aIndex); }

    // --- identity and state ---
    KEZ_PROPERTY(bool, IsInternal, false)
    KEZ_PROPERTY(TwsTransport, Transport, trpUndefined)
    KEZ_PROPERTY(TwsSpecification, Specification, spRFC6455)
    KEZ_PROPERTY(bool, Masked, true)
    KEZ_PROPERTY(std::string, Protocol)
    KEZ_PROPERTY(bool, RaiseDisconnectExceptions, true)
    KEZ_PROPERTY(bool, CleanDisconnect, false)
    KEZ_PROPERTY(bool, ValidateUTF8, false)
    KEZ_PROPERTY(TkezWSFragmentedMessages, FragmentedMessages, frgOnlyBuffer)
    KEZ_PROPERTY(int, CloseCode, 0)
    KEZ_PROPERTY(std::string, CloseReason)
    KEZ_PROPERTY(bool, NotifyConnection, true)
    KEZ_PROPERTY(bool, NotifyDisconnection, true)
    // Milliseconds the read loop waits for further bytes before it returns to the read thread.
    KEZ_PROPERTY(int, ReadTimeOut, 10)
    KEZ_PROPERTY(std::string, Host)
    KEZ_PROPERTY(uint16_t, Port)
    KEZ_PROPERTY(TtcpEOFScanBuffer, TCPEndOfFrameScanBuffer, eofScanNone)
    KEZ_PROPERTY(TkezWSOptionsClient, Options)
    KEZ_PROPERTY(TkezWSQueueClient_Options, QueueOptions)
    // Free for the application.
    KEZ_PROPERTY(std::shared_ptr<TObject>, Data)
public:
    // 32 hexadecimal digits, made on first read.
    std::string Guid();
    std::string IP() const;
    uint16_t PeerPort() const;
    std::string LocalIP() const;
    uint16_t LocalPort() const;
    TkezIPVersion IPVersion() const;

    bool Enabled() const noexcept { return FEnabled.load(std::memory_order_acquire); }
    bool Disconnected() const noexcept { return FDisconnected.load(std::memory_order_acquire); }
    void SetDisconnected(bool aValue) noexcept { FDisconnected.store(aValue, std::memory_order_release); }
    bool MustDisconnect() const noexcept { return FMustDisconnect.load(std::memory_order_acquire); }
    void SetMustDisconnect(bool aValue) noexcept { FMustDisconnect.store(aValue, std::memory_order_release); }
    // Set by the component that freed the connection after delivering its disconnect.
    bool Freed() const noexcept { return FFreed.load(std::memory_order_acquire); }
    void SetFreed() noexcept { FFreed.store(true, std::memory_order_release); }

    uint64_t RecBytes() const noexcept { return FRecBytes.load(std::memory_order_relaxed); }
    uint64_t SendBytes() const noexcept { return FSendBytes.load(std::memory_order_relaxed); }

    // --- what is being reported (copies; each is set by the reporting thread before delivery) ---
    std::string MsgReceived() const;
    void SetMsgReceived(std::string aText);
    std::string MsgError() const;
    void SetMsgError(std::string aText);
    std::string MsgException() const;
    void SetMsgException(std::string aText);
    std::shared_ptr<std::exception> RawException() const;
    void SetRawException(std::shared_ptr<std::exception> aException);
    // The last block of received bytes; written by the read thread only.
    TMemoryStream& MsgBinaryReceived() noexcept { return FMsgBinaryReceived; }

    // Waits up to aTimeoutMs until aCondition holds, looking again whenever a received text or pong is set.
    bool WaitForChange(const std::function<bool()>& aCondition, int aTimeoutMs);

    // --- ping book-keeping ---
    TkezDateTime FirstPing() const;
    void SetFirstPing(TkezDateTime aTime);
    TkezDateTime LastPing() const;
    TkezDateTime LastPong() const;
    void SetLastPong(TkezDateTime aTime);
    std::string Pong() const;

    // --- delimiter scanning of received bytes ---
    const TBytes& TCPEndOfFrame() const noexcept { return FTCPEndOfFrame; }
    void AddTCPEndOfFrame(uint8_t aByte) { FTCPEndOfFrame.push_back(aByte); }
    void ClearTCPEndOfFrame() { FTCPEndOfFrame.clear(); }

    // Per-connection storage of protocol components; its items go with the connection.
    TkezQueue<TkezQueueItemBase>& ProtocolData();

    // --- operations ---
    // Reads the bytes that have arrived and hands them on, while more keep coming; on the read thread.
    virtual void DoReadData();
    // Text goes out as its UTF-8 octets; a stream whole, from its start. One write, under the main lock.
    void WriteData(const std::string& aText, int64_t aSize = 0, TwsStreaming aStreaming = stmNone);
    void WriteData(TStream& aStream, int64_t aSize = 0, TwsStreaming aStreaming = stmNone);
    void WriteData(TBytesView aBytes) { DoWriteData(TBytesPieces(&aBytes, 1)); }
    // One block of pieces, written whole like the others.
    void WriteData(TBytesPieces aPieces) { DoWriteData(aPieces); }
    void Ping(const std::string& aText) { DoPing(aText); }
    void Close() { Close(1000); }
    void Close(int aCode);
    void Disconnect() { Disconnect(1000); }
    void Disconnect(int aCode);
    // After a reported error: starts a disconnect unless one has started.
    virtual void DoErrorDisconnect();
    virtual void DisconnectPeer(bool aCallOnDisconnectIfClosed);
    bool HasTCPConnection() const;
    void ClearInputBuffer();

    // --- callbacks, wired by the socket client ---
    TNotifyEvent OnEnabled;
    TNotifyEvent OnBeforeDisconnect;
    TNotifyEvent OnBinary;
    TNotifyEvent OnMessage;
    TNotifyEvent OnFragmented;
    TNotifyEvent OnHandshake;
    TNotifyEvent OnRedirect;

protected:
    virtual void DoEnterCS() { FLocks[0].Acquire(); }
    virtual void DoLeaveCS() { FLocks[0].Release(); }
    virtual void DoEnterCS(int aIndex) { FLocks.at(static_cast<size_t>(aIndex) + 1).Acquire(); }
    virtual void DoLeaveCS(int aIndex) { FLocks.at(static_cast<size_t>(aIndex) + 1).Release(); }
    virtual void DoPing(const std::string& aText);
    virtual void DoWriteData(TBytesPieces aPieces);
    virtual void DoDisconnect(const std::string& aMsg, int aCode);
    virtual void DoClose(int aCode);
    // Takes up to aCount octets out of the input buffer and counts them.
    TBytes ReadBytes(size_t aCount);
    void WriteBytes(TBytesPieces aPieces);
    void BeginWrite();
    void FlushWrite();
    void EndWrite();
    void ReadTCPData();
    // Binds the connection to its TCP connection (by TkezWSConnectionClient::DoInitialize).
    void Bind(std::shared_ptr<TkezVoxTCPClient> aTCPClient);
    void Enable();

    std::shared_ptr<TkezVoxTCPClient> TCPClient() const;
    std::shared_ptr<TkezIOHandlerSocket> Handler() const;

private:
    void HandOnBlock(TBytes aBlock);

    std::array<TkezCriticalSection, 7> FLocks;
    mutable std::mutex FFieldLock; // the texts, the exception, the ping times and the bound objects
    std::condition_variable FFieldChanged;
    uint64_t FChanges = 0;
    std::string FGuid;
    std::atomic<bool> FEnabled{false};
    std::atomic<bool> FDisconnected{false};
    std::atomic<bool> FMustDisconnect{false};
    std::atomic<bool> FFreed{false};
    std::atomic<bool> FDisconnectStarted{false};
    std::atomic<bool> FBeforeDisconnectFired{false};
    std::atomic<uint64_t> FRecBytes{0};
    std::atomic<uint64_t> FSendBytes{0};
    std::string FMsgReceived;
    std::string FMsgError;
    std::string FMsgException;
    std::shared_ptr<std::exception> FRawException;
    TMemoryStream FMsgBinaryReceived;
    TMemoryStream FMessageStream;
    TBytes FScanBuffer;
    TBytes FTCPEndOfFrame;
    TkezDateTime FFirstPing{};
    TkezDateTime FLastPing{};
    TkezDateTime FLastPong{};
    std::string FPong;
    std::string FIP;
    uint16_t FPeerPort = 0;
    std::string FLocalIP;
    uint16_t FLocalPort = 0;
    TkezIPVersion FIPVersion = ipv4;
    std::shared_ptr<TkezVoxTCPClient> FTCPClient;
    std::shared_ptr<TkezIOHandlerSocket> FHandler;
    std::unique_ptr<TkezQueue<TkezQueueItemBase>> FProtocolData;
};

class TkezWSConnectionClient : public TkezWSConnection {
public:
    // Binds the connection to the TCP client's connection and reads the peer's address; in raw TCP mode it is
    // then enabled, which fires OnEnabled.
    void DoInitialize(std::shared_ptr<TkezVoxTCPClient> aTCPClient);
};

} // namespace kez
