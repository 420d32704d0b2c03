#include "kezTCP_Client.h"

#include "kezSocket_Errors.h"

#include <pthread.h>
#include <sched.h>

namespace kez {

// --- read thread ---

TkezTCPReadThread::TkezTCPReadThread(std::weak_ptr<TkezVoxTCPClient> aClient, TkezTCPMode aMode)
    : TkezVoxThread(true, "TCP read"), FClient(std::move(aClient)), FMode(aMode) {}

void TkezTCPReadThread::DoReadMessage() {
    SetIsExecuting(true);
    try {
        OnReadMessage.Fire(this);
    } catch (...) {
        SetIsExecuting(false);
        throw;
    }
    SetIsExecuting(false);
}

void TkezTCPReadThread::DoReadException(const std::exception& E) {
    SetIsExecuting(true);
    try {
        OnReadException.Fire(this, E);
    } catch (...) {
        // The report of the error that ends the thread has nowhere further to go.
    }
    SetIsExecuting(false);
}

void TkezTCPReadThread::Execute() {
    // A batch thread is not let in ahead of the running thread when data arrives: it runs once a core is free
    // or at the next scheduling point, and then takes in everything that came meanwhile. Run with the usual
    // wake-up preemption, it would interrupt a sender on the same cores (a local broker) after each of its
    // writes and read a few messages per wake-up, each wake-up costing a hand-over to a channel's worker too.
    // On idle cores, data is taken in as soon as it comes either way. Where the policy cannot be set, the
    // thread keeps the usual one.
    const sched_param unused{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &unused);
    TkezVoxThread::Execute();
}

void TkezTCPReadThread::Run() {
    FExecuted.store(true, std::memory_order_release);
    std::shared_ptr<TkezVoxTCPClient> client = FClient.lock();
    if (!client) {
        Terminate();
        return;
    }
    try {
        if (!Terminated()) OnReadThread.Fire(this);
        if (!ReadSocket.load(std::memory_order_acquire)) {
            SleepUntilTerminated(std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
            return;
        }
        const std::shared_ptr<TkezIOHandlerSocket> handler = client->IOHandler();
        if (!Terminated() && handler->InputBufferIsEmpty()) {
            std::lock_guard guard(client->FLock);
            handler->CheckForDataOnSource(10);
        }
        if (!Terminated() && !handler->InputBufferIsEmpty()) DoReadMessage();
        if (Terminated()) return;
        handler->CheckForDisconnect(true, false);
    } catch (const std::exception& e) {
        // One reported error ends the read thread.
        if (!Terminated()) Terminate();
        DoReadException(e);
    }
}

// --- TCP client object ---

TkezVoxTCPClient::~TkezVoxTCPClient() { StopReadThread(5000); }

std::shared_ptr<TkezTCPReadThread> TkezVoxTCPClient::ReadThread() const {
    std::lock_guard guard(FThreadLock);
    return FReadThread;
}

void TkezVoxTCPClient::StopReadThread(int aTimeoutMs) {
    std::shared_ptr<TkezTCPReadThread> thread;
    {
        std::lock_guard guard(FThreadLock);
        thread = std::move(FReadThread);
    }
    if (!thread) return;
    thread->Terminate();
    if (thread->IsCurrentThread() || thread->IsExecuting() || !thread->WaitFor(aTimeoutMs))
        thread->SetFreeOnTerminate(true);
}

void TkezVoxTCPClient::Connect() {
    StopReadThread(5000);
    TkezSocketTCPClient::Connect();
    try {
        auto thread = std::make_shared<TkezTCPReadThread>(weak_from_this(), FMode);
        std::weak_ptr<TkezVoxTCPClient> weak = weak_from_this();
        thread->OnReadThread = [weak](TObject*) {
            if (auto client = weak.lock()) client->DoThreadEvent();
        };
        thread->OnReadMessage = [weak](TObject*) {
            if (auto client = weak.lock()) client->DoReadEvent();
        };
        thread->OnReadException = [weak](TObject*, const std::exception& E) {
            if (auto client = weak.lock()) client->DoReadExceptionEvent(E);
        };
        {
            std::lock_guard guard(FThreadLock);
            FReadThread = thread;
        }
        thread->Start();
        thread->ReadSocket.store(true, std::memory_order_release);
    } catch (...) {
        Disconnect(true);
        throw;
    }
}

bool TkezVoxTCPClient::Connected() {
    std::lock_guard guard(FLock);
    return TkezSocketTCPClient::Connected();
}

void TkezVoxTCPClient::Disconnect(bool aNotifyPeer) {
    if (const auto thread = ReadThread()) thread->Terminate();
    TkezSocketTCPClient::Disconnect(aNotifyPeer);
    IOHandler()->ClearInputBuffer();
    StopReadThread(5000);
}

} // namespace kez
