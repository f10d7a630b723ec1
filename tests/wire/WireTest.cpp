#include "wire/ByteReader.h"
#include "wire/CatalogueLayout.h"
#include "wire/ChunkDatagram.h"
#include "wire/DecimalText.h"
#include "wire/GameStateReport.h"
#include "wire/LittleEndian.h"
#include "wire/QueryDatagrams.h"
#include "support/TestBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

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

template <class Datagram>
Bytes encoded(const Datagram& datagram)
{
    uint8_t out[64];
    return Bytes(out, out + datagram.encode(out));
}

// Which decoders take the bytes: one letter each for query, chunk
// request, resend request, answer, refusal and announcement.
std::string takers(const Bytes& bytes)
{
    const uint8_t* p = bytes.data();
    size_t n = bytes.size();
    wire::QueryRequest q;
    wire::ChunkRequest c;
    wire::ResendRequest r;
    wire::QueryAnswer a;
    wire::AnnounceDatagram b;
    return std::string() + (q.decode(p, n) ? 'q' : '-') + (c.decode(p, n) ? 'c' : '-') + (r.decode(p, n) ? 'r' : '-') +
           (a.decode(p, n) ? 'a' : '-') + (wire::PasswordRefused::matches(p, n) ? 'x' : '-') +
           (b.decode(p, n) ? 'b' : '-');
}

// Each datagram is taken by its own decoder alone, and by none once it is
// a byte longer or shorter.
TEST(QueryDatagrams, EachDecoderTakesItsOwnAndGivesTheFieldsBack)
{
    wire::QueryAnswer shortAnswer{3, 0x12ull << 32 | 1000, false, 0, 0};
    wire::QueryAnswer longAnswer{3, 0x12ull << 32 | 1000, true, 5000, 2};
    uint8_t refusal[4];
    wire::PasswordRefused::encode(refusal);
    const struct {
        Bytes bytes;
        const char* takenBy;
    } cases[] = {
        {encoded(wire::QueryRequest{1040, "pw"}), "q-----"},
        {encoded(wire::ChunkRequest{9}), "-c----"},
        {encoded(wire::ResendRequest{7, 0x0102}), "--r---"},
        {encoded(shortAnswer), "---a--"},
        {encoded(longAnswer), "---a--"},
        {Bytes(refusal, refusal + 4), "----x-"},
        {encoded(wire::AnnounceDatagram{2302}), "-----b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(takers(c.bytes), c.takenBy);
        Bytes longer = c.bytes;
        longer.push_back(0);  // a query request stays one: its password may hold NULs
        EXPECT_EQ(takers(longer), c.takenBy[0] == 'q' ? "q-----" : "------");
        EXPECT_EQ(takers(Bytes(c.bytes.begin(), c.bytes.end() - 1)), "------");
    }

    wire::QueryRequest query;
    ASSERT_TRUE(query.decode(cases[0].bytes.data(), cases[0].bytes.size()));
    EXPECT_EQ(query.version, 1040);
    EXPECT_EQ(query.password, "pw");
    wire::ResendRequest resend;
    ASSERT_TRUE(resend.decode(cases[2].bytes.data(), 6));
    EXPECT_EQ(resend.index, 0x0102);
    for (const wire::QueryAnswer& sent : {shortAnswer, longAnswer}) {
        Bytes bytes = encoded(sent);
        EXPECT_EQ(bytes.size(), sent.hasGameState ? 18u : 12u);
        wire::QueryAnswer back;
        ASSERT_TRUE(back.decode(bytes.data(), bytes.size()));
        EXPECT_EQ(back.chunkCount, 3);
        EXPECT_EQ(back.infoBlockId, sent.infoBlockId);
        EXPECT_EQ(back.hasGameState, sent.hasGameState);
        EXPECT_EQ(back.stateAgeMs, sent.stateAgeMs);
        EXPECT_EQ(back.gameState, sent.gameState);
    }
    EXPECT_FALSE(wire::QueryAnswer::carriesGameState(1039));
    EXPECT_TRUE(wire::QueryAnswer::carriesGameState(1040));
    EXPECT_EQ(cases[6].bytes, (Bytes{0xFE, 0xFF, 0x7F, 0x00, 0xFE, 0x08}));
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
