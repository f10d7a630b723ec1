#pragma once

#include <cstdint>

namespace wire {

// The decimal number at the start of text as atoi reads it (blanks, a
// sign, digits up to the first other byte), held to the int32 range
// instead of overflowing. Game servers and settings files write numbers
// this way, and atoi's overflow would be undefined.
int32_t decimalValue(const char* text);

}  // namespace wire
