#include "client/ChunkCollector.h"

#include "wire/LittleEndian.h"

#include <zlib.h>

namespace {

using wire::ChunkDatagram;
using wire::CompressedBlock;

std::string at(size_t offset, const std::string& message)
{
    return "at offset " + std::to_string(offset) + " of the compressed block: " + message;
}

}  // namespace

int32_t validChunkIndex(const uint8_t* datagram, size_t size)
{
    ChunkDatagram chunk;
    return chunk.decode(datagram, size) ? chunk.index : -1;
}

ChunkCollector::ChunkCollector(uint32_t chunkCount) : payloads(chunkCount), held(chunkCount, false) {}

ChunkCollector::Verdict ChunkCollector::offer(const uint8_t* datagram, size_t size)
{
    ChunkDatagram chunk;
    if (!ChunkDatagram::hasChunkSize(size))
        return Verdict::foreign;
    if (!chunk.decode(datagram, size))
        return Verdict::corrupt;
    uint16_t index = chunk.index;
    if (index >= payloads.size())
        return Verdict::foreign;
    if (held[index])
        return Verdict::duplicate;
    payloads[index].assign(chunk.payload, chunk.payload + chunk.payloadSize);
    held[index] = true;
    ++received;
    bytes += size;
    return Verdict::accepted;
}

std::vector<uint16_t> ChunkCollector::missingIndices() const
{
    std::vector<uint16_t> missing;
    for (size_t i = 0; i < held.size(); ++i) {
        if (!held[i])
            missing.push_back(static_cast<uint16_t>(i));
    }
    return missing;
}

std::vector<uint8_t> ChunkCollector::compressedBlock() const
{
    std::vector<uint8_t> block;
    for (const std::vector<uint8_t>& payload : payloads)
        block.insert(block.end(), payload.begin(), payload.end());
    return block;
}

namespace {

// zlib cannot expand data by more than about 1032 to 1, so a length word
// beyond that bound is damage and must not decide an allocation.
bool plausibleLength(uint32_t length, size_t compressedSize, std::string& error)
{
    uint64_t bound = static_cast<uint64_t>(compressedSize) * 1032 + 64;
    if (length <= CompressedBlock::kMaxCatalogueSize && length <= bound)
        return true;
    error = at(0, "the length word " + std::to_string(length) + " is impossible for " +
                      std::to_string(compressedSize) + " compressed bytes");
    return false;
}

// One byte of spare room shows a stream that would inflate to more than
// the length word says.
bool inflateExactly(const uint8_t* source, size_t sourceSize, uint32_t length, std::vector<uint8_t>& out,
                    std::string& error)
{
    out.assign(static_cast<size_t>(length) + 1, 0);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) {
        error = "zlib cannot start inflating";
        return false;
    }
    stream.next_in = const_cast<Bytef*>(source);
    stream.avail_in = static_cast<uInt>(sourceSize);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    int result = inflate(&stream, Z_FINISH);
    size_t consumed = stream.total_in;
    size_t produced = stream.total_out;
    std::string reason = stream.msg != nullptr ? stream.msg : "";
    inflateEnd(&stream);
    size_t where = CompressedBlock::kLengthSize + consumed;
    if (result == Z_DATA_ERROR || result == Z_NEED_DICT)
        error = at(where, "the compressed data is corrupt (" + reason + ")");
    else if (produced > length)
        error = at(where, "the data inflates to more than the " + std::to_string(length) + " bytes announced");
    else if (result != Z_STREAM_END)
        error = at(where, "the compressed data ends early, after " + std::to_string(produced) + " of " +
                              std::to_string(length) + " bytes");
    else if (produced != length)
        error = at(where, "the data inflates to " + std::to_string(produced) + " bytes, the length word says " +
                              std::to_string(length));
    else if (consumed != sourceSize)
        error = at(where, std::to_string(sourceSize - consumed) + " bytes follow the compressed data");
    else {
        out.resize(length);
        return true;
    }
    return false;
}

}  // namespace

bool inflateCompressedBlock(const std::vector<uint8_t>& block, std::vector<uint8_t>& catalogue,
                            std::string& error)
{
    constexpr size_t head = CompressedBlock::kLengthSize;
    if (block.size() < head) {
        error = at(0, "the block ends inside its length word (" + std::to_string(block.size()) + " bytes)");
        return false;
    }
    uint32_t length = wire::readU32(block.data());
    if (!plausibleLength(length, block.size() - head, error))
        return false;
    return inflateExactly(block.data() + head, block.size() - head, length, catalogue, error);
}

namespace {

bool collectAll(const std::vector<std::vector<uint8_t>>& chunks, ChunkCollector& collector, std::string& error)
{
    for (size_t i = 0; i < chunks.size(); ++i) {
        std::string which = "chunk at list position " + std::to_string(i);
        switch (collector.offer(chunks[i].data(), chunks[i].size())) {
        case ChunkCollector::Verdict::accepted:
            continue;
        case ChunkCollector::Verdict::duplicate:
            error = which + " repeats an index already given";
            return false;
        case ChunkCollector::Verdict::corrupt:
            error = which + " fails its CRC-32 check";
            return false;
        case ChunkCollector::Verdict::foreign:
            if (ChunkDatagram::hasChunkSize(chunks[i].size()))
                error = which + " has an index beyond " + std::to_string(chunks.size() - 1);
            else
                error = which + " is " + std::to_string(chunks[i].size()) + " bytes; a chunk has " +
                        std::to_string(ChunkDatagram::kMinSize) + " to " + std::to_string(ChunkDatagram::kMaxSize);
            return false;
        }
    }
    return true;
}

}  // namespace

bool catalogueFromChunks(const std::vector<std::vector<uint8_t>>& chunks, std::vector<uint8_t>& catalogue,
                         std::string& error)
{
    if (chunks.empty() || chunks.size() > ChunkDatagram::kMaxChunks) {
        error = "a catalogue has 1 to 65535 chunks, not " + std::to_string(chunks.size());
        return false;
    }
    ChunkCollector collector(static_cast<uint32_t>(chunks.size()));
    if (!collectAll(chunks, collector, error))
        return false;
    return inflateCompressedBlock(collector.compressedBlock(), catalogue, error);
}
