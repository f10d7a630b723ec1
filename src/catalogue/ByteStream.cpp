#include "catalogue/ByteStream.h"

#include "foundation/RefString.h"

int64_t ByteStream::seek(int64_t, uint32_t)
{
    return -1;
}

void writeText(ByteStream& stream, const RefString& text)
{
    stream.write(text.c_str(), static_cast<uint32_t>(text.length()) + 1);
}

void writeU32(ByteStream& stream, uint32_t value)
{
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    stream.write(bytes, 4);
}
