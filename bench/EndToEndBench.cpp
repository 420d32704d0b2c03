// End to end against a local RabbitMQ, side by side with rabbitmq-c as a peer, in one run: publishing and
// consuming small and large messages, and the publish-to-delivery round trip. Prints messages per second and
// client CPU seconds per 100,000 messages for both clients and their ratio.
//   kez_bench_end_to_end PORT [SCALE [PHASES]]   SCALE divides the message counts (for a quick look); PHASES
//   picks some of: small, large, cross, trips (all by default), so that a profiler sees one phase alone
//   KEZ_BENCH_TLS=DIR/certs, against a broker started with scripts/test-broker start DIR PORT tls: both
//   clients over TLS, to the broker's TLS listener on PORT-1 with the certificates made for it
#include "kezWebSocket_Protocol_AMQP_Client.h"

#include <amqp.h>
#include <amqp_ssl_socket.h>
#include <amqp_tcp_socket.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace kez;

namespace {

using TSteady = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct TFigures {
    size_t Messages = 0;
    double Seconds = 0;
    double Cpu = 0;
    TFigures& operator+=(const TFigures& aOther) {
        Messages += aOther.Messages;
        Seconds += aOther.Seconds;
        Cpu += aOther.Cpu;
        return *this;
    }
    double PerSecond() const { return static_cast<double>(Messages) / Seconds; }
    double CpuPer100k() const { return Cpu * 100000.0 / static_cast<double>(Messages); }
};

// Measures wall and process CPU time around aRun. KEZ_BENCH_VERBOSE=1 prints each turn on its own to stderr:
// the turns of one client can differ by more than the two clients do.
TFigures Measure(const char* aWhat, size_t aMessages, const std::function<void()>& aRun) {
    const double cpu = CpuSeconds();
    const auto start = TSteady::now();
    aRun();
    const TFigures figures{aMessages, std::chrono::duration<double>(TSteady::now() - start).count(),
                           CpuSeconds() - cpu};
    static const bool verbose = std::getenv("KEZ_BENCH_VERBOSE") != nullptr;
    if (verbose)
        std::fprintf(stderr, "  %-44s %8zu msgs %8.3f s %8.3f CPU s\n", aWhat, aMessages, figures.Seconds,
                     figures.Cpu);
    return figures;
}

struct TLatency {
    double Median = 0;
    double P99 = 0;
};

TLatency Percentiles(std::vector<double> aMicros) {
    if (aMicros.empty()) return {};
    std::sort(aMicros.begin(), aMicros.end());
    return {aMicros[aMicros.size() / 2], aMicros[aMicros.size() * 99 / 100]};
}

// What both clients do; each call runs to completion, so that the time measured is the whole job.
class TPeer {
public:
    virtual ~TPeer() = default;
    // Publishes and returns once the broker has taken every message (a synchronous call after them on the
    // same channel answers only after the channel has handled them all).
    virtual void Publish(const std::string& aQueue, size_t aCount, const std::string& aBody) = 0;
    // Consumes aCount messages with a prefetch of 1000, acknowledging every 500th with multiple.
    virtual void Consume(const std::string& aQueue, size_t aCount) = 0;
    // Publish-to-delivery round trips, in microseconds.
    virtual std::vector<double> RoundTrips(const std::string& aQueue, size_t aCount) = 0;
    virtual void Reset(const std::string& aQueue) = 0;
};

constexpr uint16_t Prefetch = 1000;
// Each figure adds up four turns per client, taken in the order ABBA BAAB: the broker's speed drifts by up to
// a factor of two from one turn to the next whoever the client, and this order cancels a drift that is
// linear or quadratic in time, where two turns each (ABBA) leave the quadratic part to the client that goes
// first and last.
// Before them each client takes one turn that is not counted: its first messages of a size grow its buffers
// and fault their memory in (a 1 MiB consume: some 5,000 page faults in the first turn, none later), a cost
// an application pays once at start.
constexpr int Order[] = {0, 1, 1, 0, 1, 0, 0, 1};
constexpr size_t Turns = 4;
constexpr uint64_t AckEvery = 500;

// KEZ_BENCH_TLS: the folder of the certificates scripts/test-broker made for its TLS listener (one below the
// AMQP port), or null for plain TCP. The tests' client key carries this pass phrase.
const char* TLSCertificates() { return std::getenv("KEZ_BENCH_TLS"); }
constexpr const char* TLSKeyPassword = "kez-secret";

// --- this library ---

class TKezPeer : public TPeer {
public:
    explicit TKezPeer(int aPort) {
        FClient.SetNotifyEvents(neNoSync);
        FClient.Specifications().SetRFC6455(false);
        FClient.SetHost("127.0.0.1");
        FClient.SetPort(aPort);
        if (const char* certs = TLSCertificates()) {
            const std::string folder(certs);
            FClient.SetHost("localhost");
            FClient.SetPort(aPort - 1);
            FClient.SetTLS(true);
            TkezWSTLS_Options& tls = FClient.TLSOptions();
            tls.SetRootCertFile(folder + "/ca.pem");
            tls.SetCertFile(folder + "/client.pem");
            tls.SetKeyFile(folder + "/client.key");
            tls.SetPassword(TLSKeyPassword);
            tls.SetVerifyCertificate(true);
        }
        FAMQP.OnAMQPAuthentication = [](TObject*, TkezAMQPAuthentications, TkezAMQPAuthentication&,
                                        std::string& User, std::string& Password) {
            User = "guest";
            Password = "guest";
        };
        FAMQP.OnAMQPConnect = [this](TObject*) { Signal(); };
        FAMQP.OnAMQPBasicDeliver = [this](TObject*, const std::string&,
                                          const TkezAMQPFramePayload_Method_BasicDeliver& d,
                                          TkezAMQPMessageContent&) { OnDeliver(d.DeliveryTag()); };
        FAMQP.SetClient(&FClient);
        FClient.SetActive(true);
        Wait([&] { return FSignals > 0; });
        if (!FAMQP.OpenChannelEx("bench", 10000)) throw std::runtime_error("kez: no channel");
    }
    ~TKezPeer() override {
        FAMQP.CloseEx(200, "done", amqpClassNone, amqpMethodNone);
        FClient.SetActive(false);
    }

    void Reset(const std::string& aQueue) override {
        FAMQP.DeclareQueueEx("bench", aQueue, false, false, false, false, false, 10000);
        FAMQP.PurgeQueueEx("bench", aQueue, false, 10000);
    }

    void Publish(const std::string& aQueue, size_t aCount, const std::string& aBody) override {
        for (size_t i = 0; i < aCount; ++i)
            FAMQP.PublishMessage("bench", "", aQueue, aBody, false, false);
        FAMQP.DeclareQueueEx("bench", aQueue, true, false, false, false, false, 600000);
    }

    void Consume(const std::string& aQueue, size_t aCount) override {
        Expect(aCount, true);
        FAMQP.SetQoSEx("bench", 0, Prefetch, false, 10000);
        FAMQP.ConsumeEx("bench", aQueue, "consumer", false, false, false, 10000);
        Wait([&] { return FDelivered >= FExpected; });
        FAMQP.CancelConsumeEx("bench", "consumer", 10000);
    }

    // Driven from the delivery handler, as an application of an event-driven client would: each delivery
    // ends one round trip and publishes the next, so the figure is publish-to-handler, without a hand-over
    // to a waiting thread of the benchmark's own.
    std::vector<double> RoundTrips(const std::string& aQueue, size_t aCount) override {
        Expect(aCount, false);
        FAMQP.ConsumeEx("bench", aQueue, "latency", false, true, false, 10000);
        std::vector<double> micros;
        micros.reserve(aCount);
        {
            std::lock_guard guard(FLock);
            FTrips = &micros;
            FTripQueue = aQueue;
            FTripStart = TSteady::now();
        }
        FAMQP.PublishMessage("bench", "", aQueue, FTripBody, false, false);
        Wait([&] { return FDelivered >= FExpected; });
        {
            std::lock_guard guard(FLock);
            FTrips = nullptr;
        }
        FAMQP.CancelConsumeEx("bench", "latency", 10000);
        return micros;
    }

private:
    void Expect(size_t aCount, bool aAck) {
        std::lock_guard guard(FLock);
        FDelivered = 0;
        FExpected = aCount;
        FAck = aAck;
    }
    // On the channel's worker.
    void OnDeliver(uint64_t aTag) {
        bool last = false;
        bool ack = false;
        bool trip = false;
        {
            std::lock_guard guard(FLock);
            ++FDelivered;
            last = FDelivered >= FExpected;
            ack = FAck && (FDelivered % AckEvery == 0 || last);
            if (FTrips) {
                const auto now = TSteady::now();
                FTrips->push_back(std::chrono::duration<double, std::micro>(now - FTripStart).count());
                FTripStart = now;
                trip = !last;
            }
        }
        if (ack) FAMQP.AckMessage("bench", aTag, true);
        if (trip) FAMQP.PublishMessage("bench", "", FTripQueue, FTripBody, false, false);
        if (last) FChanged.notify_all();
    }
    void Signal() {
        std::lock_guard guard(FLock);
        ++FSignals;
        FChanged.notify_all();
    }
    void Wait(const std::function<bool()>& aDone) {
        std::unique_lock lock(FLock);
        if (!FChanged.wait_for(lock, std::chrono::minutes(10), aDone)) throw std::runtime_error("kez: stuck");
    }

    TkezWebSocketClient FClient;
    TkezWSPClient_AMQP FAMQP;
    std::mutex FLock;
    std::condition_variable FChanged;
    int FSignals = 0;
    size_t FDelivered = 0;
    size_t FExpected = 0;
    bool FAck = false;
    // While round trips run: their times, their queue and when the one under way was published.
    std::vector<double>* FTrips = nullptr;
    std::string FTripQueue;
    TSteady::time_point FTripStart;
    const std::string FTripBody = std::string(16, 'l');
};

// --- rabbitmq-c ---

class TRabbitCPeer : public TPeer {
public:
    explicit TRabbitCPeer(int aPort) : FConnection(amqp_new_connection()) {
        amqp_socket_t* socket = nullptr;
        if (const char* certs = TLSCertificates()) {
            const std::string folder(certs);
            socket = amqp_ssl_socket_new(FConnection);
            if (socket) {
                amqp_ssl_socket_set_key_passwd(socket, TLSKeyPassword);
                if (amqp_ssl_socket_set_cacert(socket, (folder + "/ca.pem").c_str()) != AMQP_STATUS_OK ||
                    amqp_ssl_socket_set_key(socket, (folder + "/client.pem").c_str(),
                                            (folder + "/client.key").c_str()) != AMQP_STATUS_OK)
                    throw std::runtime_error("rabbitmq-c: cannot load the certificates");
            }
            if (!socket || amqp_socket_open(socket, "localhost", aPort - 1) != AMQP_STATUS_OK)
                throw std::runtime_error("rabbitmq-c: cannot connect over TLS");
        } else {
            socket = amqp_tcp_socket_new(FConnection);
            if (!socket || amqp_socket_open(socket, "127.0.0.1", aPort) != AMQP_STATUS_OK)
                throw std::runtime_error("rabbitmq-c: cannot connect");
        }
        Check(amqp_login(FConnection, "/", 0, 131072, 0, AMQP_SASL_METHOD_PLAIN, "guest", "guest"), "login");
        amqp_channel_open(FConnection, 1);
        Check(amqp_get_rpc_reply(FConnection), "channel");
    }
    ~TRabbitCPeer() override {
        amqp_channel_close(FConnection, 1, AMQP_REPLY_SUCCESS);
        amqp_connection_close(FConnection, AMQP_REPLY_SUCCESS);
        amqp_destroy_connection(FConnection);
    }

    void Reset(const std::string& aQueue) override {
        amqp_queue_declare(FConnection, 1, amqp_cstring_bytes(aQueue.c_str()), 0, 0, 0, 0, amqp_empty_table);
        Check(amqp_get_rpc_reply(FConnection), "declare");
        amqp_queue_purge(FConnection, 1, amqp_cstring_bytes(aQueue.c_str()));
        Check(amqp_get_rpc_reply(FConnection), "purge");
    }

    void Publish(const std::string& aQueue, size_t aCount, const std::string& aBody) override {
        const amqp_bytes_t queue = amqp_cstring_bytes(aQueue.c_str());
        const amqp_bytes_t body{aBody.size(), const_cast<char*>(aBody.data())};
        for (size_t i = 0; i < aCount; ++i)
            if (amqp_basic_publish(FConnection, 1, amqp_empty_bytes, queue, 0, 0, &FProperties, body) !=
                AMQP_STATUS_OK)
                throw std::runtime_error("rabbitmq-c: publish failed");
        amqp_queue_declare(FConnection, 1, queue, 1, 0, 0, 0, amqp_empty_table);
        Check(amqp_get_rpc_reply(FConnection), "passive declare");
    }

    void Consume(const std::string& aQueue, size_t aCount) override {
        amqp_basic_qos(FConnection, 1, 0, Prefetch, 0);
        Check(amqp_get_rpc_reply(FConnection), "qos");
        const amqp_bytes_t tag = amqp_cstring_bytes("consumer");
        amqp_basic_consume(FConnection, 1, amqp_cstring_bytes(aQueue.c_str()), tag, 0, 0, 0,
                           amqp_empty_table);
        Check(amqp_get_rpc_reply(FConnection), "consume");
        for (size_t received = 1; received <= aCount; ++received) {
            const uint64_t deliveryTag = Next();
            if (received % AckEvery == 0 || received == aCount)
                amqp_basic_ack(FConnection, 1, deliveryTag, 1);
        }
        amqp_basic_cancel(FConnection, 1, tag);
        Check(amqp_get_rpc_reply(FConnection), "cancel");
    }

    std::vector<double> RoundTrips(const std::string& aQueue, size_t aCount) override {
        const amqp_bytes_t queue = amqp_cstring_bytes(aQueue.c_str());
        const amqp_bytes_t tag = amqp_cstring_bytes("latency");
        amqp_basic_consume(FConnection, 1, queue, tag, 0, 1, 0, amqp_empty_table);
        Check(amqp_get_rpc_reply(FConnection), "consume");
        const std::string body(16, 'l');
        std::vector<double> micros;
        for (size_t i = 0; i < aCount; ++i) {
            const auto start = TSteady::now();
            amqp_basic_publish(FConnection, 1, amqp_empty_bytes, queue, 0, 0, &FProperties,
                               amqp_bytes_t{body.size(), const_cast<char*>(body.data())});
            Next();
            micros.push_back(std::chrono::duration<double, std::micro>(TSteady::now() - start).count());
        }
        amqp_basic_cancel(FConnection, 1, tag);
        Check(amqp_get_rpc_reply(FConnection), "cancel");
        return micros;
    }

private:
    // The next delivery's tag.
    uint64_t Next() {
        amqp_maybe_release_buffers(FConnection);
        amqp_envelope_t envelope;
        const amqp_rpc_reply_t reply = amqp_consume_message(FConnection, &envelope, nullptr, 0);
        Check(reply, "consume message");
        const uint64_t tag = envelope.delivery_tag;
        amqp_destroy_envelope(&envelope);
        return tag;
    }
    static void Check(const amqp_rpc_reply_t& aReply, const char* aWhat) {
        if (aReply.reply_type != AMQP_RESPONSE_NORMAL)
            throw std::runtime_error(std::string("rabbitmq-c: ") + aWhat);
    }

    // The properties this library gives a message published without any of its own, so that both clients
    // put the same messages on the wire and the broker does the same work for each.
    static amqp_basic_properties_t SameAsKez() {
        amqp_basic_properties_t properties{};
        properties._flags = AMQP_BASIC_CONTENT_TYPE_FLAG | AMQP_BASIC_CONTENT_ENCODING_FLAG |
                            AMQP_BASIC_DELIVERY_MODE_FLAG | AMQP_BASIC_PRIORITY_FLAG;
        properties.content_type = amqp_cstring_bytes("text/plain");
        properties.content_encoding = amqp_cstring_bytes("utf-8");
        properties.delivery_mode = AMQP_DELIVERY_PERSISTENT;
        properties.priority = 1;
        return properties;
    }

    amqp_connection_state_t FConnection;
    const amqp_basic_properties_t FProperties = SameAsKez();
};

// --- the run ---

struct TRow {
    std::string Name;
    TFigures Kez;
    TFigures Peer;
};

void PrintRow(const TRow& aRow) {
    std::printf("%-46s %12.0f %12.0f %7.2f   %9.3f %9.3f %7.2f\n", aRow.Name.c_str(), aRow.Kez.PerSecond(),
                aRow.Peer.PerSecond(), aRow.Kez.PerSecond() / aRow.Peer.PerSecond(), aRow.Kez.CpuPer100k(),
                aRow.Peer.CpuPer100k(), aRow.Kez.CpuPer100k() / aRow.Peer.CpuPer100k());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [SCALE [PHASES]]\n", argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const size_t scale = argc > 2 ? static_cast<size_t>(std::max(1, std::atoi(argv[2]))) : 1;
    const std::string phases = argc > 3 ? argv[3] : "small,large,cross,trips";
    const auto wanted = [&](const char* aPhase) { return phases.find(aPhase) != std::string::npos; };
    try {
        // KEZ_BENCH_ONLY=kez or =rabbitmq-c runs one client alone, for a profiler or strace.
        const std::string only = std::getenv("KEZ_BENCH_ONLY") ? std::getenv("KEZ_BENCH_ONLY") : "";
        std::unique_ptr<TPeer> kez, peer;
        if (only.empty() || only == "kez") kez = std::make_unique<TKezPeer>(port);
        if (only.empty() || only == "rabbitmq-c") peer = std::make_unique<TRabbitCPeer>(port);
        TPeer* peers[2] = {kez.get(), peer.get()};

        std::printf("%-46s %12s %12s %7s   %9s %9s %7s\n", "", "kez msg/s", "rmq-c msg/s", "ratio", "kez CPU",
                    "rmq-c CPU", "ratio");
        std::printf("%-46s %12s %12s %7s   %9s %9s %7s\n", "", "", "", "", "s/100k", "s/100k", "");
        struct TCase {
            const char* Phase;
            const char* Size;
            size_t Count;
            size_t Bytes;
        };
        for (const TCase& c : {TCase{"small", "16 B", 200000 / scale, 16},
                               TCase{"large", "1 MiB", 2000 / scale, 1024 * 1024}}) {
            if (!wanted(c.Phase)) continue;
            const std::string body(c.Bytes, 'x');
            TRow publish{std::string("publish ") + std::to_string(c.Count) + " x " + c.Size, {}, {}};
            TRow consume{std::string("consume ") + std::to_string(c.Count) + " x " + c.Size, {}, {}};
            const size_t count = c.Count / Turns;
            for (TPeer* p : peers)
                if (p) {
                    p->Reset("bench-warm-up");
                    p->Publish("bench-warm-up", count, body);
                    p->Consume("bench-warm-up", count);
                }
            for (const int i : Order) {
                if (!peers[i]) continue;
                const std::string queue = std::string("bench-") + (i == 0 ? "kez" : "rabbitmq-c");
                peers[i]->Reset(queue);
                const std::string client = i == 0 ? "kez" : "rabbitmq-c";
                (i == 0 ? publish.Kez : publish.Peer) += Measure(
                    (client + " publish").c_str(), count, [&] { peers[i]->Publish(queue, count, body); });
                (i == 0 ? consume.Kez : consume.Peer) +=
                    Measure((client + " consume").c_str(), count, [&] { peers[i]->Consume(queue, count); });
            }
            PrintRow(publish);
            PrintRow(consume);
            if (!wanted("cross") || !peers[0] || !peers[1]) continue;
            // The broker's cost of sending a message out can depend on how the message came in, so the
            // consume is measured once more with both clients taking messages of one publisher, for each
            // publisher. The two publishers take turns in the same order as the consumers: run one after the
            // other, the second publisher's row often met deliveries in a slow mode (16 B messages at a third
            // of the rate, to either consumer, whichever publisher was second).
            TRow cross[2] = {{consume.Name + ", published by kez", {}, {}},
                             {consume.Name + ", published by rabbitmq-c", {}, {}}};
            for (const int i : Order)
                for (const int publisher : {i, 1 - i}) {
                    const std::string queue = std::string("bench-cross-") + (i == 0 ? "kez" : "rabbitmq-c");
                    peers[i]->Reset(queue);
                    peers[publisher]->Publish(queue, count, body);
                    const std::string label = std::string(i == 0 ? "kez" : "rabbitmq-c") +
                                              " consume, published by " +
                                              (publisher == 0 ? "kez" : "rabbitmq-c");
                    (i == 0 ? cross[publisher].Kez : cross[publisher].Peer) +=
                        Measure(label.c_str(), count, [&] { peers[i]->Consume(queue, count); });
                }
            PrintRow(cross[1]);
            PrintRow(cross[0]);
        }

        if (!wanted("trips")) return 0;
        const size_t trips = 10000 / scale;
        TFigures cpu[2];
        std::vector<double> micros[2];
        for (TPeer* p : peers)
            if (p) {
                p->Reset("bench-warm-up");
                p->RoundTrips("bench-warm-up", trips / Turns);
            }
        for (const int i : Order) {
            if (!peers[i]) continue;
            const std::string queue = std::string("bench-latency-") + (i == 0 ? "kez" : "rabbitmq-c");
            peers[i]->Reset(queue);
            std::vector<double> round;
            cpu[i] += Measure(i == 0 ? "kez round trips" : "rabbitmq-c round trips", trips / Turns,
                              [&] { round = peers[i]->RoundTrips(queue, trips / Turns); });
            micros[i].insert(micros[i].end(), round.begin(), round.end());
        }
        const TLatency latency[2] = {Percentiles(micros[0]), Percentiles(micros[1])};
        PrintRow({"round trips " + std::to_string(trips) + " x 16 B", cpu[0], cpu[1]});
        std::printf("%-46s %9.1f us %9.1f us %7.2f\n", "round trip median", latency[0].Median,
                    latency[1].Median, latency[0].Median / latency[1].Median);
        std::printf("%-46s %9.1f us %9.1f us %7.2f\n", "round trip 99th percentile", latency[0].P99,
                    latency[1].P99, latency[0].P99 / latency[1].P99);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
