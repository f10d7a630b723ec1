#pragma once

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "support/TestBytes.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using Chunk = std::vector<uint8_t>;

// Writes catalogue images field by field, in the layout the server uses,
// so that tests can build sound images and damage them on purpose.
class CatalogueBytes {
public:
    CatalogueBytes& u32(uint32_t value)
    {
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    CatalogueBytes& text(const std::string& value)
    {
        bytes.insert(bytes.end(), value.begin(), value.end());
        return end();
    }
    // The word 1, five server texts, five empty reserved texts, the count.
    CatalogueBytes& head(const std::string& name, uint32_t packageCount, const std::string& info = "",
                         const std::string& admin = "", const std::string& com = "", const std::string& off = "")
    {
        u32(1).text(name).text(info).text(admin).text(com).text(off);
        for (int i = 0; i < 5; ++i)
            text("");
        return u32(packageCount);
    }
    // Fields 1 to 7 of a package record; the tree follows, closed by end().
    CatalogueBytes& package(const std::string& url, uint32_t size, const std::string& name, uint32_t kind,
                            const std::string& infoUrl = "")
    {
        return text(url).u32(size).text(name).text(infoUrl).text("").text("").u32(kind);
    }
    CatalogueBytes& file(const std::string& name, uint32_t size, uint32_t crc) { return text(name).u32(size).u32(crc); }
    CatalogueBytes& end()
    {
        bytes.push_back(0);
        return *this;
    }

    Bytes bytes;
};

// Two packages: a required one with a nested tree and an optional one with
// a single file; texts with a quote, a backslash and a byte above 0x7F.
inline Bytes sampleCatalogue()
{
    CatalogueBytes out;
    out.head("Kit \"One\"", 2, "Friday nights", "admin@example.org", "ts.example.org:9987", "mod_a:mod_b:");
    out.package("http://files.example.org/core.zip", 123456, "Core", 10, "http://example.org/core");
    out.text("addons\\").text("sub\\").file("deep.pbo", 7, 0xDEADBEEF).end();
    out.file("core.pbo", 1000, 0x12345678).file("core.pbo.sig", 20, 0x0BADF00D).end();
    out.file("readme.txt", 5, 1).end();
    out.package("http://files.example.org/maps.zip", 99, "Maps \xE9t\xE9", 3);
    return out.file("map.pbo", 0, 0).end().bytes;
}

// A catalogue that compresses into many chunks: names and checksums that
// zlib cannot shrink much.
inline Bytes bulkyCatalogue(uint32_t files)
{
    CatalogueBytes out;
    out.head("Bulky", 1).package("http://example.org/bulk.zip", 1, "Bulk", 10).text("addons\\");
    uint32_t seed = 12345;
    for (uint32_t i = 0; i < files; ++i) {
        std::string name;
        for (int k = 0; k < 12; ++k) {
            seed = seed * 1103515245u + 12345u;
            name += static_cast<char>('a' + (seed >> 16) % 26);
        }
        seed = seed * 1103515245u + 12345u;
        out.file(name + ".pbo", seed >> 8, seed * 2654435761u);
    }
    return out.end().end().bytes;
}

// A chunk with a payload the server never sent but a valid check; sized
// once, so that no growth of the vector is involved.
inline Chunk sealedChunk(uint16_t index, const Bytes& payload)
{
    Chunk chunk(payload.size() + 6);
    chunk[0] = static_cast<uint8_t>(index);
    chunk[1] = static_cast<uint8_t>(index >> 8);
    std::copy(payload.begin(), payload.end(), chunk.begin() + 2);
    uint32_t crc = static_cast<uint32_t>(crc32(0, chunk.data(), static_cast<uInt>(payload.size() + 2)));
    for (size_t i = 0; i < 4; ++i)
        chunk[payload.size() + 2 + i] = static_cast<uint8_t>(crc >> (8 * i));
    return chunk;
}

inline std::vector<Chunk> chunksOf(const InfoBlock& block)
{
    std::vector<Chunk> chunks;
    for (int32_t i = 0; i < block.chunks.size; ++i)
        chunks.emplace_back(block.chunks[i]->data, block.chunks[i]->data + block.chunks[i]->size);
    return chunks;
}

// The chunks that the server's own sealing makes of an image.
inline std::vector<Chunk> sealImage(const Bytes& image)
{
    MemoryStream stream(4096);
    stream.write(image.data(), static_cast<uint32_t>(image.size()));
    InfoBlock block;
    return sealCatalogue(stream, 0x1234, block) ? chunksOf(block) : std::vector<Chunk>();
}
