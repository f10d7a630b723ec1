#include "UdpPeer.h"
#include "server/LogQueue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string printedBatch(LogQueue& queue)
{
    std::FILE* file = std::tmpfile();
    queue.printBatch(file);
    std::string text(size_t(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
    return text;
}

TEST(LogQueueBatch, PrintsOneTimeStampForEveryLineOfABatch)
{
    LogQueue queue;
    EXPECT_EQ(printedBatch(queue), "");
    queue.add("Query from 127.0.0.1:2000 version 1040\n");
    queue.add("Server thread says hello\nServer is running\n");
    std::string printed = printedBatch(queue);
    ASSERT_TRUE(isStamped(printed, printed.substr(10))) << printed;
    std::string stamp = printed.substr(0, 10);
    EXPECT_EQ(printed, stamp + "Query from 127.0.0.1:2000 version 1040\n" + stamp +
                           "Server thread says hello\nServer is running\n");
    EXPECT_EQ(printedBatch(queue), "");  // the queue is empty again

    for (int32_t i = 0; i < LogQueue::maxPendingLines + 2; ++i)
        queue.add("x\n");
    EXPECT_NE(printedBatch(queue).find(": Warning: Console log overflowed, 2 lines dropped\n"), std::string::npos);
}

}  // namespace
