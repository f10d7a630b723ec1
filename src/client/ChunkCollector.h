#pragma once

#include "wire/ChunkDatagram.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Collects the chunks of one transfer as they come, in any order and with
// repeats, and keeps only those whose check holds.
class ChunkCollector {
public:
    explicit ChunkCollector(uint32_t chunkCount);

    enum class Verdict {
        accepted,
        duplicate,  // valid, but this index is already held
        corrupt,    // chunk-sized, but the CRC-32 does not match
        foreign,    // not a chunk of this transfer: wrong size or index out of range
    };
    Verdict offer(const uint8_t* datagram, size_t size);

    uint32_t chunkCount() const { return static_cast<uint32_t>(payloads.size()); }
    uint32_t receivedCount() const { return received; }
    bool isComplete() const { return received == payloads.size(); }
    uint64_t acceptedBytes() const { return bytes; }  // whole datagrams, as they travelled
    std::vector<uint16_t> missingIndices() const;

    // The payloads joined in index order; only meaningful once complete.
    std::vector<uint8_t> compressedBlock() const;

private:
    std::vector<std::vector<uint8_t>> payloads;
    std::vector<bool> held;
    uint32_t received = 0;
    uint64_t bytes = 0;
};

// Index of a datagram that passes the chunk check, or -1.
int32_t validChunkIndex(const uint8_t* datagram, size_t size);

// Checks the compressed block's length word and inflates the compressed block into exactly
// that many bytes. Errors name the offset into the block.
bool inflateCompressedBlock(const std::vector<uint8_t>& block, std::vector<uint8_t>& catalogue,
                            std::string& error);

// The whole way from a list of chunk datagrams (any order, each index
// 0 .. size - 1 exactly once) to the uncompressed catalogue image.
bool catalogueFromChunks(const std::vector<std::vector<uint8_t>>& chunks, std::vector<uint8_t>& catalogue,
                         std::string& error);

