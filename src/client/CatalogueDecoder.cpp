#include "client/CatalogueDecoder.h"

#include <cstring>

namespace {

class CatalogueReader {
public:
    CatalogueReader(const uint8_t* bytes, size_t size) : bytes(bytes), size(size) {}

    bool readCatalogue(Catalogue& out);

    std::string error;

private:
    bool fail(size_t at, const std::string& message)
    {
        error = "at offset " + std::to_string(at) + ": " + message;
        return false;
    }

    bool readU32(uint32_t& value, const std::string& what);
    bool readText(std::string& text, const std::string& what);
    bool readLeadingWord();
    bool readServerTexts(Catalogue& out);
    bool readPackage(CataloguePackage& package, uint32_t number);
    bool readFolderContents(CatalogueNode& folder, int depth);
    bool readEntry(CatalogueNode& folder, std::string name, int depth);
    bool checkNothingLeft();

    const uint8_t* bytes;
    size_t size;
    size_t offset = 0;
};

bool CatalogueReader::readU32(uint32_t& value, const std::string& what)
{
    if (size - offset < 4) {
        return fail(offset, "the catalogue ends inside " + what + " (4 bytes needed, " +
                                std::to_string(size - offset) + " left)");
    }
    value = static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
            static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 3]) << 24;
    offset += 4;
    return true;
}

bool CatalogueReader::readText(std::string& text, const std::string& what)
{
    if (offset == size)
        return fail(offset, "the catalogue ends where " + what + " should start");
    const void* end = std::memchr(bytes + offset, 0, size - offset);
    if (end == nullptr)
        return fail(offset, what + " has no terminating NUL before the end of the catalogue");
    size_t length = static_cast<const uint8_t*>(end) - (bytes + offset);
    text.assign(reinterpret_cast<const char*>(bytes + offset), length);
    offset += length + 1;
    return true;
}

bool CatalogueReader::readLeadingWord()
{
    uint32_t word = 0;
    if (!readU32(word, "the leading word"))
        return false;
    if (word != 1)
        return fail(0, "the leading word is " + std::to_string(word) + ", expected 1");
    return true;
}

bool CatalogueReader::readServerTexts(Catalogue& out)
{
    if (!readText(out.serverName, "the server name") || !readText(out.serverInfo, "the server info") ||
        !readText(out.serverAdmin, "the server admin") || !readText(out.comServer, "the com server") ||
        !readText(out.deactivations, "the deactivations"))
        return false;
    for (int i = 0; i < 5; ++i) {
        if (!readText(out.reserved[i], "reserved text " + std::to_string(i + 1)))
            return false;
    }
    return true;
}

bool CatalogueReader::readPackage(CataloguePackage& package, uint32_t number)
{
    std::string of = " of package " + std::to_string(number);
    if (!readText(package.url, "the URL" + of) || !readU32(package.archiveSize, "the archive size" + of) ||
        !readText(package.name, "the name" + of) || !readText(package.infoUrl, "the info URL" + of) ||
        !readText(package.reserved[0], "reserved text 1" + of) ||
        !readText(package.reserved[1], "reserved text 2" + of) || !readU32(package.kind, "the kind" + of))
        return false;
    package.root.isFolder = true;
    return readFolderContents(package.root, 0);
}

// An empty text closes the folder; a name ending in '\' opens a subfolder;
// any other name is a file followed by its size and CRC-32.
bool CatalogueReader::readFolderContents(CatalogueNode& folder, int depth)
{
    std::string where = folder.name.empty() ? "the install tree" : "folder \"" + folder.name + "\"";
    for (;;) {
        std::string name;
        if (!readText(name, "an entry of " + where))
            return false;
        if (name.empty())
            return true;
        if (!readEntry(folder, std::move(name), depth))
            return false;
    }
}

bool CatalogueReader::readEntry(CatalogueNode& folder, std::string name, int depth)
{
    folder.children.emplace_back();
    CatalogueNode& entry = folder.children.back();
    entry.name = std::move(name);
    if (entry.name.back() != '\\')
        return readU32(entry.size, "the size of file \"" + entry.name + "\"") &&
               readU32(entry.crc, "the CRC-32 of file \"" + entry.name + "\"");
    entry.isFolder = true;
    if (depth + 1 > kMaxFolderDepth) {
        return fail(offset, "folders are nested more than " + std::to_string(kMaxFolderDepth) + " deep");
    }
    return readFolderContents(entry, depth + 1);
}

bool CatalogueReader::checkNothingLeft()
{
    if (offset == size)
        return true;
    return fail(offset, std::to_string(size - offset) + " bytes follow the last package");
}

bool CatalogueReader::readCatalogue(Catalogue& out)
{
    uint32_t count = 0;
    if (!readLeadingWord() || !readServerTexts(out) || !readU32(count, "the package count"))
        return false;
    // The count is not trusted for sizing: a false one fails on the bytes.
    for (uint32_t i = 0; i < count; ++i) {
        out.packages.emplace_back();
        if (!readPackage(out.packages.back(), i + 1))
            return false;
    }
    return checkNothingLeft();
}

}  // namespace

bool decodeCatalogue(const uint8_t* bytes, size_t size, Catalogue& out, std::string& error)
{
    out = Catalogue();
    CatalogueReader reader(bytes, size);
    if (reader.readCatalogue(out))
        return true;
    error = reader.error;
    return false;
}
