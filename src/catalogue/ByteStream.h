#pragma once

#include <cstdint>

// A sink and source of bytes; catalogues and package records are assembled
// in one (see MemoryStream).
class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual uint32_t write(const void* source, uint32_t count) = 0;
    virtual uint32_t read(void* destination, uint32_t count) = 0;
    // origin 0: from the start, 1: from the position, 2: from the end.
    // Returns the new position, or -1.
    virtual int64_t seek(int64_t offset, uint32_t origin);
};

class RefString;

// The string's characters and its NUL: length + 1 bytes.
void writeText(ByteStream& stream, const RefString& text);
// A little-endian u32.
void writeU32(ByteStream& stream, uint32_t value);

// Writes the fields of catalogue records to a stream as the walks of
// wire/CatalogueLayout.h visit them.
class RecordWriter {
public:
    explicit RecordWriter(ByteStream& stream) : stream(stream) {}

    bool mark(uint32_t value, const char*) { return number(value, nullptr); }
    bool number(uint32_t value, const char*)
    {
        writeU32(stream, value);
        return true;
    }
    bool text(const RefString& value, const char*)
    {
        writeText(stream, value);
        return true;
    }

private:
    ByteStream& stream;
};
