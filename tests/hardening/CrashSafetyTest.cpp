// The server killed with SIGKILL at moments spread over a whole catalogue
// build: while it prompts, downloads (slowly, so that the kill can land
// inside a transfer), scans, writes record cache files and saves the block.
// After every kill the block and each cache file must be absent, the old
// complete file or the new complete file, and the next start must serve a
// sound catalogue, loading what is stored or building again.
#include "ServerFolder.h"

#include "catalogue/InfoBlock.h"
#include "client/ChunkCollector.h"
#include "support/HttpServerProcess.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRuns = 24;     // spread over the build
constexpr int kMaxRuns = 34;  // with those that aim at a phase still missed
constexpr int kAnswerDelayMs = 150;
constexpr int kScannedEntries = 2000;  // the operator takes a moment to answer
const char* const kNames[2] = {"a.zip", "b.zip"};

std::string cacheName(int package)
{
    return std::string(kNames[package]) + "-package.tmp";
}

// The catalogue a stored block carries; absent when it does not load or
// its chunks do not reassemble.
std::string storedImage(const std::string& path)
{
    InfoBlock block;
    if (loadInfoBlock(block, path.c_str()) != InfoBlockLoad::Loaded)
        return ServerFolder::absent;
    std::vector<std::vector<uint8_t>> chunks;
    for (int32_t i = 0; i < block.chunks.size; ++i)
        chunks.emplace_back(block.chunks[i]->data, block.chunks[i]->data + block.chunks[i]->size);
    std::vector<uint8_t> image;
    std::string error;
    if (!catalogueFromChunks(chunks, image, error))
        return ServerFolder::absent;
    return std::string(image.begin(), image.end());
}

// Where the build was when it died, judged from the last thing it printed
// (builder messages are flushed as printed), in build order.
enum Phase { Prompts, DownloadA, ScanA, DownloadB, ScanB, BlockSave, Saved, PhaseCount };
const char* const kPhaseNames[PhaseCount] = {
    "prompts", "download of a", "scanning and cache write of a", "download of b",
    "scanning and cache write of b", "sealing and block save", "after the block was saved",
};

Phase phaseOf(const std::string& log, int killMs)
{
    if (log.find("Addon info chunk created") != std::string::npos)
        return Saved;
    struct Marker {
        const char* text;
        Phase phase;
    };
    const Marker markers[] = {
        {"Download and index", Prompts},
        {"Scanning a.zip", ScanA},
        {"Deleting local copy of a.zip", DownloadB},
        {"a.zip-package.tmp read..", DownloadB},
        {"Scanning b.zip", ScanB},
        {"Deleting local copy of b.zip", BlockSave},
        {"b.zip-package.tmp read..", BlockSave},
    };
    size_t last = std::string::npos;
    Phase phase = Prompts;
    for (const Marker& marker : markers) {
        size_t at = log.rfind(marker.text);
        if (at != std::string::npos && (last == std::string::npos || at > last)) {
            last = at;
            phase = marker.phase;
        }
    }
    // Nothing is printed from the last answer until the first download ends.
    if (phase == Prompts && killMs > kAnswerDelayMs + 20)
        phase = DownloadA;
    return phase;
}

class CrashSafety : public testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 random(std::random_device{}());
        for (int package = 0; package < 2; ++package) {
            for (int version = 0; version < 2; ++version) {
                ZipWriter zip(versionPath(package, version));
                ASSERT_TRUE(zip.isOpen());
                // Many small extract-only entries make the scan take long
                // enough to be killed in, without growing the catalogue.
                std::string block = "KITSYNC_START\nPACKAGE " + std::string(kNames[package]) + "-v" +
                                    std::to_string(version) +
                                    "\nINSTALL *.pbo addons\\\nEXTRACTPATH docs\\*\nKITSYNC_END\n";
                ASSERT_TRUE(zip.add("kitsync.txt", block));
                // Incompressible, so the archive's size is its transfer time.
                std::string data(1024 * 1024, '\0');
                for (char& c : data)
                    c = static_cast<char>(random());
                ASSERT_TRUE(zip.add("data.pbo", data, 0));
                for (int i = 0; i < kScannedEntries; ++i)
                    ASSERT_TRUE(zip.add("docs/page" + std::to_string(i) + ".txt", "page " + std::to_string(i)));
                ASSERT_TRUE(zip.close());
            }
        }
        std::filesystem::create_directory(versions.path("root"));
        ASSERT_TRUE(http.start(versions.path("root")));
        gamePort = 20000 + static_cast<int>(random() % 20000);
    }

    std::string versionPath(int package, int version) const
    {
        return versions.path("v" + std::to_string(version) + "-" + kNames[package]);
    }

    void publish(int version) const
    {
        for (int package = 0; package < 2; ++package) {
            std::string published = versions.path("root/" + std::string(kNames[package]));
            std::filesystem::copy_file(versionPath(package, version), published,
                                       std::filesystem::copy_options::overwrite_existing);
        }
    }

    // Packages come through the drip route, 64 KB pieces 15 ms apart; "as"
    // only gives the URL the package's file name.
    void configure(const ServerFolder& folder) const
    {
        std::string ini = "port " + std::to_string(gamePort) + "\nsenddelay 11\n";
        for (const char* name : kNames) {
            ini += "package " + http.url("/_drip/" + std::string(name) + "?chunk=65536&delay=15&as=/" + name);
            ini += name[0] == 'b' ? " optional\n" : "\n";
        }
        folder.write("kitsync.ini", ini);
    }

    // Starts the server, lets kitsync-query fetch its catalogue (empty when
    // that failed), stops it.
    std::string serveAndFetch(const ServerFolder& folder, const std::string& arguments,
                              const std::string& answers, int& status) const
    {
        std::string image = folder.side("fetched.bin");
        std::filesystem::remove(image);
        status = folder.runUntilServing(std::string(KITSYNC_SERVER_PROGRAM) + " " + arguments, answers,
                                        std::string(KITSYNC_QUERY_PROGRAM) + " --timeout 300 --save " + image +
                                            " 127.0.0.1:$port > " + folder.side("query.log") + " 2>&1");
        std::string bytes = ServerFolder::read(image);
        return bytes == ServerFolder::absent ? std::string() : bytes;
    }

    TempFolder versions;
    HttpServerProcess http;
    int gamePort = 0;
};

TEST_F(CrashSafety, KilledBuildLeavesWholeFilesAndTheNextStartServes)
{
    // References: each version's complete build, cache files and catalogue.
    std::string cache[2][2];  // [package][version]
    std::string head;
    int fullBuildMs = 0;
    for (int version = 0; version < 2; ++version) {
        ServerFolder reference;
        configure(reference);
        publish(version);
        int status = 0;
        std::string image = serveAndFetch(reference, "-renew", "a", status);
        int readyMs = std::stoi(ServerFolder::read(reference.side("ready.ms")));
        // The quicker of the two, lest a busy machine push most kills past the build.
        fullBuildMs = version == 0 ? readyMs : std::min(fullBuildMs, readyMs);
        ASSERT_EQ(status, 0) << ServerFolder::read(reference.side("server.log"));
        ASSERT_FALSE(image.empty()) << ServerFolder::read(reference.side("query.log"));
        for (int package = 0; package < 2; ++package) {
            cache[package][version] = reference.readWork(cacheName(package));
            ASSERT_GT(cache[package][version].size(), 4u);
        }
        std::string records = cache[0][version].substr(4) + cache[1][version].substr(4);
        ASSERT_GT(image.size(), records.size());
        ASSERT_EQ(image.substr(image.size() - records.size()), records);
        head = image.substr(0, image.size() - records.size());
    }
    ASSERT_NE(cache[0][0], cache[0][1]);
    // Any mix of the two versions' records makes a sound catalogue.
    auto isSoundImage = [&](const std::string& image) {
        for (int a = 0; a < 2; ++a) {
            for (int b = 0; b < 2; ++b) {
                if (image == head + cache[0][a].substr(4) + cache[1][b].substr(4))
                    return true;
            }
        }
        return false;
    };

    ServerFolder folder;
    configure(folder);
    std::mt19937 random(std::random_device{}());
    std::uniform_real_distribution<double> within(0.0, 1.0);
    // Kills in builds that download both packages, by moment and phase; as
    // phases come in this order, later runs can aim at one no kill has met.
    std::vector<std::pair<int, Phase>> timeline;
    int landed[PhaseCount] = {};
    int leftovers = 0;
    int runs = 0;
    for (; runs < kMaxRuns; ++runs) {
        std::string answers;
        int killMs = 0;
        bool fullBuild = true;
        if (runs < kRuns && runs % 4 == 3) {
            // Every fourth run reuses cache files for some packages.
            const char* const reuse[] = {"nn", "yn", "ny", "o"};
            answers = reuse[random() % 4];
            killMs = int(within(random) * fullBuildMs * 0.6);
            fullBuild = false;
        } else if (runs < kRuns) {
            // Moments spread evenly over the build and just past it.
            answers = random() % 2 ? "yy" : "a";
            killMs = int((runs + within(random)) * fullBuildMs * 1.05 / kRuns);
        } else {
            // The save takes only milliseconds: only longer phases are aimed at.
            int missing = 0;
            while (missing < PhaseCount && (landed[missing] > 0 || missing == BlockSave))
                ++missing;
            if (missing == PhaseCount)
                break;
            int before = 0;
            int after = fullBuildMs * 2;
            for (const auto& kill : timeline) {
                if (kill.second < missing)
                    before = std::max(before, kill.first);
                else if (kill.second > missing)
                    after = std::min(after, kill.first);
            }
            answers = "yy";
            killMs = before + int(within(random) * (after - before));
        }
        // timeout(1) reads a duration of 0 as no limit at all, which would
        // leave the server building and then serving for good.
        killMs = std::max(killMs, 1);
        int version = static_cast<int>(random() % 2);
        publish(version);
        std::string oldBlock = folder.readWork(kInfoBlockFileName);
        std::string oldCache[2] = {folder.readWork(cacheName(0)), folder.readWork(cacheName(1))};

        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", killMs / 1000.0);
        // The subshell keeps bash's report of the killed job out of the test's output.
        folder.run("( { sleep " + std::to_string(kAnswerDelayMs / 1000.0) + "; printf " + answers +
                   "; } | timeout -s KILL " + seconds + " " + KITSYNC_SERVER_PROGRAM + " -renew > " +
                   folder.side("killed.log") + " 2>&1 ) 2> /dev/null");
        std::string killedLog = ServerFolder::read(folder.side("killed.log"));
        Phase phase = phaseOf(killedLog, killMs);
        if (fullBuild) {
            timeline.emplace_back(killMs, phase);
            ++landed[phase];
        }
        SCOPED_TRACE("run " + std::to_string(runs) + ", killed after " + std::to_string(killMs) + " ms in " +
                     kPhaseNames[phase] + ", answers " + answers + ", version " + std::to_string(version) + "\n" +
                     killedLog);

        std::string block = folder.readWork(kInfoBlockFileName);
        if (block != ServerFolder::absent && block != oldBlock) {
            EXPECT_TRUE(isSoundImage(storedImage(folder.work(kInfoBlockFileName)))) << "block half written";
        }
        for (int package = 0; package < 2; ++package) {
            std::string now = folder.readWork(cacheName(package));
            EXPECT_TRUE(now == ServerFolder::absent || now == oldCache[package] || now == cache[package][version])
                << cacheName(package) << " half written";
        }
        for (const std::string& name : folder.listing()) {
            // A save's temporary is the target's name, ".tmp", the process
            // and a counter; one that a kill left is never read.
            size_t mark = name.rfind(".tmp");
            if (mark != std::string::npos && mark + 4 < name.size() && std::isdigit(uint8_t(name[mark + 4])))
                ++leftovers;
        }

        // The next start: without answers every prompt takes the cache.
        bool blockWasSound = block != ServerFolder::absent && storedImage(folder.work(kInfoBlockFileName)) != "";
        int status = 0;
        std::string served = serveAndFetch(folder, "", "", status);
        std::string nextLog = ServerFolder::read(folder.side("server.log"));
        EXPECT_EQ(status, 0) << nextLog;
        EXPECT_TRUE(isSoundImage(served)) << nextLog << ServerFolder::read(folder.side("query.log"));
        const char* expected = blockWasSound ? "loaded" : "building new from packages";
        EXPECT_NE(nextLog.find(expected), std::string::npos) << nextLog;
        if (HasFailure())
            return;
    }

    std::string summary;
    for (int phase = 0; phase < PhaseCount; ++phase)
        summary += "  " + std::string(kPhaseNames[phase]) + ": " + std::to_string(landed[phase]) + "\n";
    std::printf("%d runs; full build %d ms; kills in full builds by phase:\n%sTemporaries left by kills: %d\n", runs,
                fullBuildMs, summary.c_str(), leftovers);
    for (Phase phase : {Prompts, DownloadA, ScanA, DownloadB, ScanB, Saved})
        EXPECT_GT(landed[phase], 0) << "no kill landed in " << kPhaseNames[phase];
}

}  // namespace
