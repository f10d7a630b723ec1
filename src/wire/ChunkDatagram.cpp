#include "wire/ChunkDatagram.h"

#include "wire/LittleEndian.h"

#include <cstring>

#include <zlib.h>

namespace wire {

namespace {

uint32_t checkOf(const uint8_t* chunk, size_t payloadSize)
{
    return static_cast<uint32_t>(crc32(0, chunk, static_cast<uInt>(ChunkDatagram::kIndexSize + payloadSize)));
}

}  // namespace

size_t ChunkDatagram::encode(uint8_t* out) const
{
    putU16(out, index);
    std::memmove(out + kIndexSize, payload, payloadSize);  // the payload may already be in place
    putU32(out + kIndexSize + payloadSize, checkOf(out, payloadSize));
    return kOverhead + payloadSize;
}

bool ChunkDatagram::decode(const uint8_t* bytes, size_t size)
{
    if (!hasChunkSize(size))
        return false;
    size_t carried = size - kOverhead;
    if (readU32(bytes + kIndexSize + carried) != checkOf(bytes, carried))
        return false;
    index = readU16(bytes);
    payload = bytes + kIndexSize;
    payloadSize = carried;
    return true;
}

}  // namespace wire
