// The socket client's option groups. Each is a value with Assign; the client's setters copy. Groups of
// features this system does not use (WebSocket framing, HTTP/2, deflate, load balancing, authentication,
// queued writes, throttling, the log file) keep their options and defaults so that a configuration carries
// them, and do nothing.
#pragma once

#include "kezBase_Classes.h"

#include <cstdint>
#include <string>

namespace kez {

#define KEZ_ASSIGN(Class)                                                                                    \
    void Assign(const Class& aSource) { *this = aSource; }

class TkezWSHeartBeat_Options : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    // Seconds.
    KEZ_PROPERTY(int, Interval, 300)
    // Seconds; 0: no time-out.
    KEZ_PROPERTY(int, Timeout, 0)
public:
    KEZ_ASSIGN(TkezWSHeartBeat_Options)
};

class TkezTCPWatchDog_Options : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    // Seconds.
    KEZ_PROPERTY(int, Interval, 60)
    // 0: unlimited.
    KEZ_PROPERTY(int, Attempts, 0)
public:
    KEZ_ASSIGN(TkezTCPWatchDog_Options)
};
class TkezWSWatchDog_Options : public TkezTCPWatchDog_Options {};
class TkezWSWatchDogClient_Options : public TkezWSWatchDog_Options {};

class TkezTCPKeepAlive : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    KEZ_PROPERTY(int, Time, 7200000)
    KEZ_PROPERTY(int, Interval, 1000)
public:
    KEZ_ASSIGN(TkezTCPKeepAlive)
};

enum TkezWSFragmentedMessages : uint8_t { frgOnlyBuffer, frgOnlyFragmented, frgAll };

class TkezWSOptionsClient : public TObject {
public:
    KEZ_PROPERTY(bool, CleanDisconnect, false)
    KEZ_PROPERTY(TkezWSFragmentedMessages, FragmentedMessages, frgOnlyBuffer)
    KEZ_PROPERTY(std::string, Origin)
    KEZ_PROPERTY(bool, RaiseDisconnectExceptions, true)
    KEZ_PROPERTY(bool, ValidateUTF8, false)
public:
    // Always starts with "/".
    std::string Parameters() const {
        return FParameters.empty() || FParameters[0] != '/' ? "/" + FParameters : FParameters;
    }
    void SetParameters(std::string aValue) { FParameters = std::move(aValue); }
    KEZ_ASSIGN(TkezWSOptionsClient)

private:
    std::string FParameters;
};

class TkezWSDrafts : public TObject {
public:
    KEZ_PROPERTY(bool, Hixie76, true)
};

class TkezWSSpecifications : public TObject {
public:
    // False selects raw TCP mode.
    KEZ_PROPERTY(bool, RFC6455, true)
    KEZ_PROPERTY(bool, RFC8441, false)
public:
    TkezWSDrafts& Drafts() noexcept { return FDrafts; }
    KEZ_ASSIGN(TkezWSSpecifications)

private:
    TkezWSDrafts FDrafts;
};

class TkezWSAuthenticationOption : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
};

class TkezWSAuthenticationClient_Options : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    KEZ_PROPERTY(std::string, User)
    KEZ_PROPERTY(std::string, Password)
public:
    TkezWSAuthenticationClient_Options() { FURL.SetEnabled(true); }
    TkezWSAuthenticationOption& URL() noexcept { return FURL; }
    TkezWSAuthenticationOption& Session() noexcept { return FSession; }
    TkezWSAuthenticationOption& Basic() noexcept { return FBasic; }
    TkezWSAuthenticationOption& Token() noexcept { return FToken; }
    KEZ_ASSIGN(TkezWSAuthenticationClient_Options)

private:
    TkezWSAuthenticationOption FURL, FSession, FBasic, FToken;
};

class TkezWSExtensions : public TObject {
public:
    KEZ_PROPERTY(bool, DeflateMessage, false)
    KEZ_PROPERTY(bool, DeflateFrame, false)
public:
    KEZ_ASSIGN(TkezWSExtensions)
};

class TkezWSLoadBalancerClient_Options : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    KEZ_PROPERTY(std::string, Host)
    KEZ_PROPERTY(int, Port, 0)
public:
    KEZ_ASSIGN(TkezWSLoadBalancerClient_Options)
};

enum TkezWSQueueLevel : uint8_t { qmNone, qmLevel1, qmLevel2, qmLevel3 };

class TkezWSQueueOption : public TObject {
public:
    KEZ_PROPERTY(TkezWSQueueLevel, Level, qmNone)
};

class TkezWSQueueClient_Options : public TObject {
public:
    TkezWSQueueOption& Text() noexcept { return FText; }
    TkezWSQueueOption& Binary() noexcept { return FBinary; }
    TkezWSQueueOption& Ping() noexcept { return FPing; }
    bool AnyLevel() const {
        return FText.Level() != qmNone || FBinary.Level() != qmNone || FPing.Level() != qmNone;
    }
    KEZ_ASSIGN(TkezWSQueueClient_Options)

private:
    TkezWSQueueOption FText, FBinary, FPing;
};

class TkezWSThrottle : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    KEZ_PROPERTY(int, BitsPerSec, 0)
public:
    KEZ_ASSIGN(TkezWSThrottle)
};

class TkezWSLogFile : public TObject {
public:
    KEZ_PROPERTY(bool, Enabled, false)
    KEZ_PROPERTY(std::string, FileName)
public:
    KEZ_ASSIGN(TkezWSLogFile)
};

#undef KEZ_ASSIGN

} // namespace kez
