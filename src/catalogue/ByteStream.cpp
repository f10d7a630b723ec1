#include "catalogue/ByteStream.h"

#include "foundation/RefString.h"
#include "wire/LittleEndian.h"

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
    uint8_t bytes[4];
    wire::putU32(bytes, value);
    stream.write(bytes, 4);
}
