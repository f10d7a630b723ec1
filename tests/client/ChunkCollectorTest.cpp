#include "client/ChunkCollector.h"

#include "CatalogueBytes.h"
#include "SealedCatalogue.h"
#include "client/CatalogueDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <zlib.h>

namespace {

using Bytes = std::vector<uint8_t>;

std::string reassemblyError(const std::vector<Chunk>& chunks)
{
    Bytes image;
    std::string error;
    EXPECT_FALSE(catalogueFromChunks(chunks, image, error));
    return error;
}

// A chunk with a payload the server never sent but a valid check.
Chunk resealed(uint16_t index, const Bytes& payload)
{
    Chunk chunk(2 + payload.size());
    chunk[0] = static_cast<uint8_t>(index);
    chunk[1] = static_cast<uint8_t>(index >> 8);
    std::copy(payload.begin(), payload.end(), chunk.begin() + 2);
    uint32_t crc = static_cast<uint32_t>(crc32(0, chunk.data(), static_cast<uInt>(chunk.size())));
    for (int i = 0; i < 4; ++i)
        chunk.push_back(static_cast<uint8_t>(crc >> (8 * i)));
    return chunk;
}

TEST(ChunkReassembly, SealedChunksGiveTheImageBackInAnyOrder)
{
    Bytes image = bulkyCatalogue(300);
    SealedCatalogue sealed = sealImage(image);
    ASSERT_GT(sealed.chunks.size(), 20u);

    std::vector<Chunk> shuffled = sealed.chunks;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    for (const std::vector<Chunk>& order : {sealed.chunks, shuffled}) {
        Bytes back;
        std::string error;
        ASSERT_TRUE(catalogueFromChunks(order, back, error)) << error;
        EXPECT_EQ(back, image);
    }
    Catalogue catalogue;
    std::string error;
    ASSERT_TRUE(decodeCatalogue(image.data(), image.size(), catalogue, error)) << error;
    EXPECT_EQ(countFiles(catalogue.packages[0].root), 300u);
}

TEST(ChunkReassembly, SmallestCatalogueIsOneChunk)
{
    CatalogueBytes empty;
    empty.head("", "", "", "", "", 0);
    SealedCatalogue sealed = sealImage(empty.bytes);
    ASSERT_EQ(sealed.chunks.size(), 1u);
    Bytes back;
    std::string error;
    ASSERT_TRUE(catalogueFromChunks(sealed.chunks, back, error)) << error;
    EXPECT_EQ(back, empty.bytes);
}

TEST(ChunkReassembly, DamagedChunkSetsAreRefused)
{
    std::vector<Chunk> chunks = sealImage(bulkyCatalogue(40)).chunks;
    ASSERT_GE(chunks.size(), 3u);

    std::vector<Chunk> flipped = chunks;
    flipped[1][5] ^= 0x40;
    EXPECT_EQ(reassemblyError(flipped), "chunk at list position 1 fails its CRC-32 check");

    std::vector<Chunk> repeated = chunks;
    repeated[2] = chunks[0];
    EXPECT_EQ(reassemblyError(repeated), "chunk at list position 2 repeats an index already given");

    std::vector<Chunk> missing(chunks.begin(), chunks.end() - 1);
    missing.push_back(resealed(static_cast<uint16_t>(chunks.size()), {1}));
    EXPECT_EQ(reassemblyError(missing),
              "chunk at list position " + std::to_string(chunks.size() - 1) + " has an index beyond " +
                  std::to_string(chunks.size() - 1));

    std::vector<Chunk> stub = chunks;
    stub[0].resize(6);
    EXPECT_EQ(reassemblyError(stub), "chunk at list position 0 is 6 bytes; a chunk has 7 to 262");

    EXPECT_EQ(reassemblyError({}), "a catalogue has 1 to 65535 chunks, not 0");
}

// Faults inside the compressed block, each behind sound chunk checks.
TEST(ChunkReassembly, CompressedBlockFaultsNameTheirOffset)
{
    Bytes image = sampleCatalogue();
    Bytes block = compressedBlockOf(image);

    Bytes longer = block;
    longer[0] += 1;
    EXPECT_EQ(reassemblyError(chunkBlock(longer)),
              "at offset " + std::to_string(block.size()) + " of the compressed block: the data inflates to " +
                  std::to_string(image.size()) + " bytes, the length word says " +
                  std::to_string(image.size() + 1));

    Bytes shorter = block;
    shorter[0] -= 1;
    EXPECT_NE(reassemblyError(chunkBlock(shorter)).find("inflates to more than"), std::string::npos);

    Bytes cut(block.begin(), block.end() - 5);
    EXPECT_NE(reassemblyError(chunkBlock(cut)).find("ends early"), std::string::npos);

    Bytes padded = block;
    padded.push_back(0);
    EXPECT_EQ(reassemblyError(chunkBlock(padded)),
              "at offset " + std::to_string(block.size()) + " of the compressed block: 1 bytes follow the "
              "compressed data");

    Bytes garbage = block;
    garbage[4] = 0xFF;
    // zlib has read the two header bytes when it finds them wrong.
    EXPECT_EQ(reassemblyError(chunkBlock(garbage)),
              "at offset 6 of the compressed block: the compressed data is corrupt (incorrect header check)");

    Bytes huge = block;
    huge[3] = 0xFF;
    EXPECT_NE(reassemblyError(chunkBlock(huge)).find("is impossible for"), std::string::npos);

    EXPECT_EQ(reassemblyError({resealed(0, {1, 2})}),
              "at offset 0 of the compressed block: the block ends inside its length word (2 bytes)");
}

TEST(ChunkCollector, SortsOutWhatArrives)
{
    std::vector<Chunk> chunks = sealImage(bulkyCatalogue(40)).chunks;
    ChunkCollector collector(static_cast<uint32_t>(chunks.size()));
    using Verdict = ChunkCollector::Verdict;

    EXPECT_EQ(collector.offer(chunks[1].data(), chunks[1].size()), Verdict::accepted);
    EXPECT_EQ(collector.offer(chunks[1].data(), chunks[1].size()), Verdict::duplicate);
    Chunk bad = chunks[0];
    bad.back() ^= 1;
    EXPECT_EQ(collector.offer(bad.data(), bad.size()), Verdict::corrupt);
    const uint8_t answer[4] = {0x01, 0x80, 0xFF, 0xFF};
    Chunk beyond = resealed(static_cast<uint16_t>(chunks.size()), {9});
    EXPECT_EQ(collector.offer(beyond.data(), beyond.size()), Verdict::foreign);
    EXPECT_EQ(collector.offer(answer, 4), Verdict::foreign);

    EXPECT_EQ(collector.receivedCount(), 1u);
    std::vector<uint16_t> missing = collector.missingIndices();
    ASSERT_EQ(missing.size(), chunks.size() - 1);
    EXPECT_EQ(missing[0], 0);
    EXPECT_EQ(missing[1], 2);
    EXPECT_FALSE(collector.isComplete());
}

}  // namespace
