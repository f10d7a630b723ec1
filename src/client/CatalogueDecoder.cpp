#include "client/CatalogueDecoder.h"

#include "wire/ByteReader.h"
#include "wire/CatalogueLayout.h"

#include <string_view>

namespace {

class CatalogueReader {
public:
    CatalogueReader(const uint8_t* bytes, size_t size) : reader(bytes, size) {}

    bool readCatalogue(Catalogue& out);

    // The steps of the walks in wire/CatalogueLayout.h; `of` names the
    // record whose fields they read.
    bool mark(uint32_t expected, const char* what);
    bool number(uint32_t& value, const char* what) { return readU32(value, what + of); }
    bool text(std::string& value, const char* what) { return readText(value, what + of); }

    std::string error;

private:
    bool fail(size_t at, const std::string& message)
    {
        error = "at offset " + std::to_string(at) + ": " + message;
        return false;
    }

    bool readU32(uint32_t& value, const std::string& what);
    bool readText(std::string& text, const std::string& what);
    bool readPackage(CataloguePackage& package, uint32_t number);
    bool readFolderContents(CatalogueNode& folder, int depth);
    bool readEntry(CatalogueNode& folder, std::string name, int depth);
    bool checkNothingLeft();

    wire::ByteReader reader;
    std::string of;
};

bool CatalogueReader::readU32(uint32_t& value, const std::string& what)
{
    if (reader.readU32(value))
        return true;
    return fail(reader.offset(), "the catalogue ends inside " + what + " (4 bytes needed, " +
                                     std::to_string(reader.remaining()) + " left)");
}

bool CatalogueReader::readText(std::string& text, const std::string& what)
{
    if (reader.atEnd())
        return fail(reader.offset(), "the catalogue ends where " + what + " should start");
    std::string_view value;
    if (!reader.readText(value))
        return fail(reader.offset(), what + " has no terminating NUL before the end of the catalogue");
    text.assign(value);
    return true;
}

bool CatalogueReader::mark(uint32_t expected, const char* what)
{
    uint32_t word = 0;
    if (!number(word, what))
        return false;
    if (word != expected)
        return fail(reader.offset() - 4, std::string(what) + " is " + std::to_string(word) + ", expected " +
                                             std::to_string(expected));
    return true;
}

bool CatalogueReader::readPackage(CataloguePackage& package, uint32_t number)
{
    of = " of package " + std::to_string(number);
    if (!wire::packageHead(*this, package.url, package.archiveSize, package.name, package.infoUrl, package.reserved,
                           package.kind))
        return false;
    package.root.isFolder = true;
    return readFolderContents(package.root, 0);
}

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
    if (!wire::isFolderName(entry.name.data(), entry.name.size())) {
        of = " of file \"" + entry.name + "\"";
        return wire::fileFields(*this, entry.size, entry.crc);
    }
    entry.isFolder = true;
    if (depth + 1 > kMaxFolderDepth) {
        return fail(reader.offset(), "folders are nested more than " + std::to_string(kMaxFolderDepth) + " deep");
    }
    return readFolderContents(entry, depth + 1);
}

bool CatalogueReader::checkNothingLeft()
{
    if (reader.atEnd())
        return true;
    return fail(reader.offset(), std::to_string(reader.remaining()) + " bytes follow the last package");
}

bool CatalogueReader::readCatalogue(Catalogue& out)
{
    uint32_t count = 0;
    if (!wire::catalogueHead(*this, out.serverName, out.serverInfo, out.serverAdmin, out.comServer, out.deactivations,
                             out.reserved, count))
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
