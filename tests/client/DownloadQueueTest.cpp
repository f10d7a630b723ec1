#include "client/DownloadQueue.h"

#include "platform/UrlReader.h"
#include "support/HttpServerProcess.h"
#include "support/TempFolder.h"
#include "support/TestBytes.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

namespace {

namespace fs = std::filesystem;

constexpr size_t kPackageSize = 600 * 1024 + 33;
constexpr uint32_t kLongWait = 30000;

class DownloadQueueTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = new TempFolder;  // shared by the tests, as is the HTTP server
        package = patternText(kPackageSize, 11);
        folder->write("served/pkg.zip", package);
        folder->write("served/small.zip", "small");
        server = new HttpServerProcess;
        ASSERT_TRUE(server->start(folder->path("served"), folder->path("requests.log")));
        session = platform::openInternetSession("Kitsync test");
        ASSERT_NE(session, nullptr);
    }

    static void TearDownTestSuite()
    {
        platform::closeInternetSession(session);
        delete server;
        delete folder;
    }

    // A fresh cache file name per test, so that no test meets another's.
    std::string cacheFile(const std::string& name = "pkg.zip") const
    {
        const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
        return folder->path(std::string("cache/") + test->name() + "/" + name);
    }

    static DownloadJob job(const std::string& path, const std::string& cache, uint64_t size = kPackageSize)
    {
        return DownloadJob{server->url(path), size, cache};
    }

    static DownloadOutcome runOne(const DownloadJob& j)
    {
        DownloadQueue queue(session, 1);
        queue.add(j);
        queue.start();
        size_t index = 0;
        DownloadOutcome outcome;
        EXPECT_TRUE(queue.next(kLongWait, index, outcome));
        return outcome;
    }

    // Until the queue's progress shows what the test waits for.
    template <typename Condition>
    static void waitFor(const DownloadQueue& queue, Condition condition)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLongWait);
        while (!condition(queue.progress())) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    // The requests logged since `mark`, which moves past them.
    static std::string newRequests(size_t& mark)
    {
        std::string log = server->requestLog();
        std::string fresh = log.substr(mark);
        mark = log.size();
        return fresh;
    }

    static TempFolder* folder;
    static std::string package;
    static HttpServerProcess* server;
    static platform::InternetSession* session;
};

TempFolder* DownloadQueueTest::folder = nullptr;
std::string DownloadQueueTest::package;
HttpServerProcess* DownloadQueueTest::server = nullptr;
platform::InternetSession* DownloadQueueTest::session = nullptr;

TEST_F(DownloadQueueTest, ACutDownloadLeavesItsPartAndEachLaterRunResumesWithARange)
{
    std::string cache = cacheFile();
    size_t mark = server->requestLog().size();
    DownloadOutcome first = runOne(job("/_cut/pkg.zip?after=100000", cache));
    EXPECT_FALSE(first.ok);
    EXPECT_TRUE(contains(first.error, "broke off")) << first.error;
    EXPECT_EQ(readFile(cache + ".part"), package.substr(0, 100000));
    EXPECT_FALSE(fs::exists(cache));
    EXPECT_FALSE(contains(newRequests(mark), "Range:"));

    // The cut honours the range too: the part grows by another cut's worth.
    EXPECT_EQ(runOne(job("/_cut/pkg.zip?after=100000", cache)).resumedFrom, 100000u);
    EXPECT_EQ(readFile(cache + ".part"), package.substr(0, 200000));
    EXPECT_TRUE(contains(newRequests(mark), "\nRange: bytes=100000-\n"));

    DownloadOutcome last = runOne(job("/pkg.zip", cache));
    ASSERT_TRUE(last.ok) << last.error;
    EXPECT_EQ(last.resumedFrom, 200000u);
    EXPECT_EQ(last.archivePath, cache);
    EXPECT_TRUE(readFile(cache) == package);
    EXPECT_FALSE(fs::exists(cache + ".part"));
    std::string requests = newRequests(mark);
    EXPECT_TRUE(startsWith(requests, "GET /pkg.zip ") && contains(requests, "\nRange: bytes=200000-\n")) << requests;
}

TEST_F(DownloadQueueTest, WhatIsInTheCacheDecidesBetweenNothingAResumeAndAFreshStart)
{
    struct Case {
        const char* what;
        const char* path;
        std::string cached;     // the finished file beforehand, if any
        std::string part;       // the .part beforehand, if any
        uint64_t resumedFrom;
        uint64_t fetched;
        const char* range;      // the request's Range header, "" for none, nullptr for no request
    };
    const std::string junk(5000, 'j');
    const Case cases[] = {
        {"whole in the cache", "/pkg.zip", package, "", 0, 0, nullptr},
        {"a server that ignores ranges", "/_norange/pkg.zip", "", junk, 0, kPackageSize, "bytes=5000-"},
        {"a part longer than the package", "/pkg.zip", "", package + junk, 0, kPackageSize, ""},
        {"a part that only lacks its rename", "/pkg.zip", "", package, kPackageSize, 0, nullptr},
        {"a stale cache file of another size", "/pkg.zip", junk, "", 0, kPackageSize, ""},
    };
    size_t mark = server->requestLog().size();
    for (const Case& c : cases) {
        std::string cache = cacheFile(std::string(c.what) + ".zip");
        if (!c.cached.empty())
            folder->write(fs::relative(cache, folder->folder()).string(), c.cached);
        if (!c.part.empty())
            folder->write(fs::relative(cache + ".part", folder->folder()).string(), c.part);
        DownloadOutcome outcome = runOne(job(c.path, cache));
        ASSERT_TRUE(outcome.ok) << c.what << ": " << outcome.error;
        EXPECT_EQ(outcome.fromCache, c.cached == package) << c.what;
        EXPECT_EQ(outcome.resumedFrom, c.resumedFrom) << c.what;
        EXPECT_EQ(outcome.fetched, c.fetched) << c.what;
        EXPECT_TRUE(readFile(cache) == package) << c.what;
        EXPECT_FALSE(fs::exists(cache + ".part")) << c.what;
        std::string requests = newRequests(mark);
        if (c.range == nullptr)
            EXPECT_EQ(requests, "") << c.what;
        else if (*c.range == '\0')
            EXPECT_FALSE(contains(requests, "Range:")) << c.what << ": " << requests;
        else
            EXPECT_TRUE(contains(requests, std::string("\nRange: ") + c.range + "\n")) << c.what << ": " << requests;
    }
}

TEST_F(DownloadQueueTest, WrongSizesAndErrorAnswersFailWithTheReason)
{
    struct Case {
        const char* path;
        uint64_t expectedSize;
        std::string part;
        const char* error;
        bool partStays;
    };
    const Case cases[] = {
        {"/pkg.zip", kPackageSize - 1, "", "is 614433 bytes long, where the catalogue says 614432", false},
        {"/pkg.zip", kPackageSize + 1, package.substr(0, 10), "is 614433 bytes long, where the catalogue says 614434",
         false},
        {"/_nolength/pkg.zip", 1000, "", "sent more than the 1000 bytes the catalogue says", false},
        {"/_status/404", 100, "", "the server answered with HTTP status 404", false},
        {"/pkg.zip", kPackageSize + 10, package, "the server answered with HTTP status 416", true},
        {"/_stall/pkg.zip?after=0&hold=0", kPackageSize, "", "broke off", true},
    };
    for (const Case& c : cases) {
        std::string cache = cacheFile(std::to_string(&c - cases) + ".zip");
        if (!c.part.empty())
            folder->write(fs::relative(cache + ".part", folder->folder()).string(), c.part);
        DownloadOutcome outcome = runOne(job(c.path, cache, c.expectedSize));
        EXPECT_FALSE(outcome.ok) << c.path;
        EXPECT_TRUE(contains(outcome.error, c.error)) << c.path << ": " << outcome.error;
        EXPECT_FALSE(fs::exists(cache)) << c.path;
        EXPECT_EQ(fs::exists(cache + ".part"), c.partStays) << c.path;
    }
}

TEST_F(DownloadQueueTest, AFileUrlIsReadWhereItLies)
{
    std::string local = folder->path("served/pkg.zip");
    DownloadOutcome found = runOne({"file://" + local, kPackageSize, cacheFile()});
    EXPECT_TRUE(found.ok && found.inPlace) << found.error;
    EXPECT_EQ(found.archivePath, local);
    DownloadOutcome gone = runOne({"file://" + local + ".gone", 1, cacheFile("gone")});
    EXPECT_FALSE(gone.ok);
    EXPECT_TRUE(contains(gone.error, local + ".gone")) << gone.error;
    EXPECT_FALSE(fs::exists(folder->path("cache/AFileUrlIsReadWhereItLies")));
}

// Every held job waits for the file "go" before its last piece, so they
// can only all be under way at once on workers of their own.
TEST_F(DownloadQueueTest, JobsRunSideBySideAndAreTakenInTheOrderTheyFinish)
{
    DownloadQueue queue(session, 3);
    for (int i = 0; i < 2; ++i)
        queue.add(job("/_drip/pkg.zip?chunk=200000&delay=0&until=go", cacheFile("held" + std::to_string(i))));
    size_t small = queue.add(job("/small.zip", cacheFile("small"), 5));
    queue.start();

    size_t index = 0;
    DownloadOutcome outcome;
    ASSERT_TRUE(queue.next(kLongWait, index, outcome));
    EXPECT_EQ(index, small);
    EXPECT_TRUE(outcome.ok) << outcome.error;
    EXPECT_FALSE(queue.next(50, index, outcome));  // the others wait for "go"
    waitFor(queue, [](const std::vector<DownloadProgress>& p) { return p[0].received > 0 && p[1].received > 0; });
    folder->write("served/go", "");

    std::set<size_t> seen{small};
    while (queue.next(kLongWait, index, outcome)) {
        EXPECT_TRUE(seen.insert(index).second) << index;
        EXPECT_TRUE(outcome.ok && readFile(outcome.archivePath) == package) << outcome.error;
    }
    EXPECT_EQ(seen.size(), 3u);
    for (const DownloadProgress& p : queue.progress())
        EXPECT_TRUE(p.started && p.finished && p.received == p.total);
}

TEST_F(DownloadQueueTest, DestroyingTheQueueStopsATransferAndKeepsItsPart)
{
    std::string cache = cacheFile();
    {
        DownloadQueue queue(session, 1);
        queue.add(job("/_throttle/pkg.zip?rate=50000", cache));  // twelve seconds' worth
        queue.start();
        waitFor(queue, [](const std::vector<DownloadProgress>& p) { return p[0].received > 0; });
    }
    EXPECT_FALSE(fs::exists(cache));
    std::string kept = readFile(cache + ".part");
    EXPECT_GT(kept.size(), 0u);
    EXPECT_TRUE(kept == package.substr(0, kept.size()));
}

// The CRC-32 values come from Python's zlib.crc32.
TEST(CacheFileName, KeepsASafeLastComponentBehindTheUrlsCrc)
{
    for (auto c : {std::make_pair("http://example.org/files/Some%20Map.zip?v=2", "fe596e69-Some_20Map.zip"),
                   std::make_pair("http://example.org/", "02a35bd8-package"),
                   std::make_pair("ftp://h/a/b/c.d./", "33d4d2e4-package"),
                   std::make_pair("http://h/dir/odd:na*me.", "cf30413a-odd_na_me_"),
                   std::make_pair("http://h/x.zip#frag/y", "a6889656-x.zip")})
        EXPECT_EQ(cacheFileName(c.first), c.second);
}

}  // namespace
