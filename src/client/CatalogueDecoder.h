#pragma once

#include "client/Catalogue.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Reads an uncompressed catalogue image: u32 1, ten texts, u32 package
// count, then each package record with its file tree. Strict: a missing
// byte, a text without its NUL or any byte left after the last package
// fails. On failure `error` reads "at offset N: ..." with N the offset
// into the image where the fault was found, and `out` is unspecified.
bool decodeCatalogue(const uint8_t* bytes, size_t size, Catalogue& out, std::string& error);

// Folders nested deeper than this are refused rather than followed, so a
// hostile image cannot exhaust the stack. A server puts an archive entry's
// whole path (names of up to 259 bytes, so up to 129 folders) or an install
// destination of any length into the tree, so the bound sits well above
// what real packages use.
constexpr int kMaxFolderDepth = 1024;
