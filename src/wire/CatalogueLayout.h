#pragma once

#include <cstddef>
#include <cstdint>

// The uncompressed catalogue, as the server builds it and clients read it.
// A number is a u32; a text is its bytes and a NUL.
//
//   head      u32 1, the ten server texts (name, info, admin, com server,
//             deactivations, five reserved), u32 package count
//   package   URL, u32 archive size, name, info URL, two reserved texts,
//             u32 kind, then the entries of its install tree's root
//   entries   each starts with a name: one ending in '\' is a folder whose
//             own entries follow; any other is a file, followed by its u32
//             size and u32 CRC-32. An empty name closes the folder.
//
// The walks below visit a record's fields in the order they travel, so the
// writer and every reader take the order from here. A Codec provides
//   bool mark(uint32_t expected, const char* what)   a fixed word
//   bool number(Number& value, const char* what)
//   bool text(Text& value, const char* what)
// and stops the walk by returning false; a writer's steps return true.
namespace wire {

constexpr uint32_t kCatalogueMark = 1;
constexpr int kServerReservedTexts = 5;
constexpr int kPackageReservedTexts = 2;
constexpr char kFolderNameEnd = '\\';

// Package kinds; clients take a kind they do not know for required.
constexpr uint32_t kOptionalPackageKind = 3;
constexpr uint32_t kRequiredPackageKind = 10;

inline const char* reservedTextName(int index)
{
    static const char* const names[kServerReservedTexts] = {"reserved text 1", "reserved text 2", "reserved text 3",
                                                            "reserved text 4", "reserved text 5"};
    return names[index];
}

inline bool isFolderName(const char* name, size_t length)
{
    return length > 0 && name[length - 1] == kFolderNameEnd;
}

// reserved: kServerReservedTexts texts.
template <class Codec, class Text, class Number>
bool catalogueHead(Codec& codec, Text& name, Text& info, Text& admin, Text& comServer, Text& deactivations,
                   Text* reserved, Number& packageCount)
{
    if (!codec.mark(kCatalogueMark, "the leading word") || !codec.text(name, "the server name") ||
        !codec.text(info, "the server info") || !codec.text(admin, "the server admin") ||
        !codec.text(comServer, "the com server") || !codec.text(deactivations, "the deactivations"))
        return false;
    for (int i = 0; i < kServerReservedTexts; ++i) {
        if (!codec.text(reserved[i], reservedTextName(i)))
            return false;
    }
    return codec.number(packageCount, "the package count");
}

// The package's fields before its install tree; reserved:
// kPackageReservedTexts texts.
template <class Codec, class Text, class Number>
bool packageHead(Codec& codec, Text& url, Number& archiveSize, Text& name, Text& infoUrl, Text* reserved,
                 Number& kind)
{
    if (!codec.text(url, "the URL") || !codec.number(archiveSize, "the archive size") ||
        !codec.text(name, "the name") || !codec.text(infoUrl, "the info URL"))
        return false;
    for (int i = 0; i < kPackageReservedTexts; ++i) {
        if (!codec.text(reserved[i], reservedTextName(i)))
            return false;
    }
    return codec.number(kind, "the kind");
}

// What follows a file's name.
template <class Codec, class Number>
bool fileFields(Codec& codec, Number& size, Number& crc)
{
    return codec.number(size, "the size") && codec.number(crc, "the CRC-32");
}

}  // namespace wire
