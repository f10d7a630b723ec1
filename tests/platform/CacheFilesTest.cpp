// Where the package cache lies by the environment. The cache's file calls
// are taken through their paths by the download queue's tests.
#include "platform/CacheFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

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

}  // namespace
