// The file calls of the package cache on real folders, and where the
// cache lies by the environment.
#include "platform/CacheFiles.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

#ifndef _WIN32
// Sets (or with nullptr removes) a variable for the life of the object.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name(name), had(std::getenv(name) != nullptr)
    {
        old = had ? std::getenv(name) : "";
        set(value);
    }
    ~ScopedVariable() { set(had ? old.c_str() : nullptr); }

private:
    void set(const char* value) { value == nullptr ? unsetenv(name) : setenv(name, value, 1); }

    const char* name;
    bool had;
    std::string old;
};

TEST(CacheFiles, TheDefaultFolderFollowsTheEnvironment)
{
    struct Case {
        const char* xdg;
        const char* home;
        const char* folder;
    };
    for (Case c : {Case{"/var/cache/p", "/home/p", "/var/cache/p/kitsync"},
                   Case{nullptr, "/home/p", "/home/p/.cache/kitsync"}, Case{"", "/home/p", "/home/p/.cache/kitsync"},
                   Case{"relative", "/home/p", "/home/p/.cache/kitsync"}, Case{nullptr, nullptr, ""}}) {
        ScopedVariable xdg("XDG_CACHE_HOME", c.xdg);
        ScopedVariable home("HOME", c.home);
        EXPECT_EQ(platform::defaultCacheFolder(), c.folder) << (c.xdg ? c.xdg : "(unset)");
    }
}
#endif

// The download queue's tests take these calls through their usual paths;
// here are the refusals.
TEST(CacheFiles, FoldersAndFilesRefuseWhatTheyCannotBe)
{
    TempFolder folder;
    EXPECT_TRUE(platform::createFolderPath(folder.path("a/b/c")));
    EXPECT_TRUE(platform::createFolderPath(folder.path("a/b/c")));  // already there
    folder.write("file", "12345");
    EXPECT_FALSE(platform::createFolderPath(folder.path("file/below")));
    uint64_t size = 0;
    EXPECT_FALSE(platform::sizeOfFile(folder.path("a"), &size));
    EXPECT_FALSE(platform::moveFileOver(folder.path("missing"), folder.path("file")));

    platform::AppendingFile file;
    EXPECT_FALSE(file.open(folder.path("missing/x"), true));
    ASSERT_TRUE(file.open(folder.path("file"), true));
    EXPECT_TRUE(file.write("678", 3));
    EXPECT_TRUE(file.close());
    EXPECT_FALSE(file.write("9", 1));
    EXPECT_EQ(readFile(folder.path("file")), "12345678");
}

}  // namespace
