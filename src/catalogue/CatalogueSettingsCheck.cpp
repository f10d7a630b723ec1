#include "catalogue/CatalogueSettingsCheck.h"

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "settings/Settings.h"
#include "wire/ByteReader.h"
#include "wire/CatalogueLayout.h"
#include "wire/ChunkDatagram.h"
#include "wire/LittleEndian.h"

#include <string_view>
#include <vector>

#include <zlib.h>

namespace {

using wire::ChunkDatagram;
using wire::CompressedBlock;

// The chunks' payloads joined, inflated: the catalogue image as built.
bool unpackCatalogue(const InfoBlock& block, std::vector<uint8_t>& image)
{
    std::vector<uint8_t> joined;
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        const ByteBuffer& chunk = *block.chunks[i];
        joined.insert(joined.end(), chunk.data + ChunkDatagram::kIndexSize,
                      chunk.data + chunk.size - ChunkDatagram::kCheckSize);
    }
    constexpr size_t head = CompressedBlock::kLengthSize;
    if (joined.size() < head)
        return false;
    uint32_t size = wire::readU32(joined.data());
    if (size > CompressedBlock::kMaxCatalogueSize)
        return false;
    image.resize(size);
    uLongf produced = size;
    int status = uncompress(image.data(), &produced, joined.data() + head, static_cast<uLong>(joined.size() - head));
    return status == Z_OK && produced == size;
}

// Reads record fields as the walks of wire/CatalogueLayout.h visit them;
// every step is false once the bytes run out.
struct FieldReader {
    wire::ByteReader& reader;

    bool mark(uint32_t expected, const char*)
    {
        uint32_t value = 0;
        return reader.readU32(value) && value == expected;
    }
    bool number(uint32_t& value, const char*) { return reader.readU32(value); }
    bool text(std::string_view& value, const char*) { return reader.readText(value); }
};

bool skipTree(FieldReader& fields)
{
    for (size_t depth = 1; depth > 0;) {
        std::string_view name;
        uint32_t size = 0;
        uint32_t crc = 0;
        if (!fields.text(name, "an entry"))
            return false;
        if (name.empty())
            --depth;
        else if (wire::isFolderName(name.data(), name.size()))
            ++depth;
        else if (!wire::fileFields(fields, size, crc))
            return false;
    }
    return true;
}

// Only the URL and the kind come from the settings.
bool recordMatches(FieldReader& fields, const RefString& url, uint8_t kind)
{
    std::string_view storedUrl;
    std::string_view name;
    std::string_view infoUrl;
    std::string_view reserved[wire::kPackageReservedTexts];
    uint32_t archiveSize = 0;
    uint32_t storedKind = 0;
    return wire::packageHead(fields, storedUrl, archiveSize, name, infoUrl, reserved, storedKind) &&
           storedUrl == std::string_view(url.c_str(), static_cast<size_t>(url.length())) && storedKind == kind &&
           skipTree(fields);
}

}  // namespace

bool catalogueMatchesSettings(const InfoBlock& block, const Settings& settings)
{
    std::vector<uint8_t> image;
    if (!unpackCatalogue(block, image))
        return false;
    wire::ByteReader reader(image.data(), image.size());
    FieldReader fields{reader};
    MemoryStream head(4096);
    writeCatalogueHead(head, settings);
    if (!reader.skipExactly(head.buffer, head.length))
        return false;
    for (int32_t i = 0; i < settings.packageUrls.size; ++i) {
        uint8_t kind = i < settings.packageKinds.size ? settings.packageKinds[i] : Settings::kRequiredPackage;
        if (!recordMatches(fields, settings.packageUrls[i], kind))
            return false;
    }
    return reader.atEnd();
}
