// The tests' RabbitMQ node reached over TLS and through the tests' real proxies (scripts/test-proxies), with
// the certificates of scripts/test-certs. Transport errors land in the log as "client-exception:<text>".
#pragma once

#include "LiveBroker.h"

#include <gmock/gmock.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kez::test {

inline std::string CertFile(const std::string& aName) { return std::string(KEZ_TEST_CERT_DIR "/") + aName; }

// TLS listener of the tests' node: TLS 1.2 and 1.3, a client certificate required.
inline constexpr int TLSPort = KEZ_TEST_AMQP_PORT - 1;
inline constexpr int HttpProxyPort = 26681;
inline constexpr int Socks5ProxyPort = 26682;
inline constexpr int Socks5AuthProxyPort = 26683;
inline constexpr int Socks4ProxyPort = 26684;
// OpenSSH's dynamic forwarding: SOCKS 4, 4A and 5.
inline constexpr int SshSocksProxyPort = 26686;

class TSecureBroker : public TLiveBroker {
public:
    TSecureBroker() {
        // Errors of a standing connection go to the protocol component, the others to the client.
        const auto exception = [this](const TkezWSConnectionPtr&, const std::exception& E) {
            Log.Add(std::string("client-exception:") + E.what());
        };
        Client->OnException = exception;
        AMQP->OnException = exception;
        // Nothing in these tests may wait without limit.
        Client->SetConnectTimeout(5000);
        Client->SetReadTimeout(5000);
    }

    // TLS to the broker as "localhost", verified against the tests' CA, with the client certificate.
    void UseTLS() {
        Client->SetHost("localhost");
        Client->SetPort(TLSPort);
        Client->SetTLS(true);
        TkezWSTLS_Options& tls = Client->TLSOptions();
        tls.SetRootCertFile(CertFile("ca.pem"));
        tls.SetCertFile(CertFile("client.pem"));
        tls.SetKeyFile(CertFile("client.key"));
        tls.SetPassword("kez-secret");
        tls.SetVerifyCertificate(true);
    }

    void UseProxy(TwsProxy aType, int aPort, const std::string& aUser = "",
                  const std::string& aPassword = "") {
        TkezWSProxy_Options& proxy = Client->Proxy();
        proxy.SetEnabled(true);
        proxy.SetHost("127.0.0.1");
        proxy.SetPort(aPort);
        proxy.SetProxyType(aType);
        proxy.SetUsername(aUser);
        proxy.SetPassword(aPassword);
    }

    // Connects (the connect runs in this thread) and waits for the AMQP connection, or returns false with
    // the client's exception in the log.
    bool ConnectAMQP() {
        Client->SetActive(true);
        WaitUntil(
            [&] {
                return Log.Count("connect") > 0 || Log.CountPrefix("client-exception:") > 0 ||
                       Log.CountPrefix("disconnect") > 0;
            },
            15000);
        return Log.Count("connect") > 0;
    }

    std::string ClientException() const {
        const auto events = Log.Events("client-exception:");
        return events.empty() ? std::string("(none)") : events.front().substr(strlen("client-exception:"));
    }

    // Opens a channel, publishes through the default exchange and gets the message back.
    void ExpectPublishAndGet(const std::string& aBody = "through") {
        std::string received;
        AMQP->OnAMQPBasicGetOk = [&](TObject*, const std::string&,
                                     const TkezAMQPFramePayload_Method_BasicGetOk&,
                                     TkezAMQPMessageContent& aContent) {
            received = aContent.Body().AsString();
            Log.Add("getok");
        };
        ASSERT_TRUE(AMQP->OpenChannelEx("ch", 5000));
        const std::string queue = UniqueName("secure");
        ASSERT_TRUE(AMQP->DeclareQueueEx("ch", queue, false, false, false, true, false, 5000));
        AMQP->PublishMessage("ch", "", queue, aBody, false, false);
        ASSERT_TRUE(WaitUntil([&] { return AMQP->GetMessageEx("ch", queue, 2000); }, 10000));
        EXPECT_TRUE(Log.WaitFor("getok"));
        EXPECT_EQ(received.size(), aBody.size());
        EXPECT_TRUE(received == aBody) << "the body arrived changed";
        AMQP->OnAMQPBasicGetOk = nullptr;
    }
};

// A program of the tests' own run beside them (a TLS server of the openssl command, say); killed when done.
class TChildProcess {
public:
    explicit TChildProcess(std::vector<std::string> aArguments) {
        std::vector<char*> argv;
        for (std::string& argument : aArguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&FPid, argv[0], &actions, nullptr, argv.data(), environ) != 0) FPid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~TChildProcess() {
        if (FPid <= 0) return;
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, nullptr, 0);
    }
    bool Started() const noexcept { return FPid > 0; }

private:
    pid_t FPid = -1;
};

// True once something accepts connections on 127.0.0.1:aPort.
inline bool WaitListening(int aPort, int aTimeoutMs = 10000) {
    return WaitUntil(
        [&] {
            const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(static_cast<uint16_t>(aPort));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
            ::close(s);
            return ok;
        },
        aTimeoutMs);
}

} // namespace kez::test
