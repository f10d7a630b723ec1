#include "catalogue/PackageArchive.h"

#include "catalogue/MemoryStream.h"
#include "support/TempFolder.h"
#include "support/ZipBytes.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

void makeZip(const std::string& path, const Entries& entries, int method = Z_DEFLATED)
{
    ZipWriter zip(path);
    ASSERT_TRUE(zip.isOpen());
    for (const auto& entry : entries)
        ASSERT_TRUE(zip.add(entry.first, entry.second, method)) << entry.first;
}

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

std::string u32(uint32_t v)
{
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

std::string text(const std::string& s)
{
    return s + std::string(1, '\0');
}

std::string recordOf(const PackageArchive& archive, uint32_t& listed)
{
    MemoryStream stream(16);
    listed = archive.serializeRecord(stream);
    return std::string(reinterpret_cast<const char*>(stream.buffer), stream.length);
}

TEST(PackageArchive, AMissingArchiveMeasuresZeroAndNeverInspects)
{
    TempFolder temp;
    PackageArchive missing(temp.path("none.zip").c_str(), -1);
    EXPECT_EQ(missing.archiveSize, 0u);
    EXPECT_FALSE(missing.inspectEntries());  // never opened
}

// The simple installation method on Data/A.PBO and readme.txt, and the
// record's bytes field by field.
TEST(PackageArchive, SimpleMethodRecordBytes)
{
    TempFolder temp;
    const std::string pbo = "pbo data";
    const std::string readme = "read me";
    makeZip(temp.path("mods.zip"), {{"Data/", ""}, {"Data/A.PBO", pbo}, {"readme.txt", readme}});
    bool ok = false;
    auto archive = inspected(temp.path("mods.zip"), ok);
    ASSERT_TRUE(ok);
    EXPECT_FALSE(archive->blockFound);
    EXPECT_EQ(treeOf(*archive->root), "{addons\\{A.PBO,readme.txt*}}");
    EXPECT_EQ(archive->checksum, crcOf(pbo) ^ crcOf(readme));

    archive->packageUrl = "http://host/mods.zip";
    uint32_t listed = 0;
    std::string record = recordOf(*archive, listed);
    EXPECT_EQ(listed, 1u);
    auto size = static_cast<uint32_t>(std::filesystem::file_size(temp.path("mods.zip")));
    EXPECT_EQ(archive->archiveSize, size);
    std::string expected = text("http://host/mods.zip") + u32(size) + text("mods") + text("") + text("") +
                           text("") + u32(10) + text("addons\\") + text("a.pbo") + u32(8) +
                           u32(static_cast<uint32_t>(crcOf(pbo))) + text("") + text("");
    EXPECT_EQ(record, expected);
}

TEST(PackageArchive, RulesPlaceFilesAndTheFirstMatchDecides)
{
    TempFolder temp;
    std::string script = block("PACKAGE Tanks\nINFOURL http://t/\n"
                               "IGNORE *.bak\n"
                               "INSTALL readme.txt docs/manual.txt\n"
                               "EXTRACT *.txt docs\\\n"
                               "INSTALLPATH Addons\\*\n"
                               "EXTRACTPATH keys/*\n"
                               "INSTALL *.pbo addons\\\n"
                               "INSTALL *.pbo never\\");
    makeZip(temp.path("t.zip"), {{"kitsync.txt", script},
                                 {"readme.txt", "r"},
                                 {"sub/notes.txt", "n"},
                                 {"Addons/a.pbo", "a"},
                                 {"Addons/old.bak", "b"},
                                 {"keys/k.bikey", "k"},
                                 {"loose/z.pbo", "z"},
                                 {"other.dat", "o"}});
    bool ok = false;
    auto archive = inspected(temp.path("t.zip"), ok);
    ASSERT_TRUE(ok);
    EXPECT_STREQ(archive->packageName.c_str(), "Tanks");
    EXPECT_EQ(treeOf(*archive->root), "{Addons\\{a.pbo,z.pbo},docs\\{manual.txt,notes.txt*},keys\\{k.bikey*}}");
    uint32_t all = 0;
    for (const char* data : {"r", "n", "a", "b", "k", "z", "o"})
        all ^= static_cast<uint32_t>(crcOf(data));
    all ^= static_cast<uint32_t>(crcOf(script));  // ignored and unmatched entries are still verified
    EXPECT_EQ(archive->checksum, all);
    uint32_t listed = 0;
    recordOf(*archive, listed);
    EXPECT_EQ(listed, 3u);
}

TEST(PackageArchive, IgnoreOrderDecides)
{
    TempFolder temp;
    Entries files = {{"a.pbo", "a"}, {"b.txt", "b"}};
    files.push_back({"kitsync.txt", block("IGNORE *.txt\nINSTALL * addons\\")});
    makeZip(temp.path("before.zip"), files);
    files.back().second = block("INSTALL * addons\\\nIGNORE *.txt");
    makeZip(temp.path("after.zip"), files);
    bool ok = false;
    EXPECT_EQ(treeOf(*inspected(temp.path("before.zip"), ok)->root), "{addons\\{a.pbo}}");
    EXPECT_EQ(treeOf(*inspected(temp.path("after.zip"), ok)->root), "{addons\\{a.pbo,b.txt}}");
}

TEST(PackageArchive, ExtractOnlyPackagesListNothing)
{
    TempFolder temp;
    makeZip(temp.path("x.zip"), {{"kitsync.txt", block("EXTRACT * addons\\\nEXTRACTPATH *")}, {"a.pbo", "a"}});
    bool ok = false;
    auto archive = inspected(temp.path("x.zip"), ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(treeOf(*archive->root), "{addons\\{a.pbo*}}");
    uint32_t listed = 7;
    recordOf(*archive, listed);
    EXPECT_EQ(listed, 0u);
}

TEST(PackageArchive, FoldersMergeIgnoringCaseAndDuplicatesCollapse)
{
    TempFolder temp;
    makeZip(temp.path("d.zip"), {{"kitsync.txt", block("INSTALLPATH *.txt\nINSTALL *.pbo Addons\\")},
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
    auto archive = inspected(temp.path("d.zip"), ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(treeOf(*archive->root), "{Addons\\{Sub\\{z.txt},x.pbo,x.pbo,x.PBO,x.txt,y.txt}}");
    const FileTreeNode& addons = *archive->root->children[0];
    EXPECT_EQ(addons.children[1]->crc, crcOf("same"));  // equal names keep archive order
    EXPECT_EQ(addons.children[2]->crc, crcOf("other"));
    EXPECT_EQ(addons.children[3]->crc, crcOf("third"));
    EXPECT_EQ(addons.children[0]->parent, &addons);
    EXPECT_EQ(addons.parent, archive->root.get());
}

TEST(PackageArchive, ChildrenStayInOrderForShuffledEntries)
{
    TempFolder temp;
    std::vector<std::string> names;
    for (int i = 0; i < 120; ++i)
        names.push_back((i % 3 == 0 ? "Dir" + std::to_string(i % 7) + "/" : "") + "F" + std::to_string(i % 40) +
                        (i % 2 ? ".PBO" : ".pbo"));
    std::shuffle(names.begin(), names.end(), std::mt19937(7));
    Entries entries = {{"kitsync.txt", block("INSTALLPATH *")}};
    for (size_t i = 0; i < names.size(); ++i)
        entries.push_back({names[i], std::to_string(i)});
    makeZip(temp.path("many.zip"), entries, 0);
    bool ok = false;
    auto archive = inspected(temp.path("many.zip"), ok);
    ASSERT_TRUE(ok);
    std::vector<const FileTreeNode*> folders = {archive->root.get()};
    int files = 0;
    while (!folders.empty()) {
        const FileTreeNode* folder = folders.back();
        folders.pop_back();
        for (int32_t i = 0; i < folder->children.size; ++i) {
            const FileTreeNode& child = *folder->children[i];
            if (i > 0) {
                EXPECT_FALSE(nodeBefore(child, *folder->children[i - 1])) << child.name.c_str();
            }
            if (child.isDirectory())
                folders.push_back(&child);
            else
                ++files;
        }
    }
    EXPECT_EQ(files, 120);  // every content differs, so nothing collapses
}

TEST(PackageArchive, UnsafeEntryPathsFailThePackage)
{
    struct Case {
        const char* rule;
        const char* entry;
    } cases[] = {
        {"INSTALLPATH *", "../evil.pbo"},         {"EXTRACTPATH *", "a/../../evil.dll"},
        {"INSTALLPATH *", "C:/Windows/evil.pbo"}, {"INSTALLPATH *", "addons/x.pbo:stream"},
        {"INSTALL * addons\\", "x/.."},           {"INSTALLPATH *", "..\\evil.pbo"},
    };
    for (const Case& c : cases) {
        TempFolder temp;
        makeZip(temp.path("u.zip"), {{"kitsync.txt", block(c.rule)}, {"fine.pbo", "f"}, {c.entry, "bad"}});
        bool ok = true;
        auto archive = inspected(temp.path("u.zip"), ok);
        EXPECT_FALSE(ok) << c.entry;
        EXPECT_EQ(archive->failure, InspectFailure::UnsafePath) << c.entry;
        EXPECT_FALSE(archive->crcMismatch);
        EXPECT_STREQ(inspectionErrorMessage(*archive).c_str(),
                     (std::string("Error: Unsafe install path for archive entry ") + c.entry + "\n").c_str());
    }
    // The simple method flattens entries into addons\, so a climbing entry
    // is harmless there.
    TempFolder temp;
    makeZip(temp.path("flat.zip"), {{"../up.pbo", "u"}, {"C:/x.pbo", "x"}});
    bool ok = false;
    auto archive = inspected(temp.path("flat.zip"), ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(treeOf(*archive->root), "{addons\\{up.pbo,x.pbo}}");
}

TEST(PackageArchive, ControlBytesInEntryNamesAreNotPrinted)
{
    TempFolder temp;
    makeZip(temp.path("c.zip"), {{"kitsync.txt", block("INSTALLPATH *")}, {"..\rOK\x1b[2J.pbo", "x"}});
    bool ok = true;
    auto archive = inspected(temp.path("c.zip"), ok);
    ASSERT_FALSE(ok);
    EXPECT_STREQ(inspectionErrorMessage(*archive).c_str(),
                 "Error: Unsafe install path for archive entry ..?OK?[2J.pbo\n");
}

TEST(PackageArchive, LongEntryNamesRejectTheArchive)
{
    TempFolder temp;
    makeZip(temp.path("ok.zip"), {{std::string(259, 'n'), "x"}});
    makeZip(temp.path("long.zip"), {{"a.pbo", "a"}, {std::string(260, 'n'), "x"}});
    bool ok = false;
    inspected(temp.path("ok.zip"), ok);
    EXPECT_TRUE(ok);
    auto archive = inspected(temp.path("long.zip"), ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(archive->failure, InspectFailure::Unreadable);
    EXPECT_STREQ(inspectionErrorMessage(*archive).c_str(), "Error: Problems reading the archive\n");
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
    makeZip(temp.path("stored.zip"), {{"addons/noise.pbo", noise}, {"addons/prose.pbo", prose}, {"empty.pbo", ""}}, 0);
    makeZip(temp.path("deflated.zip"), {{"addons/noise.pbo", noise}, {"addons/prose.pbo", prose}, {"empty.pbo", ""}});
    for (const char* name : {"info.zip", "streamed.zip", "stored.zip", "deflated.zip"}) {
        bool ok = false;
        auto archive = inspected(temp.path(name), ok);
        ASSERT_TRUE(ok) << name;
        EXPECT_EQ(treeOf(*archive->root), "{addons\\{empty.pbo,noise.pbo,prose.pbo}}") << name;
        const FileTreeNode& addons = *archive->root->children[0];
        EXPECT_EQ(addons.children[1]->uncompressedSize, noise.size());
        EXPECT_EQ(addons.children[1]->crc, crcOf(noise));
        EXPECT_EQ(addons.children[2]->uncompressedSize, prose.size());
        EXPECT_EQ(addons.children[2]->crc, crcOf(prose));
        EXPECT_EQ(archive->checksum, crcOf(noise) ^ crcOf(prose) ^ crcOf("")) << name;
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

TEST(PackageArchive, DamagedCentralDirectoryFails)
{
    TempFolder temp;
    makeZip(temp.path("d.zip"), {{"a.pbo", "a"}, {"b.pbo", "b"}, {"c.pbo", "c"}});
    ZipBytes bytes(temp.path("d.zip"));
    bytes.bytes[bytes.centralHeader("b.pbo") + 1] = 'X';
    bytes.save();
    bool ok = true;
    auto archive = inspected(temp.path("d.zip"), ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(archive->failure, InspectFailure::Unreadable);
}

}  // namespace
