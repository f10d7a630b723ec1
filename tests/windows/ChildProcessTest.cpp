#include "platform/Clock.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <string>

// The child is kitsync-query.exe itself: a Windows program whose output is
// known, so the pipe, the command line and the process handle are real.
TEST(WindowsChildProcess, ReadsTheOutputLineByLineAndSeesTheEnd)
{
    ChildProcess child;
    ASSERT_TRUE(child.start({KITSYNC_QUERY_PROGRAM, "--help"}));
    EXPECT_FALSE(child.start({KITSYNC_QUERY_PROGRAM, "--help"}));  // one at a time
    std::string line;
    ASSERT_TRUE(child.readLine(&line, 10000));
    EXPECT_EQ(line, "usage: kitsync-query [options] HOST[:PORT]");
    ASSERT_TRUE(child.readLine(&line, 10000));
    EXPECT_EQ(line.find("  Shows the add-on catalogue"), 0u) << line;
    while (child.readLine(&line, 10000)) {
    }
    for (int i = 0; i < 200 && child.isRunning(); ++i)
        platform::sleepMilliseconds(20);
    EXPECT_FALSE(child.isRunning());
}

TEST(WindowsChildProcess, StopEndsAProgramThatWaitsAndQuotesArguments)
{
    ChildProcess child;
    // Quoted as one argument, "a b" is a host that cannot be resolved...
    ASSERT_TRUE(child.start({KITSYNC_QUERY_PROGRAM, "--timeout", "60000", "a b"}));
    std::string line;
    EXPECT_FALSE(child.readLine(&line, 3000));  // errors go to standard error
    for (int i = 0; i < 200 && child.isRunning(); ++i)
        platform::sleepMilliseconds(20);
    EXPECT_FALSE(child.isRunning());  // ...so the program ends at once

    // A silent server: the query would wait a minute.
    ASSERT_TRUE(child.start({KITSYNC_QUERY_PROGRAM, "--timeout", "60000", "127.0.0.1:9"}));
    EXPECT_FALSE(child.readLine(&line, 300));
    EXPECT_TRUE(child.isRunning());
    uint32_t before = platform::tickCount();
    child.stop();
    EXPECT_LT(platform::tickCount() - before, 5000u);
    EXPECT_FALSE(child.isRunning());
    child.stop();  // nothing left to stop
}

// The child's input is the object's own pipe, never written and held open,
// not this program's input (which a test runner may well have at its end):
// a program that reads its input to the end keeps waiting while the object
// lives, and stop() still ends it.
TEST(WindowsChildProcess, InputStaysOpenWhileTheObjectLives)
{
    ChildProcess child;
    ASSERT_TRUE(child.start({"find.exe", "never-there"}));
    std::string line;
    EXPECT_FALSE(child.readLine(&line, 1500));
    EXPECT_TRUE(child.isRunning());
    child.stop();
    EXPECT_FALSE(child.isRunning());
}
