#include "install/PathRules.h"

#include "foundation/AsciiText.h"

#include <cstring>

RefString toBackslashes(RefString path)
{
    if (std::strchr(path.c_str(), '/') == nullptr)
        return path;
    path.unshare();
    for (char* p = path.chars(); *p != '\0'; ++p) {
        if (*p == '/')
            *p = '\\';
    }
    return path;
}

void splitPath(const RefString& path, StringArray& parts)
{
    parts.setSize(0);
    int32_t start = 0;
    const char* text = path.c_str();
    int32_t n = path.length();
    for (int32_t i = 0; i <= n; ++i) {
        bool end = i == n || text[i] == '/' || text[i] == '\\';
        if (!end)
            continue;
        if (i > start)
            parts.add(path.mid(start, i - start));
        start = i + 1;
    }
}

RefString fileNameOf(const RefString& path)
{
    const char* text = path.c_str();
    const char* last = std::strrchr(text, '\\');
    if (last == nullptr)
        return path;
    return path.mid(static_cast<int32_t>(last - text) + 1, path.length());
}

bool isSafePath(const RefString& path)
{
    const char* p = path.c_str();
    // As if a '\' stood in front: a component starts at the beginning and
    // after every '\'.
    bool atComponentStart = true;
    for (; *p != '\0'; ++p) {
        if (atComponentStart && p[0] == '.' && p[1] == '.')
            return false;
        atComponentStart = *p == '\\';
    }
    return true;
}

namespace {

bool sameLetter(char a, char b)
{
    return lowerAscii(a) == lowerAscii(b);
}

}  // namespace

// Linear-time walk with one backtracking point: the most recent '*'. When
// a later mismatch occurs, that star absorbs one more byte and the match
// resumes behind it. Earlier stars never need to be revisited, because the
// latest star can absorb whatever they could. Same results as the plain
// recursive definition, without its exponential worst case.
bool wildcardMatch(const char* name, const char* pattern)
{
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = ++pattern;
            resume = name;
        } else if (*pattern != '\0' && (*pattern == '?' || sameLetter(*pattern, *name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*')
        ++pattern;
    return *pattern == '\0';
}
