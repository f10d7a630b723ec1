#include "install/InstallScript.h"

#include "foundation/AsciiText.h"
#include "install/PathRules.h"
#include "install/TextWords.h"

#include <cstring>

namespace {

const char kStartMarker[] = "KITSYNC_START";
const char kEndMarker[] = "KITSYNC_END";

enum class Command { Package, InfoUrl, Deactivate, Install, InstallPath, Extract, ExtractPath, Ignore, None };

struct CommandEntry {
    const char* name;
    Command command;
    int32_t wordsNeeded;  // the command word included
};

const CommandEntry kCommands[] = {
    {"PACKAGE", Command::Package, 2},         {"INFOURL", Command::InfoUrl, 2},
    {"DEACTIVATE", Command::Deactivate, 2},   {"INSTALL", Command::Install, 3},
    {"INSTALLPATH", Command::InstallPath, 2}, {"EXTRACT", Command::Extract, 3},
    {"EXTRACTPATH", Command::ExtractPath, 2}, {"IGNORE", Command::Ignore, 2},
};

const CommandEntry* commandFor(const RefString& word)
{
    for (const CommandEntry& entry : kCommands) {
        if (equalsIgnoringCase(word.c_str(), entry.name))
            return &entry;
    }
    return nullptr;
}

}  // namespace

const char kInstructionFileName[] = "kitsync.txt";

InstallScript::InstallScript(const RefString& archivePath) : archivePath(archivePath) {}

bool InstallScript::parseInstructionText(const char* text)
{
    const char* start = findIgnoringCase(text, kStartMarker);
    if (start == nullptr)
        return true;
    const char* blockStart = start + std::strlen(kStartMarker);
    if (*blockStart != '\0')
        ++blockStart;  // the one character after the marker is skipped, whatever it is
    // Searching from the block's start, not the text's, keeps an earlier
    // end marker from making a block that ends before it begins.
    const char* end = findIgnoringCase(blockStart, kEndMarker);
    if (end == nullptr)
        return false;
    return parseBlock(blockStart, end);
}

// Lines are cut in place: a block of many short lines must not cost the
// rest of the block for every line.
bool InstallScript::parseBlock(const char* begin, const char* end)
{
    StringArray words;
    for (const char* line = begin; line < end;) {
        splitWords(takeLine(line, end), words);
        if (words.size > 0 && !parseLine(words))
            return false;
    }
    blockFound = true;
    return true;
}

bool InstallScript::parseLine(const StringArray& words)
{
    const CommandEntry* known = commandFor(words[0]);
    if (known == nullptr)
        return true;  // free text: any line whose first word is no command
    if (words.size < known->wordsNeeded)
        return false;
    switch (known->command) {
    case Command::Package:
        packageName = words[1];
        return true;
    case Command::InfoUrl:
        infoUrl = words[1];
        return true;
    case Command::Deactivate:
        return true;  // nothing in the catalogue carries it
    case Command::Install:
        return addRule(RuleKind::Install, words, true);
    case Command::InstallPath:
        return addRule(RuleKind::InstallPath, words, false);
    case Command::Extract:
        return addRule(RuleKind::Extract, words, true);
    case Command::ExtractPath:
        return addRule(RuleKind::ExtractPath, words, false);
    case Command::Ignore:
        return addRule(RuleKind::Ignore, words, false);
    case Command::None:
        break;
    }
    return true;
}

bool InstallScript::addRule(RuleKind kind, const StringArray& words, bool withDestination)
{
    RefString pattern = toBackslashes(words[1]);
    RefString destination = withDestination ? toBackslashes(words[2]) : RefString();
    if (!isSafeInstallPath(pattern) || !isSafeInstallPath(destination))
        return false;
    rules.add(SharedRef<InstallRule>(new InstallRule(kind, pattern, destination)));
    return true;
}

void InstallScript::completeDefaults()
{
    if (packageName.isEmpty())
        packageName = defaultPackageName(archivePath);
    if (!blockFound) {
        rules.add(SharedRef<InstallRule>(new InstallRule(RuleKind::Install, "*.pbo", "addons\\")));
        rules.add(SharedRef<InstallRule>(new InstallRule(RuleKind::Extract, "*", "addons\\")));
    }
    rules.insertAt(0, SharedRef<InstallRule>(new InstallRule(RuleKind::Ignore, kInstructionFileName, "")));
}

RefString defaultPackageName(const RefString& archivePath)
{
    StringArray parts;
    splitPath(archivePath, parts);
    if (parts.size == 0)
        return RefString();
    RefString last = parts[parts.size - 1];
    const char* dot = std::strrchr(last.c_str(), '.');
    if (dot == nullptr || dot == last.c_str())
        return last;
    return last.left(static_cast<int32_t>(dot - last.c_str()));
}

bool isSafeInstallPath(const RefString& path)
{
    return isSafePath(path) && std::strchr(path.c_str(), ':') == nullptr;
}

namespace {

const char* const kDeviceNames[] = {"con", "prn", "aux", "nul", "conin$", "conout$"};

bool sameIgnoringCase(std::string_view text, std::string_view lower)
{
    if (text.size() != lower.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (lowerAscii(text[i]) != lower[i])
            return false;
    }
    return true;
}

// Windows takes the part before the first dot, trailing spaces ignored,
// for a device: "con.txt" and "CON .log" both open the console.
bool isDeviceName(std::string_view name)
{
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.remove_suffix(1);
    for (const char* device : kDeviceNames) {
        if (sameIgnoringCase(base, device))
            return true;
    }
    bool numbered = base.size() == 4 && base[3] >= '1' && base[3] <= '9';
    return numbered && (sameIgnoringCase(base.substr(0, 3), "com") || sameIgnoringCase(base.substr(0, 3), "lpt"));
}

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

}  // namespace

bool isSafeClientName(std::string_view name)
{
    if (name.find_first_not_of(". ") == std::string_view::npos)
        return false;  // empty, ".", "..", and what Windows trims to them
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte == 127 || c == ':' || isSeparator(c))
            return false;
    }
    return !isDeviceName(name);
}

bool isSafeClientPath(std::string_view path)
{
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !isSeparator(path[i]))
            continue;
        if (!isSafeClientName(path.substr(start, i - start)))
            return false;
        start = i + 1;
    }
    return true;
}
