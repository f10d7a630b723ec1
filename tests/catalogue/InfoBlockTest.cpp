#include "catalogue/InfoBlock.h"

#include "catalogue/MemoryStream.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "wire/ChunkDatagram.h"
#include "client/CatalogueBytes.h"
#include "support/TempFolder.h"
#include "support/TestBytes.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

namespace {

namespace fs = std::filesystem;

// The payloads joined, after checking that every chunk carries its
// position as index and a CRC-32 of index and payload, and all but the
// last are full.
Bytes joinedPayloads(const InfoBlock& block)
{
    Bytes joined;
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        const ByteBuffer& c = *block.chunks[i];
        EXPECT_TRUE(c.size == 262u || (i + 1 == block.chunks.size && c.size >= 7u && c.size < 262u)) << i;
        EXPECT_EQ(c.data[0] | (c.data[1] << 8), i);
        EXPECT_EQ(u32At(c.data + c.size - 4), crc32(0, c.data, c.size - 4)) << "chunk " << i;
        joined.insert(joined.end(), c.data + 2, c.data + c.size - 4);
    }
    return joined;
}

std::string headOf(const Settings& settings)
{
    MemoryStream head(4);
    writeCatalogueHead(head, settings);
    return std::string(reinterpret_cast<char*>(head.buffer), head.length);
}

TEST(CatalogueHead, TenTextsBetweenTheWordOneAndThePackageCount)
{
    EXPECT_EQ(headOf(Settings()), std::string("\1\0\0\0" "\0\0\0\0\0\0\0\0\0\0" "\0\0\0\0", 18));
    Settings filled;
    filled.serverName = "Name";
    filled.serverInfo = "Info";
    filled.serverAdmin = "Adm";
    filled.comServer = "ts";
    filled.deactivations = "a:b:c:";
    filled.password = "not written";
    filled.packageUrls.add("http://x/p.zip");
    filled.packageUrls.add("http://x/q.zip");
    EXPECT_EQ(headOf(filled), std::string("\1\0\0\0Name\0Info\0Adm\0ts\0a:b:c:\0\0\0\0\0\0\2\0\0\0", 37));
}

// Full chunks, then the remainder; nothing a 16-bit chunk number cannot name.
TEST(SplitIntoChunks, FullChunksThenTheRemainderUpToTheSixteenBitLimit)
{
    for (uint32_t size : {1u, 256u, 257u, 512u, 513u}) {
        Bytes block = patternBytes(size, size);
        InfoBlock info;
        ASSERT_TRUE(splitIntoChunks(block.data(), size, info));
        EXPECT_EQ(uint32_t(info.chunks.size), (size + 255) / 256);
        EXPECT_EQ(joinedPayloads(info), block) << size;
    }
    InfoBlock info;
    EXPECT_FALSE(splitIntoChunks(nullptr, 0, info));
    Bytes block(wire::ChunkDatagram::kMaxChunks * 256u + 1);
    EXPECT_EQ(chunkCountFor(uint32_t(block.size())), 65536u);
    EXPECT_FALSE(splitIntoChunks(block.data(), uint32_t(block.size()), info));
    EXPECT_EQ(info.chunks.size, 0);
    ASSERT_TRUE(splitIntoChunks(block.data(), uint32_t(block.size() - 1), info));
    ASSERT_EQ(info.chunks.size, 65535);
    EXPECT_EQ(info.chunks[65534]->data[1], 0xFF);
}

// Seals the bytes with a clock at 0x1f4, capturing what it prints.
bool seal(const Bytes& bytes, uint32_t checksum, InfoBlock& info, std::string& printed)
{
    platform::setTickSource([]() -> uint32_t { return 0x1f4; });
    MemoryStream catalogue(16);
    catalogue.write(bytes.data(), uint32_t(bytes.size()));
    ::testing::internal::CaptureStdout();
    bool sealed = sealCatalogue(catalogue, checksum, info);
    printed = ::testing::internal::GetCapturedStdout();
    platform::setTickSource(nullptr);
    return sealed;
}

TEST(SealCatalogue, ChecksumIsTheHighHalfAndChunksCarryTheBlockUpToTheLimit)
{
    Bytes noise = patternBytes(3000, 7);
    InfoBlock info;
    std::string printed;
    ASSERT_TRUE(seal(noise, 0xDEADBEEF, info, printed));
    EXPECT_EQ(info.infoBlockId, 0xDEADBEEF000001F4ull);
    EXPECT_NE(printed.find("chunk labeled deadbeef000001f4 and split into " + std::to_string(info.chunks.size) +
                           " packages\n"), std::string::npos);
    EXPECT_STREQ(infoBlockIdText(0).c_str(), "0");
    // Undone the way a client undoes it: the length, then zlib data.
    Bytes block = joinedPayloads(info);
    uLongf size = u32At(block.data());
    Bytes inflated(size + 1);
    ASSERT_EQ(uncompress(inflated.data(), &size, block.data() + 4, block.size() - 4), Z_OK);
    inflated.resize(size);
    EXPECT_EQ(inflated, noise);

    EXPECT_FALSE(seal(patternBytes(wire::ChunkDatagram::kMaxChunks * 256u, 3), 1, info, printed));
    EXPECT_EQ(info.chunks.size, 0);
    EXPECT_EQ(info.infoBlockId, 0u);
    size_t error = printed.find("Error: Addon info block needs ");
    ASSERT_NE(error, std::string::npos) << printed;
    EXPECT_EQ(printed.find("Addon info chunk created and compressed from 16776960 to "), 0u);
    EXPECT_NE(printed.find(" chunks, more than the 65535 a client can fetch\n", error), std::string::npos);
    EXPECT_EQ(printed.find("chunk labeled"), std::string::npos);
}

class StoredBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        Bytes block = patternBytes(600, 11);
        ASSERT_TRUE(splitIntoChunks(block.data(), 600, original));  // 262, 262 and 94 bytes
        original.infoBlockId = 0x0102030405060708ull;
    }
    void TearDown() override { platform::failWritesAfter(-1); }

    Bytes fileBytes() const
    {
        std::string bytes = readFile(path);
        return Bytes(bytes.begin(), bytes.end());
    }
    // Loads these bytes; a damaged file must leave nothing behind in info.
    InfoBlockLoad loadBytes(const Bytes& bytes) const
    {
        temp.write(kInfoBlockFileName, std::string(bytes.begin(), bytes.end()));
        InfoBlock info;
        info.infoBlockId = 5;
        InfoBlockLoad result = loadInfoBlock(info, path.c_str());
        EXPECT_TRUE(result == InfoBlockLoad::Loaded || (info.infoBlockId == 0 && info.chunks.size == 0));
        return result;
    }
    bool save(const InfoBlock& info, const std::string& where = "")
    {
        ::testing::internal::CaptureStdout();
        bool saved = saveInfoBlock(info, (where.empty() ? path : where).c_str());
        printed = ::testing::internal::GetCapturedStdout();
        return saved;
    }
    size_t filesInFolder() const
    {
        return size_t(std::distance(fs::directory_iterator(temp.folder()), fs::directory_iterator()));
    }

    TempFolder temp;
    std::string path = temp.path(kInfoBlockFileName);
    std::string printed;
    InfoBlock original;
};

TEST_F(StoredBlock, SaveWritesTheDocumentedLayoutAndLoadReadsItBack)
{
    InfoBlock missing;
    missing.infoBlockId = 5;
    EXPECT_EQ(loadInfoBlock(missing, path.c_str()), InfoBlockLoad::NotFound);
    EXPECT_EQ(missing.infoBlockId, 0u);
    ASSERT_TRUE(save(original));
    EXPECT_EQ(printed, "");
    Bytes expected = {8, 7, 6, 5, 4, 3, 2, 1, 3, 0, 0, 0};  // identifier, chunk count
    for (int32_t i = 0; i < 3; ++i) {
        const ByteBuffer& c = *original.chunks[i];
        expected.insert(expected.end(), {uint8_t(c.size), uint8_t(c.size >> 8), 0, 0});
        expected.insert(expected.end(), c.data, c.data + c.size);
    }
    EXPECT_EQ(fileBytes(), expected);
    InfoBlock loaded;
    ASSERT_EQ(loadInfoBlock(loaded, path.c_str()), InfoBlockLoad::Loaded);
    EXPECT_EQ(loaded.infoBlockId, original.infoBlockId);
    EXPECT_EQ(joinedPayloads(loaded), joinedPayloads(original));
    EXPECT_EQ(filesInFolder(), 1u);
}

TEST_F(StoredBlock, EveryTruncationTrailingByteAndFlipBehindTheIdentifierIsDamage)
{
    ASSERT_TRUE(save(original));
    const Bytes sound = fileBytes();
    for (size_t n = 0; n < sound.size(); ++n)
        ASSERT_EQ(loadBytes(Bytes(sound.begin(), sound.begin() + long(n))), InfoBlockLoad::Damaged) << "cut at " << n;
    Bytes longer = sound;
    longer.push_back(0);
    EXPECT_EQ(loadBytes(longer), InfoBlockLoad::Damaged);
    // The identifier carries no check of its own; it is only a label.
    for (size_t at = 0; at < sound.size(); ++at) {
        Bytes flipped = sound;
        flipped[at] ^= 0x20;
        EXPECT_EQ(loadBytes(flipped), at < 8 ? InfoBlockLoad::Loaded : InfoBlockLoad::Damaged) << "flipped at " << at;
    }
}

// A stored file made by hand from a count and chunks, each with a correct
// CRC for the index it is given: {index, payload size}.
Bytes storedFile(uint32_t count, const std::vector<std::pair<uint32_t, size_t>>& chunks)
{
    Bytes file(8, 0x11);
    for (int i = 0; i < 4; ++i)
        file.push_back(uint8_t(count >> (8 * i)));
    for (const auto& [index, payload] : chunks) {
        Bytes c = sealedChunk(uint16_t(index), patternBytes(payload, index + 1));
        for (int i = 0; i < 4; ++i)
            file.push_back(uint8_t(c.size() >> (8 * i)));
        file.insert(file.end(), c.begin(), c.end());
    }
    return file;
}

TEST_F(StoredBlock, ImplausibleCountsLengthsAndOrderAreDamage)
{
    EXPECT_EQ(loadBytes(storedFile(1, {{0, 1}})), InfoBlockLoad::Loaded);
    EXPECT_EQ(loadBytes(storedFile(1, {{0, 256}})), InfoBlockLoad::Loaded);
    Bytes hugeLength = storedFile(1, {});
    hugeLength.insert(hugeLength.end(), {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
    const Bytes damaged[] = {storedFile(0, {}),
                             storedFile(65536, {{0, 1}}),
                             storedFile(0xFFFFFFFFu, {}),
                             storedFile(1, {{0, 0}}),
                             storedFile(1, {{0, 257}}),
                             storedFile(1, {{1, 10}}),
                             storedFile(2, {{1, 256}, {0, 10}}),
                             storedFile(2, {{0, 256}, {0, 10}}),
                             hugeLength};
    for (const Bytes& file : damaged)
        EXPECT_EQ(loadBytes(file), InfoBlockLoad::Damaged) << "case " << (&file - damaged);
}

TEST_F(StoredBlock, FailedWriteKeepsTheOldFileAndSaysSo)
{
    ASSERT_TRUE(save(original));
    Bytes before = fileBytes();
    InfoBlock other;
    Bytes block = patternBytes(100, 5);
    ASSERT_TRUE(splitIntoChunks(block.data(), 100, other));
    for (int64_t budget : {0, 10, 100}) {
        platform::failWritesAfter(budget);
        EXPECT_FALSE(save(other));
        EXPECT_EQ(printed, "Error: Unable to write the addon info block to " + path + "\n");
        EXPECT_EQ(fileBytes(), before);
        EXPECT_EQ(filesInFolder(), 1u) << "a temporary file was left behind";
    }
    platform::failWritesAfter(-1);
    ASSERT_TRUE(save(other));
    InfoBlock loaded;
    ASSERT_EQ(loadInfoBlock(loaded, path.c_str()), InfoBlockLoad::Loaded);
    EXPECT_EQ(joinedPayloads(loaded), block);
    std::string missing = temp.path(std::string("absent/") + kInfoBlockFileName);
    EXPECT_FALSE(save(original, missing));
    EXPECT_EQ(printed, "Error: Unable to write the addon info block to " + missing + "\n");
}

}  // namespace
