#include "foundation/ByteBuffer.h"

#include "foundation/OutOfMemory.h"

#include <cstring>
#include <new>

ByteBuffer::ByteBuffer(uint32_t size) : data(new (std::nothrow) uint8_t[size == 0 ? 1 : size]), size(size)
{
    if (data == nullptr)
        outOfMemory("byte buffer");
}

ByteBuffer::ByteBuffer(const void* source, uint32_t size) : ByteBuffer(size)
{
    if (size > 0)
        std::memcpy(data, source, size);
}

ByteBuffer::~ByteBuffer()
{
    delete[] data;
}
