#include "catalogue/InfoBlock.h"

#include "catalogue/MemoryStream.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "settings/Settings.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

uint32_t fixedTick()
{
    return 0x1f4;
}

Bytes patternBytes(size_t n, uint32_t seed)
{
    Bytes bytes(n);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return bytes;
}

uint32_t u32At(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

Bytes joinedPayloads(const InfoBlock& block)
{
    Bytes joined;
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        const ByteBuffer& c = *block.chunks[i];
        joined.insert(joined.end(), c.data + 2, c.data + c.size - 4);
    }
    return joined;
}

// Every chunk carries its position as index and a CRC-32 of index and payload.
void expectSoundChunks(const InfoBlock& block)
{
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        const ByteBuffer& c = *block.chunks[i];
        ASSERT_GE(c.size, 7u);
        ASSERT_LE(c.size, 262u);
        EXPECT_EQ(c.data[0] | (c.data[1] << 8), i);
        EXPECT_EQ(u32At(c.data + c.size - 4), crc32(0, c.data, c.size - 4)) << "chunk " << i;
        if (i + 1 < block.chunks.size) {
            EXPECT_EQ(c.size, 262u);
        }
    }
}

TEST(InfoBlockIdText, LowerCaseHexWithoutLeadingZeros)
{
    EXPECT_STREQ(infoBlockIdText(500).c_str(), "1f4");
    EXPECT_STREQ(infoBlockIdText(6699).c_str(), "1a2b");
    EXPECT_STREQ(infoBlockIdText(0).c_str(), "0");
    EXPECT_STREQ(infoBlockIdText(0x100000000ull).c_str(), "100000000");
    EXPECT_STREQ(infoBlockIdText(UINT64_MAX).c_str(), "ffffffffffffffff");
}

TEST(CatalogueHead, TenTextsBetweenTheWordOneAndThePackageCount)
{
    Settings empty;
    MemoryStream head(4);
    writeCatalogueHead(head, empty);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(head.buffer), head.length),
              std::string("\1\0\0\0" "\0\0\0\0\0\0\0\0\0\0" "\0\0\0\0", 18));

    Settings filled;
    filled.serverName = "Name";
    filled.serverInfo = "Info";
    filled.serverAdmin = "Adm";
    filled.comServer = "ts";
    filled.deactivations = "a:b:c:";
    filled.password = "not written";
    filled.packageUrls.add("http://x/p.zip");
    filled.packageUrls.add("http://x/q.zip");
    MemoryStream full(4);
    writeCatalogueHead(full, filled);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(full.buffer), full.length),
              std::string("\1\0\0\0Name\0Info\0Adm\0ts\0a:b:c:\0\0\0\0\0\0\2\0\0\0", 37));
}

TEST(SplitIntoChunks, FullChunksThenTheRemainder)
{
    struct Case {
        uint32_t blockSize;
        int32_t chunks;
        uint32_t lastSize;
    };
    for (Case c : {Case{1, 1, 7}, Case{256, 1, 262}, Case{257, 2, 7}, Case{512, 2, 262}, Case{513, 3, 7}}) {
        Bytes block = patternBytes(c.blockSize, c.blockSize);
        InfoBlock info;
        ASSERT_TRUE(splitIntoChunks(block.data(), c.blockSize, info));
        ASSERT_EQ(info.chunks.size, c.chunks) << c.blockSize;
        EXPECT_EQ(info.chunks[c.chunks - 1]->size, c.lastSize) << c.blockSize;
        expectSoundChunks(info);
        EXPECT_EQ(joinedPayloads(info), block);
    }
}

TEST(SplitIntoChunks, RefusesWhatASixteenBitCountCannotName)
{
    InfoBlock info;
    EXPECT_FALSE(splitIntoChunks(nullptr, 0, info));
    EXPECT_EQ(info.chunks.size, 0);

    Bytes block(InfoBlock::kMaxChunks * 256u + 1);
    EXPECT_EQ(chunkCountFor(static_cast<uint32_t>(block.size())), 65536u);
    EXPECT_FALSE(splitIntoChunks(block.data(), static_cast<uint32_t>(block.size()), info));
    EXPECT_EQ(info.chunks.size, 0);

    ASSERT_TRUE(splitIntoChunks(block.data(), static_cast<uint32_t>(block.size() - 1), info));
    ASSERT_EQ(info.chunks.size, 65535);
    const ByteBuffer& last = *info.chunks[65534];
    EXPECT_EQ(last.data[0], 0xFE);
    EXPECT_EQ(last.data[1], 0xFF);
}

class SealCatalogue : public ::testing::Test {
protected:
    void SetUp() override { platform::setTickSource(fixedTick); }
    void TearDown() override { platform::setTickSource(nullptr); }

    // Seals, capturing what it prints.
    bool seal(const MemoryStream& catalogue, uint32_t checksum, InfoBlock& info, std::string& printed)
    {
        ::testing::internal::CaptureStdout();
        bool sealed = sealCatalogue(catalogue, checksum, info);
        printed = ::testing::internal::GetCapturedStdout();
        return sealed;
    }
};

// Undoes the compression as a client would.
Bytes inflateBlock(const Bytes& block)
{
    uLongf size = u32At(block.data());
    Bytes catalogue(size + 1);
    EXPECT_EQ(uncompress(catalogue.data(), &size, block.data() + 4, block.size() - 4), Z_OK);
    catalogue.resize(size);
    return catalogue;
}

TEST_F(SealCatalogue, ChecksumIsTheHighHalfAndChunksCarryTheBlock)
{
    Bytes noise = patternBytes(3000, 7);
    MemoryStream catalogue(16);
    catalogue.write(noise.data(), static_cast<uint32_t>(noise.size()));
    InfoBlock info;
    std::string printed;
    ASSERT_TRUE(seal(catalogue, 0xDEADBEEF, info, printed));
    EXPECT_EQ(info.infoBlockId, 0xDEADBEEF000001F4ull);
    EXPECT_NE(printed.find("chunk labeled deadbeef000001f4 and split into " + std::to_string(info.chunks.size) +
                           " packages\n"),
              std::string::npos);
    EXPECT_GE(info.chunks.size, 12);  // incompressible: at least 3004 bytes
    expectSoundChunks(info);
    EXPECT_EQ(inflateBlock(joinedPayloads(info)), noise);
}

TEST_F(SealCatalogue, TooLargeForSixteenBitChunkNumbersFails)
{
    Bytes noise = patternBytes(InfoBlock::kMaxChunks * 256u, 3);
    MemoryStream catalogue(static_cast<uint32_t>(noise.size()));
    catalogue.write(noise.data(), static_cast<uint32_t>(noise.size()));
    InfoBlock info;
    info.infoBlockId = 99;
    std::string printed;
    EXPECT_FALSE(seal(catalogue, 1, info, printed));
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
        path = temp.path(kInfoBlockFileName);
        Bytes block = patternBytes(600, 11);
        ASSERT_TRUE(splitIntoChunks(block.data(), 600, original));
        original.infoBlockId = 0x0102030405060708ull;
    }
    void TearDown() override { platform::failWritesAfter(-1); }

    Bytes fileBytes() const
    {
        std::string bytes = readFile(path);
        return Bytes(bytes.begin(), bytes.end());
    }

    InfoBlockLoad loadBytes(const Bytes& bytes, InfoBlock& info) const
    {
        temp.write(kInfoBlockFileName, std::string(bytes.begin(), bytes.end()));
        return loadInfoBlock(info, path.c_str());
    }

    bool save(const InfoBlock& info, std::string& printed) const
    {
        ::testing::internal::CaptureStdout();
        bool saved = saveInfoBlock(info, path.c_str());
        printed = ::testing::internal::GetCapturedStdout();
        return saved;
    }

    size_t filesInFolder() const
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(temp.folder()), fs::directory_iterator()));
    }

    TempFolder temp;
    std::string path;
    InfoBlock original;  // three chunks: 262, 262 and 94 bytes
};

TEST_F(StoredBlock, SaveWritesTheDocumentedLayoutAndLoadReadsItBack)
{
    std::string printed;
    ASSERT_TRUE(save(original, printed));
    EXPECT_EQ(printed, "");
    Bytes file = fileBytes();
    ASSERT_EQ(file.size(), 12u + 3 * 4 + 262 + 262 + 94);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 12), (Bytes{8, 7, 6, 5, 4, 3, 2, 1, 3, 0, 0, 0}));
    size_t offset = 12;
    for (int32_t i = 0; i < 3; ++i) {
        const ByteBuffer& c = *original.chunks[i];
        ASSERT_EQ(u32At(file.data() + offset), c.size);
        EXPECT_EQ(Bytes(file.begin() + offset + 4, file.begin() + offset + 4 + c.size), Bytes(c.data, c.data + c.size));
        offset += 4 + c.size;
    }

    InfoBlock loaded;
    ASSERT_EQ(loadInfoBlock(loaded, path.c_str()), InfoBlockLoad::Loaded);
    EXPECT_EQ(loaded.infoBlockId, original.infoBlockId);
    ASSERT_EQ(loaded.chunks.size, 3);
    EXPECT_EQ(joinedPayloads(loaded), joinedPayloads(original));
    expectSoundChunks(loaded);
    EXPECT_EQ(filesInFolder(), 1u);
}

TEST_F(StoredBlock, MissingFileIsNotFound)
{
    InfoBlock info;
    info.infoBlockId = 5;
    EXPECT_EQ(loadInfoBlock(info, path.c_str()), InfoBlockLoad::NotFound);
    EXPECT_EQ(info.infoBlockId, 0u);
    EXPECT_EQ(info.chunks.size, 0);
}

TEST_F(StoredBlock, EveryTruncationAndTrailingByteIsDamage)
{
    std::string printed;
    ASSERT_TRUE(save(original, printed));
    Bytes sound = fileBytes();
    for (size_t n = 0; n < sound.size(); ++n) {
        InfoBlock info;
        ASSERT_EQ(loadBytes(Bytes(sound.begin(), sound.begin() + static_cast<long>(n)), info), InfoBlockLoad::Damaged)
            << "cut at " << n;
        EXPECT_EQ(info.infoBlockId, 0u);
        EXPECT_EQ(info.chunks.size, 0);
    }
    Bytes longer = sound;
    longer.push_back(0);
    InfoBlock info;
    EXPECT_EQ(loadBytes(longer, info), InfoBlockLoad::Damaged);
    EXPECT_EQ(info.chunks.size, 0);
}

TEST_F(StoredBlock, AnyFlippedByteBehindTheIdentifierIsDamage)
{
    std::string printed;
    ASSERT_TRUE(save(original, printed));
    Bytes sound = fileBytes();
    for (size_t at = 0; at < sound.size(); ++at) {
        Bytes flipped = sound;
        flipped[at] ^= 0x20;
        InfoBlock info;
        InfoBlockLoad result = loadBytes(flipped, info);
        if (at < 8) {
            // The identifier carries no check of its own; it is only a label.
            EXPECT_EQ(result, InfoBlockLoad::Loaded) << at;
            EXPECT_NE(info.infoBlockId, original.infoBlockId);
        } else {
            EXPECT_EQ(result, InfoBlockLoad::Damaged) << "flipped at " << at;
            EXPECT_EQ(info.chunks.size, 0);
        }
    }
}

// Builds a stored file by hand from a count and chunks.
Bytes storedFile(uint32_t count, const std::vector<Bytes>& chunks)
{
    Bytes file(8, 0x11);
    for (int i = 0; i < 4; ++i)
        file.push_back(static_cast<uint8_t>(count >> (8 * i)));
    for (const Bytes& c : chunks) {
        for (int i = 0; i < 4; ++i)
            file.push_back(static_cast<uint8_t>(c.size() >> (8 * i)));
        file.insert(file.end(), c.begin(), c.end());
    }
    return file;
}

// A chunk with a correct CRC for whatever index it is given.
Bytes chunkWithIndex(uint32_t index, size_t payloadSize)
{
    Bytes c = patternBytes(payloadSize + 6, index + 1);
    c[0] = static_cast<uint8_t>(index);
    c[1] = static_cast<uint8_t>(index >> 8);
    uint32_t crc = static_cast<uint32_t>(crc32(0, c.data(), static_cast<uInt>(payloadSize + 2)));
    for (int i = 0; i < 4; ++i)
        c[payloadSize + 2 + i] = static_cast<uint8_t>(crc >> (8 * i));
    return c;
}

TEST_F(StoredBlock, ImplausibleCountsLengthsAndOrderAreDamage)
{
    InfoBlock info;
    EXPECT_EQ(loadBytes(storedFile(1, {chunkWithIndex(0, 1)}), info), InfoBlockLoad::Loaded);
    EXPECT_EQ(loadBytes(storedFile(1, {chunkWithIndex(0, 256)}), info), InfoBlockLoad::Loaded);
    EXPECT_EQ(info.infoBlockId, 0x1111111111111111ull);

    EXPECT_EQ(loadBytes(storedFile(0, {}), info), InfoBlockLoad::Damaged);
    EXPECT_EQ(loadBytes(storedFile(65536, {chunkWithIndex(0, 1)}), info), InfoBlockLoad::Damaged);
    EXPECT_EQ(loadBytes(storedFile(0xFFFFFFFFu, {}), info), InfoBlockLoad::Damaged);
    EXPECT_EQ(loadBytes(storedFile(1, {chunkWithIndex(0, 0)}), info), InfoBlockLoad::Damaged);
    EXPECT_EQ(loadBytes(storedFile(1, {chunkWithIndex(0, 257)}), info), InfoBlockLoad::Damaged);
    EXPECT_EQ(loadBytes(storedFile(1, {chunkWithIndex(1, 10)}), info), InfoBlockLoad::Damaged);
    EXPECT_EQ(loadBytes(storedFile(2, {chunkWithIndex(1, 256), chunkWithIndex(0, 10)}), info),
              InfoBlockLoad::Damaged);
    EXPECT_EQ(loadBytes(storedFile(2, {chunkWithIndex(0, 256), chunkWithIndex(0, 10)}), info),
              InfoBlockLoad::Damaged);

    Bytes hugeLength = storedFile(1, {});
    hugeLength.insert(hugeLength.end(), {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
    EXPECT_EQ(loadBytes(hugeLength, info), InfoBlockLoad::Damaged);
    EXPECT_EQ(info.infoBlockId, 0u);
    EXPECT_EQ(info.chunks.size, 0);
}

TEST_F(StoredBlock, FailedWriteKeepsTheOldFileAndSaysSo)
{
    std::string printed;
    ASSERT_TRUE(save(original, printed));
    Bytes before = fileBytes();

    InfoBlock other;
    Bytes block = patternBytes(100, 5);
    ASSERT_TRUE(splitIntoChunks(block.data(), 100, other));
    for (int64_t budget : {0, 10, 100}) {
        platform::failWritesAfter(budget);
        EXPECT_FALSE(save(other, printed));
        EXPECT_EQ(printed, "Error: Unable to write the addon info block to " + path + "\n");
        EXPECT_EQ(fileBytes(), before);
        EXPECT_EQ(filesInFolder(), 1u) << "a temporary file was left behind";
    }
    platform::failWritesAfter(-1);
    ASSERT_TRUE(save(other, printed));
    InfoBlock loaded;
    ASSERT_EQ(loadInfoBlock(loaded, path.c_str()), InfoBlockLoad::Loaded);
    EXPECT_EQ(joinedPayloads(loaded), block);
}

TEST_F(StoredBlock, UnwritableFolderIsReported)
{
    std::string missing = temp.path(std::string("absent/") + kInfoBlockFileName);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(saveInfoBlock(original, missing.c_str()));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Error: Unable to write the addon info block to " + missing + "\n");
}

}  // namespace
