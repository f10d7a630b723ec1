#include "platform/HostResolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

uint32_t parseDottedAddress(const char* text)
{
    if (text == nullptr)
        return noAddress;
    return inet_addr(text);
}

uint32_t resolveHost(const char* name)
{
    uint32_t address = parseDottedAddress(name);
    if (address != noAddress || name == nullptr || name[0] == '\0')
        return address;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
        return noAddress;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return address;
}

void addressToText(uint32_t address, char out[addressTextSize])
{
    in_addr record{};
    record.s_addr = address;
    if (inet_ntop(AF_INET, &record, out, addressTextSize) == nullptr)
        out[0] = '\0';
}

}  // namespace platform
