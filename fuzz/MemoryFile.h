#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// The input as a file open for reading, without a file: readers that take
// a std::FILE get the bytes from memory. Closed when it goes.
class MemoryFile {
public:
    MemoryFile(const uint8_t* data, size_t size, const char* mode)
    {
        // fmemopen refuses an empty buffer on some C libraries; one byte
        // of which nothing is read stands for it.
        static uint8_t none = 0;
        void* bytes = size > 0 ? const_cast<uint8_t*>(data) : &none;
        file = fmemopen(bytes, size, mode);
        if (file == nullptr) {
            std::perror("fmemopen");
            std::abort();
        }
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    ~MemoryFile() { std::fclose(file); }

    std::FILE* get() const { return file; }

private:
    std::FILE* file;
};
