#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

// One piece of the catalogue as served and as stored: u16 index, 1 to 256
// payload bytes, u32 CRC-32 of the index and payload. The payloads joined
// in index order give the compressed block (see below).
struct ChunkDatagram {
    static constexpr size_t kIndexSize = 2;
    static constexpr size_t kCheckSize = 4;
    static constexpr size_t kOverhead = kIndexSize + kCheckSize;
    static constexpr size_t kMaxPayload = 256;
    static constexpr size_t kMinSize = kOverhead + 1;
    static constexpr size_t kMaxSize = kOverhead + kMaxPayload;
    static constexpr uint32_t kMaxChunks = 65535;  // the count travels as 16 bits

    uint16_t index = 0;
    const uint8_t* payload = nullptr;  // decoded: points into the datagram
    size_t payloadSize = 0;

    static bool hasChunkSize(size_t size) { return size >= kMinSize && size <= kMaxSize; }
    // Writes kOverhead + payloadSize bytes; payload may already sit in out.
    size_t encode(uint8_t* out) const;
    // False when size is no chunk's or the check does not hold.
    bool decode(const uint8_t* bytes, size_t size);
};

// The compressed block: u32 length of the catalogue, then the catalogue
// compressed as one zlib stream.
struct CompressedBlock {
    static constexpr size_t kLengthSize = 4;
    // A length word above this is taken for damage rather than allocated.
    static constexpr uint32_t kMaxCatalogueSize = 256u * 1024 * 1024;
};

}  // namespace wire
