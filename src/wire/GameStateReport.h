#pragma once

#include <cstddef>
#include <cstdint>

// The exchange with the game server on the same machine, which speaks
// backslash-delimited text rather than binary words.
namespace wire {

// "\rules\" without a terminator, sent to the game port + kRulesPortOffset.
struct RulesPoll {
    static constexpr char kText[] = "\\rules\\";
    static constexpr size_t kSize = sizeof kText - 1;
    static constexpr uint16_t kRulesPortOffset = 1;

    static size_t encode(uint8_t* out);
    static bool matches(const uint8_t* bytes, size_t size);
};

// The game server's answer to the poll: key/value text in which
// "\gstate\<number>\" (key in any case, anywhere) gives the game state.
struct GameStateReport {
    static constexpr char kStateKey[] = "\\gstate\\";
    static constexpr size_t kStateKeyLength = sizeof kStateKey - 1;
    static constexpr size_t kMaxSize = kStateKeyLength + 12;  // sign, ten digits, '\'

    int32_t state = 0;

    // Just the state pair; out holds kMaxSize + 1 (a NUL follows).
    size_t encode(uint8_t* out) const;
    // buffer holds size received bytes within capacity; the byte after
    // them, or the last one of a full buffer, is overwritten with a NUL
    // so the text can be searched. The state is read as decimalValue reads
    // it, up to the closing backslash, which must be there.
    bool decode(uint8_t* buffer, size_t size, size_t capacity);
};

}  // namespace wire
