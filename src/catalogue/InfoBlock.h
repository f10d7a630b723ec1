#pragma once

#include "foundation/ByteBuffer.h"
#include "foundation/RefString.h"
#include "foundation/SharedRef.h"

#include <cstdint>
#include <cstdio>

class ByteStream;
class MemoryStream;
class Settings;

// The catalogue as it is stored and served: the compressed catalogue cut
// into chunks that each fit in one datagram (wire/ChunkDatagram.h), and
// the identifier that tells clients whether the copy they hold is still
// current.
class InfoBlock {
public:
    InfoBlock() = default;
    InfoBlock(const InfoBlock&) = delete;
    InfoBlock& operator=(const InfoBlock&) = delete;

    // High half: XOR of the packages' checksums; low half: the tick count
    // when the block was sealed.
    uint64_t infoBlockId = 0;
    SharedRefArray<ByteBuffer> chunks;  // in index order

    void clear();
};

inline constexpr char kInfoBlockFileName[] = "addoninfoblock.udp";

// What start-up prints instead of the not-found message when the stored
// file exists but cannot be trusted.
inline constexpr char kInfoBlockDamagedMessage[] = "Warning: Addon info block is damaged, building new from packages\n";

// Lower-case hexadecimal without leading zeros: 500 reads "1f4", 0 reads "0".
RefString infoBlockIdText(uint64_t infoBlockId);

// The catalogue's head (wire/CatalogueLayout.h) from the settings.
void writeCatalogueHead(ByteStream& stream, const Settings& settings);

// Number of chunks a compressed block of this size is cut into.
uint32_t chunkCountFor(uint32_t blockSize);

// Replaces target's chunks with the chunks of the compressed block. False,
// leaving no chunks, when the block is empty or needs more chunks than a
// count can carry.
bool splitIntoChunks(const uint8_t* block, uint32_t blockSize, InfoBlock& target);

// Compresses the finished catalogue, cuts it into chunks, labels it and
// prints the build summary. False, with the reason printed and target
// left empty, when compression fails or the block would need too many
// chunks.
bool sealCatalogue(const MemoryStream& catalogue, uint32_t blockChecksum, InfoBlock& target);

// Stores the block so that a crash or a full disk leaves either the old
// file or the complete new one. False, with an "Error: " message, when the
// file cannot be written.
bool saveInfoBlock(const InfoBlock& block, const char* path = kInfoBlockFileName);
// The bytes saveInfoBlock stores, appended to stream.
void writeInfoBlock(ByteStream& stream, const InfoBlock& block);

enum class InfoBlockLoad { Loaded, NotFound, Damaged };

// Reads a stored block, checking every count, length, index and CRC before
// trusting it; prints nothing. NotFound when the file cannot be opened;
// Damaged leaves target empty (id 0, no chunks).
InfoBlockLoad loadInfoBlock(InfoBlock& target, const char* path = kInfoBlockFileName);
// The same on a file already open for reading (left open), which must end
// with the block; Loaded or Damaged.
InfoBlockLoad loadInfoBlock(InfoBlock& target, std::FILE* file);
