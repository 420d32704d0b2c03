// A socket client and an AMQP component connected to the tests' own RabbitMQ node (scripts/test-broker, port
// KEZ_TEST_AMQP_PORT), with every AMQP event recorded as a line.
#pragma once

#include "../common/EventLog.h"
#include "kezWebSocket_Protocol_AMQP_Client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>

namespace kez::test {

inline int TestBrokerPort() { return KEZ_TEST_AMQP_PORT; }

// Runs a shell command and returns its standard output and error.
inline std::string CommandOutput(const std::string& aCommand) {
    std::string output;
    if (FILE* pipe = popen((aCommand + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
            output.append(buffer, n);
        pclose(pipe);
    }
    return output;
}

// Runs rabbitmqctl against the tests' node (scripts/test-broker ctl) and returns its standard output.
inline std::string BrokerCtl(const std::string& aArguments) {
    return CommandOutput(std::string(KEZ_TEST_BROKER_SCRIPT " ctl " KEZ_TEST_BROKER_DIR " ") +
                         std::to_string(TestBrokerPort()) + " " + aArguments);
}

// A name no other test uses.
inline std::string UniqueName(const std::string& aPrefix) {
    static std::mt19937_64 random{std::random_device{}()};
    return aPrefix + "-" + std::to_string(random() % 1000000000);
}

class TLiveBroker {
public:
    explicit TLiveBroker(const std::string& aUser = "guest", const std::string& aPassword = "guest",
                         const std::string& aVirtualHost = "/") {
        Client->SetNotifyEvents(neNoSync);
        Client->Specifications().SetRFC6455(false);
        Client->SetHost("127.0.0.1");
        Client->SetPort(TestBrokerPort());
        TkezWSAMQP_Options options;
        options.SetVirtualHost(aVirtualHost);
        AMQP->SetAMQPOptions(options);
        AMQP->OnAMQPAuthentication = [aUser, aPassword](TObject*, TkezAMQPAuthentications,
                                                        TkezAMQPAuthentication&, std::string& User,
                                                        std::string& Password) {
            User = aUser;
            Password = aPassword;
        };
        AMQP->OnAMQPConnect = [this](TObject*) { Log.Add("connect"); };
        AMQP->OnAMQPDisconnect = [this](TObject*, const TkezAMQPFramePayload_Method_ConnectionClose& aClose,
                                        bool aAck) {
            Log.Add("disconnect:" + std::to_string(aClose.ReplyCode()) + ":" + aClose.ReplyText() + ":" +
                    (aAck ? "ack" : "broker"));
        };
        AMQP->OnAMQPException = [this](TObject*, const std::exception& E) {
            Log.Add(std::string("exception:") + E.what());
        };
        AMQP->OnAMQPChannelOpen = [this](TObject*, const std::string& c) { Log.Add("channel-open:" + c); };
        AMQP->OnAMQPChannelClose = [this](TObject*, const std::string& c,
                                          const TkezAMQPFramePayload_Method_ChannelClose& aClose, bool aAck) {
            Log.Add("channel-close:" + c + ":" + std::to_string(aClose.ReplyCode()) + ":" +
                    (aAck ? "ack" : "broker") + ":" + aClose.ReplyText());
        };
        AMQP->SetClient(Client.get());
    }
    ~TLiveBroker() {
        Client->SetActive(false);
        AMQP.reset();
        Client.reset();
        Log.Quiesce();
    }

    // Connects and waits for the AMQP connection to open.
    bool Connect(int aTimeoutMs = 10000) {
        Client->SetActive(true);
        return Log.WaitFor("connect", aTimeoutMs);
    }

    TEventLog Log;
    std::unique_ptr<TkezWebSocketClient> Client = std::make_unique<TkezWebSocketClient>();
    std::unique_ptr<TkezWSPClient_AMQP> AMQP = std::make_unique<TkezWSPClient_AMQP>();
};

} // namespace kez::test
