#include "wire/QueryDatagrams.h"

#include "wire/LittleEndian.h"

#include <cstring>

namespace wire {

namespace {

size_t putRequestHead(uint8_t* out, uint16_t version, uint16_t command)
{
    putU16(out, version);
    putU16(out + 2, command);
    return 4;
}

bool hasCommand(const uint8_t* bytes, size_t size, uint16_t command)
{
    return size >= 4 && readU16(bytes + 2) == command;
}

}  // namespace

size_t QueryRequest::encode(uint8_t* out) const
{
    size_t at = putRequestHead(out, version, kQueryCommand);
    std::memcpy(out + at, password.data(), password.size());
    out[at + password.size()] = 0;
    return size();
}

bool QueryRequest::decode(const uint8_t* bytes, size_t size)
{
    if (!hasCommand(bytes, size, kQueryCommand) || size <= 4 || bytes[size - 1] != 0)
        return false;
    version = readU16(bytes);
    password = reinterpret_cast<const char*>(bytes + 4);
    return true;
}

size_t QueryAnswer::encode(uint8_t* out) const
{
    putU16(out, kMark);
    putU16(out + 2, chunkCount);
    putU64(out + 4, infoBlockId);
    if (!hasGameState)
        return kShortSize;
    putU32(out + 12, stateAgeMs);
    putU16(out + 16, gameState);
    return kLongSize;
}

bool QueryAnswer::decode(const uint8_t* bytes, size_t size)
{
    if ((size != kShortSize && size != kLongSize) || readU16(bytes) != kMark)
        return false;
    *this = QueryAnswer();
    chunkCount = readU16(bytes + 2);
    infoBlockId = readU64(bytes + 4);
    if (size == kLongSize) {
        hasGameState = true;
        stateAgeMs = readU32(bytes + 12);
        gameState = readU16(bytes + 16);
    }
    return true;
}

size_t PasswordRefused::encode(uint8_t* out)
{
    putU16(out, kMark);
    putU16(out + 2, kFiller);
    return kSize;
}

bool PasswordRefused::matches(const uint8_t* bytes, size_t size)
{
    return size == kSize && readU16(bytes) == kMark && readU16(bytes + 2) == kFiller;
}

size_t ChunkRequest::encode(uint8_t* out) const
{
    return putRequestHead(out, version, kChunkCommand);
}

bool ChunkRequest::decode(const uint8_t* bytes, size_t size)
{
    if (size != kSize || !hasCommand(bytes, size, kChunkCommand))
        return false;
    version = readU16(bytes);
    return true;
}

size_t ResendRequest::encode(uint8_t* out) const
{
    putRequestHead(out, version, kResendCommand);
    putU16(out + 4, index);
    return kSize;
}

bool ResendRequest::decode(const uint8_t* bytes, size_t size)
{
    if (size != kSize || !hasCommand(bytes, size, kResendCommand))
        return false;
    version = readU16(bytes);
    index = readU16(bytes + 4);
    return true;
}

size_t AnnounceDatagram::encode(uint8_t* out) const
{
    putU16(out, kMark);
    putU16(out + 2, kKind);
    putU16(out + 4, gamePort);
    return kSize;
}

bool AnnounceDatagram::decode(const uint8_t* bytes, size_t size)
{
    if (size != kSize || readU16(bytes) != kMark || readU16(bytes + 2) != kKind)
        return false;
    gamePort = readU16(bytes + 4);
    return true;
}

}  // namespace wire
