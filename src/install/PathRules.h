#pragma once

#include "foundation/RefString.h"
#include "foundation/StringArray.h"

// Path operations for package entries and instruction paths. Paths use '\'
// as separator; a '/' is accepted wherever a path is read.

// Every '/' turned into '\'.
RefString toBackslashes(RefString path);

// The non-empty pieces between '/' or '\' separators, in order. Earlier
// contents of parts are released; the storage stays.
void splitPath(const RefString& path, StringArray& parts);

// The part after the last '\' (empty when the path ends with one); the
// whole path when it has none.
RefString fileNameOf(const RefString& path);

// False when any component begins with two dots ("..", "..x", "..."),
// judged on the '\' form.
bool isSafePath(const RefString& path);

// True when pattern matches all of name: '*' any run of bytes ('\'
// included), '?' exactly one byte, A to Z equal to a to z.
bool wildcardMatch(const char* name, const char* pattern);
