#include "catalogue/CatalogueBuilder.h"

#include "catalogue/Download.h"
#include "catalogue/InfoBlock.h"
#include "catalogue/MemoryStream.h"
#include "client/CatalogueBytes.h"
#include "client/ChunkCollector.h"
#include "platform/Clock.h"
#include "settings/Settings.h"
#include "support/HttpServerProcess.h"
#include "support/TempFolder.h"
#include "support/ZipBytes.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

std::string u32(uint32_t value)
{
    return std::string{char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
}

std::string text(const std::string& s)
{
    return s + std::string(1, '\0');
}

// A listed file of a record's tree: lower-cased name, size, CRC-32.
std::string listed(const std::string& name, const std::string& data)
{
    return text(name) + u32(uint32_t(data.size())) + u32(crcOf(data));
}

std::string prompt(const std::string& localName)
{
    return "Download and index " + localName + " - Yes,No,yesAll,nOall (Y/N/A/O) ? ";
}

// The stored block, read back the way a client reads it.
struct StoredBlock {
    uint64_t id = 0;
    size_t chunkCount = 0, chunkBytes = 0;
    std::string catalogue;
};

::testing::AssertionResult loadStored(StoredBlock& stored)
{
    InfoBlock block;
    if (loadInfoBlock(block) != InfoBlockLoad::Loaded)
        return ::testing::AssertionFailure() << "addoninfoblock.udp missing or damaged";
    std::vector<Chunk> chunks = chunksOf(block);
    Bytes image;
    std::string error;
    if (!catalogueFromChunks(chunks, image, error))
        return ::testing::AssertionFailure() << error;
    stored = {block.infoBlockId, chunks.size(), 0, std::string(image.begin(), image.end())};
    for (const Chunk& chunk : chunks)
        stored.chunkBytes += chunk.size();
    return ::testing::AssertionSuccess();
}

// Alpha carries a block; beta relies on the simple installation method.
const std::string kAlphaScript = "Alpha's notes\nKITSYNC_START\nPACKAGE \"Alpha Pack\"\n"
                                 "INFOURL http://alpha.example/info\nINSTALL *.pbo addons\\\n"
                                 "EXTRACT *.txt docs\\\nKITSYNC_END\n";
const std::string kAlphaPbo = "alpha pbo contents", kBetaPbo(5000, 'b');
const std::string kAlphaScan = "Package name: Alpha Pack\nInfo URL    : http://alpha.example/info\n";
const std::string kBetaScan = "Warning: No Kitsync block found, using simple installation method\n"
                              "Package name: beta\nInfo URL    : \n";
const uint32_t kSealTick = 0x00c0ffee;

class CatalogueBuilderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(http.start(site.folder(), logs.path("requests.log")));
        config.serverName = "Demo Server";
        config.deactivations = "old.pbo:older.pbo::";
        previousFolder = fs::current_path();
        fs::current_path(work.folder());
        platform::setTickSource([] { return kSealTick; });
    }
    void TearDown() override
    {
        platform::setTickSource(nullptr);
        fs::current_path(previousFolder);
    }

    // Writes a zip below the site folder; returns the XOR of its entries' CRCs.
    uint32_t publish(const std::string& path, const std::vector<std::pair<std::string, std::string>>& files)
    {
        uint32_t checksum = 0;
        EXPECT_TRUE(writeZip(site.path(path), files, &checksum));
        return checksum;
    }
    uint32_t publishAlpha()
    {
        return publish("alpha.zip",
                       {{"kitsync.txt", kAlphaScript}, {"Data/Alpha.pbo", kAlphaPbo}, {"readme.txt", "read me first"}});
    }
    uint32_t publishBeta() { return publish("beta.zip", {{"B.pbo", kBetaPbo}, {"notes.txt", "notes"}}); }

    void configure(const std::string& url, uint8_t kind = Settings::kRequiredPackage, bool only = false)
    {
        if (only) {
            config.packageUrls.removeAll();
            config.packageKinds.removeAll();
        }
        config.packageUrls.add(url.c_str());
        config.packageKinds.add(kind);
    }

    // The catalogue record the package published at path must give.
    std::string record(const std::string& path, const std::string& name, const std::string& infoUrl, uint8_t kind,
                       const std::string& tree)
    {
        uint32_t size = uint32_t(fs::file_size(site.path(path)));
        return text(http.url("/" + path)) + u32(size) + text(name) + text(infoUrl) + text("") + text("") + u32(kind) +
               tree;
    }
    std::string alphaRecord()
    {
        std::string tree = text("addons\\") + listed("alpha.pbo", kAlphaPbo) + text("") + text("docs\\") + text("");
        return record("alpha.zip", "Alpha Pack", "http://alpha.example/info", Settings::kRequiredPackage,
                      tree + text(""));
    }
    std::string betaRecord()
    {
        std::string tree = text("addons\\") + listed("b.pbo", kBetaPbo) + text("") + text("");
        return record("beta.zip", "beta", "", Settings::kOptionalPackage, tree);
    }
    std::string head()
    {
        MemoryStream stream(64);
        writeCatalogueHead(stream, config);
        return std::string(reinterpret_cast<const char*>(stream.buffer), stream.length);
    }

    // Runs a build with these answers typed on the console.
    bool build(const std::string& answers)
    {
        std::FILE* in = std::tmpfile();
        std::fwrite(answers.data(), 1, answers.size(), in);
        std::rewind(in);
        ::testing::internal::CaptureStdout();
        InfoBlock block;
        bool built = buildCatalogue(block, downloads, config, in);
        std::fflush(stdout);
        output = ::testing::internal::GetCapturedStdout();
        std::fclose(in);
        builtId = block.infoBlockId;
        return built;
    }

    size_t requestsFor(const std::string& path)
    {
        std::string log = http.requestLog(), needle = "GET " + path + " ";
        size_t n = 0;
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1))
            ++n;
        return n;
    }

    // What the build prints for a package that is downloaded and indexed.
    std::string indexed(const std::string& localName, const std::string& middle)
    {
        return "Downloading " + http.url("/" + localName) + "\nDone...                        \nScanning " + localName +
               "...\n" + middle + "Deleting local copy of " + localName + "\n";
    }

    TempFolder site, work, logs;
    HttpServerProcess http;
    DownloadSession downloads;
    Settings config;
    fs::path previousFolder;
    std::string output;
    uint64_t builtId = 0;
};

TEST_F(CatalogueBuilderTest, YesAllIndexesEveryPackageIntoTheStoredCatalogue)
{
    uint32_t alphaSum = publishAlpha(), betaSum = publishBeta();
    configure(http.url("/alpha.zip"));
    configure(http.url("/beta.zip"), Settings::kOptionalPackage);
    ASSERT_TRUE(build("a\n"));

    StoredBlock stored;
    ASSERT_TRUE(loadStored(stored));
    EXPECT_EQ(stored.catalogue, head() + alphaRecord() + betaRecord());
    EXPECT_EQ(stored.id, (uint64_t(alphaSum ^ betaSum) << 32) | kSealTick);
    EXPECT_EQ(builtId, stored.id);
    EXPECT_EQ(uint32_t(builtId >> 32), alphaSum ^ betaSum);
    EXPECT_EQ(output, prompt("alpha.zip") + prompt("beta.zip") + "Y\n" + indexed("alpha.zip", kAlphaScan) +
                          indexed("beta.zip", kBetaScan) + "Addon info chunk created and compressed from " +
                          std::to_string(stored.catalogue.size()) + " to " +
                          std::to_string(stored.chunkBytes - 6 * stored.chunkCount - 4) + " bytes\n    chunk labeled " +
                          infoBlockIdText(stored.id).c_str() + " and split into " +
                          std::to_string(stored.chunkCount) + " packages\n    total size of " +
                          std::to_string(stored.chunkBytes) + " bytes\n");
    EXPECT_EQ(readFile("alpha.zip-package.tmp"), u32(alphaSum) + alphaRecord());
    EXPECT_EQ(readFile("beta.zip-package.tmp"), u32(betaSum) + betaRecord());
    EXPECT_FALSE(fs::exists("alpha.zip"));
    EXPECT_FALSE(fs::exists("beta.zip"));

    // nOall takes the cache files, even for a moved URL: the cached record
    // keeps the URL it was indexed from.
    config.packageUrls[0] = http.url("/mirror/alpha.zip").c_str();
    ASSERT_TRUE(build("x\nO"));
    EXPECT_TRUE(startsWith(output, prompt("alpha.zip") + prompt("beta.zip") + "N\n" +
                                       "alpha.zip-package.tmp read..\nbeta.zip-package.tmp read..\n" +
                                       "Addon info chunk created"))
        << output;
    EXPECT_EQ(requestsFor("/alpha.zip"), 1u);
    EXPECT_EQ(requestsFor("/mirror/alpha.zip"), 0u);
    ASSERT_TRUE(loadStored(stored));
    EXPECT_EQ(stored.catalogue, head() + alphaRecord() + betaRecord());
}

TEST_F(CatalogueBuilderTest, ShortCacheFileForcesADownloadAndNoPackagesGiveTheHeadAlone)
{
    ASSERT_TRUE(build(""));
    EXPECT_TRUE(startsWith(output, "Addon info chunk created and compressed from " + std::to_string(head().size())))
        << output;
    StoredBlock stored;
    ASSERT_TRUE(loadStored(stored));
    EXPECT_EQ(stored.catalogue, head());
    EXPECT_EQ(stored.id, uint64_t(kSealTick));

    uint32_t alphaSum = publishAlpha();
    configure(http.url("/alpha.zip"));
    work.write("alpha.zip-package.tmp", std::string("\x01\x02\x03", 3));
    ASSERT_TRUE(build("n"));
    EXPECT_TRUE(startsWith(output, prompt("alpha.zip") +
                                       "No information block for alpha.zip found, forced to download\nDownloading "))
        << output;
    EXPECT_EQ(readFile("alpha.zip-package.tmp"), u32(alphaSum) + alphaRecord());

    // Exactly the checksum and nothing else is an empty record, taken as it is.
    work.write("alpha.zip-package.tmp", u32(0x01020304));
    ASSERT_TRUE(build("n"));
    EXPECT_NE(output.find("alpha.zip-package.tmp read..\n"), std::string::npos) << output;
    EXPECT_EQ(builtId >> 32, 0x01020304u);
}

// Each failing package ends the build with its message, saves nothing, and
// leaves the downloaded copy for the operator to look at.
TEST_F(CatalogueBuilderTest, EveryPackageFailureEndsTheBuild)
{
    publish("noend.zip", {{"kitsync.txt", "KITSYNC_START\nPACKAGE x\n"}, {"a.pbo", "a"}});
    publish("extract.zip", {{"kitsync.txt", "KITSYNC_START\nEXTRACT *.pbo addons\\\nKITSYNC_END"}, {"a.pbo", "a"}});
    site.write("notzip.zip", "this is not a zip archive");
    const std::string data(3000, 'd');
    publish("crc.zip", {{"a.pbo", data}});
    ZipBytes crc(site.path("crc.zip"));  // data shorter than recorded: only the CRC comparison notices
    crc.setCentralCrc("a.pbo", crcOf(data) ^ 1);
    crc.setLocalCrc("a.pbo", crcOf(data) ^ 1);
    crc.setCentralSize("a.pbo", 3100);
    crc.setLocalSize("a.pbo", 3100);
    crc.save();
    {
        ZipWriter zip(site.path("broken.zip"));
        ASSERT_TRUE(zip.add("a.pbo", "0123456789", 0));
    }
    ZipBytes broken(site.path("broken.zip"));
    broken.bytes[broken.dataOffset("a.pbo") + 3] ^= 0x20;
    broken.save();
    publish("good.zip", {{"good.pbo", "good"}});

    const std::pair<std::string, std::string> cases[] = {
        {"noend.zip", "Scanning noend.zip...\nError: Problems reading the Kitsync block\n"},
        {"notzip.zip", "Scanning notzip.zip...\nError: Problems reading the Kitsync block\n"},
        {"extract.zip", "Package name: extract\nInfo URL    : \n"
                        "Error: No required files in package (no install/installpath command detected)\n"},
        {"crc.zip", "Error: CRC32 error verifying archive\n"},
        {"broken.zip", "Error: Problems reading the archive\n"},
        {"missing.zip", "Error: Bad URL\n"},
    };
    for (const auto& [name, message] : cases) {
        SCOPED_TRACE(name);
        configure(http.url("/good.zip"), Settings::kRequiredPackage, true);
        configure(http.url("/" + name));
        EXPECT_FALSE(build("a"));
        ASSERT_GE(output.size(), message.size());
        EXPECT_EQ(output.substr(output.size() - message.size()), message) << output;
        EXPECT_FALSE(fs::exists(kInfoBlockFileName));
        EXPECT_TRUE(fs::exists("good.zip-package.tmp"));  // earlier packages keep their cache
        EXPECT_FALSE(fs::exists(name + "-package.tmp"));
        EXPECT_EQ(fs::exists(name), name != "missing.zip");
    }
}

TEST_F(CatalogueBuilderTest, UrlsWithoutAUsableFileNameAreRefusedBeforeAnyPrompt)
{
    for (const char* url : {"http://127.0.0.1/packages/", "http://127.0.0.1/..", "http://127.0.0.1/a:b.zip",
                            "http://127.0.0.1/bell\x07.zip"}) {
        configure(http.url("/alpha.zip"), Settings::kRequiredPackage, true);
        configure(url);
        EXPECT_FALSE(build("a"));
        EXPECT_EQ(output, std::string("Error: Package URL ") + url + " has no usable file name\n");
    }
    for (std::string name : {"kitsync.ini", "AddonInfoBlock.udp", "other.zip-package.tmp", "kitsync.ini. ."}) {
        configure(http.url("/" + name), Settings::kRequiredPackage, true);
        EXPECT_FALSE(build("a"));
        EXPECT_EQ(output, "Error: Package URL " + http.url("/" + name) +
                              " would be downloaded over the server's own file " + name + "\n");
    }
    EXPECT_EQ(http.requestLog(), "");
    EXPECT_TRUE(fs::is_empty(work.folder()));
}

// The local name keeps a URL's query part and escapes as they are; a file:
// URL is indexed unless it names the download's own target, which would be
// truncated and then deleted.
TEST_F(CatalogueBuilderTest, LocalNamesKeepQueriesAndEscapesAndFileUrlsMustNotNameThem)
{
    uint32_t sum = publish("My Beta.zip", {{"B.pbo", kBetaPbo}});
    std::string url = http.url("/My%20Beta.zip?v=2");
    configure(url);
    ASSERT_TRUE(build("y"));
    EXPECT_TRUE(startsWith(output, prompt("My%20Beta.zip?v=2") + "Downloading " + url + "\n")) << output;
    EXPECT_NE(output.find("Deleting local copy of My%20Beta.zip?v=2\n"), std::string::npos) << output;
    EXPECT_TRUE(startsWith(readFile("My%20Beta.zip?v=2-package.tmp"), u32(sum) + text(url)));
    EXPECT_FALSE(fs::exists("My%20Beta.zip?v=2"));

    uint32_t alphaSum = publishAlpha();
    configure("file://" + site.path("alpha.zip"), Settings::kRequiredPackage, true);
    ASSERT_TRUE(build("y"));
    EXPECT_EQ(builtId >> 32, uint64_t(alphaSum));
    EXPECT_TRUE(fs::exists(site.path("alpha.zip")));
    EXPECT_FALSE(fs::exists("alpha.zip"));
    fs::copy_file(site.path("alpha.zip"), "alpha.zip");
    std::string package = readFile("alpha.zip"), folder = fs::current_path().string();
    for (const std::string& fileUrl : {"file://" + folder + "/alpha.zip",
                                       "FILE://localhost/%2F" + folder.substr(1) + "/./alpha.zip",
                                       "file:" + folder + "/alpha.zip"}) {
        configure(fileUrl, Settings::kRequiredPackage, true);
        EXPECT_FALSE(build("y"));
        EXPECT_EQ(output, "Error: Package URL " + fileUrl +
                              " names alpha.zip in the working folder, which the download would overwrite\n");
        EXPECT_EQ(readFile("alpha.zip"), package);
    }
}

TEST(UrlFileName, TakesThePartAfterEitherSlashAndKeepsItInTheWorkingFolder)
{
    EXPECT_STREQ(urlFileName("http://host/a\\b/c\\pkg.zip").c_str(), "pkg.zip");
    EXPECT_STREQ(urlFileName("pkg.zip").c_str(), "pkg.zip");
    for (const char* name : {"My Mod (v1.2) [beta],final~=+.zip", "-x_", "...", ".hidden", "a%2F..%2Fb.zip",
                             "mod\xc3\xa9!#&'@$.zip"})
        EXPECT_TRUE(isUsableLocalName(name)) << name;
    for (const char* name : {"", ".", "..", "a/b", "a\\b", "c:x", "tab\there", "\x7f"})
        EXPECT_FALSE(isUsableLocalName(name)) << name;
}

}  // namespace
