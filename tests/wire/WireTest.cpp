#include "wire/ByteReader.h"
#include "wire/CatalogueLayout.h"
#include "wire/ChunkDatagram.h"
#include "wire/DecimalText.h"
#include "wire/GameStateReport.h"
#include "wire/LittleEndian.h"
#include "wire/QueryDatagrams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(LittleEndian, WordsTravelLowByteFirstAndComeBackWhole)
{
    uint8_t bytes[8];
    wire::putU64(bytes, 0x0807060504030201ull);
    EXPECT_EQ(Bytes(bytes, bytes + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
    for (uint64_t value : {0ull, 1ull, 0x80ull, 0xFFFF0000FFFFull, ~0ull}) {
        wire::putU16(bytes, static_cast<uint16_t>(value));
        EXPECT_EQ(wire::readU16(bytes), static_cast<uint16_t>(value));
        wire::putU32(bytes, static_cast<uint32_t>(value));
        EXPECT_EQ(wire::readU32(bytes), static_cast<uint32_t>(value));
        wire::putU64(bytes, value);
        EXPECT_EQ(wire::readU64(bytes), value);
    }
}

// Every request and reply: encoded and decoded again it gives its fields
// back; the wrong command, mark or length is not taken for it.
TEST(QueryDatagrams, RoundTripAndRejectOthers)
{
    uint8_t out[64];
    wire::QueryRequest query;
    query.version = 1040;
    query.password = "pw";
    ASSERT_EQ(query.encode(out), 7u);
    wire::QueryRequest queryBack;
    ASSERT_TRUE(queryBack.decode(out, 7));
    EXPECT_EQ(queryBack.version, 1040);
    EXPECT_EQ(queryBack.password, "pw");
    EXPECT_FALSE(queryBack.decode(out, 6));  // no NUL at the end
    EXPECT_FALSE(queryBack.decode(out, 4));  // nothing after the command

    wire::ResendRequest resend;
    resend.version = 7;
    resend.index = 0x0102;
    ASSERT_EQ(resend.encode(out), wire::ResendRequest::kSize);
    wire::ResendRequest resendBack;
    ASSERT_TRUE(resendBack.decode(out, 6));
    EXPECT_EQ(resendBack.index, 0x0102);
    EXPECT_FALSE(resendBack.decode(out, 4));
    wire::ChunkRequest chunks;
    EXPECT_FALSE(chunks.decode(out, 4));  // command 2 is no chunk request
    chunks.version = 9;
    ASSERT_EQ(chunks.encode(out), wire::ChunkRequest::kSize);
    EXPECT_TRUE(chunks.decode(out, 4));
    EXPECT_FALSE(query.decode(out, 4));

    for (bool longForm : {false, true}) {
        wire::QueryAnswer answer;
        answer.chunkCount = 3;
        answer.infoBlockId = 0x12ull << 32 | 1000;
        answer.hasGameState = longForm;
        answer.stateAgeMs = longForm ? 5000 : 0;
        answer.gameState = longForm ? 2 : 0;
        size_t size = answer.encode(out);
        EXPECT_EQ(size, longForm ? 18u : 12u);
        wire::QueryAnswer back;
        ASSERT_TRUE(back.decode(out, size));
        EXPECT_EQ(back.chunkCount, 3);
        EXPECT_EQ(back.infoBlockId, answer.infoBlockId);
        EXPECT_EQ(back.hasGameState, longForm);
        EXPECT_EQ(back.stateAgeMs, answer.stateAgeMs);
        EXPECT_EQ(back.gameState, answer.gameState);
        EXPECT_FALSE(back.decode(out, size + 1));
        EXPECT_FALSE(wire::PasswordRefused::matches(out, 4));
    }
    EXPECT_FALSE(wire::QueryAnswer::carriesGameState(1039));
    EXPECT_TRUE(wire::QueryAnswer::carriesGameState(1040));

    ASSERT_EQ(wire::PasswordRefused::encode(out), 4u);
    EXPECT_TRUE(wire::PasswordRefused::matches(out, 4));
    wire::QueryAnswer notAnAnswer;
    EXPECT_FALSE(notAnAnswer.decode(out, 12));

    wire::AnnounceDatagram announce;
    announce.gamePort = 2302;
    ASSERT_EQ(announce.encode(out), 6u);
    EXPECT_EQ(Bytes(out, out + 6), (Bytes{0xFE, 0xFF, 0x7F, 0x00, 0xFE, 0x08}));
    wire::AnnounceDatagram announceBack;
    ASSERT_TRUE(announceBack.decode(out, 6));
    EXPECT_EQ(announceBack.gamePort, 2302);
    out[2] = 0x7E;
    EXPECT_FALSE(announceBack.decode(out, 6));
}

TEST(ChunkDatagram, CarriesIndexAndPayloadUnderItsCheck)
{
    uint8_t payload[wire::ChunkDatagram::kMaxPayload];
    for (size_t i = 0; i < sizeof payload; ++i)
        payload[i] = static_cast<uint8_t>(i * 7);
    uint8_t out[wire::ChunkDatagram::kMaxSize + 1];
    for (size_t payloadSize : {size_t(1), size_t(100), wire::ChunkDatagram::kMaxPayload}) {
        wire::ChunkDatagram chunk;
        chunk.index = 0x0304;
        chunk.payload = payload;
        chunk.payloadSize = payloadSize;
        size_t size = chunk.encode(out);
        ASSERT_EQ(size, payloadSize + 6);
        wire::ChunkDatagram back;
        ASSERT_TRUE(back.decode(out, size));
        EXPECT_EQ(back.index, 0x0304);
        EXPECT_EQ(Bytes(back.payload, back.payload + back.payloadSize), Bytes(payload, payload + payloadSize));
        out[size - 1] ^= 1;
        EXPECT_FALSE(back.decode(out, size)) << "a damaged check";
    }
    wire::ChunkDatagram any;
    EXPECT_FALSE(any.decode(out, wire::ChunkDatagram::kMinSize - 1));
    EXPECT_FALSE(any.decode(out, wire::ChunkDatagram::kMaxSize + 1));
}

// The game server's text, as the server reads it: the key in any case, a
// closing backslash required, the number read as atoi would.
TEST(GameStateReport, TakesTheStateOnlyFromAClosedPair)
{
    struct Case {
        std::string text;
        bool taken;
        int32_t state;
    } cases[] = {
        {"\\gstate\\2\\", true, 2},
        {"\\hostname\\x\\GSTATE\\-7\\gamemode\\y", true, -7},
        {"\\gstate\\ 99999999999\\", true, INT32_MAX},
        {"\\gstate\\abc\\", true, 0},
        {"\\gstate\\2", false, 0},
        {"\\gstate\\", false, 0},
        {"\\rules\\", false, 0},
        {"gstate\\2\\", false, 0},
    };
    for (const Case& c : cases) {
        Bytes buffer(c.text.begin(), c.text.end());
        buffer.push_back('!');  // room for the NUL, overwritten
        wire::GameStateReport report;
        EXPECT_EQ(report.decode(buffer.data(), c.text.size(), buffer.size()), c.taken) << c.text;
        if (c.taken) {
            EXPECT_EQ(report.state, c.state) << c.text;
        }
    }
    // A full buffer loses its last byte to the NUL: here the closing '\'.
    Bytes full{'\\', 'g', 's', 't', 'a', 't', 'e', '\\', '5', '\\'};
    wire::GameStateReport report;
    EXPECT_FALSE(report.decode(full.data(), full.size(), full.size()));

    uint8_t out[wire::GameStateReport::kMaxSize + 1];
    for (int32_t state : {0, 3, INT32_MIN}) {
        report.state = state;
        size_t size = report.encode(out);
        wire::GameStateReport back;
        ASSERT_TRUE(back.decode(out, size, sizeof out));
        EXPECT_EQ(back.state, state);
    }
    ASSERT_EQ(wire::RulesPoll::encode(out), 7u);
    EXPECT_TRUE(wire::RulesPoll::matches(out, 7));
    EXPECT_FALSE(wire::RulesPoll::matches(out, 8));
}

// Writes catalogue fields into bytes and reads them back through the
// same walks, as the server's writer and the client's reader do.
struct VectorWriter {
    Bytes bytes;
    bool mark(uint32_t value, const char*) { return number(value, nullptr); }
    bool number(uint32_t value, const char*)
    {
        bytes.resize(bytes.size() + 4);
        wire::putU32(bytes.data() + bytes.size() - 4, value);
        return true;
    }
    bool text(const std::string& value, const char*)
    {
        bytes.insert(bytes.end(), value.begin(), value.end());
        bytes.push_back(0);
        return true;
    }
};

struct ViewReader {
    wire::ByteReader reader;
    std::string lastWhat;
    bool mark(uint32_t expected, const char* what)
    {
        uint32_t value = 0;
        return number(value, what) && value == expected;
    }
    bool number(uint32_t& value, const char* what) { return (lastWhat = what, reader.readU32(value)); }
    bool text(std::string_view& value, const char* what) { return (lastWhat = what, reader.readText(value)); }
};

TEST(CatalogueLayout, HeadAndPackageComeBackFieldForFieldAndCutsFailInPlace)
{
    VectorWriter writer;
    std::string texts[] = {"name", "info", "admin", "com", "off", "r1", "r2", "r3", "r4", "r5"};
    const uint32_t count = 1;
    ASSERT_TRUE(wire::catalogueHead(writer, texts[0], texts[1], texts[2], texts[3], texts[4], texts + 5, count));
    std::string url = "http://x/p.zip", name = "P", infoUrl = "", reserved[2] = {"", "q"};
    const uint32_t archiveSize = 1234, kind = wire::kOptionalPackageKind;
    ASSERT_TRUE(wire::packageHead(writer, url, archiveSize, name, infoUrl, reserved, kind));
    ASSERT_EQ(writer.bytes.size(), (4 + 39 + 4) + (15 + 4 + 2 + 1 + 1 + 2 + 4));

    ViewReader read{{writer.bytes.data(), writer.bytes.size()}, {}};
    std::string_view got[10];
    uint32_t countBack = 0;
    ASSERT_TRUE(wire::catalogueHead(read, got[0], got[1], got[2], got[3], got[4], got + 5, countBack));
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(got[i], texts[i]);
    EXPECT_EQ(countBack, count);
    uint32_t numbers[2] = {};
    ASSERT_TRUE(wire::packageHead(read, got[0], numbers[0], got[1], got[2], got + 3, numbers[1]));
    EXPECT_EQ(got[0], url);
    EXPECT_EQ(numbers[0], archiveSize);
    EXPECT_EQ(got[4], "q");
    EXPECT_EQ(numbers[1], kind);
    EXPECT_TRUE(read.reader.atEnd());

    ViewReader cut{{writer.bytes.data(), 4 + 39 + 2}, {}};
    EXPECT_FALSE(wire::catalogueHead(cut, got[0], got[1], got[2], got[3], got[4], got + 5, countBack));
    EXPECT_EQ(cut.lastWhat, "the package count");
    EXPECT_EQ(cut.reader.offset(), 43u) << "a failed step moves nothing";
    EXPECT_TRUE(wire::isFolderName("a\\", 2));
    EXPECT_FALSE(wire::isFolderName("a", 1));
}

}  // namespace
