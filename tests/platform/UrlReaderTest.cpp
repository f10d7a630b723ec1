// Ranges through the URL reader against a real HTTP server and real files:
// whether the bytes come from the offset asked for, or whole.
#include "platform/UrlReader.h"

#include "support/HttpServerProcess.h"
#include "support/TempFolder.h"
#include "support/TestBytes.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr size_t kFileSize = 70000;

std::string readAll(platform::UrlReader& reader)
{
    std::string bytes;
    char block[16384];
    uint32_t got = 0;
    while (reader.read(block, sizeof block, &got) && got > 0)
        bytes.append(block, got);
    return bytes;
}

TEST(UrlReader, AnOffsetIsAskedForAndTheAnswerTellsWhetherItWasGranted)
{
    TempFolder folder;
    const std::string file = patternText(kFileSize, 5);
    folder.write("served/file.bin", file);
    HttpServerProcess server;
    ASSERT_TRUE(server.start(folder.path("served")));
    platform::InternetSession* session = platform::openInternetSession("Kitsync test");
    ASSERT_NE(session, nullptr);
    const std::string local = "file://" + folder.path("served/file.bin");

    struct Case {
        std::string url;
        uint64_t offset;
        bool granted;
        int status;
        size_t firstByte;  // of the file, where the bytes read begin
    };
    const Case cases[] = {
        {server.url("/file.bin"), 0, false, 200, 0},
        {server.url("/file.bin"), 1000, true, 206, 1000},
        {server.url("/_redirect/file.bin"), 1000, true, 206, 1000},
        {server.url("/_norange/file.bin"), 1000, false, 200, 0},
        {server.url("/_misrange/file.bin"), 1000, false, 206, 0},
        {server.url("/file.bin"), kFileSize, false, 416, 0},
        {local, 1000, true, 0, 1000},
        {local, kFileSize + 1, false, 0, 0},
    };
    for (const Case& c : cases) {
        std::unique_ptr<platform::UrlReader> reader = platform::openUrl(session, c.url.c_str(), c.offset);
        ASSERT_NE(reader, nullptr) << c.url;
        EXPECT_EQ(reader->rangeGranted(), c.granted) << c.url << " from " << c.offset;
        EXPECT_EQ(reader->httpStatus(), c.status) << c.url << " from " << c.offset;
        if (c.status == 416)
            continue;
        uint64_t size = 0;
        EXPECT_TRUE(reader->size(&size));
        EXPECT_EQ(size, kFileSize - c.firstByte) << c.url << " from " << c.offset;
        EXPECT_TRUE(readAll(*reader) == file.substr(c.firstByte)) << c.url << " from " << c.offset;
    }
    platform::closeInternetSession(session);
}

}  // namespace
