#include "catalogue/FileTreeNode.h"

#include "catalogue/ByteStream.h"
#include "wire/CatalogueLayout.h"

uint32_t FileTreeNode::serialize(ByteStream& stream) const
{
    RefString lowered = name;
    lowered.makeLower();
    RecordWriter writer(stream);
    if (isDirectory()) {
        if (!lowered.isEmpty())
            writer.text(lowered, "a folder");  // the root's entries follow the package's head instead
        uint32_t count = 0;
        for (int32_t i = 0; i < children.size; ++i)
            count += children[i]->serialize(stream);
        writer.text(RefString(), "the folder's end");
        return count;
    }
    if ((attributes & kExtractOnly) != 0)
        return 0;
    writer.text(lowered, "a file");
    wire::fileFields(writer, uncompressedSize, crc);
    return 1;
}

int compareNamesIgnoringCase(const char* a, const char* b)
{
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : static_cast<int>(c); };
    for (;; ++a, ++b) {
        int ca = lower(static_cast<unsigned char>(*a));
        int cb = lower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0)
            return ca - cb;
    }
}

bool nodeBefore(const FileTreeNode& a, const FileTreeNode& b)
{
    if (a.isDirectory() != b.isDirectory())
        return a.isDirectory();
    return compareNamesIgnoringCase(a.name.c_str(), b.name.c_str()) < 0;
}
