#include "client/CatalogueDecoder.h"

#include "CatalogueBytes.h"
#include "catalogue/ByteStream.h"
#include "catalogue/FileTreeNode.h"
#include "catalogue/MemoryStream.h"
#include "foundation/RefString.h"

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

Catalogue decoded(const Bytes& image)
{
    Catalogue catalogue;
    std::string error;
    EXPECT_TRUE(decodeCatalogue(image.data(), image.size(), catalogue, error)) << error;
    return catalogue;
}

std::string decodeError(const Bytes& image)
{
    Catalogue catalogue;
    std::string error;
    EXPECT_FALSE(decodeCatalogue(image.data(), image.size(), catalogue, error));
    return error;
}

TEST(CatalogueDecoder, ReadsEveryFieldOfTheSample)
{
    Catalogue catalogue = decoded(sampleCatalogue());
    EXPECT_EQ(catalogue.serverName, "Kit \"One\"");
    EXPECT_EQ(catalogue.serverInfo, "Friday nights");
    EXPECT_EQ(catalogue.serverAdmin, "admin@example.org");
    EXPECT_EQ(catalogue.comServer, "ts.example.org:9987");
    EXPECT_EQ(catalogue.deactivations, "mod_a:mod_b:");
    ASSERT_EQ(catalogue.packages.size(), 2u);

    const CataloguePackage& core = catalogue.packages[0];
    EXPECT_EQ(core.url, "http://files.example.org/core.zip");
    EXPECT_EQ(core.archiveSize, 123456u);
    EXPECT_EQ(core.name, "Core");
    EXPECT_EQ(core.infoUrl, "http://example.org/core");
    EXPECT_EQ(core.kind, kRequiredPackageKind);
    EXPECT_FALSE(core.isOptional());
    ASSERT_EQ(core.root.children.size(), 2u);
    const CatalogueNode& addons = core.root.children[0];
    EXPECT_TRUE(addons.isFolder);
    EXPECT_EQ(addons.name, "addons\\");
    ASSERT_EQ(addons.children.size(), 3u);
    EXPECT_EQ(addons.children[0].name, "sub\\");
    EXPECT_EQ(addons.children[0].children[0].name, "deep.pbo");
    EXPECT_EQ(addons.children[0].children[0].crc, 0xDEADBEEFu);
    EXPECT_EQ(addons.children[2].name, "core.pbo.sig");
    EXPECT_EQ(addons.children[2].size, 20u);
    EXPECT_EQ(core.root.children[1].name, "readme.txt");
    EXPECT_FALSE(core.root.children[1].isFolder);
    EXPECT_EQ(countFiles(core.root), 4u);

    const CataloguePackage& maps = catalogue.packages[1];
    EXPECT_EQ(maps.name, "Maps \xE9t\xE9");
    EXPECT_TRUE(maps.isOptional());
    EXPECT_EQ(maps.infoUrl, "");
    EXPECT_EQ(countFiles(maps.root), 1u);
}

TEST(CatalogueDecoder, EmptyCatalogueIsEighteenBytes)
{
    CatalogueBytes image;
    image.head("", "", "", "", "", 0);
    ASSERT_EQ(image.bytes.size(), 18u);
    EXPECT_TRUE(decoded(image.bytes).packages.empty());
}

// The project's own writers produce the image here: what the server
// builds must read back into the same tree, names lower-cased, and a
// folder of extract-only files still present but empty.
TEST(CatalogueDecoder, ReadsWhatTheServersWritersProduce)
{
    SharedRef<FileTreeNode> root(new FileTreeNode);
    root->attributes = FileTreeNode::kDirectory;
    auto add = [](FileTreeNode& parent, const char* name, uint16_t attributes, uint32_t size, uint32_t crc) {
        SharedRef<FileTreeNode> node(new FileTreeNode);
        node->parent = &parent;
        node->name = name;
        node->attributes = attributes;
        node->uncompressedSize = size;
        node->crc = crc;
        parent.children.add(node);
        return node.get();
    };
    FileTreeNode* addons = add(*root, "Addons\\", FileTreeNode::kDirectory, 0, 0);
    FileTreeNode* hidden = add(*root, "Extracted\\", FileTreeNode::kDirectory, 0, 0);
    add(*addons, "Big.PBO", 0, 70000, 0xCAFEBABE);
    add(*hidden, "only.dll", FileTreeNode::kExtractOnly, 3, 3);
    add(*root, "Readme.TXT", 0, 5, 1);

    MemoryStream stream(4096);
    writeU32(stream, 1);
    for (int i = 0; i < 10; ++i)
        writeText(stream, RefString(i == 0 ? "Server" : ""));
    writeU32(stream, 1);
    writeText(stream, RefString("http://x/p.zip"));
    writeU32(stream, 42);
    writeText(stream, RefString("P"));
    for (int i = 0; i < 3; ++i)
        writeText(stream, RefString(""));
    writeU32(stream, 3);
    EXPECT_EQ(root->serialize(stream), 2u);

    Catalogue catalogue = decoded(Bytes(stream.buffer, stream.buffer + stream.length));
    EXPECT_EQ(catalogue.serverName, "Server");
    ASSERT_EQ(catalogue.packages.size(), 1u);
    const CatalogueNode& tree = catalogue.packages[0].root;
    ASSERT_EQ(tree.children.size(), 3u);
    EXPECT_EQ(tree.children[0].name, "addons\\");
    EXPECT_EQ(tree.children[0].children[0].name, "big.pbo");
    EXPECT_EQ(tree.children[0].children[0].size, 70000u);
    EXPECT_EQ(tree.children[1].name, "extracted\\");
    EXPECT_TRUE(tree.children[1].children.empty());
    EXPECT_EQ(tree.children[2].name, "readme.txt");
    EXPECT_TRUE(catalogue.packages[0].isOptional());
}

// Cutting the image anywhere must fail cleanly at the cut, never read past it.
TEST(CatalogueDecoder, EveryTruncationFailsAtTheCut)
{
    Bytes image = sampleCatalogue();
    for (size_t cut = 0; cut < image.size(); ++cut) {
        Bytes shorter(image.begin(), image.begin() + cut);
        std::string error = decodeError(shorter);
        EXPECT_EQ(error.rfind("at offset ", 0), 0u) << error;
        size_t offset = std::stoul(error.substr(10));
        EXPECT_LE(offset, cut) << error;
    }
}

TEST(CatalogueDecoder, NamesTheOffsetOfEachFault)
{
    Bytes image = sampleCatalogue();
    Bytes trailing = image;
    trailing.push_back(0);
    trailing.push_back(0);
    EXPECT_EQ(decodeError(trailing), "at offset " + std::to_string(image.size()) +
                                         ": 2 bytes follow the last package");

    Bytes badWord = image;
    badWord[0] = 2;
    EXPECT_EQ(decodeError(badWord), "at offset 0: the leading word is 2, expected 1");

    CatalogueBytes noNul;
    noNul.u32(1).text("name");
    noNul.bytes.push_back('x');
    EXPECT_EQ(decodeError(noNul.bytes),
              "at offset 9: the server info has no terminating NUL before the end of the catalogue");

    CatalogueBytes shortSize;
    shortSize.head("", "", "", "", "", 1).package("u", 1, "n", "", 10).text("f.pbo").u32(5);
    shortSize.bytes.push_back(0);
    std::string error = decodeError(shortSize.bytes);
    EXPECT_NE(error.find("the CRC-32 of file \"f.pbo\""), std::string::npos) << error;
    EXPECT_EQ(error.rfind("at offset " + std::to_string(shortSize.bytes.size() - 1) + ":", 0), 0u) << error;
}

TEST(CatalogueDecoder, PackageCountBeyondTheRecordsFails)
{
    CatalogueBytes image;
    image.head("", "", "", "", "", 0xFFFFFFFF).package("u", 1, "n", "", 10).end();
    std::string error = decodeError(image.bytes);
    EXPECT_EQ(error, "at offset " + std::to_string(image.bytes.size()) +
                         ": the catalogue ends where the URL of package 2 should start");
}

// An archive entry name of 259 bytes, a/a/.../a/x, installed under its own
// path gives 129 nested folders; the server writes that and the client
// must read it back.
TEST(CatalogueDecoder, ReadsTheDeepestTreeAnEntryNameCanGive)
{
    SharedRef<FileTreeNode> root(new FileTreeNode);
    root->attributes = FileTreeNode::kDirectory;
    FileTreeNode* folder = root.get();
    for (int level = 0; level < 129; ++level) {
        SharedRef<FileTreeNode> child(new FileTreeNode);
        child->parent = folder;
        child->name = "A\\";
        child->attributes = FileTreeNode::kDirectory;
        folder->children.add(child);
        folder = child.get();
    }
    SharedRef<FileTreeNode> file(new FileTreeNode);
    file->parent = folder;
    file->name = "x";
    file->uncompressedSize = 9;
    file->crc = 0x01020304;
    folder->children.add(file);

    MemoryStream stream(4096);
    CatalogueBytes head;
    head.head("", "", "", "", "", 1).package("u", 1, "n", "", 10);
    stream.write(head.bytes.data(), static_cast<uint32_t>(head.bytes.size()));
    ASSERT_EQ(root->serialize(stream), 1u);

    Catalogue catalogue = decoded(Bytes(stream.buffer, stream.buffer + stream.length));
    ASSERT_EQ(catalogue.packages.size(), 1u);
    const CatalogueNode* node = &catalogue.packages[0].root;
    for (int level = 0; level < 129; ++level) {
        ASSERT_EQ(node->children.size(), 1u) << "level " << level;
        EXPECT_EQ(node->children[0].name, "a\\");
        node = &node->children[0];
    }
    ASSERT_EQ(node->children.size(), 1u);
    EXPECT_EQ(node->children[0].name, "x");
    EXPECT_EQ(node->children[0].crc, 0x01020304u);
    EXPECT_EQ(countFiles(catalogue.packages[0].root), 1u);
}

CatalogueBytes nestedFolders(int depth)
{
    CatalogueBytes image;
    image.head("", "", "", "", "", 1).package("u", 1, "n", "", 10);
    for (int i = 0; i < depth; ++i)
        image.folder("d\\");
    for (int i = 0; i <= depth; ++i)
        image.end();
    return image;
}

TEST(CatalogueDecoder, RefusesNestingBeyondTheLimit)
{
    EXPECT_EQ(decoded(nestedFolders(kMaxFolderDepth).bytes).packages.size(), 1u);

    std::string error = decodeError(nestedFolders(kMaxFolderDepth + 1).bytes);
    EXPECT_NE(error.find("nested more than"), std::string::npos) << error;

    CatalogueBytes endless;
    endless.head("", "", "", "", "", 1).package("u", 1, "n", "", 10);
    for (int i = 0; i < 100000; ++i)
        endless.folder("d\\");
    error = decodeError(endless.bytes);
    EXPECT_NE(error.find("nested more than"), std::string::npos) << error;
}

}  // namespace
