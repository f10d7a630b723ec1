#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// One entry of a folder. Links are followed: an entry is a folder or a
// file according to what it points at.
struct FolderEntry {
    std::string name;
    bool isFolder = false;
    uint64_t size = 0;  // files only
};

// The entries of a folder, without "." and "..", in no particular order.
// False when the folder cannot be opened; entries that vanish while the
// folder is read, or whose target is gone, are left out.
bool listFolder(const std::string& path, std::vector<FolderEntry>& entries);

}  // namespace platform
