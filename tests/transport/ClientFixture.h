// A socket client in raw TCP mode aimed at a loopback server, with every event recorded as a line.
#pragma once

#include "../common/EventLog.h"
#include "LoopbackServer.h"
#include "kezWebSocket_Client.h"

#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <gtest/gtest.h>

namespace kez::test {

// The threads of this process.
inline int ThreadCount() {
    int count = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks))
            if (entry->d_name[0] != '.') ++count;
        ::closedir(tasks);
    }
    return count;
}

// The names of this process's threads, for failure messages.
inline std::string ThreadNames() {
    std::string names;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) {
            if (entry->d_name[0] == '.') continue;
            if (FILE* comm =
                    std::fopen(("/proc/self/task/" + std::string(entry->d_name) + "/comm").c_str(), "r")) {
                char name[64] = {};
                if (std::fgets(name, sizeof name, comm))
                    names += std::string(name, std::strcspn(name, "\n")) + ";";
                std::fclose(comm);
            }
        }
        ::closedir(tasks);
    }
    return names;
}

class TClientFixture {
public:
    explicit TClientFixture(TwsNotifyEvent aMode = neNoSync) {
        Client->SetNotifyEvents(aMode);
        Client->Specifications().SetRFC6455(false);
        Client->SetHost("127.0.0.1");
        Client->SetPort(Server.Port());
        Client->OnConnect = [this](const TkezWSConnectionPtr&) { Record("connect"); };
        Client->OnDisconnect = [this](const TkezWSConnectionPtr&, int) { Record("disconnect"); };
        Client->OnBinary = [this](const TkezWSConnectionPtr&, TMemoryStream& aData) {
            {
                std::lock_guard guard(ReceivedLock);
                Received.insert(Received.end(), aData.Bytes().begin(), aData.Bytes().end());
            }
            Record("binary:" + std::to_string(aData.Size()));
        };
        Client->OnError = [this](const TkezWSConnectionPtr& aConnection, const std::string& aError) {
            Record(std::string("error:") + (aConnection ? "conn:" : "none:") + aError);
        };
        Client->OnException = [this](const TkezWSConnectionPtr& aConnection, const std::exception& E) {
            Record(std::string("exception:") + (aConnection ? "conn:" : "none:") + E.what());
        };
    }
    ~TClientFixture() {
        Client.reset();
        Log.Quiesce();
    }

    // Records the event and the thread it ran on.
    void Record(const std::string& aEvent) {
        {
            std::lock_guard guard(ReceivedLock);
            Threads.push_back(std::this_thread::get_id());
        }
        Log.Add(aEvent);
    }
    TBytes ReceivedBytes() {
        std::lock_guard guard(ReceivedLock);
        return Received;
    }

    TEventLog Log;
    TLoopbackServer Server;
    std::mutex ReceivedLock;
    TBytes Received;
    std::vector<std::thread::id> Threads;
    std::unique_ptr<TkezWebSocketClient> Client = std::make_unique<TkezWebSocketClient>();
};

} // namespace kez::test
