#include "client/PackageInstaller.h"

#include "CatalogueBytes.h"
#include "catalogue/PackageArchive.h"
#include "client/CatalogueDecoder.h"
#include "platform/FileSystem.h"
#include "support/TempFolder.h"
#include "support/ZipBytes.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

namespace fs = std::filesystem;
using Entries = std::vector<std::pair<std::string, std::string>>;

const std::string kBlock = "kitsync.txt";
// A time no file written by the test can have.
const fs::file_time_type kOld =
    std::chrono::floor<std::chrono::seconds>(fs::file_time_type::clock::now() - std::chrono::hours(24 * 365));

std::string noise(size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() % 64);  // compressible, never trivial
    return bytes;
}

std::string script(const std::string& lines)
{
    return "KITSYNC_START\nPACKAGE Tanks\n" + lines + "\nKITSYNC_END\n";
}

// Every entry below a folder: content (or "/" for a folder) and whether its
// time is still the one ageAll set, so a rewrite shows even within a tick.
std::map<std::string, std::string> listing(const std::string& folder)
{
    std::map<std::string, std::string> entries;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        std::string name = fs::relative(entry.path(), folder).generic_string();
        if (entry.is_symlink())
            entries[name] = "link";
        else if (entry.is_directory())
            entries[name] = "/";
        else
            entries[name] = readFile(entry.path()) + (fs::last_write_time(entry.path()) == kOld ? " (old)" : "");
    }
    return entries;
}

void ageAll(const std::string& folder)
{
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            fs::last_write_time(entry.path(), kOld);
    }
}

struct Events : InstallObserver {
    void verifying(const std::string&) override { seen += "verifying|"; }
    void writing(const std::string& target) override { seen += "writing " + target + "|"; }
    void partlyWritten(const std::string& target) override { seen += "partly " + target + "|"; }
    void renaming(const std::string& target) override { seen += "renaming " + target + "|"; }
    std::string seen;
};

// A package archive, its catalogue entry as the server's build makes it,
// and a game folder beside it.
class Installer : public ::testing::Test {
protected:
    void pack(const Entries& entries, int method = Z_DEFLATED)
    {
        ZipWriter zip(archive);
        for (const auto& entry : entries)
            ASSERT_TRUE(zip.add(entry.first, entry.second, method)) << entry.first;
        ASSERT_TRUE(zip.close());
        package = catalogued(archive);
    }

    static CataloguePackage catalogued(const std::string& path)
    {
        PackageArchive built(path.c_str(), 10);
        EXPECT_TRUE(built.readInstallScript() && built.inspectEntries());
        MemoryStream record(256);
        built.serializeRecord(record);
        CatalogueBytes out;
        out.head("S", 1).bytes.insert(out.bytes.end(), record.buffer, record.buffer + record.length);
        Catalogue catalogue;
        std::string error;
        EXPECT_TRUE(decodeCatalogue(out.bytes.data(), out.bytes.size(), catalogue, error)) << error;
        return catalogue.packages.at(0);
    }

    PackageFindings findings()
    {
        Catalogue catalogue;
        catalogue.packages.push_back(package);
        FolderCheck check;
        std::string error;
        EXPECT_TRUE(checkFolder(catalogue, game.folder(), check, error)) << error;
        return check.packages.at(0);
    }

    InstallReport install(InstallObserver* observer = nullptr)
    {
        InstallReport report = installPackage(package, archive, game.folder(), findings(), observer);
        EXPECT_EQ(report.status == InstallStatus::installed, report.message.empty()) << report.message;
        return report;
    }

    TempFolder temp, game;
    std::string archive = temp.path("p.zip");
    CataloguePackage package;
};

using Strings = std::vector<std::string>;

// The large file spans several blocks, so the observer hears of it half
// written; every file is renamed only after all are written.
TEST_F(Installer, EmptyFolderGetsListedAndExtractOnlyFiles)
{
    std::string big = noise(600000, 1);
    pack({{kBlock, script("INSTALL *.pbo Addons\\\nEXTRACT *.txt docs\\\nINSTALLPATH keys/*")},
          {"a.pbo", "alpha"}, {"big.pbo", big}, {"readme.txt", "read me"}, {"keys/k.bikey", "key"}});
    Events events;
    InstallReport report = install(&events);
    ASSERT_EQ(report.status, InstallStatus::installed);
    EXPECT_EQ(report.written, (Strings{"Addons\\a.pbo", "Addons\\big.pbo", "keys\\k.bikey"}));
    EXPECT_EQ(report.extracted, Strings{"docs\\readme.txt"});
    EXPECT_EQ(events.seen, "verifying|writing Addons\\a.pbo|writing Addons\\big.pbo|partly Addons\\big.pbo|"
                           "writing docs\\readme.txt|writing keys\\k.bikey|renaming docs\\readme.txt|"
                           "renaming Addons\\a.pbo|renaming Addons\\big.pbo|renaming keys\\k.bikey|");
    using Listing = std::map<std::string, std::string>;
    EXPECT_EQ(listing(game.folder()), (Listing{{"Addons", "/"}, {"Addons/a.pbo", "alpha"}, {"Addons/big.pbo", big},
                                               {"docs", "/"}, {"docs/readme.txt", "read me"}, {"keys", "/"},
                                               {"keys/k.bikey", "key"}}));
    EXPECT_TRUE(findings().findings.empty());
}

// Only the files at fault are rewritten (the others keep their aged time);
// a player's edit of an extract-only file stays; a leftover temporary file
// of a stopped run goes.
TEST_F(Installer, RestoresChangedAndDeletedFilesOnly)
{
    pack({{kBlock, script("INSTALL *.pbo addons\\\nEXTRACT *.cfg addons\\")},
          {"a.pbo", "alpha"}, {"b.pbo", "bravo"}, {"c.pbo", "charlie"}, {"user.cfg", "defaults"}});
    ASSERT_EQ(install().status, InstallStatus::installed);
    game.write("addons/a.pbo", "ALPHA");
    fs::remove(game.path("addons/b.pbo"));
    game.write("addons/user.cfg", "mine");
    game.write("addons/.kitsync-b.pbo.tmp", "half");
    ageAll(game.folder());
    InstallReport report = install();
    ASSERT_EQ(report.status, InstallStatus::installed);
    EXPECT_EQ(report.written, (Strings{"addons\\a.pbo", "addons\\b.pbo"}));
    EXPECT_TRUE(report.extracted.empty());
    using Listing = std::map<std::string, std::string>;
    EXPECT_EQ(listing(game.folder()), (Listing{{"addons", "/"}, {"addons/a.pbo", "alpha"}, {"addons/b.pbo", "bravo"},
                                               {"addons/c.pbo", "charlie (old)"}, {"addons/user.cfg", "mine (old)"}}));
}

// An existing folder is used in its spelling, an existing file replaced
// under its own; only what is missing takes the archive's.
TEST_F(Installer, ExistingNamesKeepTheirCase)
{
    pack({{kBlock, script("INSTALLPATH addons/*")}, {"addons/x.pbo", "x"}, {"addons/Old.pbo", "new"},
          {"addons/Sub/y.pbo", "y"}});
    game.write("Addons/OLD.PBO", "old");
    ASSERT_EQ(install().status, InstallStatus::installed);
    using Listing = std::map<std::string, std::string>;
    EXPECT_EQ(listing(game.folder()), (Listing{{"Addons", "/"}, {"Addons/OLD.PBO", "new"}, {"Addons/Sub", "/"},
                                               {"Addons/Sub/y.pbo", "y"}, {"Addons/x.pbo", "x"}}));
}

// The later of two entries at one path is what an extraction leaves, and
// the folder check judges only the later catalogue file.
TEST_F(Installer, LaterEntryAtOnePathWins)
{
    pack({{kBlock, script("INSTALL *.pbo addons\\")}, {"one/x.pbo", "first"}, {"two/X.pbo", "second!"}});
    PackageFindings before = findings();
    EXPECT_EQ(before.shadowed, Strings{"addons\\x.pbo"});
    EXPECT_EQ(before.findings.size(), 1u);
    InstallReport report = install();
    ASSERT_EQ(report.status, InstallStatus::installed);
    EXPECT_EQ(readFile(game.path("addons/X.pbo")), "second!");
    ASSERT_EQ(report.duplicates.size(), 1u);
    EXPECT_NE(report.duplicates[0].find("two/X.pbo"), std::string::npos) << report.duplicates[0];
    EXPECT_TRUE(findings().findings.empty());

    // A third entry equal to the first is listed once, with the first; it
    // is still what an extraction leaves, and the check accepts it.
    pack({{kBlock, script("INSTALL *.pbo addons\\")}, {"one/x.pbo", "first"}, {"two/X.pbo", "second!"},
          {"three/x.pbo", "first"}});
    fs::remove(game.path("addons/X.pbo"));
    ASSERT_EQ(install().status, InstallStatus::installed);
    EXPECT_EQ(readFile(game.path("addons/x.pbo")), "first");
    EXPECT_TRUE(findings().findings.empty());
}

// Whatever goes wrong, the folder is left as it was: nothing new, nothing
// half-written, no temporary file, no folder made for the package.
TEST_F(Installer, FailuresLeaveTheFolderAsItWas)
{
    struct Case {
        const char* what;
        InstallStatus status;
        const char* inMessage;
    };
    const Case cases[] = {
        {"other crc", InstallStatus::differs, "keys\\k.bikey (3 bytes"},
        {"other size", InstallStatus::differs, "keys\\k.bikey (3 bytes"},
        {"extra file", InstallStatus::differs, "keys\\extra.bikey"},
        {"archive size", InstallStatus::differs, "the catalogue says"},
        {"corrupt data", InstallStatus::unreadable, "addons/b.pbo fails its CRC-32"},
        {"full disk", InstallStatus::writeFailed, "cannot write addons\\a.pbo"},
        {"device name", InstallStatus::unsafeName, "keys\\AUX.bikey"},
    };
    // keys\ is made before the failing entries are reached.
    Entries entries = {{kBlock, script("INSTALLPATH *")}, {"keys/k.bikey", "key"}, {"addons/a.pbo", noise(300000, 2)},
                       {"addons/b.pbo", "bravo"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        game.write("addons/keep.pbo", "kept");
        auto before = listing(game.folder());
        pack(entries, 0);
        std::string what = c.what;
        Entries changed = entries;
        if (what == "other crc" || what == "other size")
            changed[1].second = what == "other crc" ? "KEY" : "keys";
        if (what == "extra file" || what == "device name")
            changed.push_back({what == "extra file" ? "keys/extra.bikey" : "keys/AUX.bikey", "x"});
        if (changed != entries) {
            CataloguePackage original = package;
            pack(changed, 0);
            package.root = original.root;
        }
        if (what == "archive size")
            package.archiveSize += 1;
        if (what == "corrupt data") {
            ZipBytes bytes(archive);
            bytes.bytes[bytes.dataOffset("addons/b.pbo")] = 'B';
            bytes.save();
        }
        platform::failWritesAfter(what == "full disk" ? 100000 : -1);
        InstallReport report = install();
        platform::failWritesAfter(-1);
        EXPECT_EQ(report.status, c.status);
        EXPECT_NE(report.message.find("Package Tanks: "), std::string::npos) << report.message;
        EXPECT_NE(report.message.find(c.inMessage), std::string::npos) << report.message;
        EXPECT_EQ(listing(game.folder()), before);
    }
}

// A link on the way is never followed, wherever it points; a file that is a
// link is replaced by the new file, never written through.
TEST_F(Installer, LinksAreNeverFollowedOut)
{
    TempFolder outside;
    outside.write("x.pbo", "theirs");
    std::error_code failed;
    fs::create_directory_symlink(outside.folder(), game.path("addons"), failed);
    if (failed)
        GTEST_SKIP() << "no symbolic links here: " << failed.message();
    pack({{"x.pbo", "ours!!"}});
    InstallReport report = install();
    EXPECT_EQ(report.status, InstallStatus::unsafeName);
    EXPECT_NE(report.message.find("link addons"), std::string::npos) << report.message;

    fs::remove(game.path("addons"));
    fs::create_directory(game.path("addons"));
    fs::create_symlink(outside.path("x.pbo"), game.path("addons/x.pbo"));
    ASSERT_EQ(install().status, InstallStatus::installed);
    EXPECT_FALSE(fs::is_symlink(game.path("addons/x.pbo")));
    EXPECT_EQ(readFile(game.path("addons/x.pbo")), "ours!!");
    using Listing = std::map<std::string, std::string>;
    EXPECT_EQ(listing(outside.folder()), (Listing{{"x.pbo", "theirs"}}));
}

}  // namespace
