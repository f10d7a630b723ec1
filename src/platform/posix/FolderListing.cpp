#include "platform/FolderListing.h"

#include <dirent.h>
#include <sys/stat.h>

namespace platform {

namespace {

bool isDotEntry(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

}  // namespace

bool listFolder(const std::string& path, std::vector<FolderEntry>& entries)
{
    DIR* folder = opendir(path.c_str());
    if (folder == nullptr)
        return false;
    entries.clear();
    while (dirent* entry = readdir(folder)) {
        if (isDotEntry(entry->d_name))
            continue;
        struct stat facts {};
        if (stat((path + "/" + entry->d_name).c_str(), &facts) != 0)
            continue;
        FolderEntry found;
        found.name = entry->d_name;
        found.isFolder = S_ISDIR(facts.st_mode);
        found.size = found.isFolder ? 0 : static_cast<uint64_t>(facts.st_size);
        entries.push_back(found);
    }
    closedir(folder);
    return true;
}

}  // namespace platform
