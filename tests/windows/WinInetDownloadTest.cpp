#include "catalogue/Download.h"

#include "platform/Clock.h"
#include "platform/UrlReader.h"
#include "support/SteppingClock.h"
#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>

namespace {

const char* const kDone = "Done...                        \n";
const char* const kDownloadError = "Error: Downloading file                    \n";

// The files that scripts/test-windows.sh serves: byte i of each is i % 251.
constexpr size_t kPatternSize = 300000;
constexpr size_t kThreeSize = 3000;

std::string pattern(size_t n)
{
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

struct Outcome {
    bool ok;
    std::string output;
};

class WinInet : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        session = new DownloadSession;
        ASSERT_TRUE(session->open());
    }

    static void TearDownTestSuite() { delete session; }

    void SetUp() override
    {
        base = environment("KITSYNC_WIN_TEST_HTTP");
        if (base.empty())
            GTEST_SKIP() << "no HTTP server named in KITSYNC_WIN_TEST_HTTP (scripts/test-windows.sh starts one)";
    }

    std::string url(const std::string& path) const { return base + path; }

    static Outcome download(const std::string& url, const std::string& local)
    {
        testing::internal::CaptureStdout();
        bool ok = session->downloadPackage(url.c_str(), local.c_str());
        return {ok, testing::internal::GetCapturedStdout()};
    }

    static inline DownloadSession* session = nullptr;
    std::string base;
    TempFolder folder;
};

}  // namespace

TEST_F(WinInet, CopiesTheResourceAndReplacesAnOlderFile)
{
    std::string local = folder.path("pattern.bin");
    std::ofstream(local, std::ios::binary) << std::string(kPatternSize + 500, 'x');
    Outcome result = download(url("/pattern.bin"), local);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.output, "Downloading " + url("/pattern.bin") + "\n" + kDone);
    EXPECT_TRUE(readFile(local) == pattern(kPatternSize));
}

TEST_F(WinInet, AsksTheOriginWithTheAgentNameAndNoCaching)
{
    std::string log = environment("KITSYNC_WIN_TEST_HTTP_LOG");
    if (log.empty())
        GTEST_SKIP() << "no request log named in KITSYNC_WIN_TEST_HTTP_LOG";
    ASSERT_TRUE(download(url("/_bytes/10?agent-check"), folder.path("ten.bin")).ok);
    std::string requests = readFile(log);
    size_t start = requests.find("GET /_bytes/10?agent-check ");
    ASSERT_NE(start, std::string::npos) << requests;
    // Up to and with the line feed of its last header line.
    std::string request = requests.substr(start, requests.find("\n\n", start) + 1 - start);
    EXPECT_NE(request.find("\nUser-Agent: Brask Kitsync Server\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\nCache-Control: no-cache\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\nPragma: no-cache"), std::string::npos) << request;
    EXPECT_EQ(request.find("Accept-Encoding"), std::string::npos) << request;
    EXPECT_EQ(readFile(folder.path("ten.bin")), pattern(10));
}

TEST_F(WinInet, FollowsRedirectsAndReadsAnswersWithoutASize)
{
    ASSERT_TRUE(download(url("/_redirect/pattern.bin?code=301"), folder.path("moved.bin")).ok);
    EXPECT_TRUE(readFile(folder.path("moved.bin")) == pattern(kPatternSize));

    Outcome unsized = download(url("/_redirect/x?to=/_nolength/three.bin"), folder.path("unsized.bin"));
    EXPECT_TRUE(unsized.ok) << unsized.output;
    EXPECT_EQ(readFile(folder.path("unsized.bin")), pattern(kThreeSize));
}

TEST_F(WinInet, ErrorStatusesUnreachableAndForeignUrlsAreBadUrlsAndSaveNothing)
{
    const std::string status = "Error: Server answered with HTTP status ";
    const std::pair<std::string, std::string> cases[] = {
        {url("/_status/404"), status + "404\n"},
        {url("/_status/500"), status + "500\n"},
        {"http://127.0.0.1:1/package.zip", ""},
        {"gopher://127.0.0.1/x", ""},
        {"", ""},
    };
    for (const auto& [address, reason] : cases) {
        Outcome result = download(address, folder.path("bad.zip"));
        EXPECT_FALSE(result.ok) << address;
        EXPECT_EQ(result.output, "Downloading " + address + "\n" + reason + "Error: Bad URL\n");
        EXPECT_FALSE(std::filesystem::exists(folder.path("bad.zip"))) << address;
    }
}

// WinINet ends the data quietly where the connection broke; only the
// announced size tells the cut. Wine 8's WinINet ignores its time-out
// options; the reader must not.
TEST_F(WinInet, ACutOrStalledTransferFailsWithinTheReceiveTimeOut)
{
    session->setStallLimit(300);
    for (const char* route :
         {"/_cut/pattern.bin?after=5000", "/_stall/pattern.bin?after=5000&hold=10", "/_stall/pattern.bin?hold=10"}) {
        uint32_t before = platform::tickCount();
        Outcome failed = download(url(route), folder.path("stall.bin"));
        uint32_t took = platform::tickCount() - before;
        EXPECT_FALSE(failed.ok) << route;
        EXPECT_EQ(failed.output, "Downloading " + url(route) + "\n" + kDownloadError);
        EXPECT_LT(took, 3000u) << route;
    }
    session->setStallLimit(60000);
}

TEST_F(WinInet, ProgressShowsWholeKiBMoreThanASecondApart)
{
    SteppingClock clock(1001);
    std::string address = url("/_drip/three.bin?chunk=1500&delay=150");
    Outcome result = download(address, folder.path("three.bin"));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.output, "Downloading " + address + "\nReceived: 1/2 kb\rReceived: 2/2 kb\r" + kDone);
    EXPECT_EQ(readFile(folder.path("three.bin")), pattern(kThreeSize));
}

TEST_F(WinInet, FileUrlsTakeDrivePaths)
{
    folder.write("local/three.bin", pattern(kThreeSize));
    std::string path = folder.path("local/three.bin");
    std::string forward = path;
    for (char& c : forward) {
        if (c == '\\')
            c = '/';
    }
    for (const std::string& address : {"file:///" + forward, "file://localhost/" + forward, "file:" + path}) {
        Outcome result = download(address, folder.path("copy.bin"));
        EXPECT_TRUE(result.ok) << address << "\n" << result.output;
        EXPECT_EQ(readFile(folder.path("copy.bin")), pattern(kThreeSize)) << address;
    }
    EXPECT_FALSE(download("file:///" + forward + ".missing", folder.path("copy.bin")).ok);
    EXPECT_FALSE(download("file:///" + folder.path("local"), folder.path("copy.bin")).ok);  // a folder
}

// A reader given up on a stalled server leaves its WinINet call running.
// Closing the session meanwhile must not pull the root from under that
// call: when the call ends, the handles it closes must still be its own,
// not numbers that WinINet has since handed to the next session's reader.
TEST_F(WinInet, ASessionClosedBehindAStalledReaderLeavesTheNextSessionAlone)
{
    platform::InternetSession* first = platform::openInternetSession("windows test");
    ASSERT_NE(first, nullptr);
    platform::setReceiveTimeout(first, 300);
    {
        auto stalled = platform::openUrl(first, url("/_stall/pattern.bin?hold=2").c_str());
        ASSERT_NE(stalled, nullptr);
        char block[4096];
        uint32_t got = 0;
        EXPECT_FALSE(stalled->read(block, sizeof block, &got));
    }
    platform::closeInternetSession(first);

    // Its pieces straddle the moment (about 2 s on) the stalled call ends.
    platform::InternetSession* second = platform::openInternetSession("windows test");
    ASSERT_NE(second, nullptr);
    auto reader = platform::openUrl(second, url("/_drip/three.bin?chunk=1000&delay=1200").c_str());
    ASSERT_NE(reader, nullptr);
    std::string received;
    char block[4096];
    uint32_t got = 0;
    do {
        ASSERT_TRUE(reader->read(block, sizeof block, &got)) << "after " << received.size() << " bytes";
        received.append(block, got);
    } while (got > 0);
    EXPECT_EQ(received, pattern(kThreeSize));
    reader.reset();
    platform::closeInternetSession(second);
}

// The range goes as a header; the status and Content-Range come back
// through HttpQueryInfo, and the size is the part's.
TEST_F(WinInet, AsksForARangeAndTellsWhetherTheServerGrantedIt)
{
    platform::InternetSession* raw = platform::openInternetSession("windows test");
    ASSERT_NE(raw, nullptr);
    // The path, whether granted, the status, and where the bytes read begin.
    for (auto [path, granted, status, first] : {std::tuple("/pattern.bin", true, 206, size_t{1000}),
                                               std::tuple("/_norange/pattern.bin", false, 200, size_t{0}),
                                               std::tuple("/_misrange/pattern.bin", false, 206, size_t{0})}) {
        auto reader = platform::openUrl(raw, url(path).c_str(), 1000);
        ASSERT_NE(reader, nullptr) << path;
        EXPECT_TRUE(reader->rangeGranted() == granted && reader->httpStatus() == status) << path;
        uint64_t size = 0;
        EXPECT_TRUE(reader->size(&size) && size == kPatternSize - first) << path << ": " << size;
        std::string received;
        char block[4096];
        for (uint32_t got = 1; got > 0 && reader->read(block, sizeof block, &got);)
            received.append(block, got);
        EXPECT_TRUE(received == pattern(kPatternSize).substr(first)) << path;
    }
    platform::closeInternetSession(raw);
}
