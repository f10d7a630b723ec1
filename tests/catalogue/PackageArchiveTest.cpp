#include "catalogue/PackageArchive.h"

#include "catalogue/MemoryStream.h"
#include "support/TempFolder.h"
#include "support/ZipBytes.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string block(const std::string& lines)
{
    return "KITSYNC_START\n" + lines + "\nKITSYNC_END\n";
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

// Writes the entries to a zip in a folder of its own.
std::string written(const TempFolder& temp, const Entries& entries, int method)
{
    ZipWriter zip(temp.path("p.zip"));
    for (const auto& entry : entries)
        EXPECT_TRUE(zip.add(entry.first, entry.second, method)) << entry.first;
    return temp.path("p.zip");
}

// An archive, its block read (which must succeed) and its entries inspected.
struct Inspected {
    explicit Inspected(const std::string& path) : archive(path.c_str(), 10) { inspect(); }
    explicit Inspected(const Entries& entries, int method = Z_DEFLATED)
        : archive(written(temp, entries, method).c_str(), 10)
    {
        inspect();
    }
    void inspect()
    {
        EXPECT_TRUE(archive.readInstallScript());
        ok = archive.inspectEntries();
    }
    std::string tree() const { return treeOf(*archive.root); }
    uint32_t listedFiles() const
    {
        MemoryStream stream(16);
        return archive.serializeRecord(stream);
    }
    const FileTreeNode& child(int a, int b) const { return *archive.root->children[a]->children[b]; }

    TempFolder temp;
    PackageArchive archive;
    bool ok = false;
};

// Ignored and unmatched entries are still verified: all count in the checksum.
TEST(PackageArchive, RulesPlaceFilesAndTheFirstMatchDecides)
{
    std::string script = block("PACKAGE Tanks\nINFOURL http://t/\nIGNORE *.bak\nINSTALL readme.txt docs/manual.txt\n"
                               "EXTRACT *.txt docs\\\nINSTALLPATH Addons\\*\nEXTRACTPATH keys/*\n"
                               "INSTALL *.pbo addons\\\nINSTALL *.pbo never\\");
    Inspected zip({{"kitsync.txt", script}, {"readme.txt", "r"}, {"sub/notes.txt", "n"}, {"Addons/a.pbo", "a"},
                   {"Addons/old.bak", "b"}, {"keys/k.bikey", "k"}, {"loose/z.pbo", "z"}, {"other.dat", "o"}});
    ASSERT_TRUE(zip.ok);
    EXPECT_STREQ(zip.archive.script.packageName.c_str(), "Tanks");
    EXPECT_EQ(zip.tree(), "{Addons\\{a.pbo,z.pbo},docs\\{manual.txt,notes.txt*},keys\\{k.bikey*}}");
    uint32_t all = crcOf(script);
    for (const char* data : {"r", "n", "a", "b", "k", "z", "o"})
        all ^= crcOf(data);
    EXPECT_EQ(zip.archive.checksum, all);
    EXPECT_EQ(zip.listedFiles(), 3u);
}

// Equal names keep archive order; equal contents under an equal name collapse.
TEST(PackageArchive, FoldersMergeIgnoringCaseAndDuplicatesCollapse)
{
    Inspected zip({{"kitsync.txt", block("INSTALLPATH *.txt\nINSTALL *.pbo Addons\\")}, {"Addons/x.txt", "1"},
                   {"ADDONS/y.txt", "2"}, {"addons/Sub/z.txt", "3"}, {"dir1/x.pbo", "same"}, {"dir2/X.PBO", "same"},
                   {"dir3/x.pbo", "other"}, {"dir4/x.PBO", "third"}, {"dir5/x.pbo", "other"}, {"empty/", ""}});
    ASSERT_TRUE(zip.ok);
    EXPECT_EQ(zip.tree(), "{Addons\\{Sub\\{z.txt},x.pbo,x.pbo,x.PBO,x.txt,y.txt}}");
    EXPECT_EQ(zip.child(0, 1).crc, crcOf("same"));
    EXPECT_EQ(zip.child(0, 2).crc, crcOf("other"));
    EXPECT_EQ(zip.child(0, 3).crc, crcOf("third"));
    EXPECT_EQ(zip.child(0, 0).parent, zip.archive.root->children[0].get());
    EXPECT_EQ(zip.archive.root->children[0]->parent, zip.archive.root.get());
}

// The simple method flattens entries into addons\, so a climbing entry is
// harmless there; control bytes are never printed.
TEST(PackageArchive, UnsafeEntryPathsFailThePackage)
{
    const char* const cases[][3] = {
        {"INSTALLPATH *", "../evil.pbo", "../evil.pbo"},
        {"EXTRACTPATH *", "a/../../evil.dll", "a/../../evil.dll"},
        {"INSTALLPATH *", "C:/Windows/evil.pbo", "C:/Windows/evil.pbo"},
        {"INSTALLPATH *", "addons/x.pbo:stream", "addons/x.pbo:stream"},
        {"INSTALL * addons\\", "x/..", "x/.."},
        {"INSTALLPATH *", "..\\evil.pbo", "..\\evil.pbo"},
        {"INSTALLPATH *", "..\rOK\x1b[2J.pbo", "..?OK?[2J.pbo"},
    };
    for (const auto& c : cases) {
        Inspected zip({{"kitsync.txt", block(c[0])}, {"fine.pbo", "f"}, {c[1], "bad"}});
        EXPECT_FALSE(zip.ok);
        EXPECT_EQ(zip.archive.failure, InspectFailure::UnsafePath);
        EXPECT_STREQ(inspectionErrorMessage(zip.archive).c_str(),
                     (std::string("Error: Unsafe install path for archive entry ") + c[2] + "\n").c_str());
    }
    Inspected flat({{"../up.pbo", "u"}, {"C:/x.pbo", "x"}});
    ASSERT_TRUE(flat.ok);
    EXPECT_EQ(flat.tree(), "{addons\\{up.pbo,x.pbo}}");
}

TEST(PackageArchive, LongEntryNamesAndDamagedDirectoriesAreUnreadable)
{
    EXPECT_TRUE(Inspected({{std::string(259, 'n'), "x"}}).ok);
    Inspected tooLong({{"a.pbo", "a"}, {std::string(260, 'n'), "x"}});
    EXPECT_FALSE(tooLong.ok);
    EXPECT_EQ(tooLong.archive.failure, InspectFailure::Unreadable);
    EXPECT_STREQ(inspectionErrorMessage(tooLong.archive).c_str(), "Error: Problems reading the archive\n");

    TempFolder temp;
    ASSERT_TRUE(writeZip(temp.path("p.zip"), {{"a.pbo", "a"}, {"b.pbo", "b"}, {"c.pbo", "c"}}));
    ZipBytes bytes(temp.path("p.zip"));
    bytes.bytes[bytes.centralHeader("b.pbo") + 1] = 'X';
    bytes.save();
    Inspected damaged(temp.path("p.zip"));
    EXPECT_FALSE(damaged.ok);
    EXPECT_EQ(damaged.archive.failure, InspectFailure::Unreadable);
    PackageArchive missing(temp.path("none.zip").c_str(), -1);
    EXPECT_EQ(missing.archiveSize, 0u);
    EXPECT_FALSE(missing.inspectEntries());
}

// Info-ZIP writing to a pipe keeps sizes and CRCs in descriptors behind the
// data. The simple method installs the .pbo files and extracts the rest.
TEST(PackageArchive, StoredDeflatedAndDescriptorEntriesVerify)
{
    TempFolder temp;
    std::mt19937 random(3);
    std::string noise(100000, '\0'), prose;
    for (char& c : noise)
        c = char(random());
    while (prose.size() < 300000)
        prose += "Every tank needs its tracks. ";
    temp.write("src/addons/noise.pbo", noise);
    temp.write("src/addons/prose.pbo", prose);
    temp.write("src/empty.pbo", "");
    temp.write("src/readme.txt", "read me");
    ASSERT_TRUE(temp.run("cd src && zip -q -r ../info.zip addons empty.pbo readme.txt"));
    ASSERT_TRUE(temp.run("cd src && zip -q -r - addons empty.pbo readme.txt | cat > ../streamed.zip"));
    ASSERT_NE(ZipBytes(temp.path("streamed.zip")).flags("addons/prose.pbo") & 8, 0);
    for (const char* name : {"info.zip", "streamed.zip"}) {
        Inspected zip(temp.path(name));
        ASSERT_TRUE(zip.ok) << name;
        EXPECT_FALSE(zip.archive.script.blockFound);
        EXPECT_EQ(zip.tree(), "{addons\\{empty.pbo,noise.pbo,prose.pbo,readme.txt*}}");
        EXPECT_EQ(zip.child(0, 1).uncompressedSize, noise.size());
        EXPECT_EQ(zip.child(0, 2).crc, crcOf(prose));
        EXPECT_EQ(zip.archive.checksum, crcOf(noise) ^ crcOf(prose) ^ crcOf("") ^ crcOf("read me"));
        EXPECT_EQ(zip.listedFiles(), 3u);
    }
}

// With descriptors the central directory alone decides. A larger size with
// another CRC makes data that ends early, which only the CRC comparison
// catches (the minizip variant of this is CatalogueBuilderTest's crc.zip);
// a larger size alone is a read error.
TEST(PackageArchive, StreamedEntryWithWrongRecordedSizeFails)
{
    TempFolder temp;
    temp.write("src/a.pbo", std::string(3000, 'd'));
    ASSERT_TRUE(temp.run("cd src && zip -q - a.pbo | cat > ../s.zip"));
    const std::string sound = ZipBytes(temp.path("s.zip")).bytes;
    for (bool withCrc : {true, false}) {
        ZipBytes streamed(temp.path("s.zip"));
        streamed.bytes = sound;
        if (withCrc)
            streamed.setCentralCrc("a.pbo", 0x12345678);
        streamed.setCentralSize("a.pbo", 4000);
        streamed.save();
        Inspected zip(temp.path("s.zip"));
        EXPECT_FALSE(zip.ok);
        EXPECT_EQ(zip.archive.crcMismatch, withCrc);
        EXPECT_EQ(zip.archive.failure, withCrc ? InspectFailure::CrcMismatch : InspectFailure::Unreadable);
        EXPECT_STREQ(inspectionErrorMessage(zip.archive).c_str(),
                     withCrc ? "Error: CRC32 error verifying archive\n" : "Error: Problems reading the archive\n");
    }
}

// The rules as "COMMAND pattern destination|...".
std::string rulesOf(const InstallScript& script)
{
    std::string all;
    for (int32_t i = 0; i < script.rules.size; ++i) {
        const InstallRule& rule = *script.rules[i];
        all += std::string(i == 0 ? "" : "|") + commandNameOf(rule.kind) + " " + rule.pattern.c_str() +
               (rule.destination.isEmpty() ? "" : std::string(" ") + rule.destination.c_str());
    }
    return all;
}

const char kBlock[] = "Tanks for everyone\r\nKITSYNC_START\r\nPACKAGE \"Tank Pack\"\r\nINFOURL http://t/\r\n"
                      "INSTALL *.pbo addons/\r\nKITSYNC_END\r\n";

// Entry names of 260 bytes and more are skipped, never cut to a match.
TEST(PackageArchiveScript, FindsTheRootInstructionFileInAnyCase)
{
    TempFolder temp;
    {
        ZipWriter zip(temp.path("tanks.zip"));
        ASSERT_TRUE(zip.add(std::string(259, 'a'), "x"));
        ASSERT_TRUE(zip.add("kitsync.txt" + std::string(249, ' '), "x"));
        ASSERT_TRUE(zip.add(std::string(400, 'b') + "/kitsync.txt", "x"));
        ASSERT_TRUE(zip.add("Docs/kitsync.txt", "KITSYNC_START\nPACKAGE Wrong\nKITSYNC_END"));
        ASSERT_TRUE(zip.addFolder("kitsync.txt"));
        ASSERT_TRUE(zip.add("KitSync.Txt", kBlock, 0));
        ASSERT_TRUE(zip.add("kitsync.txt", "KITSYNC_START\nPACKAGE Second\nKITSYNC_END"));
    }
    PackageArchive archive(temp.path("tanks.zip").c_str(), 10);
    ASSERT_TRUE(archive.readInstallScript());
    EXPECT_TRUE(archive.isOpen());
    const InstallScript& script = archive.script;
    EXPECT_TRUE(script.blockFound);
    EXPECT_STREQ(script.packageName.c_str(), "Tank Pack");
    EXPECT_STREQ(script.infoUrl.c_str(), "http://t/");
    EXPECT_EQ(rulesOf(script), "IGNORE kitsync.txt|INSTALL *.pbo addons\\");
}

TEST(PackageArchiveScript, UnreadableArchivesOversizedOrBadInstructionsFail)
{
    TempFolder temp;
    temp.write("text.zip", "this is not a zip archive, only text that claims the name");
    std::string text = "KITSYNC_START\nPACKAGE Big\nKITSYNC_END\n";
    std::string limit = text + std::string(PackageArchive::kMaxInstructionSize - text.size(), ' ');
    {
        ZipWriter empty(temp.path("empty.zip"));
        ZipWriter atLimit(temp.path("limit.zip"));
        ASSERT_TRUE(atLimit.add("kitsync.txt", limit));
        ZipWriter over(temp.path("over.zip"));
        ASSERT_TRUE(over.add("kitsync.txt", limit + " "));
        ZipWriter bad(temp.path("bad.zip"));
        ASSERT_TRUE(bad.add("kitsync.txt", "KITSYNC_START\nINSTALLPATH ../*\nKITSYNC_END"));
    }
    for (const char* name : {"missing.zip", "text.zip", "empty.zip", "over.zip", "bad.zip"}) {
        PackageArchive archive(temp.path(name).c_str(), 10);
        EXPECT_FALSE(archive.readInstallScript()) << name;
    }
    PackageArchive fits(temp.path("limit.zip").c_str(), 10);
    ASSERT_TRUE(fits.readInstallScript());
    EXPECT_STREQ(fits.script.packageName.c_str(), "Big");
}

}  // namespace
