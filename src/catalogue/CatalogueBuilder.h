#pragma once

#include "foundation/RefString.h"
#include "settings/Settings.h"

#include <cstdint>
#include <cstdio>

class DownloadSession;
class InfoBlock;

// Builds a new catalogue from the configured packages in the working
// folder, seals it into target and saves it to addoninfoblock.udp.
//
// Every URL is checked first: one whose file name is not usable, is one of
// the server's own files, or is a file: URL naming the very file it would
// be downloaded to is refused with an "Error: " line before any prompt.
//
// Every package is asked about on the console first, all before any work:
//   "Download and index <local name> - Yes,No,yesAll,nOall (Y/N/A/O) ? "
// The answers are read one character at a time from answers; y, n, a
// (yesAll) and o (nOall) in either case count, anything else is skipped,
// so answers typed ahead serve the following prompts in turn. After yesAll
// or nOall, and once answers has ended, the remaining prompts answer
// themselves and print "Y\n" or "N\n" (the end of input answers No, so a
// build without a console reuses every record cache file it finds).
//
// A package answered Yes, or answered No without a usable record cache
// file, is downloaded to <local name>, inspected, recorded in
// "<local name>-package.tmp" (u32 checksum, then the package's record) and
// deleted again. A package answered No with a cache file contributes the
// cached record unchanged.
//
// True when the block was built, sealed and saved. False after the first
// failure, whose message has been printed; cache files written for earlier
// packages stay, and so does the downloaded copy of the failing package.
//
// The packages are downloaded through downloads, which the build opens at
// its start and closes at its end. The identifier's high half is the XOR
// of the checksums of the packages in the catalogue.
bool buildCatalogue(InfoBlock& target, DownloadSession& downloads, const Settings& source,
                    std::FILE* answers = stdin);

// The part of url after its last '/' or '\'; the whole url when it has
// neither. A package is downloaded to a file of this name.
RefString urlFileName(const RefString& url);

// Whether a local name can be created in the working folder and nowhere
// else: not empty, not "." or "..", without control bytes, separators or ':'.
// Query parts and escapes stay as they are: ".../get.zip?v=2" downloads to
// "get.zip?v=2".
bool isUsableLocalName(const RefString& name);

// The record cache file of a package with this local name.
RefString recordCacheFileName(const RefString& localName);

inline constexpr char kRecordCacheSuffix[] = "-package.tmp";
