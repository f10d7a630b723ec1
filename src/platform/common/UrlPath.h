#pragma once

#include <string>

// The part both platforms share of reading a file: URL's path. Internal to
// the platform implementations.
namespace platform::detail {

inline int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Appends the URL path at `rest`, up to its query or fragment, to path with
// percent escapes decoded and each '/' written as `separator`. False for a
// bad escape or an escaped NUL, which no file name holds.
inline bool appendUrlPath(const char* rest, char separator, std::string* path)
{
    for (; *rest != '\0' && *rest != '?' && *rest != '#'; ++rest) {
        if (*rest != '%') {
            *path += *rest == '/' ? separator : *rest;
            continue;
        }
        int high = hexValue(rest[1]);
        int low = high < 0 ? -1 : hexValue(rest[2]);
        if (low < 0 || (high == 0 && low == 0))
            return false;
        *path += static_cast<char>(high * 16 + low);
        rest += 2;
    }
    return true;
}

}  // namespace platform::detail
