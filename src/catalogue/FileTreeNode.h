#pragma once

#include "foundation/RefString.h"
#include "foundation/SharedRef.h"

#include <cstdint>

class ByteStream;

// One folder or file of a package's install tree. A folder's name ends
// with '\'; the root's name is empty. Children are kept folders first, then
// files, each group ordered by case-insensitive name (see nodeBefore).
class FileTreeNode {
public:
    static const uint16_t kDirectory = 0x10;
    static const uint16_t kExtractOnly = 0x01;  // placed but not listed

    FileTreeNode* parent = nullptr;  // not owned
    RefString name;
    uint16_t attributes = 0;
    uint32_t uncompressedSize = 0;
    uint32_t crc = 0;
    SharedRefArray<FileTreeNode> children;

    bool isDirectory() const { return (attributes & kDirectory) != 0; }

    // Writes the catalogue encoding of this node and everything below it;
    // returns the number of listed files written.
    uint32_t serialize(ByteStream& stream) const;
};

// ASCII case-insensitive comparison of names: <0, 0 or >0.
int compareNamesIgnoringCase(const char* a, const char* b);

// True when a sorts strictly before b among a folder's children.
bool nodeBefore(const FileTreeNode& a, const FileTreeNode& b);
