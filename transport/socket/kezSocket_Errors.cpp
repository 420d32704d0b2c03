#include "kezSocket_Errors.h"

#include <cerrno>
#include <cstring>

namespace kez {

void RaiseSocketError(int aErrorCode) {
    throw EkezSocketError(aErrorCode, "Socket Error # " + std::to_string(aErrorCode) + "\n" +
                                          std::strerror(aErrorCode) + ".");
}

void RaiseLastSocketError() { RaiseSocketError(errno); }

} // namespace kez
