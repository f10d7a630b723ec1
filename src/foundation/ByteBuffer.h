#pragma once

#include <cstdint>

// A block of exactly `size` bytes, owned. What datagram queues and the
// chunk list hold through SharedRef handles.
class ByteBuffer {
public:
    ByteBuffer(const void* source, uint32_t size);
    explicit ByteBuffer(uint32_t size);  // contents left for the caller
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ~ByteBuffer();

    uint8_t* data;
    uint32_t size;
};
