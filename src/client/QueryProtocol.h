#pragma once

#include "wire/QueryDatagrams.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The datagrams a client exchanges with a catalogue server, as the
// client sends and sorts them (the layouts are in wire/QueryDatagrams.h).

// This client understands the long answer, so it is told the game state.
constexpr uint16_t kQueryClientVersion = wire::kLongAnswerVersion;

std::vector<uint8_t> queryRequest(uint16_t version, const std::string& password);
std::vector<uint8_t> chunkRequest();
std::vector<uint8_t> resendRequest(uint16_t index);

using QueryAnswer = wire::QueryAnswer;

enum class QueryReply { answer, refused, unrelated };

// Reads a datagram that arrived after a query: the 12- or 18-byte answer,
// the 4-byte refusal, or anything else.
QueryReply parseQueryReply(const uint8_t* datagram, size_t size, QueryAnswer& answer);

// Lower-case hexadecimal without leading zeros, as the server prints it.
std::string catalogueIdText(uint64_t infoBlockId);
