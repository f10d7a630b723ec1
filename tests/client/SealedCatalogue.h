#pragma once

#include <cstdint>
#include <vector>

using Chunk = std::vector<uint8_t>;

// The chunks and identifier that the server's own sealing makes of an image.
struct SealedCatalogue {
    uint64_t id = 0;
    std::vector<Chunk> chunks;
};

SealedCatalogue sealImage(const std::vector<uint8_t>& image, uint32_t blockChecksum = 0x1234);

// The server's chunking of an arbitrary compressed block, sound or not.
std::vector<Chunk> chunkBlock(const std::vector<uint8_t>& block);

// u32 length, then the zlib stream: what sealing compresses an image to.
std::vector<uint8_t> compressedBlockOf(const std::vector<uint8_t>& image);
