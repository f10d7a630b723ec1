#pragma once

#include "foundation/RefString.h"
#include "foundation/SharedRef.h"
#include "foundation/StringArray.h"
#include "install/InstallRule.h"

#include <cstdint>
#include <string_view>

// The name of the instruction file at an archive's root, in any case.
extern const char kInstructionFileName[];

// What a package archive says about itself: its name, its information URL
// and the rules that place its files. They come from the block between
// "KITSYNC_START" and "KITSYNC_END" of the kitsync.txt at the archive's
// root; without a block the simple installation method applies (every
// .pbo installed into addons\, everything else extracted there).
//
// Only text is read here; finding and reading the instruction file is the
// archive's business (catalogue/PackageArchive).
class InstallScript {
public:
    // archivePath names the package when its block does not.
    explicit InstallScript(const RefString& archivePath);

    // The marker search and line parsing, on the instruction file's text
    // (a NUL ends it). Appends the block's rules; sets blockFound when a
    // block was accepted. True also without a block; false when a line of
    // the block cannot be read.
    bool parseInstructionText(const char* text);

    // Default package name, the simple installation method when no block
    // was found, and the rule that keeps kitsync.txt itself out at index 0.
    void completeDefaults();

    RefString archivePath;  // the local zip file
    bool blockFound = false;
    RefString packageName;
    RefString infoUrl;
    SharedRefArray<InstallRule> rules;  // decision order: the first match decides

private:
    bool parseBlock(const char* begin, const char* end);
    bool parseLine(const StringArray& words);
    bool addRule(RuleKind kind, const StringArray& words, bool withDestination);
};

// The last component of the archive's path, without its extension: the
// part from the last '.' on is cut unless that '.' starts the component.
RefString defaultPackageName(const RefString& archivePath);

// A path that stays inside the game folder on a client: no component that
// begins with "..", and no ':' (a drive letter or an alternate stream).
bool isSafeInstallPath(const RefString& path);

// The client's stricter screen for a path it is about to write below its
// game folder, whether the name comes from a catalogue or an archive. '\'
// and '/' both separate. Refused: an empty path or component (so a leading
// or doubled separator, an absolute path), "." and "..", a component of
// dots and spaces only, any ':' (drive letters, streams), NUL and other
// control bytes, and Windows device names (CON, PRN, AUX, NUL, COM1-9,
// LPT1-9, CONIN$, CONOUT$) in any case, also with an extension or trailing
// dots and spaces ("con.txt", "Nul .x"), since Windows opens the device.
// The catalogue build keeps isSafeInstallPath: what it accepts is fixed.
bool isSafeClientPath(std::string_view path);

// The same screen for one component of a path: no separators in it.
bool isSafeClientName(std::string_view name);
