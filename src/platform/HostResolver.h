#pragma once

#include <cstdint>
#include <cstring>

namespace platform {

// IPv4 addresses here are in network byte order; all bits set means none.
constexpr uint32_t noAddress = 0xFFFFFFFFu;

// The address a.b.c.d in network byte order.
inline uint32_t ipv4Address(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

// Dotted text as inet_addr reads it (also "127.1", hexadecimal and octal
// parts), or noAddress for other text and for "255.255.255.255".
uint32_t parseDottedAddress(const char* text);

// A dotted address first, else the first IPv4 address the resolver gives
// for the name; noAddress when neither works. May block on the resolver.
uint32_t resolveHost(const char* name);

// Writes the dotted text of the address ("127.0.0.1") into out.
constexpr int32_t addressTextSize = 16;
void addressToText(uint32_t address, char out[addressTextSize]);

}  // namespace platform
