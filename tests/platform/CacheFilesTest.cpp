// The file calls of the package cache on real folders, and where the
// cache lies by the environment.
#include "platform/CacheFiles.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// Sets (or with nullptr removes) a variable and puts it back afterwards.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name(name)
    {
        const char* old = std::getenv(name);
        hadValue = old != nullptr;
        if (hadValue)
            oldValue = old;
        set(value);
    }
    ~ScopedVariable() { set(hadValue ? oldValue.c_str() : nullptr); }

private:
    void set(const char* value)
    {
#ifdef _WIN32
        _putenv_s(name, value == nullptr ? "" : value);
#else
        if (value == nullptr)
            unsetenv(name);
        else
            setenv(name, value, 1);
#endif
    }

    const char* name;
    bool hadValue = false;
    std::string oldValue;
};

TEST(CacheFiles, TheDefaultFolderFollowsTheEnvironment)
{
#ifdef _WIN32
    ScopedVariable local("LOCALAPPDATA", "C:\\Users\\p\\AppData\\Local");
    EXPECT_EQ(platform::defaultCacheFolder(), "C:\\Users\\p\\AppData\\Local\\Kitsync");
#else
    struct Case {
        const char* xdg;
        const char* home;
        const char* folder;
    };
    for (Case c : {Case{"/var/cache/p", "/home/p", "/var/cache/p/kitsync"}, Case{nullptr, "/home/p", "/home/p/.cache/kitsync"},
                   Case{"", "/home/p", "/home/p/.cache/kitsync"}, Case{"relative", "/home/p", "/home/p/.cache/kitsync"},
                   Case{nullptr, nullptr, ""}}) {
        ScopedVariable xdg("XDG_CACHE_HOME", c.xdg);
        ScopedVariable home("HOME", c.home);
        EXPECT_EQ(platform::defaultCacheFolder(), c.folder) << (c.xdg ? c.xdg : "(unset)");
    }
#endif
}

TEST(CacheFiles, FoldersSizesRenamesAndAppends)
{
    TempFolder folder;
    std::string deep = folder.path("a/b/c");
    EXPECT_TRUE(platform::createFolderPath(deep));
    EXPECT_TRUE(platform::createFolderPath(deep));  // already there
    EXPECT_TRUE(fs::is_directory(deep));
    folder.write("file", "12345");
    EXPECT_FALSE(platform::createFolderPath(folder.path("file/below")));

    uint64_t size = 0;
    EXPECT_TRUE(platform::sizeOfFile(folder.path("file"), &size));
    EXPECT_EQ(size, 5u);
    EXPECT_FALSE(platform::sizeOfFile(deep, &size));
    EXPECT_FALSE(platform::sizeOfFile(folder.path("missing"), &size));

    platform::AppendingFile file;
    ASSERT_TRUE(file.open(folder.path("file"), true));
    EXPECT_TRUE(file.write("678", 3));
    EXPECT_TRUE(file.close());
    EXPECT_EQ(readFile(folder.path("file")), "12345678");
    EXPECT_FALSE(file.write("9", 1));  // closed
    ASSERT_TRUE(file.open(folder.path("file"), false));
    EXPECT_TRUE(file.write("new", 3));
    EXPECT_TRUE(file.close());
    EXPECT_EQ(readFile(folder.path("file")), "new");
    EXPECT_FALSE(file.open(folder.path("a/missing/x"), true));

    folder.write("other", "old");
    EXPECT_TRUE(platform::moveFileOver(folder.path("file"), folder.path("other")));
    EXPECT_EQ(readFile(folder.path("other")), "new");
    EXPECT_FALSE(fs::exists(folder.path("file")));
    EXPECT_FALSE(platform::moveFileOver(folder.path("file"), folder.path("other")));
}

}  // namespace
