#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

// Reading and patching the raw bytes of a zip archive, to damage it in
// ways that only a hand edit produces.
class ZipBytes {
public:
    explicit ZipBytes(const std::string& archivePath) : path(archivePath)
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    void save() const { std::ofstream(path, std::ios::binary) << bytes; }

    // Offsets of the headers of the entry called name; npos when absent.
    size_t localHeader(const std::string& name) const { return find("PK\x03\x04", 26, 30, name); }
    size_t centralHeader(const std::string& name) const { return find("PK\x01\x02", 28, 46, name); }

    size_t dataOffset(const std::string& name) const
    {
        size_t local = localHeader(name);
        return local + 30 + u16(local + 26) + u16(local + 28);
    }

    uint16_t flags(const std::string& name) const { return u16(localHeader(name) + 6); }

    // The CRC-32 and uncompressed size as the central directory records them.
    void setCentralCrc(const std::string& name, uint32_t crc) { putU32(centralHeader(name) + 16, crc); }
    void setCentralSize(const std::string& name, uint32_t size) { putU32(centralHeader(name) + 24, size); }
    void setLocalCrc(const std::string& name, uint32_t crc) { putU32(localHeader(name) + 14, crc); }
    void setLocalSize(const std::string& name, uint32_t size) { putU32(localHeader(name) + 22, size); }

    uint16_t u16(size_t at) const
    {
        return static_cast<uint16_t>(byte(at) | byte(at + 1) << 8);
    }
    void putU32(size_t at, uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = static_cast<char>(value >> (8 * i));
    }

    std::string bytes;

private:
    unsigned byte(size_t at) const { return static_cast<unsigned char>(bytes[at]); }

    size_t find(const char* signature, size_t nameLengthAt, size_t nameAt, const std::string& name) const
    {
        for (size_t at = bytes.find(signature, 0, 4); at != std::string::npos;
             at = bytes.find(signature, at + 1, 4)) {
            if (at + nameAt + name.size() <= bytes.size() && u16(at + nameLengthAt) == name.size() &&
                bytes.compare(at + nameAt, name.size(), name) == 0)
                return at;
        }
        return std::string::npos;
    }

    std::string path;
};
