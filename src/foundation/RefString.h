#pragma once

#include <cstdint>

// Header of a string block. The characters follow the 12 header bytes
// directly: `capacity` bytes of room, `length` characters and a NUL.
struct RefStringData {
    uint32_t refs;
    int32_t length;
    int32_t capacity;

    char* chars() { return reinterpret_cast<char*>(this) + sizeof(RefStringData); }
};
static_assert(sizeof(RefStringData) == 12, "the block header is three 32-bit fields");

// The shared empty block: never counted, never freed, alive during static
// construction and destruction (it is constant-initialised).
struct StaticRefStringBlock {
    RefStringData header;
    char terminator;
};
extern StaticRefStringBlock emptyRefStringBlock;
constexpr RefStringData* emptyRefStringData = &emptyRefStringBlock.header;

// Byte string whose characters live in a reference-counted heap block that
// is copied only when a holder changes a block that others hold too.
// Blocks come from malloc/realloc/free; every creation or growth sets the
// capacity to the new length + 33, so appends reallocate about once every
// 32 bytes. Counts are plain integers: share across threads only under a lock.
class RefString {
public:
    RefString();
    RefString(const char* text);  // NOLINT: implicit on purpose, like a literal
    RefString(const RefString& other);
    ~RefString();

    RefString& operator=(const RefString& other);
    RefString& operator=(const char* text);
    RefString& operator+=(const char* text);
    RefString& operator+=(const RefString& other);
    RefString& operator+=(char c);
    friend RefString operator+(const RefString& a, const RefString& b);

    // First n characters; shares this block when it is not longer than n.
    RefString left(int32_t n) const;
    // At most count characters from start; the shared empty string when
    // start is at or past the end, otherwise always a fresh block.
    RefString mid(int32_t start, int32_t count) const;
    // Byte-wise, case-sensitive, stops at a NUL present in both: -1, 0 or +1.
    int compare(const RefString& other) const;
    // Lower-cases A to Z up to the first NUL, after unsharing.
    void makeLower();
    // Gives this string a block of its own (refs 1) so that its characters
    // may be written in place through chars().
    void unshare();

    int32_t length() const { return block->length; }
    const char* c_str() const { return block->chars(); }
    bool isEmpty() const { return block->length == 0; }

    // Building steps for code that writes the characters itself; the
    // caller writes the terminator.
    static RefStringData* allocData(int32_t n);
    static RefString adopt(RefStringData* fresh);
    void setLength(int32_t n);  // unique blocks only
    char* chars() { return block->chars(); }

    const RefStringData* data() const { return block; }

private:
    struct Adopt {};
    RefString(RefStringData* fresh, Adopt) : block(fresh) {}

    void retain() const;
    void release();
    void dropShared(RefStringData* old);
    void append(const char* source, int32_t n);

    RefStringData* block;
};
