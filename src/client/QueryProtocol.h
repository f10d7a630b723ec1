#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The datagrams a client exchanges with a catalogue server. Every field is
// little-endian.

// Versions from 1040 on are told the game state as well.
constexpr uint16_t kQueryClientVersion = 1040;

// The server listens this far above the game's own port, or, when that
// port was taken, at the second offset.
constexpr uint16_t kGamePortOffset = 20;
constexpr uint16_t kFallbackGamePortOffset = 40;
constexpr uint16_t kDefaultGamePort = 2302;
constexpr uint16_t kDefaultServerPort = kDefaultGamePort + kGamePortOffset;

// u16 version, u16 command 0, the password and its NUL.
std::vector<uint8_t> queryRequest(uint16_t version, const std::string& password);
// u16 version (not examined), u16 command 1: send every chunk.
std::vector<uint8_t> chunkRequest();
// u16 version (not examined), u16 command 2, u16 index: send one chunk again.
std::vector<uint8_t> resendRequest(uint16_t index);

struct QueryAnswer {
    uint16_t chunkCount = 0;
    uint64_t infoBlockId = 0;
    bool hasGameState = false;  // only the 18-byte answer carries these
    uint32_t stateAgeMs = 0;
    uint16_t gameState = 0;
};

constexpr uint16_t kNoGameState = 0xFFFF;

enum class QueryReply { answer, refused, unrelated };

// Reads a datagram that arrived after a query: the 12- or 18-byte answer,
// the 4-byte refusal, or anything else.
QueryReply parseQueryReply(const uint8_t* datagram, size_t size, QueryAnswer& answer);

// Lower-case hexadecimal without leading zeros, as the server prints it.
std::string catalogueIdText(uint64_t infoBlockId);
