#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

// Byte helpers the suites share, so that each test file keeps only its own.
using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// n bytes of a linear congruential sequence: the same for the same seed, and
// too irregular for zlib to shrink much.
inline Bytes patternBytes(size_t n, uint32_t seed)
{
    Bytes bytes(n);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 24);
    }
    return bytes;
}

inline std::string patternText(size_t n, uint32_t seed)
{
    Bytes bytes = patternBytes(n, seed);
    return std::string(bytes.begin(), bytes.end());
}

inline uint32_t crcOf(const std::string& data)
{
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

inline uint32_t u32At(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

inline bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}
