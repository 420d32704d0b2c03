// The one exception type of the codec and the engine.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kez {

class TkezAMQPException : public std::runtime_error {
public:
    TkezAMQPException(int32_t aCode, const std::string& aMessage)
        : std::runtime_error(aMessage), FCode(aCode) {}
    // The AMQP reply code, or -1 when there is none.
    int32_t Code() const noexcept { return FCode; }

private:
    int32_t FCode;
};

// Raises TkezAMQPException with the reply text of aCode as its message.
[[noreturn]] void RaiseAMQPException(int32_t aCode);

} // namespace kez
