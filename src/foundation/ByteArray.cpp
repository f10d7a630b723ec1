#include "foundation/ByteArray.h"

#include "foundation/GrowthRule.h"
#include "foundation/OutOfMemory.h"

#include <cstring>
#include <new>

ByteArray::~ByteArray()
{
    ::operator delete(data);
}

int32_t ByteArray::setSize(int32_t n)
{
    if (n < 0)
        n = 0;
    if (n < size) {
        std::memset(data + n, 0, static_cast<size_t>(size - n));
    } else if (n > capacity) {
        int32_t next = grownCapacity(capacity, n);
        auto* fresh = static_cast<uint8_t*>(::operator new(static_cast<size_t>(next), std::nothrow));
        if (fresh == nullptr)
            outOfMemory("byte array storage");
        if (size > 0)
            std::memcpy(fresh, data, static_cast<size_t>(size));
        ::operator delete(data);
        data = fresh;
        capacity = next;
    }
    size = n;
    return n;
}

uint8_t& ByteArray::at(int32_t i)
{
    if (i >= size)
        setSize(i + 1);
    return data[i];
}

uint8_t& ByteArray::insertAt(int32_t i, uint8_t value)
{
    setSize(size + 1);
    std::memmove(data + i + 1, data + i, static_cast<size_t>(size - 1 - i));
    data[i] = value;
    return data[i];
}

void ByteArray::removeAt(int32_t i)
{
    std::memmove(data + i, data + i + 1, static_cast<size_t>(size - 1 - i));
    setSize(size - 1);
}
