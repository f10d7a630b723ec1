// Bytes as addoninfoblock.udp into the loader. Whatever it accepts must be
// exactly what the server would have stored, chunk for chunk, and must
// reassemble into a compressed block the way a client joins it. The file
// is read from memory.
#include "MemoryFile.h"

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "client/ChunkCollector.h"
#include "wire/ChunkDatagram.h"
#include "wire/LittleEndian.h"

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
        uint32_t length = wire::readU32(bytes.data() + at);
        at += 4;
        if (!wire::ChunkDatagram::hasChunkSize(length) || bytes.size() - at < length)
            break;
        wire::ChunkDatagram chunk;
        chunk.index = static_cast<uint16_t>(index);
        chunk.payload = bytes.data() + at + wire::ChunkDatagram::kIndexSize;
        chunk.payloadSize = length - wire::ChunkDatagram::kOverhead;
        chunk.encode(bytes.data() + at);
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

    if (block.chunks.size < 1 || static_cast<uint32_t>(block.chunks.size) > wire::ChunkDatagram::kMaxChunks)
        std::abort();
    std::vector<std::vector<uint8_t>> datagrams;
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        const ByteBuffer& chunk = *block.chunks[i];
        if (!wire::ChunkDatagram::hasChunkSize(chunk.size))
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
