#include "catalogue/MemoryStream.h"

#include "foundation/OutOfMemory.h"

#include <cstring>
#include <new>

namespace {

uint8_t* allocate(uint32_t size)
{
    auto* block = new (std::nothrow) uint8_t[size == 0 ? 1 : size];
    if (block == nullptr)
        outOfMemory("memory stream");
    return block;
}

}  // namespace

MemoryStream::MemoryStream(uint32_t initialCapacity) : buffer(allocate(initialCapacity)), capacity(initialCapacity) {}

MemoryStream::~MemoryStream()
{
    delete[] buffer;
}

uint32_t MemoryStream::write(const void* source, uint32_t count)
{
    uint64_t end = static_cast<uint64_t>(position) + count;
    if (end > capacity) {
        uint64_t shortfall = end - capacity;
        uint64_t step = capacity == 0 ? 256 : capacity;
        uint64_t grown = capacity + (shortfall > step ? shortfall : step);
        if (grown > UINT32_MAX)
            outOfMemory("memory stream beyond 4 GiB");
        uint8_t* fresh = allocate(static_cast<uint32_t>(grown));
        std::memcpy(fresh, buffer, length);
        delete[] buffer;
        buffer = fresh;
        capacity = static_cast<uint32_t>(grown);
    }
    if (count > 0)
        std::memcpy(buffer + position, source, count);
    position += count;
    if (position > length)
        length = position;
    return count;
}

uint32_t MemoryStream::read(void* destination, uint32_t count)
{
    if (static_cast<uint64_t>(position) + count > length)
        count = length - position;
    if (count > 0)
        std::memcpy(destination, buffer + position, count);
    position += count;
    return count;
}

int64_t MemoryStream::seek(int64_t offset, uint32_t origin)
{
    int64_t base;
    switch (origin) {
    case 0: base = 0; break;
    case 1: base = position; break;
    case 2: base = length; break;
    default: return -1;
    }
    int64_t target = base + offset;
    if (target < 0 || target > static_cast<int64_t>(length))
        return -1;
    position = static_cast<uint32_t>(target);
    return target;
}
