#pragma once

#include <cstdint>

// The little-endian words and the text rules of the datagrams the server
// exchanges with clients and with the game server.
namespace wire {

inline uint16_t readU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void putU16(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline void putU32(uint8_t* p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void putU64(uint8_t* p, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// The decimal number at the start of text as atoi reads it (blanks, a
// sign, digits up to the first other byte), held to the int32 range
// instead of overflowing.
int32_t decimalValue(const char* text);

}  // namespace wire
