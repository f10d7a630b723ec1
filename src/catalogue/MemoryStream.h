#pragma once

#include "catalogue/ByteStream.h"

#include <cstdint>

// A growable in-memory stream. Growth adds the larger of the shortfall and
// the current capacity (256 when empty), so appends are amortised O(1).
class MemoryStream : public ByteStream {
public:
    explicit MemoryStream(uint32_t initialCapacity);
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    ~MemoryStream() override;

    uint32_t write(const void* source, uint32_t count) override;
    uint32_t read(void* destination, uint32_t count) override;
    int64_t seek(int64_t offset, uint32_t origin) override;

    uint8_t* buffer;
    uint32_t length = 0;  // bytes of content: the highest position written
    uint32_t capacity;
    uint32_t position = 0;
};
