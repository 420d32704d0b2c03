#include "kezQt_MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace kez {

bool TkezQtMainThreadDispatcher::IsMainThread() const {
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void TkezQtMainThreadDispatcher::Post(std::function<void()> aCall) {
    if (IsMainThread()) {
        aCall();
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(aCall), Qt::QueuedConnection);
}

void TkezQtMainThreadDispatcher::Send(std::function<void()> aCall) {
    if (IsMainThread()) {
        aCall();
        return;
    }
    auto sent = std::make_shared<TSent>();
    sent->Call = std::move(aCall);
    {
        std::lock_guard guard(FLock);
        FSent.push_back(sent);
    }
    // The loop runs it, unless the GUI thread finds it first while it waits itself.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this] { RunWaitingCalls(); }, Qt::QueuedConnection);
    std::unique_lock lock(FLock);
    FRan.wait(lock, [&] { return sent->Done; });
}

void TkezQtMainThreadDispatcher::RunWaitingCalls() {
    for (;;) {
        std::shared_ptr<TSent> next;
        {
            std::lock_guard guard(FLock);
            if (FSent.empty()) return;
            next = std::move(FSent.front());
            FSent.pop_front();
        }
        try {
            next->Call();
        } catch (...) {
            // The waiting thread is released all the same; the call reports its own errors.
        }
        {
            std::lock_guard guard(FLock);
            next->Done = true;
        }
        FRan.notify_all();
    }
}

void TkezQtMainThreadDispatcher::Install() {
    SetMainThreadDispatcher(std::make_shared<TkezQtMainThreadDispatcher>());
}

} // namespace kez
