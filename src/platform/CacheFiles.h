#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Where a player's downloaded packages stay between runs: on POSIX
// $XDG_CACHE_HOME/kitsync when that is set and absolute, else
// $HOME/.cache/kitsync; on Windows %LOCALAPPDATA%\Kitsync. Empty when the
// environment names no such place. The folder may not exist yet.
std::string defaultCacheFolder();

// Makes the folder and every missing folder above it. True when it exists
// as a folder afterwards.
bool createFolderPath(const std::string& path);

// The size of a regular file; false when there is none at path.
bool sizeOfFile(const std::string& path, uint64_t* size);

// A file written only at its end, straight through to the system: no
// buffering here and no flush to the disk, so a caller that writes large
// blocks pays one system call per block.
class AppendingFile {
public:
    AppendingFile() = default;
    ~AppendingFile() { close(); }
    AppendingFile(const AppendingFile&) = delete;
    AppendingFile& operator=(const AppendingFile&) = delete;

    // Creates the file, or opens it as it is (keep) or emptied (not keep).
    // False, with nothing open, when that fails.
    bool open(const std::string& path, bool keep);
    // All the bytes or false (a full disk, a closed file).
    bool write(const void* bytes, size_t size);
    // False when the system reports a failed write only now.
    bool close();

private:
    intptr_t handle = -1;
};

}  // namespace platform
