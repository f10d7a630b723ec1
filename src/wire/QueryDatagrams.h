#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The datagrams between a client and a catalogue server, and the
// server's announcement to the browser. Every number is little-endian.
// Requests start with u16 client version, u16 command; replies with a u16
// mark whose high bit keeps them apart from requests.
//
// Each type encodes into a buffer the caller provides (the sizes below say
// how much room) and decodes from bytes and their count; a decoder that
// returns false leaves its fields as they were.
namespace wire {

// The catalogue server listens this far above the game's own port, or,
// when that port was taken, at the second offset.
constexpr uint16_t kServerPortOffset = 20;
constexpr uint16_t kFallbackPortOffset = 40;
constexpr uint16_t kDefaultGamePort = 2302;
constexpr uint16_t kBrowserPort = 48124;

constexpr uint16_t kQueryCommand = 0;
constexpr uint16_t kChunkCommand = 1;
constexpr uint16_t kResendCommand = 2;

// Clients from this version on are told the game state as well.
constexpr uint16_t kLongAnswerVersion = 1040;
// The game state when the game server has not reported one.
constexpr uint16_t kNoGameState = 0xFFFF;

// u16 version, u16 command 0, the password and its NUL.
struct QueryRequest {
    uint16_t version = 0;
    // Decoded: the text up to the first NUL, pointing into the datagram.
    std::string_view password;

    size_t size() const { return 4 + password.size() + 1; }
    size_t encode(uint8_t* out) const;
    // Needs the command, at least one byte after it and a NUL at the end.
    bool decode(const uint8_t* bytes, size_t size);
};

// u16 mark 0x8000, u16 chunk count, u64 catalogue id; for clients of
// kLongAnswerVersion and later also u32 state age in ms, u16 game state.
struct QueryAnswer {
    static constexpr uint16_t kMark = 0x8000;
    static constexpr size_t kShortSize = 12;
    static constexpr size_t kLongSize = 18;

    uint16_t chunkCount = 0;
    uint64_t infoBlockId = 0;
    bool hasGameState = false;  // only the long answer carries these
    uint32_t stateAgeMs = 0;
    uint16_t gameState = 0;

    static bool carriesGameState(uint16_t clientVersion) { return clientVersion >= kLongAnswerVersion; }
    // Writes the long or short form by hasGameState; out holds kLongSize.
    size_t encode(uint8_t* out) const;
    bool decode(const uint8_t* bytes, size_t size);
};

// u16 mark 0x8001, u16 0xFFFF: the query's password was wrong.
struct PasswordRefused {
    static constexpr uint16_t kMark = 0x8001;
    static constexpr uint16_t kFiller = 0xFFFF;
    static constexpr size_t kSize = 4;

    static size_t encode(uint8_t* out);
    static bool matches(const uint8_t* bytes, size_t size);
};

// u16 version (not examined), u16 command 1: send every chunk.
struct ChunkRequest {
    static constexpr size_t kSize = 4;

    uint16_t version = 0;

    size_t encode(uint8_t* out) const;
    bool decode(const uint8_t* bytes, size_t size);
};

// u16 version (not examined), u16 command 2, u16 index: send one chunk again.
struct ResendRequest {
    static constexpr size_t kSize = 6;

    uint16_t version = 0;
    uint16_t index = 0;

    size_t encode(uint8_t* out) const;
    bool decode(const uint8_t* bytes, size_t size);
};

// u16 0xFFFE, u16 0x007F, u16 game port: tells the browser server at
// kBrowserPort that a catalogue server runs beside that game.
struct AnnounceDatagram {
    static constexpr uint16_t kMark = 0xFFFE;
    static constexpr uint16_t kKind = 0x007F;
    static constexpr size_t kSize = 6;

    uint16_t gamePort = 0;

    size_t encode(uint8_t* out) const;
    bool decode(const uint8_t* bytes, size_t size);
};

}  // namespace wire
