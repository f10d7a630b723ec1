#include "catalogue/InfoBlock.h"

#include "catalogue/ByteStream.h"
#include "catalogue/MemoryStream.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "wire/CatalogueLayout.h"
#include "wire/ChunkDatagram.h"
#include "wire/LittleEndian.h"

#include <cstdio>
#include <vector>

#include <zlib.h>

void InfoBlock::clear()
{
    infoBlockId = 0;
    chunks.setSize(0);
}

RefString infoBlockIdText(uint64_t infoBlockId)
{
    char digits[17];
    int start = 16;
    digits[16] = '\0';
    do {
        digits[--start] = "0123456789abcdef"[infoBlockId & 0xF];
        infoBlockId >>= 4;
    } while (infoBlockId != 0);
    return RefString(digits + start);
}

void writeCatalogueHead(ByteStream& stream, const Settings& settings)
{
    RecordWriter writer(stream);
    const uint32_t packageCount = static_cast<uint32_t>(settings.packageUrls.size);
    wire::catalogueHead(writer, settings.serverName, settings.serverInfo, settings.serverAdmin, settings.comServer,
                        settings.deactivations, settings.reservedText, packageCount);
}

namespace {

using wire::ChunkDatagram;
using wire::CompressedBlock;

// Takes the new buffer into a fresh slot at the end. Handing the array a
// handle that it then copies would leave two counts for g++ to track, and
// it cannot prove that the first release does not free the block.
void appendChunk(InfoBlock& target, ByteBuffer* chunk)
{
    int32_t slot = target.chunks.size;
    target.chunks.setSize(slot + 1);
    target.chunks[slot] = SharedRef<ByteBuffer>(chunk);
}

ByteBuffer* makeChunk(uint32_t index, const uint8_t* payload, uint32_t payloadSize)
{
    auto* chunk = new ByteBuffer(payloadSize + ChunkDatagram::kOverhead);
    ChunkDatagram datagram;
    datagram.index = static_cast<uint16_t>(index);
    datagram.payload = payload;
    datagram.payloadSize = payloadSize;
    datagram.encode(chunk->data);
    return chunk;
}

uint32_t totalChunkBytes(const InfoBlock& block)
{
    uint32_t total = 0;
    for (int32_t i = 0; i < block.chunks.size; ++i)
        total += block.chunks[i]->size;
    return total;
}

// The catalogue as a compressed block; empty when zlib reports an error.
std::vector<uint8_t> compressCatalogue(const MemoryStream& catalogue)
{
    constexpr size_t head = CompressedBlock::kLengthSize;
    uLongf room = compressBound(catalogue.length);
    std::vector<uint8_t> block(head + room);
    wire::putU32(block.data(), catalogue.length);
    if (compress(block.data() + head, &room, catalogue.buffer, catalogue.length) != Z_OK)
        return {};
    block.resize(head + room);
    return block;
}

}  // namespace

uint32_t chunkCountFor(uint32_t blockSize)
{
    constexpr uint32_t payload = ChunkDatagram::kMaxPayload;
    return blockSize / payload + (blockSize % payload != 0 ? 1 : 0);
}

bool splitIntoChunks(const uint8_t* block, uint32_t blockSize, InfoBlock& target)
{
    target.chunks.setSize(0);
    uint32_t count = chunkCountFor(blockSize);
    constexpr uint32_t payload = ChunkDatagram::kMaxPayload;
    if (count == 0 || count > ChunkDatagram::kMaxChunks)
        return false;
    for (uint32_t index = 0; index < count; ++index) {
        uint32_t offset = index * payload;
        uint32_t rest = blockSize - offset;
        uint32_t payloadSize = rest < payload ? rest : payload;
        appendChunk(target, makeChunk(index, block + offset, payloadSize));
    }
    return true;
}

bool sealCatalogue(const MemoryStream& catalogue, uint32_t blockChecksum, InfoBlock& target)
{
    target.clear();
    std::vector<uint8_t> block = compressCatalogue(catalogue);
    if (block.empty()) {
        std::printf("Error: ZLIB reported error when compressing the addon info block\n");
        return false;
    }
    uint32_t compressedSize = static_cast<uint32_t>(block.size() - CompressedBlock::kLengthSize);
    std::printf("Addon info chunk created and compressed from %u to %u bytes\n", catalogue.length, compressedSize);
    // Counted in 64 bits: a catalogue near 4 GiB compresses to more than
    // a 32-bit size can hold.
    unsigned long long count = (block.size() + ChunkDatagram::kMaxPayload - 1) / ChunkDatagram::kMaxPayload;
    if (count > ChunkDatagram::kMaxChunks) {
        std::printf("Error: Addon info block needs %llu chunks, more than the %u a client can fetch\n", count,
                    ChunkDatagram::kMaxChunks);
        return false;
    }
    splitIntoChunks(block.data(), static_cast<uint32_t>(block.size()), target);
    target.infoBlockId = (static_cast<uint64_t>(blockChecksum) << 32) | platform::tickCount();
    std::printf("    chunk labeled %s and split into %d packages\n    total size of %u bytes\n",
                infoBlockIdText(target.infoBlockId).c_str(), target.chunks.size, totalChunkBytes(target));
    return true;
}

void writeInfoBlock(ByteStream& stream, const InfoBlock& block)
{
    writeU32(stream, static_cast<uint32_t>(block.infoBlockId));
    writeU32(stream, static_cast<uint32_t>(block.infoBlockId >> 32));
    writeU32(stream, static_cast<uint32_t>(block.chunks.size));
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        writeU32(stream, block.chunks[i]->size);
        stream.write(block.chunks[i]->data, block.chunks[i]->size);
    }
}

bool saveInfoBlock(const InfoBlock& block, const char* path)
{
    MemoryStream file(12 + totalChunkBytes(block) + 4 * static_cast<uint32_t>(block.chunks.size));
    writeInfoBlock(file, block);
    if (!platform::writeFileAtomically(path, file.buffer, file.length)) {
        std::printf("Error: Unable to write the addon info block to %s\n", path);
        return false;
    }
    return true;
}

namespace {

bool readExactly(std::FILE* file, uint8_t* destination, uint32_t count)
{
    return std::fread(destination, 1, count, file) == count;
}

bool readU32(std::FILE* file, uint32_t& value)
{
    uint8_t bytes[4];
    if (!readExactly(file, bytes, 4))
        return false;
    value = wire::readU32(bytes);
    return true;
}

// One stored chunk, accepted only when its length, index and CRC hold.
bool readChunk(std::FILE* file, uint32_t expectedIndex, InfoBlock& target)
{
    uint32_t size = 0;
    if (!readU32(file, size) || !ChunkDatagram::hasChunkSize(size))
        return false;
    uint8_t chunk[ChunkDatagram::kMaxSize];
    if (!readExactly(file, chunk, size))
        return false;
    ChunkDatagram datagram;
    if (!datagram.decode(chunk, size) || datagram.index != expectedIndex)
        return false;
    appendChunk(target, new ByteBuffer(chunk, size));
    return true;
}

bool readInfoBlock(std::FILE* file, InfoBlock& target)
{
    uint32_t low = 0;
    uint32_t high = 0;
    uint32_t count = 0;
    if (!readU32(file, low) || !readU32(file, high) || !readU32(file, count))
        return false;
    if (count == 0 || count > ChunkDatagram::kMaxChunks)
        return false;
    target.infoBlockId = (static_cast<uint64_t>(high) << 32) | low;
    for (uint32_t i = 0; i < count; ++i) {
        if (!readChunk(file, i, target))
            return false;
    }
    return std::fgetc(file) == EOF && !std::ferror(file);
}

}  // namespace

InfoBlockLoad loadInfoBlock(InfoBlock& target, const char* path)
{
    target.clear();
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return InfoBlockLoad::NotFound;
    InfoBlockLoad result = loadInfoBlock(target, file);
    std::fclose(file);
    return result;
}

InfoBlockLoad loadInfoBlock(InfoBlock& target, std::FILE* file)
{
    target.clear();
    if (readInfoBlock(file, target))
        return InfoBlockLoad::Loaded;
    target.clear();
    return InfoBlockLoad::Damaged;
}
