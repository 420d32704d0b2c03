#include "kezAMQP_Const.h"

namespace kez {

std::string GetAMQPReplyText(int aCode) {
    switch (aCode) {
    case 311: return "Content Too Large";
    case 313: return "No Consumers";
    case 320: return "Connection Forced";
    case 402: return "Invalid Path";
    case 403: return "Access Refused";
    case 404: return "Not Found";
    case 405: return "Resource Locked";
    case 406: return "Precondition Failed";
    case 501: return "Frame Error";
    case 502: return "Syntax Error";
    case 503: return "Command Invalid";
    case 504: return "Channel Error";
    case 505: return "Unexpected Frame";
    case 506: return "Resource Error";
    case 530: return "Now Allowed";
    case 540: return "Not Implemented";
    case 541: return "Internal Error";
    default: return {};
    }
}

} // namespace kez
