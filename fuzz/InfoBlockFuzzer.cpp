// Bytes as addoninfoblock.udp into the loader. Whatever it accepts must be
// exactly what the server would have stored, chunk for chunk, and must
// reassemble into a compressed block the way a client joins it. The file
// is read from memory.
#include "MemoryFile.h"

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "client/ChunkCollector.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Rewrites each chunk's index and CRC to what the loader expects, so that
// mutated payloads get past the checks and reach the rest: random bytes
// almost never carry a matching CRC-32.
std::vector<uint8_t> withRepairedChunks(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> bytes(data, data + size);
    size_t at = 12;
    for (uint32_t index = 0; at + 4 <= bytes.size(); ++index) {
        uint32_t length = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
        at += 4;
        if (length < InfoBlock::kMinChunkSize || length > InfoBlock::kMaxChunkSize || bytes.size() - at < length)
            break;
        uint8_t* chunk = bytes.data() + at;
        chunk[0] = uint8_t(index);
        chunk[1] = uint8_t(index >> 8);
        uint32_t crc = uint32_t(crc32(0, chunk, length - 4));
        for (int i = 0; i < 4; ++i)
            chunk[length - 4 + i] = uint8_t(crc >> (8 * i));
        at += length;
    }
    return bytes;
}

int checkOne(const uint8_t* data, size_t size);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkOne(data, size);
    std::vector<uint8_t> repaired = withRepairedChunks(data, size);
    checkOne(repaired.data(), repaired.size());
    return 0;
}

namespace {

int checkOne(const uint8_t* data, size_t size)
{
    InfoBlock block;
    InfoBlockLoad result = loadInfoBlock(block, MemoryFile(data, size, "rb").get());
    if (result == InfoBlockLoad::NotFound)
        std::abort();
    if (result == InfoBlockLoad::Damaged) {
        if (block.infoBlockId != 0 || block.chunks.size != 0)
            std::abort();
        return 0;
    }

    if (block.chunks.size < 1 || static_cast<uint32_t>(block.chunks.size) > InfoBlock::kMaxChunks)
        std::abort();
    std::vector<std::vector<uint8_t>> datagrams;
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        const ByteBuffer& chunk = *block.chunks[i];
        if (chunk.size < InfoBlock::kMinChunkSize || chunk.size > InfoBlock::kMaxChunkSize)
            std::abort();
        // What the server sends must pass the check that clients apply.
        if (validChunkIndex(chunk.data, chunk.size) != i)
            std::abort();
        datagrams.emplace_back(chunk.data, chunk.data + chunk.size);
    }
    ChunkCollector collector(static_cast<uint32_t>(datagrams.size()));
    for (const std::vector<uint8_t>& datagram : datagrams) {
        if (collector.offer(datagram.data(), datagram.size()) != ChunkCollector::Verdict::accepted)
            std::abort();
    }
    if (!collector.isComplete())
        std::abort();
    // Whatever the payloads hold, the client's way to the image copes.
    std::vector<uint8_t> image;
    std::string error;
    if (!catalogueFromChunks(datagrams, image, error) && error.empty())
        std::abort();

    // Saving what was loaded gives the same bytes back.
    MemoryStream saved(static_cast<uint32_t>(size));
    writeInfoBlock(saved, block);
    if (saved.length != size || (size > 0 && std::memcmp(saved.buffer, data, size) != 0))
        std::abort();
    return 0;
}

}  // namespace
