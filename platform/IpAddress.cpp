#include "platform/IpAddress.h"

#include <arpa/inet.h>

namespace platform {

bool IsIpAddressLiteral(const char* text) {
    if (!text)
        return false;
    unsigned char address[16];
    return inet_pton(AF_INET, text, address) == 1 || inet_pton(AF_INET6, text, address) == 1;
}

}  // namespace platform
