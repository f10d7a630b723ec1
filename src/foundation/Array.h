#pragma once

#include "foundation/GrowthRule.h"
#include "foundation/OutOfMemory.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

// Growable array of {size, capacity, storage}. The storage is capacity
// default-constructed slots; every slot at or past `size` holds an empty
// value, so growing within the capacity only moves `size`. Shrinking
// releases the dropped elements but keeps the storage for reuse. Elements
// are moved by move assignment: a handle changes hands without touching its
// count, a string costs a count increment, nothing is ever deep-copied.
// Arrays are never copied as a whole.
template <typename T>
class Array {
public:
    Array() = default;
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    ~Array() { delete[] data; }

    int32_t size = 0;
    int32_t capacity = 0;
    T* data = nullptr;

    int32_t setSize(int32_t n)
    {
        if (n < 0)
            n = 0;
        if (n < size) {
            for (int32_t i = n; i < size; ++i)
                data[i] = T();
        } else if (n > capacity) {
            grow(n);
        }
        size = n;
        return n;
    }

    // Reading or writing at or past the end grows the array with empty
    // slots. The reference is valid until the array next grows.
    T& at(int32_t i)
    {
        if (i >= size)
            setSize(i + 1);
        return data[i];
    }

    T& insertAt(int32_t i, const T& value)
    {
        T copy = value;  // the value may live in this array
        setSize(size + 1);
        for (int32_t k = size - 1; k > i; --k)
            data[k] = std::move(data[k - 1]);
        data[i] = std::move(copy);
        return data[i];
    }

    void add(const T& value) { insertAt(size, value); }

    void removeAt(int32_t i)
    {
        for (int32_t k = i; k < size - 1; ++k)
            data[k] = std::move(data[k + 1]);
        setSize(size - 1);
    }

    void removeAll() { setSize(0); }

    T& operator[](int32_t i) { return data[i]; }
    const T& operator[](int32_t i) const { return data[i]; }

private:
    void grow(int32_t n)
    {
        int32_t next = grownCapacity(capacity, n);
        T* fresh = new (std::nothrow) T[static_cast<size_t>(next)];
        if (fresh == nullptr)
            outOfMemory("array storage");
        for (int32_t i = 0; i < size; ++i)
            fresh[i] = std::move(data[i]);
        delete[] data;
        data = fresh;
        capacity = next;
    }
};
