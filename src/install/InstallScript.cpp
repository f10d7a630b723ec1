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
