// kitsync-sync run as a player runs it: against the real server program,
// which builds its catalogue from archives on a loopback HTTP server, and
// against the client tests' server for catalogues no real build would make.
#include "client/CatalogueBytes.h"
#include "client/DownloadQueue.h"
#include "client/TestCatalogueServer.h"
#include "server/ServerProgram.h"
#include "server/UdpPeer.h"
#include "support/ChildProcess.h"
#include "support/HttpServerProcess.h"
#include "support/ProgramRun.h"
#include "support/TempFolder.h"
#include "support/ZipWriter.h"
#include "sync/SyncOptions.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

namespace {

namespace fs = std::filesystem;

using Files = std::vector<std::pair<std::string, std::string>>;

using ToolRun = ProgramRun;

// Bytes that zlib cannot shrink, so archives have the size of their data.
std::string noise(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

// Every file below folder, '/' between the parts, with its bytes.
std::map<std::string, std::string> contents(const std::string& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).generic_string()] = readFile(entry.path());
    }
    return files;
}

const std::string kAlphaScript = "KITSYNC_START\nPACKAGE Alpha\nINSTALL *.pbo addons\\\nINSTALLPATH keys\\*\n"
                                 "EXTRACT *.txt addons\\alpha\\\nKITSYNC_END\n";

// The packages on the site, the server that indexes them, a game folder
// and a cache of the tool's own.
class SyncTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(http.start(site.folder(), side.path("http.log")));
        alpha = {{"kitsync.txt", kAlphaScript},
                 {"alpha.pbo", noise(3000, 1)},
                 {"alpha_data.pbo", noise(300000, 2)},
                 {"keys/alpha.bikey", "key"},
                 {"readme.txt", "read me"}};
    }

    void publish(const std::string& name, const Files& files) { ASSERT_TRUE(writeZip(site.path(name), files)); }

    // Indexes the packages (one "package" line each, every prompt answered
    // yes) and serves them.
    void serve(const std::vector<std::string>& packageLines)
    {
        std::string settings = "port " + std::to_string(gamePort) + "\nservername \"Sync\"\nsenddelay 20\n";
        std::string answers;
        for (const std::string& line : packageLines) {
            settings += "package " + line + "\n";
            answers += "y\n";
        }
        work.write("kitsync.ini", settings);
        work.write("answers.txt", answers);
        server.reset(new ServerProgram(work.folder()));
        ASSERT_TRUE(server->awaitLine("Server is running")) << server->transcript();
    }

    // The tool's command line, for the server at serverPort (0: the real one).
    std::vector<std::string> command(const std::vector<std::string>& extra, uint16_t serverPort = 0) const
    {
        uint16_t port = serverPort != 0 ? serverPort : uint16_t(gamePort + 20);
        std::vector<std::string> arguments = {KITSYNC_SYNC_PROGRAM, "127.0.0.1:" + std::to_string(port), game.folder(),
                                              "--cache", cache.folder(), "--timeout", "2000"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return arguments;
    }

    ToolRun sync(const std::vector<std::string>& extra = {}, uint16_t serverPort = 0) const
    {
        return runProgram(command(extra, serverPort));
    }

    // Starts the tool so that it stops at `moment` and waits to be killed.
    bool startPausedAt(ChildProcess& tool, const std::string& moment) const
    {
        std::vector<std::string> arguments = {"sh", "-c", "KITSYNC_SYNC_PAUSE_AT=" + moment + " exec \"$@\" 2>&1",
                                              "sync"};
        for (const std::string& argument : command({}))
            arguments.push_back(argument);
        return tool.start(arguments);
    }

    size_t downloads() const
    {
        std::string log = http.requestLog();
        size_t count = 0;
        for (size_t at = log.find("GET "); at != std::string::npos; at = log.find("GET ", at + 1))
            ++count;
        return count;
    }

    TempFolder site, work, game, cache, side;
    HttpServerProcess http;
    uint16_t gamePort = freeGamePort();
    std::unique_ptr<ServerProgram> server;
    Files alpha;
};

// The folder a fresh player starts from: a folder of their own that
// differs from the catalogue's only in case.
TEST_F(SyncTool, FillsAFolderThenLeavesItAloneThenMendsOnlyWhatBroke)
{
    publish("alpha.zip", alpha);
    publish("maps.zip", {{"island.pbo", noise(5000, 3)}});
    serve({http.url("/alpha.zip"), http.url("/maps.zip") + " optional"});
    game.write("Addons/mine.txt", "my own");

    ToolRun first = sync();
    ASSERT_EQ(first.status, kExitOk) << first.out << first.err;
    std::map<std::string, std::string> expected = {{"Addons/mine.txt", "my own"},
                                                   {"Addons/alpha.pbo", alpha[1].second},
                                                   {"Addons/alpha_data.pbo", alpha[2].second},
                                                   {"keys/alpha.bikey", "key"},
                                                   {"Addons/alpha/readme.txt", "read me"}};
    EXPECT_EQ(contents(game.folder()), expected);
    EXPECT_TRUE(fs::is_empty(cache.folder())) << "an installed archive leaves the cache";
    EXPECT_TRUE(first.out.find("Package 2") == std::string::npos) << first.out;
    size_t fetched = downloads();

    ToolRun again = sync();
    EXPECT_EQ(again.status, kExitOk) << again.out << again.err;
    EXPECT_EQ(downloads(), fetched) << "a complete folder needs no download";

    game.write("Addons/alpha.pbo", "changed");
    fs::remove(game.path("keys/alpha.bikey"));
    game.write("Addons/alpha/readme.txt", "my notes");
    // A file written again would carry the time of writing.
    const fs::file_time_type longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
    fs::last_write_time(game.path("Addons/alpha_data.pbo"), longAgo);
    ToolRun mend = sync();
    ASSERT_EQ(mend.status, kExitOk) << mend.out << mend.err;
    expected["Addons/alpha/readme.txt"] = "my notes";  // extracted files are never overwritten
    EXPECT_EQ(contents(game.folder()), expected);
    EXPECT_EQ(fs::last_write_time(game.path("Addons/alpha_data.pbo")), longAgo);
    EXPECT_NE(mend.out.find("  written    Addons\\alpha.pbo\n"), std::string::npos) << mend.out;

    EXPECT_EQ(sync({"--package", "Maps"}).status, kExitUsage) << "package names are exact";
    ToolRun maps = sync({"--optional", "--dry-run"});
    EXPECT_EQ(maps.status, kExitCheckFailed);
    EXPECT_NE(maps.out.find("would download " + http.url("/maps.zip")), std::string::npos) << maps.out;
    maps = sync({"--package", "maps", "--json"});
    ASSERT_EQ(maps.status, kExitOk) << maps.out << maps.err;
    EXPECT_EQ(readFile(game.path("Addons/island.pbo")), noise(5000, 3));
    side.write("sync.json", maps.out);
    std::string check = "python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); p=d[\"packages\"]; "
                        "assert d[\"complete\"] and d[\"status\"] == 0; "
                        "assert p[0][\"state\"] == \"complete\" and p[0][\"download\"] is None; "
                        "assert p[1][\"state\"] == \"installed\" and p[1][\"written\"] == [\"Addons\\\\island.pbo\"]' " +
                        shellQuoted(side.path("sync.json"));
    EXPECT_EQ(std::system(check.c_str()), 0) << maps.out;
}

// The package at the URL was replaced after the server indexed it.
TEST_F(SyncTool, RefusesAnArchiveThatIsNotTheOneIndexedAndInstallsTheOthers)
{
    publish("alpha.zip", alpha);
    publish("beta.zip", {{"beta.pbo", "beta"}});
    serve({http.url("/alpha.zip"), http.url("/beta.zip")});
    alpha[1].second = noise(3000, 9);
    publish("alpha.zip", alpha);

    ToolRun run = sync();
    EXPECT_EQ(run.status, kExitInstallFailed);
    EXPECT_NE(run.out.find("Package 1: Alpha (required): failed: "), std::string::npos) << run.out;
    EXPECT_EQ(contents(game.folder()), (std::map<std::string, std::string>{{"addons/beta.pbo", "beta"}}));
    EXPECT_TRUE(fs::is_empty(cache.folder())) << "a wrong archive is not kept for the next run";
}

// Names that would leave the folder, from a catalogue no real server
// would build, and a link inside the folder that points out of it.
TEST_F(SyncTool, NeverWritesOutsideTheFolder)
{
    TempFolder outside;
    publish("evil.zip", {{"kitsync.txt", "KITSYNC_START\nPACKAGE Evil\nINSTALLPATH *\nKITSYNC_END\n"},
                         {"evil.pbo", "evil"}});
    uint32_t size = static_cast<uint32_t>(fs::file_size(site.path("evil.zip")));
    const std::vector<std::string> folders = {"..\\", "c:\\", "con\\", "a:b\\", "\\"};
    CatalogueBytes image;
    image.head("Hostile", static_cast<uint32_t>(folders.size()));
    for (const std::string& folder : folders) {
        image.package(http.url("/evil.zip"), size, "Evil " + folder, 10).text(folder);
        image.file("evil.pbo", 4, crcOf("evil")).end().end();
    }
    TestServerSetup setup;
    setup.chunks = sealImage(image.bytes);
    TestCatalogueServer hostile(setup);
    ToolRun run = sync({}, hostile.port());
    EXPECT_EQ(run.status, kExitInstallFailed) << run.out << run.err;
    for (const std::string& folder : folders)
        EXPECT_NE(run.out.find("Package " + std::to_string(&folder - &folders[0] + 1) + ": Evil "), std::string::npos);
    EXPECT_TRUE(contents(game.folder()).empty()) << run.out;
    EXPECT_FALSE(fs::exists(fs::path(game.folder()).parent_path() / "evil.pbo"));

    publish("alpha.zip", alpha);
    serve({http.url("/alpha.zip")});
    fs::create_directory_symlink(outside.folder(), game.path("addons"));
    run = sync();
    EXPECT_EQ(run.status, kExitInstallFailed) << run.out << run.err;
    EXPECT_TRUE(fs::is_empty(outside.folder()));
    EXPECT_TRUE(fs::is_symlink(game.path("addons")));
}

// A download cut by a kill resumes where it stopped.
TEST_F(SyncTool, ResumesADownloadThatAKillInterrupted)
{
    alpha.push_back({"bulk.pbo", noise(400000, 4)});
    publish("alpha.zip", alpha);
    site.write("go", "");
    serve({http.url("/_drip/alpha.zip?chunk=16384&delay=5&until=go")});
    fs::remove(site.path("go"));  // from now on the last piece waits for it
    {
        ChildProcess tool;
        ASSERT_TRUE(tool.start(command({})));
        std::string part = cache.path(cacheFileName(http.url("/_drip/alpha.zip?chunk=16384&delay=5&until=go")) + ".part");
        for (int i = 0; i < 2000 && !(fs::exists(part) && fs::file_size(part) > 100000); ++i)
            platform::sleepMilliseconds(10);
        ASSERT_GT(fs::file_size(part), 100000u);
        tool.stop();
    }
    EXPECT_TRUE(contents(game.folder()).empty());
    site.write("go", "");
    ToolRun run = sync();
    ASSERT_EQ(run.status, kExitOk) << run.out << run.err;
    EXPECT_NE(run.out.find(", resumed after "), std::string::npos) << run.out;
    EXPECT_NE(http.requestLog().find("Range: bytes="), std::string::npos);
    EXPECT_EQ(readFile(game.path("addons/bulk.pbo")), noise(400000, 4));
}

// Killed at each moment that matters, the folder holds every file either
// as it was or as it should be, and the next run finishes the job.
TEST_F(SyncTool, AKillAtAnyStepLeavesWholeFilesAndTheRerunCompletes)
{
    publish("alpha.zip", alpha);
    serve({http.url("/alpha.zip")});
    const std::map<std::string, std::string> old = {{"addons/alpha.pbo", "old alpha"},
                                                    {"addons/alpha_data.pbo", "old data"}};
    for (const char* moment : {"verifying", "writing", "partly-written", "renaming"}) {
        SCOPED_TRACE(moment);
        for (const auto& [name, bytes] : old)
            game.write(name, bytes);
        {
            ChildProcess tool;
            ASSERT_TRUE(startPausedAt(tool, moment));
            std::string line;
            while (tool.readLine(&line, 30000) && line.find("paused at") == std::string::npos) {
            }
            ASSERT_NE(line.find(std::string("kitsync-sync: paused at ") + moment), std::string::npos) << line;
            tool.stop();
        }
        for (const auto& [name, bytes] : contents(game.folder())) {
            bool known = name.find(".kitsync") != std::string::npos || (old.count(name) && old.at(name) == bytes);
            for (const auto& file : alpha)
                known = known || bytes == file.second;
            EXPECT_TRUE(known) << name;
        }
        ToolRun rerun = sync();
        ASSERT_EQ(rerun.status, kExitOk) << rerun.out << rerun.err;
        EXPECT_EQ(contents(game.folder()), (std::map<std::string, std::string>{
                                               {"addons/alpha.pbo", alpha[1].second},
                                               {"addons/alpha_data.pbo", alpha[2].second},
                                               {"keys/alpha.bikey", "key"},
                                               {"addons/alpha/readme.txt", "read me"}}))
            << "the packages' files and nothing of the tool's own";
        fs::remove_all(game.path("addons"));
        fs::remove_all(game.path("keys"));
    }
}

}  // namespace
