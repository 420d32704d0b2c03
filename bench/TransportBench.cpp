// Loopback throughput of the socket client: WriteData through the socket, an echo server and the read thread
// to a protocol component's binary hook, beside a plain pair of blocking send/recv on the same echo server.
#include "kezWebSocket_Client.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace kez;

namespace {

constexpr size_t ChunkSize = 64 * 1024;
constexpr size_t BytesPerIteration = 64 * 1024 * 1024;

// Accepts one connection at a time and sends back whatever it receives.
class TEchoServer {
public:
    TEchoServer() {
        FListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(FListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(FListener, 4);
        socklen_t size = sizeof address;
        ::getsockname(FListener, reinterpret_cast<sockaddr*>(&address), &size);
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] {
            for (;;) {
                const int peer = ::accept(FListener, nullptr, nullptr);
                if (peer < 0) return;
                std::vector<uint8_t> buffer(256 * 1024);
                for (;;) {
                    const ssize_t n = ::recv(peer, buffer.data(), buffer.size(), 0);
                    if (n <= 0) break;
                    for (ssize_t sent = 0; sent < n;) {
                        const ssize_t m =
                            ::send(peer, buffer.data() + sent, static_cast<size_t>(n - sent), MSG_NOSIGNAL);
                        if (m <= 0) break;
                        sent += m;
                    }
                }
                ::close(peer);
            }
        });
    }
    ~TEchoServer() {
        ::shutdown(FListener, SHUT_RDWR);
        ::close(FListener);
        FThread.join();
    }
    uint16_t Port() const { return FPort; }

private:
    int FListener = -1;
    uint16_t FPort = 0;
    std::thread FThread;
};

// Counts the bytes that reach it on the read thread.
class TCountingProtocol : public TkezWSProtocolObject {
public:
    TCountingProtocol() { SetProtocol("count"); }
    ~TCountingProtocol() override { ShutdownEvents(); }
    void DoNotifyBinary(const TkezWSConnectionPtr& aConnection) override {
        std::lock_guard guard(FLock);
        FReceived += static_cast<size_t>(aConnection->MsgBinaryReceived().Size());
        FChanged.notify_all();
    }
    void WaitFor(size_t aBytes) {
        std::unique_lock lock(FLock);
        FChanged.wait(lock, [&] { return FReceived >= aBytes; });
    }
    size_t Received() {
        std::lock_guard guard(FLock);
        return FReceived;
    }

private:
    std::mutex FLock;
    std::condition_variable FChanged;
    size_t FReceived = 0;
};

void BM_SocketClientEcho(benchmark::State& aState) {
    TEchoServer echo;
    TCountingProtocol counter;
    TkezWebSocketClient client;
    client.SetNotifyEvents(neNoSync);
    client.Specifications().SetRFC6455(false);
    client.SetHost("127.0.0.1");
    client.SetPort(echo.Port());
    client.RegisterProtocol(&counter);
    client.SetActive(true);
    TMemoryStream chunk(TBytes(ChunkSize, 'c'));
    size_t expected = 0;
    for (auto _ : aState) {
        for (size_t sent = 0; sent < BytesPerIteration; sent += ChunkSize)
            client.WriteData(chunk);
        expected += BytesPerIteration;
        counter.WaitFor(expected);
    }
    aState.SetBytesProcessed(static_cast<int64_t>(expected));
    client.SetActive(false);
    client.UnRegisterProtocol(&counter);
}
BENCHMARK(BM_SocketClientEcho)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The yardstick: blocking send on one thread and blocking recv on another, through the same echo server.
void BM_PlainSocketPairEcho(benchmark::State& aState) {
    TEchoServer echo;
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(echo.Port());
    ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::vector<uint8_t> chunk(ChunkSize, 'c');
    std::vector<uint8_t> buffer(256 * 1024);
    size_t total = 0;
    for (auto _ : aState) {
        std::thread reader([&] {
            for (size_t received = 0; received < BytesPerIteration;) {
                const ssize_t n = ::recv(socket, buffer.data(), buffer.size(), 0);
                if (n <= 0) break;
                received += static_cast<size_t>(n);
            }
        });
        for (size_t sent = 0; sent < BytesPerIteration; sent += ChunkSize)
            ::send(socket, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        reader.join();
        total += BytesPerIteration;
    }
    aState.SetBytesProcessed(static_cast<int64_t>(total));
    ::close(socket);
}
BENCHMARK(BM_PlainSocketPairEcho)->UseRealTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
