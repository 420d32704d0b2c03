// The main-thread dispatch of the library on Qt's event loop: posted calls run in the GUI thread's loop, sent
// calls run there while their thread waits, and both run at once when made on the GUI thread.
#pragma once

#include "kezBase_MainThread.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace kez {

class TkezQtMainThreadDispatcher : public TkezMainThreadDispatcher {
public:
    bool IsMainThread() const override;
    void Post(std::function<void()> aCall) override;
    void Send(std::function<void()> aCall) override;
    // Runs the sent calls whose threads wait, without entering the event loop: the GUI thread may wait for
    // such a thread (a blocking AMQP call, a stop that joins a worker).
    void RunWaitingCalls() override;

    // Installs one for the running QApplication.
    static void Install();

private:
    struct TSent {
        std::function<void()> Call;
        bool Done = false;
    };
    std::mutex FLock;
    std::condition_variable FRan;
    std::deque<std::shared_ptr<TSent>> FSent;
};

} // namespace kez
