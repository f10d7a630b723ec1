#pragma once

#include "foundation/RefString.h"
#include "foundation/SharedRef.h"
#include "foundation/StringArray.h"
#include "install/InstallRule.h"

#include <minizip/unzip.h>

#include <cstdint>

// What a package archive says about itself: its name, its information URL
// and the rules that place its files. They come from the block between
// "KITSYNC_START" and "KITSYNC_END" of the kitsync.txt at the archive's
// root; without a block the simple installation method applies (every
// .pbo installed into addons\, everything else extracted there).
//
// The archive inspection derives from this class: the handle opened here
// stays open for its walk over the entries.
class InstallScript {
public:
    // Entry names are read into a buffer of this size, terminator included;
    // an entry whose name does not fit can never be the instruction file.
    static const uint32_t kNameBufferSize = 260;
    // The instruction file is held in memory whole; a larger one is refused
    // instead of trusting whatever size its header claims.
    static const uint32_t kMaxInstructionSize = 16u * 1024 * 1024;

    // zipFunctions, when given, is how the archive named localPath is read
    // (the fuzz program's archive in memory); without, it is that file.
    explicit InstallScript(const char* localPath, zlib_filefunc_def* zipFunctions = nullptr);
    InstallScript(const InstallScript&) = delete;
    InstallScript& operator=(const InstallScript&) = delete;
    virtual ~InstallScript();  // closes zipHandle

    // Opens archivePath, reads the block of its instruction file and
    // completes the defaults. True when the archive holds no block or a
    // block accepted whole; false when the archive, the instruction file or
    // a line of the block cannot be read. Prints nothing.
    bool readInstallScript();

    // The marker search and line parsing of readInstallScript, on the
    // instruction file's text (a NUL ends it). Appends the block's rules;
    // sets blockFound when a block was accepted. True also without a block.
    bool parseInstructionText(const char* text);

    // Default package name, the simple installation method when no block
    // was found, and the rule that keeps kitsync.txt itself out at index 0.
    void completeDefaults();

    RefString archivePath;  // the local zip file
    zlib_filefunc_def* zipFunctions;
    unzFile zipHandle = nullptr;
    bool blockFound = false;
    RefString packageName;
    RefString infoUrl;
    SharedRefArray<InstallRule> rules;  // decision order: the first match decides

private:
    bool findInstructionEntry(bool& found, uint64_t& size);
    bool readCurrentEntryText(uint64_t size, RefString& text);
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
