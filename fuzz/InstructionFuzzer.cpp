// The text of a package's kitsync.txt into the instruction block parser:
// marker search, line and word splitting, commands and the path screen.
#include "install/InstallScript.h"
#include "install/PathRules.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Names an archive commonly holds; every accepted pattern is matched
// against them, as the inspection matches every entry.
const char* const kEntryNames[] = {
    "addons\\weapons.pbo", "kitsync.txt", "readme", "a\\b\\c\\d\\e\\f\\g\\h\\i\\j.pbo", "",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A NUL ends the instruction file's text, as it does when it is read.
    std::string text(reinterpret_cast<const char*>(data), size);

    InstallScript script("fuzz\\package.zip");
    bool accepted = script.parseInstructionText(text.c_str());
    if (!accepted)
        return 0;
    script.completeDefaults();

    // The ignore rule for the instruction file itself always decides first.
    if (script.rules.size < 1 || script.rules[0]->kind != RuleKind::Ignore ||
        std::strcmp(script.rules[0]->pattern.c_str(), "kitsync.txt") != 0)
        std::abort();
    if (script.packageName.isEmpty())
        std::abort();
    for (int32_t i = 0; i < script.rules.size; ++i) {
        const InstallRule& rule = *script.rules[i];
        // Whatever the block says, no rule may place a file outside the
        // game folder on a client, and paths are kept in '\' form.
        if (!isSafeInstallPath(rule.pattern) || !isSafeInstallPath(rule.destination))
            std::abort();
        if (std::strchr(rule.pattern.c_str(), '/') != nullptr || std::strchr(rule.destination.c_str(), '/') != nullptr)
            std::abort();
        bool wantsDestination = rule.kind == RuleKind::Install || rule.kind == RuleKind::Extract;
        if (!wantsDestination && !rule.destination.isEmpty())
            std::abort();
        for (const char* name : kEntryNames)
            wildcardMatch(name, rule.pattern.c_str());
        // A pattern matches its own text when it holds no '?' or '*'.
        if (std::strpbrk(rule.pattern.c_str(), "?*") == nullptr &&
            !wildcardMatch(rule.pattern.c_str(), rule.pattern.c_str()))
            std::abort();
    }
    return 0;
}
