#include "catalogue/PackageArchive.h"

#include "catalogue/MemoryStream.h"
#include "support/TempFolder.h"
#include "support/ZipBytes.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string block(const std::string& lines)
{
    return "KITSYNC_START\n" + lines + "\nKITSYNC_END\n";
}

// Constructed, block read (expected to succeed) and inspected.
std::unique_ptr<PackageArchive> inspected(const std::string& path, bool& ok)
{
    auto archive = std::make_unique<PackageArchive>(path.c_str(), 10);
    EXPECT_TRUE(archive->readInstallScript()) << path;
    ok = archive->inspectEntries();
    return archive;
}

// Writes the entries to a zip in a folder of its own and inspects it.
class Inspected {
public:
    explicit Inspected(const Entries& entries, int method = Z_DEFLATED)
    {
        ZipWriter zip(temp.path("p.zip"));
        for (const auto& entry : entries)
            EXPECT_TRUE(zip.add(entry.first, entry.second, method)) << entry.first;
    }
    PackageArchive& operator()(bool& ok)
    {
        archive = inspected(temp.path("p.zip"), ok);
        return *archive;
    }

    TempFolder temp;
    std::unique_ptr<PackageArchive> archive;
};

// The tree as text: folder{child,child}; '*' marks extract-only files.
std::string treeOf(const FileTreeNode& node)
{
    if (!node.isDirectory())
        return std::string(node.name.c_str()) + ((node.attributes & FileTreeNode::kExtractOnly) ? "*" : "");
    std::string text = std::string(node.name.c_str()) + "{";
    for (int32_t i = 0; i < node.children.size; ++i)
        text += (i == 0 ? "" : ",") + treeOf(*node.children[i]);
    return text + "}";
}

uint32_t listedFiles(const PackageArchive& archive)
{
    MemoryStream stream(16);
    return archive.serializeRecord(stream);
}

// The record bytes themselves are checked by the catalogue build tests.
TEST(PackageArchive, SimpleMethodInstallsPbosAndExtractsTheRest)
{
    Inspected zip({{"Data/", ""}, {"Data/A.PBO", "pbo data"}, {"readme.txt", "read me"}});
    bool ok = false;
    PackageArchive& archive = zip(ok);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(archive.blockFound);
    EXPECT_EQ(treeOf(*archive.root), "{addons\\{A.PBO,readme.txt*}}");
    EXPECT_EQ(archive.checksum, crcOf("pbo data") ^ crcOf("read me"));
    EXPECT_EQ(listedFiles(archive), 1u);
}

TEST(PackageArchive, RulesPlaceFilesAndTheFirstMatchDecides)
{
    std::string script = block("PACKAGE Tanks\nINFOURL http://t/\nIGNORE *.bak\nINSTALL readme.txt docs/manual.txt\n"
                               "EXTRACT *.txt docs\\\nINSTALLPATH Addons\\*\nEXTRACTPATH keys/*\n"
                               "INSTALL *.pbo addons\\\nINSTALL *.pbo never\\");
    Inspected zip({{"kitsync.txt", script},
                   {"readme.txt", "r"},
                   {"sub/notes.txt", "n"},
                   {"Addons/a.pbo", "a"},
                   {"Addons/old.bak", "b"},
                   {"keys/k.bikey", "k"},
                   {"loose/z.pbo", "z"},
                   {"other.dat", "o"}});
    bool ok = false;
    PackageArchive& archive = zip(ok);
    ASSERT_TRUE(ok);
    EXPECT_STREQ(archive.packageName.c_str(), "Tanks");
    EXPECT_EQ(treeOf(*archive.root), "{Addons\\{a.pbo,z.pbo},docs\\{manual.txt,notes.txt*},keys\\{k.bikey*}}");
    uint32_t all = static_cast<uint32_t>(crcOf(script));  // ignored and unmatched entries are still verified
    for (const char* data : {"r", "n", "a", "b", "k", "z", "o"})
        all ^= static_cast<uint32_t>(crcOf(data));
    EXPECT_EQ(archive.checksum, all);
    EXPECT_EQ(listedFiles(archive), 3u);
}

TEST(PackageArchive, FoldersMergeIgnoringCaseAndDuplicatesCollapse)
{
    Inspected zip({{"kitsync.txt", block("INSTALLPATH *.txt\nINSTALL *.pbo Addons\\")},
                   {"Addons/x.txt", "1"},
                   {"ADDONS/y.txt", "2"},
                   {"addons/Sub/z.txt", "3"},
                   {"dir1/x.pbo", "same"},
                   {"dir2/X.PBO", "same"},
                   {"dir3/x.pbo", "other"},
                   {"dir4/x.PBO", "third"},
                   {"dir5/x.pbo", "other"},
                   {"empty/", ""}});
    bool ok = false;
    PackageArchive& archive = zip(ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(treeOf(*archive.root), "{Addons\\{Sub\\{z.txt},x.pbo,x.pbo,x.PBO,x.txt,y.txt}}");
    const FileTreeNode& addons = *archive.root->children[0];
    EXPECT_EQ(addons.children[1]->crc, crcOf("same"));  // equal names keep archive order
    EXPECT_EQ(addons.children[2]->crc, crcOf("other"));
    EXPECT_EQ(addons.children[3]->crc, crcOf("third"));
    EXPECT_EQ(addons.children[0]->parent, &addons);
    EXPECT_EQ(addons.parent, archive.root.get());
}

// Counts the files below a folder, checking that every folder's children are in order.
int filesInOrder(const FileTreeNode& folder)
{
    int files = 0;
    for (int32_t i = 0; i < folder.children.size; ++i) {
        const FileTreeNode& child = *folder.children[i];
        EXPECT_TRUE(i == 0 || !nodeBefore(child, *folder.children[i - 1])) << child.name.c_str();
        files += child.isDirectory() ? filesInOrder(child) : 1;
    }
    return files;
}

TEST(PackageArchive, ChildrenStayInOrderForShuffledEntries)
{
    std::vector<std::string> names;
    for (int i = 0; i < 120; ++i)
        names.push_back((i % 3 == 0 ? "Dir" + std::to_string(i % 7) + "/" : "") + "F" + std::to_string(i % 40) +
                        (i % 2 ? ".PBO" : ".pbo"));
    std::shuffle(names.begin(), names.end(), std::mt19937(7));
    Entries entries = {{"kitsync.txt", block("INSTALLPATH *")}};
    for (size_t i = 0; i < names.size(); ++i)
        entries.push_back({names[i], std::to_string(i)});
    Inspected zip(entries, 0);
    bool ok = false;
    PackageArchive& archive = zip(ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(filesInOrder(*archive.root), 120);  // every content differs, so nothing collapses
}

TEST(PackageArchive, UnsafeEntryPathsFailThePackage)
{
    struct Case {
        const char* rule;
        const char* entry;
        const char* shown;  // control bytes are never printed
    } cases[] = {
        {"INSTALLPATH *", "../evil.pbo", "../evil.pbo"},
        {"EXTRACTPATH *", "a/../../evil.dll", "a/../../evil.dll"},
        {"INSTALLPATH *", "C:/Windows/evil.pbo", "C:/Windows/evil.pbo"},
        {"INSTALLPATH *", "addons/x.pbo:stream", "addons/x.pbo:stream"},
        {"INSTALL * addons\\", "x/..", "x/.."},
        {"INSTALLPATH *", "..\\evil.pbo", "..\\evil.pbo"},
        {"INSTALLPATH *", "..\rOK\x1b[2J.pbo", "..?OK?[2J.pbo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        Inspected zip({{"kitsync.txt", block(c.rule)}, {"fine.pbo", "f"}, {c.entry, "bad"}});
        bool ok = true;
        PackageArchive& archive = zip(ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(archive.failure, InspectFailure::UnsafePath);
        EXPECT_STREQ(inspectionErrorMessage(archive).c_str(),
                     (std::string("Error: Unsafe install path for archive entry ") + c.shown + "\n").c_str());
    }
    // The simple method flattens entries into addons\, so a climbing entry
    // is harmless there.
    Inspected flat({{"../up.pbo", "u"}, {"C:/x.pbo", "x"}});
    bool ok = false;
    PackageArchive& archive = flat(ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(treeOf(*archive.root), "{addons\\{up.pbo,x.pbo}}");
}

TEST(PackageArchive, LongEntryNamesAndDamagedDirectoriesAreUnreadable)
{
    bool ok = false;
    Inspected fits({{std::string(259, 'n'), "x"}});
    fits(ok);
    EXPECT_TRUE(ok);

    Inspected tooLong({{"a.pbo", "a"}, {std::string(260, 'n'), "x"}});
    PackageArchive& archive = tooLong(ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(archive.failure, InspectFailure::Unreadable);
    EXPECT_STREQ(inspectionErrorMessage(archive).c_str(), "Error: Problems reading the archive\n");

    Inspected damaged({{"a.pbo", "a"}, {"b.pbo", "b"}, {"c.pbo", "c"}});
    ZipBytes bytes(damaged.temp.path("p.zip"));
    bytes.bytes[bytes.centralHeader("b.pbo") + 1] = 'X';
    bytes.save();
    ok = true;
    EXPECT_EQ(damaged(ok).failure, InspectFailure::Unreadable);
    EXPECT_FALSE(ok);

    PackageArchive missing(damaged.temp.path("none.zip").c_str(), -1);
    EXPECT_EQ(missing.archiveSize, 0u);
    EXPECT_FALSE(missing.inspectEntries());
}

TEST(PackageArchive, StoredDeflatedAndDescriptorEntriesVerify)
{
    TempFolder temp;
    std::mt19937 random(3);
    std::string noise(100000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    std::string prose;
    while (prose.size() < 300000)
        prose += "Every tank needs its tracks. ";
    temp.write("src/addons/noise.pbo", noise);
    temp.write("src/addons/prose.pbo", prose);
    temp.write("src/empty.pbo", "");
    ASSERT_TRUE(temp.run("cd src && zip -q -r ../info.zip addons empty.pbo"));
    ASSERT_TRUE(temp.run("cd src && zip -q -r - addons empty.pbo | cat > ../streamed.zip"));
    ASSERT_NE(ZipBytes(temp.path("streamed.zip")).flags("addons/prose.pbo") & 8, 0);
    for (const char* name : {"info.zip", "streamed.zip"}) {
        SCOPED_TRACE(name);
        bool ok = false;
        auto archive = inspected(temp.path(name), ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(treeOf(*archive->root), "{addons\\{empty.pbo,noise.pbo,prose.pbo}}");
        const FileTreeNode& addons = *archive->root->children[0];
        EXPECT_EQ(addons.children[1]->uncompressedSize, noise.size());
        EXPECT_EQ(addons.children[2]->uncompressedSize, prose.size());
        EXPECT_EQ(addons.children[2]->crc, crcOf(prose));
        EXPECT_EQ(archive->checksum, crcOf(noise) ^ crcOf(prose) ^ crcOf(""));
    }
}

// Info-ZIP writing to a pipe keeps sizes and CRCs in descriptors, so the
// central directory alone decides. A larger size with another CRC makes
// data that ends early, which only the CRC comparison catches (the minizip
// variant of this is CatalogueBuilderTest's crc.zip); a larger size alone
// is a read error.
TEST(PackageArchive, StreamedEntryWithWrongRecordedSizeFails)
{
    TempFolder temp;
    temp.write("src/a.pbo", std::string(3000, 'd'));
    ASSERT_TRUE(temp.run("cd src && zip -q - a.pbo | cat > ../s.zip"));
    const std::string sound = ZipBytes(temp.path("s.zip")).bytes;
    for (bool withCrc : {true, false}) {
        SCOPED_TRACE(withCrc ? "size and CRC" : "size only");
        ZipBytes streamed(temp.path("s.zip"));
        streamed.bytes = sound;
        if (withCrc)
            streamed.setCentralCrc("a.pbo", 0x12345678);
        streamed.setCentralSize("a.pbo", 4000);
        streamed.save();
        bool ok = true;
        auto archive = inspected(temp.path("s.zip"), ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(archive->crcMismatch, withCrc);
        EXPECT_EQ(archive->failure, withCrc ? InspectFailure::CrcMismatch : InspectFailure::Unreadable);
        EXPECT_STREQ(inspectionErrorMessage(*archive).c_str(), withCrc ? "Error: CRC32 error verifying archive\n"
                                                                       : "Error: Problems reading the archive\n");
    }
}

}  // namespace
