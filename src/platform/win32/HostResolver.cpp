#include "platform/HostResolver.h"

#include "platform/win32/Win32.h"

#include <cstdio>

namespace platform {

uint32_t parseDottedAddress(const char* text)
{
    // Older socket layers read "" as 0.0.0.0; the interface says none.
    if (text == nullptr || text[0] == '\0' || !win32::ensureSocketLayer())
        return noAddress;
    return inet_addr(text);
}

uint32_t resolveHost(const char* name)
{
    uint32_t address = parseDottedAddress(name);
    if (address != noAddress || name == nullptr || name[0] == '\0')
        return address;
    // gethostbyname keeps its answer per thread, so reading it here is safe.
    hostent* found = gethostbyname(name);
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 || found->h_addr_list[0] == nullptr)
        return noAddress;
    std::memcpy(&address, found->h_addr_list[0], sizeof address);
    return address;
}

void addressToText(uint32_t address, char out[addressTextSize])
{
    // inet_ntoa shares one buffer per thread; formatting here needs none.
    const auto* bytes = reinterpret_cast<const uint8_t*>(&address);
    std::snprintf(out, addressTextSize, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
}

}  // namespace platform
