#pragma once

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"

#include <cstdint>
#include <vector>

using Chunk = std::vector<uint8_t>;

inline std::vector<Chunk> chunksOf(const InfoBlock& block)
{
    std::vector<Chunk> chunks;
    for (int32_t i = 0; i < block.chunks.size; ++i)
        chunks.emplace_back(block.chunks[i]->data, block.chunks[i]->data + block.chunks[i]->size);
    return chunks;
}

// The chunks that the server's own sealing makes of an image.
inline std::vector<Chunk> sealImage(const std::vector<uint8_t>& image)
{
    MemoryStream stream(4096);
    stream.write(image.data(), static_cast<uint32_t>(image.size()));
    InfoBlock block;
    return sealCatalogue(stream, 0x1234, block) ? chunksOf(block) : std::vector<Chunk>();
}
