#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// Replaces the file at path with exactly these bytes, or leaves it as it
// was: the bytes go to a fresh temporary file in the same folder, which is
// flushed to the disk and then renamed over the target. False on any
// failure, after removing the temporary file. The folder is synced after
// the rename as well; that last step is best effort, since the new file is
// already in place when it runs.
bool writeFileAtomically(const char* path, const void* bytes, size_t size);

// Removes a file. False when it is missing or cannot be removed.
bool deleteFile(const char* path);

// Test seam: while set, every file that writeFileAtomically writes fails
// with "no space" once this many bytes of it have been written. A negative
// value (the default) switches the failure off. Being root does not stop a
// write, so tests cannot rely on file permissions for this.
void failWritesAfter(int64_t bytes);

}  // namespace platform
