// The server killed with SIGKILL inside every phase of a catalogue build:
// while it prompts, downloads, scans and writes a record cache file, and
// seals and saves the block, and after the save. The build prints where it
// is; the test kills at a random moment after the phase it aims at has
// begun, within the phase's length in complete builds, and reads from the
// output where the kill landed. The aimed-at phase is held open until the
// kill, so a late kill cannot miss it: the operator does not answer, the
// test HTTP server holds back the package's last piece, or the save waits
// before it flushes its temporary file.
// After every kill the block and each cache file must be absent, the old
// complete file or the new complete file, and the next start must serve a
// sound catalogue, loading what is stored or building again.
#include "ServerFolder.h"

#include "catalogue/InfoBlock.h"
#include "client/ChunkCollector.h"
#include "platform/Clock.h"
#include "support/HttpServerProcess.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int kKillsPerPhase = 3;
constexpr uint32_t kOpenEndedSpanMs = 50;
constexpr int kScannedEntries = 1000;
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

// The phases of a build in their order.
enum Phase { Starting, Prompts, DownloadA, ScanA, DownloadB, ScanB, BlockSave, Saved, PhaseCount };
const char* const kPhaseNames[PhaseCount] = {
    "start",         "prompts",
    "download of a", "scanning and cache write of a",
    "download of b", "scanning and cache write of b",
    "sealing and block save", "after the block was saved",
};

class CrashSafety : public testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 random(std::random_device{}());
        for (int package = 0; package < 2; ++package) {
            for (int version = 0; version < 2; ++version) {
                ZipWriter zip(versionPath(package, version));
                ASSERT_TRUE(zip.isOpen());
                // Many small extract-only entries make the scan take a
                // while without growing the catalogue.
                std::string block = "KITSYNC_START\nPACKAGE " + std::string(kNames[package]) + "-v" +
                                    std::to_string(version) +
                                    "\nINSTALL *.pbo addons\\\nEXTRACTPATH docs\\*\nKITSYNC_END\n";
                ASSERT_TRUE(zip.add("kitsync.txt", block));
                std::string data(256 * 1024, '\0');
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
        gamePort = 20000 + static_cast<int>(random() % 12000);
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

    // A package's last piece waits until its gate file exists.
    std::string gate(int package) const { return versions.path("root/open-" + std::string(1, kNames[package][0])); }
    void setGates(bool openA, bool openB) const
    {
        for (int package = 0; package < 2; ++package) {
            if (package == 0 ? openA : openB)
                std::ofstream(gate(package)).put('\n');
            else
                std::filesystem::remove(gate(package));
        }
    }

    // 32 KB pieces 10 ms apart; "as" only gives the URL the file name.
    std::string packageUrl(int package) const
    {
        std::string name = kNames[package];
        return http.url("/_drip/" + name + "?chunk=32768&delay=10&until=open-" + name[0] + "&as=/" + name);
    }

    void configure(const ServerFolder& folder) const
    {
        std::string ini = "port " + std::to_string(gamePort) + "\nsenddelay 11\n";
        ini += "package " + packageUrl(0) + "\npackage " + packageUrl(1) + " optional\n";
        folder.write("kitsync.ini", ini);
    }

    // Where the build is, from the last thing it printed; builder messages
    // are flushed as printed, the sealing messages only after the save.
    Phase phaseOf(const std::string& output) const
    {
        const std::pair<std::string, Phase> markers[] = {
            {"Download and index", Prompts},
            {"Downloading " + packageUrl(0), DownloadA},
            {"Scanning a.zip", ScanA},
            {"Deleting local copy of a.zip", DownloadB},
            {"a.zip-package.tmp read..", DownloadB},
            {"Downloading " + packageUrl(1), DownloadB},
            {"Scanning b.zip", ScanB},
            {"Deleting local copy of b.zip", BlockSave},
            {"b.zip-package.tmp read..", BlockSave},
            {"Addon info chunk created", Saved},
        };
        size_t last = 0;
        Phase phase = Starting;
        for (const auto& marker : markers) {
            size_t at = output.rfind(marker.first);
            if (at != std::string::npos && (phase == Starting || at > last)) {
                last = at;
                phase = marker.second;
            }
        }
        return phase;
    }

    // Once the started server serves, lets kitsync-query fetch its catalogue
    // (empty when that failed) and stops the server; status: its exit status.
    std::string fetchOnceServing(const ServerFolder& folder, int& status) const
    {
        std::string image = folder.side("fetched.bin");
        std::filesystem::remove(image);
        status = folder.serveThenStop(std::string(KITSYNC_QUERY_PROGRAM) + " --save " + image +
                                      " 127.0.0.1:$port > " + folder.side("query.log") + " 2>&1");
        std::string bytes = ServerFolder::read(image);
        return bytes == ServerFolder::absent ? std::string() : bytes;
    }

    std::string heldSaveServer() const
    {
        return std::string(KITSYNC_HELD_SAVE_SERVER) + " " + holds.folder() + " -renew";
    }

    // The save of the file named so waits while the hold is on.
    void hold(const std::string& name, bool on) const
    {
        if (on)
            holds.write(name, "");
        else
            std::filesystem::remove(holds.path(name));
    }

    TempFolder versions;
    TempFolder holds;
    HttpServerProcess http;
    int gamePort = 0;
};

TEST_F(CrashSafety, KilledBuildLeavesWholeFilesAndTheNextStartServes)
{
    // References: each version's complete build, cache files and catalogue.
    // The span after a phase begins in which its kills fall is the phase's
    // shortest length in these builds, as the test sees the output.
    std::string cache[2][2];  // [package][version]
    std::string head;
    uint32_t span[PhaseCount];
    std::fill(span, span + PhaseCount, UINT32_MAX);
    setGates(true, true);
    for (int version = 0; version < 2; ++version) {
        ServerFolder reference;
        configure(reference);
        publish(version);
        std::string answers = "a";
        reference.start(heldSaveServer(), &answers);
        uint32_t began[PhaseCount] = {platform::tickCount()};
        for (int phase = Prompts; phase < PhaseCount; ++phase) {
            ASSERT_TRUE(reference.await([&](const std::string& out) { return phaseOf(out) >= phase; }))
                << reference.console();
            began[phase] = platform::tickCount();
            span[phase - 1] = std::min(span[phase - 1], began[phase] - began[phase - 1]);
        }
        int status = 0;
        std::string image = fetchOnceServing(reference, status);
        ASSERT_EQ(status, 0) << reference.console();
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

    span[Prompts] = span[Saved] = kOpenEndedSpanMs;  // these last until ended

    ServerFolder folder;
    configure(folder);
    std::mt19937 random(std::random_device{}());
    std::vector<Phase> targets;
    for (int round = 0; round < kKillsPerPhase; ++round) {
        for (int phase = Prompts; phase < PhaseCount; ++phase)
            targets.push_back(Phase(phase));
    }
    std::shuffle(targets.begin(), targets.end(), random);
    int landed[PhaseCount] = {};
    std::set<std::string> leftovers;
    for (size_t run = 0; run < targets.size(); ++run) {
        Phase target = targets[run];
        // Answers that make the target's phase happen, or any when it
        // happens in every build; "n" reuses a cache file, or downloads
        // when there is none.
        std::vector<std::string> choices = {"a", "yy", "yn", "ny", "nn", "o"};
        if (target == DownloadA || target == ScanA)
            choices = {"a", "yy", "yn"};
        else if (target == DownloadB || target == ScanB)
            choices = {"a", "yy", "ny"};
        std::string answers = choices[random() % choices.size()];
        uint32_t delayMs = random() % std::max(span[target], 1u);
        int version = static_cast<int>(random() % 2);
        publish(version);
        setGates(target != DownloadA, target != DownloadB);
        hold(cacheName(0), target == ScanA);
        hold(cacheName(1), target == ScanB);
        hold(kInfoBlockFileName, target == BlockSave);
        std::string oldBlock = folder.readWork(kInfoBlockFileName);
        std::string oldCache[2] = {folder.readWork(cacheName(0)), folder.readWork(cacheName(1))};

        // No answers at all for the prompts: the server waits for them.
        folder.start(heldSaveServer(), target == Prompts ? nullptr : &answers);
        bool begun = folder.await([&](const std::string& out) { return phaseOf(out) >= target; });
        platform::sleepMilliseconds(delayMs);
        folder.signal("KILL");
        folder.awaitExit();
        setGates(true, true);
        for (const std::string& name : {cacheName(0), cacheName(1), std::string(kInfoBlockFileName)})
            hold(name, false);
        std::string killedLog = folder.console();
        Phase phase = phaseOf(killedLog);
        ++landed[phase];
        SCOPED_TRACE("run " + std::to_string(run) + ", aimed at " + kPhaseNames[target] + ", killed " +
                     std::to_string(delayMs) + " ms after it began, answers " +
                     (target == Prompts ? "none" : answers) + ", version " + std::to_string(version) + "\n" +
                     killedLog);
        ASSERT_TRUE(begun) << "the build ended before the phase began";
        EXPECT_EQ(phase, target) << "the kill landed in " << kPhaseNames[phase];

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
                leftovers.insert(name);
        }

        // The next start, the real program: without answers every prompt
        // takes the cache.
        bool blockWasSound = block != ServerFolder::absent && storedImage(folder.work(kInfoBlockFileName)) != "";
        std::string none;
        folder.start(KITSYNC_SERVER_PROGRAM, &none);
        int status = 0;
        std::string served = fetchOnceServing(folder, status);
        std::string nextLog = folder.console();
        EXPECT_EQ(status, 0) << nextLog;
        EXPECT_TRUE(isSoundImage(served)) << nextLog << ServerFolder::read(folder.side("query.log"));
        const char* expected = blockWasSound ? "loaded" : "building new from packages";
        EXPECT_NE(nextLog.find(expected), std::string::npos) << nextLog;
        if (HasFailure())
            return;
    }

    std::string summary;
    for (int phase = Prompts; phase < PhaseCount; ++phase) {
        summary += "  " + std::string(kPhaseNames[phase]) + ": " + std::to_string(landed[phase]) + " (within " +
                   std::to_string(span[phase]) + " ms)\n";
    }
    std::printf("%zu kills by phase:\n%sTemporaries left by kills: %zu\n", targets.size(), summary.c_str(),
                leftovers.size());
}

}  // namespace
