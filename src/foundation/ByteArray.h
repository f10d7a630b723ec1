#pragma once

#include <cstdint>

// Growable byte array with the arrays' growth rule. Bytes beyond the old
// size have no guaranteed value after growing; callers write every byte
// they grow the array to hold. Shrinking zeroes the dropped bytes.
class ByteArray {
public:
    ByteArray() = default;
    ByteArray(const ByteArray&) = delete;
    ByteArray& operator=(const ByteArray&) = delete;
    ~ByteArray();

    int32_t size = 0;
    int32_t capacity = 0;
    uint8_t* data = nullptr;

    int32_t setSize(int32_t n);
    uint8_t& at(int32_t i);
    uint8_t& insertAt(int32_t i, uint8_t value);
    void add(uint8_t value) { insertAt(size, value); }
    void removeAt(int32_t i);
    void removeAll() { setSize(0); }
    uint8_t& operator[](int32_t i) { return data[i]; }
    uint8_t operator[](int32_t i) const { return data[i]; }
};
