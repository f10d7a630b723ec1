#include "wire/GameStateReport.h"

#include "foundation/AsciiText.h"
#include "wire/DecimalText.h"

#include <cstdio>
#include <cstring>

namespace wire {

size_t RulesPoll::encode(uint8_t* out)
{
    std::memcpy(out, kText, kSize);
    return kSize;
}

bool RulesPoll::matches(const uint8_t* bytes, size_t size)
{
    return size == kSize && std::memcmp(bytes, kText, kSize) == 0;
}

size_t GameStateReport::encode(uint8_t* out) const
{
    int written = std::snprintf(reinterpret_cast<char*>(out), kMaxSize + 1, "%s%d\\", kStateKey, state);
    return static_cast<size_t>(written);
}

bool GameStateReport::decode(uint8_t* buffer, size_t size, size_t capacity)
{
    if (size == 0 || capacity == 0 || buffer[0] != '\\')
        return false;
    buffer[size < capacity ? size : capacity - 1] = 0;
    const char* text = reinterpret_cast<const char*>(buffer);
    const char* key = findIgnoringCase(text, kStateKey);
    if (key == nullptr || key[kStateKeyLength] == 0)
        return false;
    const char* value = key + kStateKeyLength;
    if (std::strchr(value, '\\') == nullptr)
        return false;
    state = decimalValue(value);  // stops at the closing '\'
    return true;
}

}  // namespace wire
