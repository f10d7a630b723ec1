// Bytes as addoninfoblock.udp into the loader. Whatever it accepts must be
// exactly what the server would have stored, chunk for chunk, and must
// reassemble into a compressed block the way a client joins it.
#include "ScratchFile.h"

#include "catalogue/InfoBlock.h"
#include "client/ChunkCollector.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> readWhole(const char* path)
{
    std::vector<uint8_t> bytes;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        std::abort();
    uint8_t block[4096];
    size_t got = 0;
    while ((got = std::fread(block, 1, sizeof block, file)) > 0)
        bytes.insert(bytes.end(), block, block + got);
    std::fclose(file);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScratchFile scratch("addoninfoblock.udp");
    scratch.write(data, size);

    InfoBlock block;
    InfoBlockLoad result = loadInfoBlock(block, scratch.path());
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

    // Saving what was loaded gives the same bytes back.
    std::string copy = scratch.pathOf("saved.udp");
    if (!saveInfoBlock(block, copy.c_str()))
        std::abort();
    std::vector<uint8_t> saved = readWhole(copy.c_str());
    if (saved.size() != size || (size > 0 && std::memcmp(saved.data(), data, size) != 0))
        std::abort();
    return 0;
}
