#include "install/TextWords.h"

#include <cstring>

RefString takeLine(RefString& text)
{
    const char* start = text.c_str();
    const char* feed = std::strchr(start, '\n');
    if (feed == nullptr) {
        RefString line = text;
        text = RefString();
        return line;
    }
    int32_t p = static_cast<int32_t>(feed - start);
    RefString line = text.left(p + 1);
    text = text.mid(p + 1, text.length());
    return line;
}

RefString takeLine(const char*& cursor, const char* end)
{
    const void* feed = std::memchr(cursor, '\n', static_cast<size_t>(end - cursor));
    const char* next = feed != nullptr ? static_cast<const char*>(feed) + 1 : end;
    auto n = static_cast<int32_t>(next - cursor);
    RefStringData* fresh = RefString::allocData(n);
    std::memcpy(fresh->chars(), cursor, static_cast<size_t>(n));
    fresh->chars()[n] = '\0';
    cursor = next;
    return RefString::adopt(fresh);
}

namespace {

bool isSeparator(unsigned char c)
{
    return c == ' ' || (c >= 8 && c <= 13);
}

// Appends the run [begin, end) as the next word when it is not empty.
void storeWord(const char* begin, const char* end, StringArray& words)
{
    if (end == begin)
        return;
    int32_t n = static_cast<int32_t>(end - begin);
    RefStringData* fresh = RefString::allocData(n);
    std::memcpy(fresh->chars(), begin, static_cast<size_t>(n));
    fresh->chars()[n] = '\0';
    words.add(RefString::adopt(fresh));
}

}  // namespace

void splitWords(const RefString& line, StringArray& words)
{
    words.setSize(0);
    bool quoted = false;
    const char* word = line.c_str();
    const char* p = word;
    for (; *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (c == '"') {
            storeWord(word, p, words);
            word = p + 1;
            quoted = !quoted;
        } else if (!quoted && isSeparator(c)) {
            storeWord(word, p, words);
            word = p + 1;
        }
    }
    storeWord(word, p, words);
}
