#pragma once

#include <minizip/ioapi.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

// The unzip layer's file functions over bytes in memory, so an archive is
// read without a file. Whatever name is opened, it is these bytes; one
// stream at a time, which is all the unzip layer opens.
class MemoryZip {
public:
    MemoryZip()
    {
        functions.zopen_file = open;
        functions.zread_file = read;
        functions.zwrite_file = write;
        functions.ztell_file = tell;
        functions.zseek_file = seek;
        functions.zclose_file = close;
        functions.zerror_file = error;
        functions.opaque = this;
    }
    MemoryZip(const MemoryZip&) = delete;
    MemoryZip& operator=(const MemoryZip&) = delete;

    void hold(const uint8_t* data, size_t size)
    {
        bytes = data;
        length = size;
    }

    zlib_filefunc_def functions{};

private:
    static MemoryZip& self(voidpf opaque) { return *static_cast<MemoryZip*>(opaque); }

    static voidpf ZCALLBACK open(voidpf opaque, const char*, int)
    {
        self(opaque).position = 0;
        return opaque;
    }
    static uLong ZCALLBACK read(voidpf opaque, voidpf, void* buffer, uLong size)
    {
        MemoryZip& zip = self(opaque);
        size_t left = zip.position < zip.length ? zip.length - zip.position : 0;
        size_t n = size < left ? size_t(size) : left;
        if (n > 0)
            std::memcpy(buffer, zip.bytes + zip.position, n);
        zip.position += n;
        return uLong(n);
    }
    static uLong ZCALLBACK write(voidpf, voidpf, const void*, uLong) { return 0; }
    static long ZCALLBACK tell(voidpf opaque, voidpf) { return long(self(opaque).position); }
    // As fseek on a file opened for reading: any place from 0 on, also
    // beyond the end, where reads then give nothing.
    static long ZCALLBACK seek(voidpf opaque, voidpf, uLong offset, int origin)
    {
        MemoryZip& zip = self(opaque);
        size_t base = 0;
        if (origin == ZLIB_FILEFUNC_SEEK_CUR)
            base = zip.position;
        else if (origin == ZLIB_FILEFUNC_SEEK_END)
            base = zip.length;
        else if (origin != ZLIB_FILEFUNC_SEEK_SET)
            return -1;
        zip.position = base + offset;
        return 0;
    }
    static int ZCALLBACK close(voidpf, voidpf) { return 0; }
    static int ZCALLBACK error(voidpf, voidpf) { return 0; }

    const uint8_t* bytes = nullptr;
    size_t length = 0;
    size_t position = 0;
};
