#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
        bytes.push_back(0);
        return *this;
    }

    // The word 1, five server texts, five empty reserved texts, the count.
    CatalogueBytes& head(const std::string& name, const std::string& info, const std::string& admin,
                         const std::string& com, const std::string& deactivations, uint32_t packageCount)
    {
        u32(1).text(name).text(info).text(admin).text(com).text(deactivations);
        for (int i = 0; i < 5; ++i)
            text("");
        return u32(packageCount);
    }

    // Fields 1 to 7 of a package record; the tree follows, closed by end().
    CatalogueBytes& package(const std::string& url, uint32_t archiveSize, const std::string& name,
                            const std::string& infoUrl, uint32_t kind)
    {
        return text(url).u32(archiveSize).text(name).text(infoUrl).text("").text("").u32(kind);
    }

    CatalogueBytes& folder(const std::string& name) { return text(name); }
    CatalogueBytes& file(const std::string& name, uint32_t size, uint32_t crc)
    {
        return text(name).u32(size).u32(crc);
    }
    CatalogueBytes& end()
    {
        bytes.push_back(0);
        return *this;
    }

    std::vector<uint8_t> bytes;
};

// Two packages: a required one with a nested tree and an optional one with
// a single file; texts with a quote, a backslash and a byte above 0x7F.
inline std::vector<uint8_t> sampleCatalogue()
{
    CatalogueBytes out;
    out.head("Kit \"One\"", "Friday nights", "admin@example.org", "ts.example.org:9987", "mod_a:mod_b:", 2);
    out.package("http://files.example.org/core.zip", 123456, "Core", "http://example.org/core", 10);
    out.folder("addons\\").folder("sub\\").file("deep.pbo", 7, 0xDEADBEEF).end();
    out.file("core.pbo", 1000, 0x12345678).file("core.pbo.sig", 20, 0x0BADF00D).end();
    out.file("readme.txt", 5, 1).end();
    out.package("http://files.example.org/maps.zip", 99, "Maps \xE9t\xE9", "", 3);
    out.file("map.pbo", 0, 0).end();
    return out.bytes;
}

// A catalogue that compresses into many chunks: names and checksums that
// zlib cannot shrink much.
inline std::vector<uint8_t> bulkyCatalogue(uint32_t files)
{
    CatalogueBytes out;
    out.head("Bulky", "", "", "", "", 1);
    out.package("http://example.org/bulk.zip", 1, "Bulk", "", 10).folder("addons\\");
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
    out.end().end();
    return out.bytes;
}
