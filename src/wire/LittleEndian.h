#pragma once

#include <cstdint>

// Every number the system exchanges or stores is little-endian, whatever
// the host's own order.
namespace wire {

inline uint16_t readU16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t readU32(const uint8_t* p)
{
    return static_cast<uint32_t>(readU16(p)) | static_cast<uint32_t>(readU16(p + 2)) << 16;
}

inline uint64_t readU64(const uint8_t* p)
{
    return static_cast<uint64_t>(readU32(p)) | static_cast<uint64_t>(readU32(p + 4)) << 32;
}

inline void putU16(uint8_t* p, uint16_t value)
{
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline void putU32(uint8_t* p, uint32_t value)
{
    putU16(p, static_cast<uint16_t>(value));
    putU16(p + 2, static_cast<uint16_t>(value >> 16));
}

inline void putU64(uint8_t* p, uint64_t value)
{
    putU32(p, static_cast<uint32_t>(value));
    putU32(p + 4, static_cast<uint32_t>(value >> 32));
}

}  // namespace wire
