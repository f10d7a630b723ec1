#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace wire {

// Reads forward through bytes that may end anywhere. A step that would
// pass the end returns false and moves nothing, so the caller can still
// say where the bytes ran out.
class ByteReader {
public:
    ByteReader(const uint8_t* bytes, size_t size) : bytes(bytes), size(size) {}

    bool readU32(uint32_t& value);
    // A text and its NUL; value holds the text without it, pointing into
    // the bytes (so a NUL follows it there).
    bool readText(std::string_view& value);
    bool skip(size_t count);
    // True, and past them, when the next bytes equal expected.
    bool skipExactly(const uint8_t* expected, size_t count);

    size_t offset() const { return position; }
    size_t remaining() const { return size - position; }
    bool atEnd() const { return position == size; }

private:
    const uint8_t* bytes;
    size_t size;
    size_t position = 0;
};

}  // namespace wire
