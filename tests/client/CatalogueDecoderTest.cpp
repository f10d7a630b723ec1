#include "client/CatalogueDecoder.h"

#include "CatalogueBytes.h"
#include "support/TreeNodes.h"

#include <gtest/gtest.h>

namespace {

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
    EXPECT_FALSE(core.isOptional());
    EXPECT_EQ(countFiles(core.root), 4u);
    EXPECT_EQ(catalogue.packages[1].name, "Maps \xE9t\xE9");
    EXPECT_TRUE(catalogue.packages[1].isOptional());
    EXPECT_TRUE(decoded(CatalogueBytes().head("", 0).bytes).packages.empty());
}

// The server's own serialisation writes the tree: names come back
// lower-cased, a folder of extract-only files is still present but empty,
// and an archive entry name of 259 bytes, a/a/.../a/x, gives 129 nested
// folders that must read back too.
TEST(CatalogueDecoder, ReadsWhatTheServersWritersProduce)
{
    FileTreeNode root;
    root.attributes = FileTreeNode::kDirectory;
    FileTreeNode* folder = addNode(root, "Addons\\", FileTreeNode::kDirectory);
    addNode(*addNode(root, "Extracted\\", FileTreeNode::kDirectory), "only.dll", FileTreeNode::kExtractOnly, 3);
    addNode(root, "Readme.TXT", 0, 5);
    for (int level = 0; level < 129; ++level)
        folder = addNode(*folder, "A\\", FileTreeNode::kDirectory);
    addNode(*folder, "Big.PBO", 0, 70000, 210000);
    CatalogueBytes head;
    head.head("Server", 1).package("u", 1, "n", 3);
    MemoryStream stream(4096);
    stream.write(head.bytes.data(), static_cast<uint32_t>(head.bytes.size()));
    EXPECT_EQ(root.serialize(stream), 2u);

    Catalogue catalogue = decoded(Bytes(stream.buffer, stream.buffer + stream.length));
    ASSERT_EQ(catalogue.packages.size(), 1u);
    const CatalogueNode& tree = catalogue.packages[0].root;
    ASSERT_EQ(tree.children.size(), 3u);
    EXPECT_EQ(tree.children[1].name, "extracted\\");
    EXPECT_TRUE(tree.children[1].children.empty());
    EXPECT_EQ(tree.children[2].name, "readme.txt");
    const CatalogueNode* node = &tree.children[0];
    EXPECT_EQ(node->name, "addons\\");
    for (int level = 0; level < 129; ++level) {
        ASSERT_EQ(node->children.size(), 1u) << "level " << level;
        node = &node->children[0];
        EXPECT_EQ(node->name, "a\\");
    }
    ASSERT_EQ(node->children.size(), 1u);
    EXPECT_EQ(node->children[0].name, "big.pbo");
    EXPECT_EQ(node->children[0].size, 70000u);
    EXPECT_EQ(node->children[0].crc, 210000u);
}

// Cutting the image anywhere must fail cleanly at the cut, never read past it.
TEST(CatalogueDecoder, EveryTruncationFailsAtTheCut)
{
    Bytes image = sampleCatalogue();
    for (size_t cut = 0; cut < image.size(); ++cut) {
        std::string error = decodeError(Bytes(image.begin(), image.begin() + cut));
        EXPECT_EQ(error.rfind("at offset ", 0), 0u) << error;
        EXPECT_LE(std::stoul(error.substr(10)), cut) << error;
    }
}

CatalogueBytes nestedFolders(int depth, int closed)
{
    CatalogueBytes image;
    image.head("", 1).package("u", 1, "n", 10);
    for (int i = 0; i < depth; ++i)
        image.text("d\\");
    for (int i = 0; i < closed; ++i)
        image.end();
    return image;
}

TEST(CatalogueDecoder, NamesTheOffsetOfEachFault)
{
    Bytes image = sampleCatalogue();
    Bytes trailing = image;
    trailing.insert(trailing.end(), {0, 0});
    Bytes badWord = image;
    badWord[0] = 2;
    CatalogueBytes noNul, shortCrc, tooMany;
    noNul.u32(1).text("name").bytes.push_back('x');
    shortCrc.head("", 1).package("u", 1, "n", 10).text("f.pbo").u32(5).bytes.push_back(0);
    tooMany.head("", 0xFFFFFFFF).package("u", 1, "n", 10).end();
    const std::string tooDeep = "folders are nested more than " + std::to_string(kMaxFolderDepth) + " deep";
    const std::pair<Bytes, std::string> cases[] = {
        {trailing, "at offset " + std::to_string(image.size()) + ": 2 bytes follow the last package"},
        {badWord, "at offset 0: the leading word is 2, expected 1"},
        {noNul.bytes, "at offset 9: the server info has no terminating NUL before the end of the catalogue"},
        {shortCrc.bytes, "at offset " + std::to_string(shortCrc.bytes.size() - 1) +
                             ": the catalogue ends inside the CRC-32 of file \"f.pbo\" (4 bytes needed, 1 left)"},
        {tooMany.bytes, "at offset " + std::to_string(tooMany.bytes.size()) +
                            ": the catalogue ends where the URL of package 2 should start"},
        // Nesting is bounded so that a hostile image cannot exhaust the stack.
        {nestedFolders(kMaxFolderDepth + 1, kMaxFolderDepth + 2).bytes, tooDeep},
        {nestedFolders(100000, 0).bytes, tooDeep},
    };
    for (const auto& fault : cases) {
        std::string error = decodeError(fault.first);
        EXPECT_EQ(error.substr(error.size() - std::min(error.size(), fault.second.size())), fault.second) << error;
    }
    EXPECT_EQ(decoded(nestedFolders(kMaxFolderDepth, kMaxFolderDepth + 1).bytes).packages.size(), 1u);
}

}  // namespace
