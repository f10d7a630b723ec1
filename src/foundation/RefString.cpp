#include "foundation/RefString.h"

#include "foundation/OutOfMemory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

StaticRefStringBlock emptyRefStringBlock = {{0x7FFFFFFFu, 0, 1}, '\0'};

namespace {

const int32_t kSpare = 33;  // terminator plus 32 spare bytes

size_t blockBytes(int32_t capacity)
{
    return sizeof(RefStringData) + static_cast<size_t>(capacity);
}

// A length whose block the 32-bit capacity cannot describe is refused as
// an allocation that cannot be met, before any size wraps.
int32_t checkedLength(int64_t n)
{
    if (n > INT32_MAX - kSpare)
        outOfMemory("string too long");
    return static_cast<int32_t>(n);
}

int32_t measure(const char* text)
{
    return checkedLength(static_cast<int64_t>(std::strlen(text)));
}

}  // namespace

RefStringData* RefString::allocData(int32_t n)
{
    n = n < 0 ? 0 : checkedLength(n);
    auto* fresh = static_cast<RefStringData*>(std::malloc(blockBytes(n + kSpare)));
    if (fresh == nullptr)
        outOfMemory("string block");
    fresh->refs = 1;
    fresh->length = n;
    fresh->capacity = n + kSpare;
    return fresh;
}

RefString RefString::adopt(RefStringData* fresh)
{
    return RefString(fresh, Adopt{});
}

void RefString::setLength(int32_t n)
{
    n = n < 0 ? 0 : checkedLength(n);
    int32_t capacity = n + kSpare;
    auto* grown = static_cast<RefStringData*>(std::realloc(block, blockBytes(capacity)));
    if (grown == nullptr)
        outOfMemory("string growth");
    block = grown;
    block->capacity = capacity;
    block->length = n;
}

RefString::RefString() : block(emptyRefStringData) {}

RefString::RefString(const char* text) : block(emptyRefStringData)
{
    if (text == nullptr)
        return;
    int32_t n = measure(text);
    block = allocData(n);
    std::memcpy(block->chars(), text, static_cast<size_t>(n) + 1);
}

RefString::RefString(const RefString& other) : block(other.block)
{
    retain();
}

RefString::~RefString()
{
    release();
}

void RefString::retain() const
{
    if (block != emptyRefStringData)
        ++block->refs;
}

void RefString::release()
{
    if (block != emptyRefStringData && --block->refs == 0)
        std::free(block);
}

void RefString::dropShared(RefStringData* old)
{
    if (old != emptyRefStringData)
        --old->refs;
}

RefString& RefString::operator=(const RefString& other)
{
    // Take the new reference before dropping the old one, so that assigning
    // a string to itself changes nothing.
    RefStringData* old = block;
    block = other.block;
    retain();
    if (old != emptyRefStringData && --old->refs == 0)
        std::free(old);
    return *this;
}

RefString& RefString::operator=(const char* text)
{
    if (text == nullptr) {
        release();
        block = emptyRefStringData;
        return *this;
    }
    int32_t n = measure(text);
    if (block->refs > 1) {
        RefStringData* old = block;
        block = allocData(n);
        std::memcpy(block->chars(), text, static_cast<size_t>(n) + 1);
        dropShared(old);
    } else if (n + 1 <= block->capacity) {
        // The text may be a tail of our own characters.
        std::memmove(block->chars(), text, static_cast<size_t>(n) + 1);
        block->length = n;
    } else {
        RefStringData* fresh = allocData(n);
        std::memcpy(fresh->chars(), text, static_cast<size_t>(n) + 1);
        std::free(block);
        block = fresh;
    }
    return *this;
}

// Appends n bytes from source. The source may lie inside this string's own
// block (appending a string to itself), so after a reallocation it is found
// again by its offset.
void RefString::append(const char* source, int32_t n)
{
    int32_t oldLength = block->length;
    int32_t total = checkedLength(static_cast<int64_t>(oldLength) + n);
    char* own = block->chars();
    bool fromSelf = source >= own && source < own + block->capacity;
    size_t offset = fromSelf ? static_cast<size_t>(source - own) : 0;

    if (block->refs > 1) {
        RefStringData* old = block;
        RefStringData* fresh = allocData(total);
        std::memcpy(fresh->chars(), old->chars(), static_cast<size_t>(oldLength));
        std::memcpy(fresh->chars() + oldLength, source, static_cast<size_t>(n));
        fresh->chars()[total] = '\0';
        block = fresh;
        dropShared(old);
        return;
    }
    if (block->capacity < total + 1)
        setLength(total);
    else
        block->length = total;
    if (fromSelf)
        source = block->chars() + offset;
    std::memmove(block->chars() + oldLength, source, static_cast<size_t>(n));
    block->chars()[total] = '\0';
}

RefString& RefString::operator+=(const char* text)
{
    if (text != nullptr)
        append(text, measure(text));
    return *this;
}

RefString& RefString::operator+=(const RefString& other)
{
    append(other.c_str(), other.length());
    return *this;
}

RefString& RefString::operator+=(char c)
{
    append(&c, 1);
    return *this;
}

RefString operator+(const RefString& a, const RefString& b)
{
    int32_t la = a.length();
    int32_t lb = b.length();
    RefStringData* fresh = RefString::allocData(checkedLength(static_cast<int64_t>(la) + lb));
    std::memcpy(fresh->chars(), a.c_str(), static_cast<size_t>(la));
    std::memcpy(fresh->chars() + la, b.c_str(), static_cast<size_t>(lb));
    fresh->chars()[la + lb] = '\0';
    return RefString::adopt(fresh);
}

RefString RefString::left(int32_t n) const
{
    if (n < 0)
        n = 0;
    if (block->length <= n)
        return *this;
    RefStringData* fresh = allocData(n);
    std::memcpy(fresh->chars(), block->chars(), static_cast<size_t>(n));
    fresh->chars()[n] = '\0';
    return adopt(fresh);
}

RefString RefString::mid(int32_t start, int32_t count) const
{
    if (start < 0)
        start = 0;
    if (count < 0)
        count = 0;
    if (start >= block->length)
        return RefString();
    int32_t k = count < block->length - start ? count : block->length - start;
    RefStringData* fresh = allocData(k);
    std::memcpy(fresh->chars(), block->chars() + start, static_cast<size_t>(k));
    fresh->chars()[k] = '\0';
    return adopt(fresh);
}

int RefString::compare(const RefString& other) const
{
    int r = std::strcmp(c_str(), other.c_str());
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

void RefString::makeLower()
{
    unshare();
    for (char* p = block->chars(); *p != '\0'; ++p) {
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p - 'A' + 'a');
    }
}

void RefString::unshare()
{
    if (block->refs > 1) {
        RefStringData* old = block;
        RefStringData* fresh = allocData(old->length);
        std::memcpy(fresh->chars(), old->chars(), static_cast<size_t>(old->length) + 1);
        block = fresh;
        dropShared(old);
    }
}
