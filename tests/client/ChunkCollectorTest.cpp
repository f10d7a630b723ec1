#include "client/ChunkCollector.h"

#include "CatalogueBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

std::string reassemblyError(const std::vector<Chunk>& chunks)
{
    Bytes image;
    std::string error;
    EXPECT_FALSE(catalogueFromChunks(chunks, image, error));
    return error;
}

// The server's chunking of a compressed block, sound or not.
std::vector<Chunk> chunkBlock(const Bytes& block)
{
    InfoBlock target;
    return splitIntoChunks(block.data(), static_cast<uint32_t>(block.size()), target) ? chunksOf(target)
                                                                                       : std::vector<Chunk>();
}

TEST(ChunkReassembly, SealedChunksGiveTheImageBackInAnyOrder)
{
    Bytes image = bulkyCatalogue(300);
    std::vector<Chunk> chunks = sealImage(image);
    ASSERT_GT(chunks.size(), 20u);
    std::vector<Chunk> shuffled = chunks;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    for (const std::vector<Chunk>& order : {chunks, shuffled}) {
        Bytes back;
        std::string error;
        EXPECT_TRUE(catalogueFromChunks(order, back, error)) << error;
        EXPECT_EQ(back, image);
    }
}

TEST(ChunkReassembly, DamagedChunkSetsAreRefused)
{
    std::vector<Chunk> chunks = sealImage(bulkyCatalogue(40));
    ASSERT_GE(chunks.size(), 3u);
    std::string last = std::to_string(chunks.size() - 1);
    std::vector<Chunk> flipped = chunks, repeated = chunks, beyond = chunks, stub = chunks;
    flipped[1][5] ^= 0x40;
    repeated[2] = chunks[0];
    beyond.back() = sealedChunk(static_cast<uint16_t>(chunks.size()), {1});
    stub[0].resize(6);
    const std::pair<std::vector<Chunk>, std::string> cases[] = {
        {flipped, "chunk at list position 1 fails its CRC-32 check"},
        {repeated, "chunk at list position 2 repeats an index already given"},
        {beyond, "chunk at list position " + last + " has an index beyond " + last},
        {stub, "chunk at list position 0 is 6 bytes; a chunk has 7 to 262"},
        {{}, "a catalogue has 1 to 65535 chunks, not 0"},
    };
    for (const auto& fault : cases)
        EXPECT_EQ(reassemblyError(fault.first), fault.second);
}

// Faults inside the compressed block, each behind sound chunk checks.
TEST(ChunkReassembly, CompressedBlockFaultsNameTheirOffset)
{
    Bytes image = sampleCatalogue();
    Bytes block;
    for (const Chunk& chunk : sealImage(image))
        block.insert(block.end(), chunk.begin() + 2, chunk.end() - 4);
    const std::string end = "at offset " + std::to_string(block.size()) + " of the compressed block: ";
    auto changed = [&](size_t at, int value) {
        Bytes copy = block;
        copy[at] = static_cast<uint8_t>(value);
        return chunkBlock(copy);
    };
    Bytes padded = block;
    padded.push_back(0);
    const std::pair<std::vector<Chunk>, std::string> whole[] = {
        {changed(0, block[0] + 1), end + "the data inflates to " + std::to_string(image.size()) +
                                       " bytes, the length word says " + std::to_string(image.size() + 1)},
        {chunkBlock(padded), end + "1 bytes follow the compressed data"},
        // zlib has read the two header bytes when it finds them wrong.
        {changed(4, 0xFF),
         "at offset 6 of the compressed block: the compressed data is corrupt (incorrect header check)"},
        {{sealedChunk(0, {1, 2})}, "at offset 0 of the compressed block: the block ends inside its length word (2 bytes)"},
    };
    for (const auto& fault : whole)
        EXPECT_EQ(reassemblyError(fault.first), fault.second);
    const std::pair<std::vector<Chunk>, std::string> partly[] = {
        {changed(0, block[0] - 1), "inflates to more than"},
        {chunkBlock(Bytes(block.begin(), block.end() - 5)), "ends early"},
        {changed(3, 0xFF), "is impossible for"},
    };
    for (const auto& fault : partly)
        EXPECT_NE(reassemblyError(fault.first).find(fault.second), std::string::npos) << fault.second;
}

TEST(ChunkCollector, SortsOutWhatArrives)
{
    std::vector<Chunk> chunks = sealImage(bulkyCatalogue(40));
    ChunkCollector collector(static_cast<uint32_t>(chunks.size()));
    using Verdict = ChunkCollector::Verdict;
    Chunk bad = chunks[0];
    bad.back() ^= 1;
    const std::pair<Chunk, Verdict> offers[] = {{chunks[1], Verdict::accepted},
                                                {chunks[1], Verdict::duplicate},
                                                {bad, Verdict::corrupt},
                                                {sealedChunk(static_cast<uint16_t>(chunks.size()), {9}), Verdict::foreign},
                                                {{0x01, 0x80, 0xFF, 0xFF}, Verdict::foreign}};
    for (const auto& [chunk, verdict] : offers)
        EXPECT_EQ(collector.offer(chunk.data(), chunk.size()), verdict);
    EXPECT_EQ(collector.receivedCount(), 1u);
    std::vector<uint16_t> missing = collector.missingIndices();
    ASSERT_EQ(missing.size(), chunks.size() - 1);
    EXPECT_EQ(missing[0], 0);
    EXPECT_EQ(missing[1], 2);
    EXPECT_FALSE(collector.isComplete());
}

}  // namespace
