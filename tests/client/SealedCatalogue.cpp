#include "SealedCatalogue.h"

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"

#include <zlib.h>

namespace {

std::vector<Chunk> chunksOf(const InfoBlock& block)
{
    std::vector<Chunk> chunks;
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        const ByteBuffer& chunk = *block.chunks[i];
        chunks.emplace_back(chunk.data, chunk.data + chunk.size);
    }
    return chunks;
}

}  // namespace

SealedCatalogue sealImage(const std::vector<uint8_t>& image, uint32_t blockChecksum)
{
    MemoryStream stream(4096);
    stream.write(image.data(), static_cast<uint32_t>(image.size()));
    InfoBlock block;
    SealedCatalogue sealed;
    if (!sealCatalogue(stream, blockChecksum, block))
        return sealed;
    sealed.id = block.infoBlockId;
    sealed.chunks = chunksOf(block);
    return sealed;
}

std::vector<Chunk> chunkBlock(const std::vector<uint8_t>& block)
{
    InfoBlock target;
    if (!splitIntoChunks(block.data(), static_cast<uint32_t>(block.size()), target))
        return {};
    return chunksOf(target);
}

std::vector<uint8_t> compressedBlockOf(const std::vector<uint8_t>& image)
{
    uLongf room = compressBound(static_cast<uLong>(image.size()));
    std::vector<uint8_t> block(4 + room);
    uint32_t length = static_cast<uint32_t>(image.size());
    for (int i = 0; i < 4; ++i)
        block[i] = static_cast<uint8_t>(length >> (8 * i));
    compress(block.data() + 4, &room, image.data(), static_cast<uLong>(image.size()));
    block.resize(4 + room);
    return block;
}
