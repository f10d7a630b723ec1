#include "wire/ByteReader.h"

#include "wire/LittleEndian.h"

#include <cstring>

namespace wire {

bool ByteReader::readU32(uint32_t& value)
{
    if (remaining() < 4)
        return false;
    value = wire::readU32(bytes + position);
    position += 4;
    return true;
}

bool ByteReader::readText(std::string_view& value)
{
    if (atEnd())
        return false;
    const void* end = std::memchr(bytes + position, 0, remaining());
    if (end == nullptr)
        return false;
    size_t length = static_cast<const uint8_t*>(end) - (bytes + position);
    value = std::string_view(reinterpret_cast<const char*>(bytes + position), length);
    position += length + 1;
    return true;
}

bool ByteReader::skip(size_t count)
{
    if (remaining() < count)
        return false;
    position += count;
    return true;
}

bool ByteReader::skipExactly(const uint8_t* expected, size_t count)
{
    if (remaining() < count || std::memcmp(bytes + position, expected, count) != 0)
        return false;
    position += count;
    return true;
}

}  // namespace wire
