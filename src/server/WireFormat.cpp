#include "server/WireFormat.h"

#include "foundation/AsciiText.h"

#include <cstring>

namespace wire {

namespace {

bool equalIgnoringCase(const char* a, const char* b, int32_t length)
{
    for (int32_t i = 0; i < length; ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
        if (a[i] == 0)
            return false;  // text ended before the key did
    }
    return true;
}

}  // namespace

const char* findIgnoringCase(const char* text, const char* key, int32_t length)
{
    for (const char* p = std::strchr(text, key[0]); p != nullptr; p = std::strchr(p + 1, key[0])) {
        if (equalIgnoringCase(p, key, length))
            return p;
    }
    return nullptr;
}

int32_t decimalValue(const char* text)
{
    while (*text == ' ' || (*text >= '\t' && *text <= '\r'))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > int64_t(INT32_MAX) + 1)
            value = int64_t(INT32_MAX) + 1;  // the digits that follow change nothing
    }
    if (negative)
        return static_cast<int32_t>(-value);
    return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

}  // namespace wire
