#include "catalogue/CatalogueSettingsCheck.h"

#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "catalogue/ByteStream.h"
#include "settings/Settings.h"

#include <cstring>
#include <vector>

#include <zlib.h>

namespace {

// Far above any real catalogue; a length word past it is not believed.
constexpr uint32_t kMaxCatalogueSize = 256u << 20;

// The chunks' payloads joined, inflated: the catalogue image as built.
bool unpackCatalogue(const InfoBlock& block, std::vector<uint8_t>& image)
{
    std::vector<uint8_t> joined;
    for (int32_t i = 0; i < block.chunks.size; ++i) {
        const ByteBuffer& chunk = *block.chunks[i];
        joined.insert(joined.end(), chunk.data + 2, chunk.data + chunk.size - 4);
    }
    if (joined.size() < 4)
        return false;
    uint32_t size = joined[0] | (joined[1] << 8) | (joined[2] << 16) | (static_cast<uint32_t>(joined[3]) << 24);
    if (size > kMaxCatalogueSize)
        return false;
    image.resize(size);
    uLongf produced = size;
    int status = uncompress(image.data(), &produced, joined.data() + 4, static_cast<uLong>(joined.size() - 4));
    return status == Z_OK && produced == size;
}

// Reads through the image; every step is false once the bytes run out.
struct ImageCursor {
    const std::vector<uint8_t>& image;
    size_t at = 0;

    // The next bytes equal what the writer put into expected.
    bool expect(const MemoryStream& expected)
    {
        if (image.size() - at < expected.length || std::memcmp(image.data() + at, expected.buffer, expected.length) != 0)
            return false;
        at += expected.length;
        return true;
    }
    bool skip(size_t count)
    {
        if (image.size() - at < count)
            return false;
        at += count;
        return true;
    }
    // One NUL-terminated text; length is its length without the NUL.
    bool text(size_t& length)
    {
        const void* end = std::memchr(image.data() + at, 0, image.size() - at);
        if (end == nullptr)
            return false;
        length = static_cast<const uint8_t*>(end) - (image.data() + at);
        at += length + 1;
        return true;
    }
    // A file tree: an empty text closes a folder, a name ending in '\'
    // opens one, any other name is a file with its size and CRC.
    bool skipTree()
    {
        for (size_t depth = 1; depth > 0;) {
            size_t length = 0;
            if (!text(length))
                return false;
            if (length == 0)
                --depth;
            else if (image[at - 2] == '\\')
                ++depth;
            else if (!skip(8))
                return false;
        }
        return true;
    }
};

// URL, archive size, name, info URL, two reserved texts, kind, tree.
bool recordMatches(ImageCursor& cursor, const RefString& url, uint8_t kind)
{
    MemoryStream expectedUrl(256);
    writeText(expectedUrl, url);
    MemoryStream expectedKind(4);
    writeU32(expectedKind, kind);
    size_t length = 0;
    return cursor.expect(expectedUrl) && cursor.skip(4) && cursor.text(length) && cursor.text(length)
        && cursor.text(length) && cursor.text(length) && cursor.expect(expectedKind) && cursor.skipTree();
}

}  // namespace

bool catalogueMatchesSettings(const InfoBlock& block, const Settings& settings)
{
    std::vector<uint8_t> image;
    if (!unpackCatalogue(block, image))
        return false;
    ImageCursor cursor{image};
    MemoryStream head(4096);
    writeCatalogueHead(head, settings);
    if (!cursor.expect(head))
        return false;
    for (int32_t i = 0; i < settings.packageUrls.size; ++i) {
        uint8_t kind = i < settings.packageKinds.size ? settings.packageKinds[i] : Settings::kRequiredPackage;
        if (!recordMatches(cursor, settings.packageUrls[i], kind))
            return false;
    }
    return cursor.at == image.size();
}
