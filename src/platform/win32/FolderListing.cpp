#include "platform/FolderListing.h"

#include "platform/win32/Win32.h"

namespace platform {

namespace {

bool isDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

bool listFolder(const std::string& path, std::vector<FolderEntry>& entries)
{
    std::string pattern = path;
    if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/')
        pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        // An empty folder still has "." and ".."; only a missing or
        // unreadable one lands here.
        return false;
    }
    entries.clear();
    do {
        if (isDotEntry(found.cFileName))
            continue;
        FolderEntry entry;
        entry.name = found.cFileName;
        entry.isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = entry.isFolder ? 0 : (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entries.push_back(entry);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return true;
}

}  // namespace platform
