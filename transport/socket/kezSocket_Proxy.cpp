#include "kezSocket_Proxy.h"

#include "kezBase_Format.h"
#include "kezSocket_Errors.h"

#include <arpa/inet.h>
#include <array>
#include <cctype>
#include <charconv>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

namespace kez {

namespace {

std::string Trim(const std::string& aText) {
    const size_t first = aText.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return aText.substr(first, aText.find_last_not_of(" \t") - first + 1);
}

// The second word of the status line; a proxy that puts no number there is taken to have said 200.
int StatusCode(const std::string& aStatusLine) {
    const size_t start = aStatusLine.find(' ');
    if (start == std::string::npos) return 200;
    const size_t first = aStatusLine.find_first_not_of(' ', start);
    if (first == std::string::npos) return 200;
    const size_t end = std::min(aStatusLine.find(' ', first), aStatusLine.size());
    int code = 0;
    const auto [rest, error] = std::from_chars(aStatusLine.data() + first, aStatusLine.data() + end, code);
    return error == std::errc() && rest == aStatusLine.data() + end ? code : 200;
}

void Discard(const TkezSocketExchange& aExchange, uint64_t aCount) {
    std::array<uint8_t, 4096> sink{};
    while (aCount > 0)
        aCount -= aExchange.ReceiveSome(sink.data(), std::min<uint64_t>(aCount, sink.size()));
}

// Appends the octets of aText (a plain copy: GCC 12 at -O3 sees a false overflow in vector::insert here).
void PutText(TBytes& aOut, const std::string& aText) {
    const size_t at = aOut.size();
    aOut.resize(at + aText.size());
    if (!aText.empty()) std::memcpy(aOut.data() + at, aText.data(), aText.size());
}

void PutPort(TBytes& aOut, uint16_t aPort) {
    aOut.push_back(static_cast<uint8_t>(aPort >> 8));
    aOut.push_back(static_cast<uint8_t>(aPort & 0xFF));
}

const char* Socks4Reply(uint8_t aCode) {
    switch (aCode) {
    case 91: return "request rejected or failed";
    case 92: return "request rejected: the proxy cannot reach the identd of this client";
    case 93: return "request rejected: the identd of this client reports another user id";
    default: return "unknown reply";
    }
}

const char* Socks5Reply(uint8_t aCode) {
    switch (aCode) {
    case 1: return "general SOCKS server failure";
    case 2: return "connection not allowed by ruleset";
    case 3: return "network unreachable";
    case 4: return "host unreachable";
    case 5: return "connection refused";
    case 6: return "TTL expired";
    case 7: return "command not supported";
    case 8: return "address type not supported";
    default: return "unknown reply";
    }
}

} // namespace

std::string EncodeBase64(const std::string& aText) {
    static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((aText.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < aText.size(); i += 3) {
        const uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(aText[i])) << 16 |
                           static_cast<uint32_t>(static_cast<uint8_t>(aText[i + 1])) << 8 |
                           static_cast<uint8_t>(aText[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6)
            out.push_back(Alphabet[(n >> shift) & 63]);
    }
    if (const size_t rest = aText.size() - i; rest > 0) {
        uint32_t n = static_cast<uint32_t>(static_cast<uint8_t>(aText[i])) << 16;
        if (rest == 2) n |= static_cast<uint32_t>(static_cast<uint8_t>(aText[i + 1])) << 8;
        out.push_back(Alphabet[(n >> 18) & 63]);
        out.push_back(Alphabet[(n >> 12) & 63]);
        out.push_back(rest == 2 ? Alphabet[(n >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

// --- HTTP CONNECT ---

bool TkezConnectThroughHttpProxy::Negotiate(const TkezSocketExchange& aExchange, const std::string& aHost,
                                            uint16_t aPort) {
    for (;;) {
        const bool literalIPv6 = aHost.find(':') != std::string::npos;
        std::string request = "CONNECT " + (literalIPv6 ? "[" + aHost + "]" : aHost) + ":" +
                              std::to_string(aPort) + " HTTP/1.0\r\n";
        if (FSendCredentials)
            request += "Proxy-Authorization: Basic " + EncodeBase64(Username() + ":" + Password()) + "\r\n";
        request += "\r\n";
        aExchange.Send(request);

        const std::string status = aExchange.ReceiveLine();
        uint64_t contentLength = 0;
        bool closes = false;
        for (std::string line = aExchange.ReceiveLine(); !line.empty(); line = aExchange.ReceiveLine()) {
            const size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            const std::string name = LowerCase(Trim(line.substr(0, colon)));
            const std::string value = Trim(line.substr(colon + 1));
            if (name == "content-length") {
                const auto [rest, error] =
                    std::from_chars(value.data(), value.data() + value.size(), contentLength);
                if (error != std::errc() || rest != value.data() + value.size())
                    throw EkezProxyError("The proxy sent an invalid Content-Length: " + value);
            } else if ((name == "proxy-connection" || name == "connection") && LowerCase(value) == "close") {
                closes = true;
            }
        }
        Discard(aExchange, contentLength);

        const int code = StatusCode(status);
        if (code == 200) return true;
        if (code == 407 && !FSendCredentials && !(Username().empty() && Password().empty())) {
            FSendCredentials = true;
            if (closes) return false;
            continue;
        }
        throw EkezProxyError(status);
    }
}

// --- SOCKS ---

bool TkezSocksInfo::Negotiate(const TkezSocketExchange& aExchange, const std::string& aHost, uint16_t aPort) {
    if (Version() == svSocks5)
        NegotiateSocks5(aExchange, aHost, aPort);
    else
        NegotiateSocks4(aExchange, aHost, aPort);
    return true;
}

void TkezSocksInfo::NegotiateSocks4(const TkezSocketExchange& aExchange, const std::string& aHost,
                                    uint16_t aPort) {
    const char* name = Version() == svSocks4A ? "SOCKS4A" : "SOCKS4";
    in_addr address{};
    // 4A hands a name to the proxy to resolve; an address literal goes as plain 4 either way.
    const bool byName = Version() == svSocks4A && ::inet_pton(AF_INET, aHost.c_str(), &address) != 1;
    if (!byName && ::inet_pton(AF_INET, aHost.c_str(), &address) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (const int error = ::getaddrinfo(aHost.c_str(), nullptr, &hints, &found); error != 0 || !found)
            throw EkezProxyError(std::string(name) + " proxy: cannot resolve " + aHost + ": " +
                                 ::gai_strerror(error));
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        ::freeaddrinfo(found);
    }
    TBytes request{4, 1};
    PutPort(request, aPort);
    const auto* ip = reinterpret_cast<const uint8_t*>(&address.s_addr);
    if (byName)
        request.insert(request.end(), {0, 0, 0, 1});
    else
        request.insert(request.end(), ip, ip + 4);
    PutText(request, Username());
    request.push_back(0);
    if (byName) {
        PutText(request, aHost);
        request.push_back(0);
    }
    aExchange.Send(request);
    std::array<uint8_t, 8> reply{};
    aExchange.ReceiveExact(reply.data(), reply.size());
    if (reply[0] != 0)
        throw EkezProxyError(std::string(name) + " proxy: the answer is not SOCKS 4 (version " +
                             std::to_string(reply[0]) + ").");
    if (reply[1] != 90)
        throw EkezProxyError(std::string(name) + " proxy: " + Socks4Reply(reply[1]) + " (" +
                             std::to_string(reply[1]) + ").");
}

void TkezSocksInfo::NegotiateSocks5(const TkezSocketExchange& aExchange, const std::string& aHost,
                                    uint16_t aPort) {
    const bool withPassword = Authentication() == saUsernamePassword;
    aExchange.Send(withPassword ? TBytes{5, 2, 0, 2} : TBytes{5, 1, 0});
    std::array<uint8_t, 2> choice{};
    aExchange.ReceiveExact(choice.data(), choice.size());
    if (choice[0] != 5)
        throw EkezProxyError("SOCKS5 proxy: the answer is not SOCKS 5 (version " + std::to_string(choice[0]) +
                             ").");
    if (choice[1] == 2 && withPassword) {
        if (Username().size() > 255 || Password().size() > 255)
            throw EkezProxyError("SOCKS5 proxy: user name and password are limited to 255 octets each.");
        TBytes login{1, static_cast<uint8_t>(Username().size())};
        PutText(login, Username());
        login.push_back(static_cast<uint8_t>(Password().size()));
        PutText(login, Password());
        aExchange.Send(login);
        std::array<uint8_t, 2> verdict{};
        aExchange.ReceiveExact(verdict.data(), verdict.size());
        if (verdict[1] != 0) throw EkezProxyError("SOCKS5 proxy: authentication failed.");
    } else if (choice[1] != 0) {
        throw EkezProxyError(
            withPassword || choice[1] != 0xFF
                ? "SOCKS5 proxy: no acceptable authentication method."
                : "SOCKS5 proxy: no acceptable authentication method (the proxy wants a user "
                  "name and password).");
    }

    TBytes request{5, 1, 0};
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, aHost.c_str(), &v4) == 1) {
        request.push_back(1);
        const auto* octets = reinterpret_cast<const uint8_t*>(&v4);
        request.insert(request.end(), octets, octets + 4);
    } else if (::inet_pton(AF_INET6, aHost.c_str(), &v6) == 1) {
        request.push_back(4);
        request.insert(request.end(), v6.s6_addr, v6.s6_addr + 16);
    } else {
        if (aHost.size() > 255) throw EkezProxyError("SOCKS5 proxy: a host name is limited to 255 octets.");
        request.push_back(3);
        request.push_back(static_cast<uint8_t>(aHost.size()));
        PutText(request, aHost);
    }
    PutPort(request, aPort);
    aExchange.Send(request);

    std::array<uint8_t, 4> head{};
    aExchange.ReceiveExact(head.data(), head.size());
    if (head[0] != 5)
        throw EkezProxyError("SOCKS5 proxy: the answer is not SOCKS 5 (version " + std::to_string(head[0]) +
                             ").");
    if (head[1] != 0)
        throw EkezProxyError(std::string("SOCKS5 proxy: ") + Socks5Reply(head[1]) + " (" +
                             std::to_string(head[1]) + ").");
    // The bound address and port follow; they are read so that the tunnel's first octet is the server's.
    size_t rest = 0;
    switch (head[3]) {
    case 1: rest = 4 + 2; break;
    case 4: rest = 16 + 2; break;
    case 3: {
        uint8_t length = 0;
        aExchange.ReceiveExact(&length, 1);
        rest = length + 2u;
        break;
    }
    default:
        throw EkezProxyError("SOCKS5 proxy: unknown address type " + std::to_string(head[3]) +
                             " in the answer.");
    }
    std::array<uint8_t, 257> bound{};
    aExchange.ReceiveExact(bound.data(), rest);
}

} // namespace kez
