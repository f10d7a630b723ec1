#include "catalogue/Download.h"

#include "platform/Clock.h"
#include "support/HttpServerProcess.h"
#include "support/SteppingClock.h"
#include "support/TempFolder.h"
#include "support/TestBytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

namespace {

namespace fs = std::filesystem;

const char* const kDone = "Done...                        \n";
const char* const kDownloadError = "Error: Downloading file                    \n";

struct Outcome {
    bool ok;
    std::string output;
};

class Download : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = new TempFolder;  // shared by the tests, as is the HTTP server
        package = patternText(300 * 1024 + 17, 7);
        folder->write("served/package.zip", package);
        folder->write("served/empty.bin", "");
        folder->write("served/three.bin", patternText(3000, 3));
        folder->write("served/blocks.bin", patternText(5 * 4096 + 100, 5));
        folder->write("served/with space.bin", "spaced");
        fs::create_directories(folder->path("out"));
        server = new HttpServerProcess;
        ASSERT_TRUE(server->start(folder->path("served"), folder->path("requests.log")));
        session = new DownloadSession;
        ASSERT_TRUE(session->open());
    }

    static void TearDownTestSuite()
    {
        delete session;
        delete server;
        delete folder;
    }

    static Outcome download(const std::string& url, const fs::path& local)
    {
        testing::internal::CaptureStdout();
        bool ok = session->downloadPackage(url.c_str(), local.string().c_str());
        return {ok, testing::internal::GetCapturedStdout()};
    }

    static std::string fileUrl(const std::string& name) { return "file://" + folder->path("served/" + name); }
    static fs::path out(const char* name) { return folder->path(std::string("out/") + name); }

    static TempFolder* folder;
    static std::string package;
    static HttpServerProcess* server;
    static DownloadSession* session;
};

TempFolder* Download::folder = nullptr;
std::string Download::package;
HttpServerProcess* Download::server = nullptr;
DownloadSession* Download::session = nullptr;

TEST_F(Download, CopiesHttpAndFileResourcesByteForByteAndReplacesAnOlderFileEvenWithNothing)
{
    ASSERT_TRUE(download(server->url("/package.zip"), out("package.zip")).ok);
    EXPECT_TRUE(readFile(out("package.zip")) == package);

    {
        // 300 ms per reading of the counter: 3,000 bytes come in at most
        // three reads, so no reading is more than 1000 ms after the start.
        SteppingClock clock(300);
        std::string url = server->url("/three.bin");
        Outcome result = download(url, out("package.zip"));
        EXPECT_TRUE(result.ok);
        EXPECT_EQ(result.output, "Downloading " + url + "\n" + kDone);
        EXPECT_EQ(readFile(out("package.zip")), patternText(3000, 3));
        for (const std::string& empty : {server->url("/empty.bin"), fileUrl("empty.bin")}) {
            result = download(empty, out("package.zip"));
            EXPECT_TRUE(result.ok) << empty;
            EXPECT_EQ(result.output, "Downloading " + empty + "\n" + kDone);
            EXPECT_EQ(fs::file_size(out("package.zip")), 0u);
        }
    }

    EXPECT_TRUE(download(fileUrl("package.zip"), out("local.zip")).ok);
    EXPECT_TRUE(readFile(out("local.zip")) == package);
    std::string escaped = "file://localhost" + folder->path("served") + "/with%20space.bin";
    EXPECT_TRUE(download(escaped, out("spaced.bin")).ok);
    EXPECT_EQ(readFile(out("spaced.bin")), "spaced");

    EXPECT_EQ(download(fileUrl("missing.bin"), out("missing.bin")).output,
              "Downloading " + fileUrl("missing.bin") + "\nError: Bad URL\n");
    EXPECT_FALSE(download("file://elsewhere" + folder->path("served/empty.bin"), out("x")).ok);
    EXPECT_FALSE(download("file://" + folder->path("served"), out("x")).ok);  // a folder
}

TEST_F(Download, AsksTheOriginWithTheAgentNameNoCachingAndEscapedBlanksAndFollowsRedirects)
{
    ASSERT_TRUE(download(server->url("/_bytes/10"), out("ten.bin")).ok);
    EXPECT_EQ(readFile(out("ten.bin")), std::string("\0\1\2\3\4\5\6\7\10\11", 10));
    std::string log = server->requestLog();
    size_t start = log.find("GET /_bytes/10 ");
    ASSERT_NE(start, std::string::npos) << log;
    std::string request = log.substr(start, log.find("\n\n", start) - start);
    EXPECT_NE(request.find("\nUser-Agent: Brask Kitsync Server\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\nCache-Control: no-cache\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\nPragma: no-cache"), std::string::npos) << request;
    EXPECT_EQ(request.find("Accept-Encoding"), std::string::npos) << request;

    Outcome spaced = download(server->url("/with space.bin"), out("spaced.bin"));
    EXPECT_TRUE(spaced.ok) << spaced.output;
    EXPECT_EQ(readFile(out("spaced.bin")), "spaced");
    EXPECT_NE(server->requestLog().find("GET /with%20space.bin "), std::string::npos) << server->requestLog();

    // Redirects are followed; the size is the final answer's: here the
    // redirect announces 0 bytes, the final answer no size at all.
    ASSERT_TRUE(download(server->url("/_redirect/package.zip?code=301"), out("moved.zip")).ok);
    EXPECT_TRUE(readFile(out("moved.zip")) == package);

    Outcome unsized = download(server->url("/_redirect/x?to=/_nolength/three.bin"), out("unsized.bin"));
    EXPECT_TRUE(unsized.ok) << unsized.output;
    EXPECT_EQ(readFile(out("unsized.bin")), patternText(3000, 3));
}

TEST_F(Download, ErrorStatusesAndUnreachableOrMalformedUrlsAreBadUrlsAndSaveNothing)
{
    for (int status : {404, 500}) {
        std::string url = server->url("/_status/" + std::to_string(status));
        Outcome result = download(url, out("bad.zip"));
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.output, "Downloading " + url + "\nError: Server answered with HTTP status " +
                                     std::to_string(status) + "\nError: Bad URL\n");
    }
    for (const char* url : {"http://127.0.0.1:1/package.zip", "gopher://127.0.0.1/x", "http://[::1/x", ""}) {
        Outcome result = download(url, out("bad.zip"));
        EXPECT_FALSE(result.ok) << url;
        EXPECT_EQ(result.output, std::string("Downloading ") + url + "\nError: Bad URL\n");
    }
    EXPECT_FALSE(fs::exists(out("bad.zip")));

    DownloadSession neverOpened;
    testing::internal::CaptureStdout();
    bool closedOk = neverOpened.downloadPackage(server->url("/three.bin").c_str(), out("bad.zip").string().c_str());
    Outcome closed{closedOk, testing::internal::GetCapturedStdout()};
    EXPECT_FALSE(closed.ok);
    EXPECT_NE(closed.output.find("Error: Bad URL\n"), std::string::npos);
}

TEST_F(Download, LocalFileProblemsAreReported)
{
    std::string url = server->url("/three.bin");
    Outcome uncreatable = download(url, folder->path("no-such-folder/three.bin"));
    EXPECT_FALSE(uncreatable.ok);
    EXPECT_EQ(uncreatable.output, "Downloading " + url + "\nError: Could not open file for saving\n");

    // A full disk must not pass a short file on as a finished download.
    Outcome full = download(server->url("/package.zip"), "/dev/full");
    EXPECT_FALSE(full.ok);
    EXPECT_EQ(full.output, "Downloading " + server->url("/package.zip") + "\nError: Could not write to file\n");
}

TEST_F(Download, ACutOrStalledTransferFails)
{
    Outcome cut = download(server->url("/_cut/package.zip?after=5000"), out("cut.zip"));
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.output, "Downloading " + server->url("/_cut/package.zip?after=5000") + "\n" + kDownloadError);

    // Silence after some bytes, and silence right after the head: both are
    // transfers that began and broke, not bad URLs.
    session->setStallLimit(300);
    for (const char* route : {"/_stall/package.zip?after=5000&hold=10", "/_stall/package.zip?hold=10"}) {
        uint32_t before = platform::tickCount();
        Outcome stalled = download(server->url(route), out("stall.zip"));
        EXPECT_FALSE(stalled.ok);
        EXPECT_EQ(stalled.output, "Downloading " + server->url(route) + "\n" + kDownloadError);
        EXPECT_LT(platform::tickCount() - before, 3000u);
    }
    session->setStallLimit(60000);
}

TEST_F(Download, ProgressComesMoreThanASecondApartInWholeKiB)
{
    // 4096-byte blocks of a 20,580-byte file, 600 ms per block: a line after
    // every second block, and one for the last. Exactly 1000 ms apart is not enough.
    SteppingClock clock(600);
    std::string url = fileUrl("blocks.bin");
    Outcome blocks = download(url, out("blocks.bin"));
    EXPECT_TRUE(blocks.ok);
    EXPECT_EQ(blocks.output, "Downloading " + url + "\nReceived: 8/20 kb\rReceived: 16/20 kb\rReceived: 20/20 kb\r" +
                                 kDone);
    clock.setStep(500);
    EXPECT_EQ(download(url, out("blocks.bin")).output,
              "Downloading " + url + "\nReceived: 12/20 kb\rReceived: 20/20 kb\r" + kDone);

    // Half a KiB received shows as the whole KiB below it.
    clock.setStep(1001);
    url = server->url("/_drip/three.bin?chunk=1500&delay=150");
    EXPECT_EQ(download(url, out("three.bin")).output,
              "Downloading " + url + "\nReceived: 1/2 kb\rReceived: 2/2 kb\r" + kDone);

    // Without a size only the received amount shows, and a line follows the last block.
    std::string unsized = server->url("/_nolength/package.zip");
    Outcome result = download(unsized, out("nolength.zip"));
    EXPECT_TRUE(result.ok);
    EXPECT_TRUE(readFile(out("nolength.zip")) == package);
    std::string lines = result.output.substr(result.output.find('\n') + 1);
    ASSERT_GE(lines.size(), std::strlen(kDone));
    EXPECT_EQ(lines.substr(lines.size() - std::strlen(kDone)), kDone);
    std::istringstream progress(lines.substr(0, lines.size() - std::strlen(kDone)));
    unsigned long shown = 0;
    int count = 0;
    for (std::string line; std::getline(progress, line, '\r'); ++count) {
        unsigned long number = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "Received: %lu", &number), 1) << line;
        EXPECT_EQ(line, "Received: " + std::to_string(number) + " kb");
        EXPECT_GE(number, shown) << "the amount shown went back";
        shown = number;
    }
    EXPECT_GE(count, 2);
    EXPECT_EQ(shown, package.size() / 1024);
}

}  // namespace
