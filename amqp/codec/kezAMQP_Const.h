// Reply-code texts of AMQP 0-9-1.
#pragma once

#include <string>

namespace kez {

// The text of a reply code, or empty for a code without one.
std::string GetAMQPReplyText(int aCode);

} // namespace kez
